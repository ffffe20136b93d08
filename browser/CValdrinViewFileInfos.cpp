// The description of a clip file of the folder the browser shows: its type, timecodes and audio from the data
// readers, the clip information of the system's own clip files, and the ingest job built from them.
#include <memory>

#include "browser/CValdrinViewCore.h"
#include "browser/IngestJobXml.h"
#include "common/CTimeCode.h"
#include "common/CodePages.h"
#include "common/FormatText.h"
#include "common/TcDate.h"
#include "parvex/CMXF_Parvex_ClipInfo.h"
#include "platform/File.h"
#include "reading/factory/DataReaderFactory.h"
#include "reading/factory/FileTypeDetection.h"
#include "reading/parvex/CMXF_Parvex_FileReader.h"
#include "serverblock/ServerBlock.h"
#include "xml/CXmlDocument.h"

using namespace ingestjob;

namespace
{

constexpr uint32_t kHeaderPieces = 2;  // 64 KB pieces of header before the footer and its index

// A wide text of the clip file: UTF-16 units, low byte first, up to the first zero unit.
std::string WideBytesToUtf8(const uint8_t* bytes, size_t size)
{
    std::u16string wide;
    for (size_t i = 0; i + 1 < size; i += 2) {
        const char16_t unit = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
        if (unit == 0)
            break;
        wide.push_back(unit);
    }
    return WideToUtf8(wide);
}

std::string StandardText(uint32_t code)
{
    static const char* const kNames[] = {"SD_525", "SD_625", "HD_720", "HD_1080"};
    return code < std::size(kNames) ? kNames[code] : FormatText("unknown standard %d", static_cast<int>(code));
}

std::string SystemText(uint32_t code)
{
    static const char* const kNames[] = {nullptr,         "sys_23.976", "sys_24",    "sys_25 (PAL)", "sys_29.97 (NTSC)",
                                         "sys_30 (NTSC)", "sys_50",     "sys_59.94", "sys_60"};
    return code < std::size(kNames) && kNames[code] ? kNames[code]
                                                    : FormatText("unknown system %d", static_cast<int>(code));
}

// The clip file's own description, when its header could be read.
struct ParvexHeader {
    CMXF_Parvex_ClipInfo info;
    CMXF_Parvex_ClipDescriptor* head = nullptr;
};

}  // namespace

int CValdrinViewCore::GetFileInfos(const std::string& fileName, std::string& job, const char* tcpAddress)
{
    _log.Log("Entering CValdrinView::GetFileInfos.");
    const std::string path = _settings._szCurrentFolder + fileName;

    int32_t subCode = 0;
    const FileType type = GetFileTypeFromSource(path.c_str(), &subCode);
    if (type != KorvoIMX_File && type != IMX_File) {
        Message(FormatText("------- File [ %s ] is NOT a supported File !\n", fileName.c_str()), "ERROR",
                MessageIcon::Error);
        return -1;
    }

    int32_t tcIn = 0;
    int32_t tcOut = 0;
    int32_t tcSystem = 0;
    int32_t rate = 50;
    int32_t audios = 0;
    {
        std::unique_ptr<CDataReader> video = CreateDataReader(path.c_str(), type, Video_Data);
        if (!video) {
            Message("------ FAILED to open VIDEO stream !", "ERROR", MessageIcon::Error);
            return -2;
        }
        video->GetInOut(&tcIn, &tcOut, &tcSystem);
        _log.Log("TC In/Out: %li / %li [system %i]", static_cast<long>(tcIn), static_cast<long>(tcOut),
                 static_cast<int>(tcSystem));
        rate = subCode == 6 ? 30 : subCode == 7 ? 40 : 50;
    }
    {
        std::unique_ptr<CDataReader> audio = CreateDataReader(path.c_str(), type, Audio_Data);
        if (!audio) {
            Message("------ FAILED to open audio stream !", "ERROR", MessageIcon::Error);
            return -3;
        }
        if (type == IMX_File) {
            int32_t channels[16] = {};
            const int32_t entries = audio->GetAudioChannels(channels, 16);
            for (int32_t i = 0; i < entries && i < 16; ++i)
                audios += channels[i];
        }
    }

    int32_t clipIn = -1;
    int32_t clipOut = -1;
    uint32_t firstField = 0;
    uint32_t blockBytes = kBlockSize2MB;
    std::string printName;
    std::unique_ptr<ParvexHeader> header;
    if (type == KorvoIMX_File) {
        auto read = std::make_unique<ParvexHeader>();
        CMXF_Parvex_FileReader reader("Valdrin");
        int footer = 0;
        if (reader.Open(path) == 0) {
            if (reader.GetHeaderData(&read->info, kHeaderPieces, &footer) == 0 && read->info.GetFirstClip())
                header = std::move(read);
            reader.Close();
        }
        // Without a footer and without a writer at work, the file was cut short when it holds fewer pictures than
        // its header declares: what is left would come in as a complete clip.
        if (header && footer == 0 && !platform::File::IsLockedForWriting(path)) {
            const CMXF_Parvex_ClipInfo& info = header->info;
            const int64_t fieldsPerFrame = ((info._nVideoFormat >> 24) & 0xF) < 6 ? 2 : 1;
            const int64_t declared = (int64_t{info._nOut} - info._nIn) / fieldsPerFrame;
            const int64_t readable = (int64_t{tcOut} - tcIn) / fieldsPerFrame;
            if (readable < declared) {
                _log.Log("CValdrinView::GetFileInfos : %s declares %lld frames, %lld can be read", fileName.c_str(),
                         static_cast<long long>(declared), static_cast<long long>(readable));
                Message(
                    FormatText("------- File [ %s ] is truncated: its header declares %lld frames, %lld can be "
                               "read !\n",
                               fileName.c_str(), static_cast<long long>(declared), static_cast<long long>(readable)),
                    "ERROR", MessageIcon::Error);
                return -4;
            }
        }
    }
    if (header) {
        CMXF_Parvex_ClipInfo& info = header->info;
        CMXF_Parvex_ClipDescriptor* head = header->head = info.GetFirstClip();
        printName = head->_bWideClipName ? "UNICODE" : info._szClipName;
        clipIn = static_cast<int32_t>(info._nShortIn + info._nOffsetTC - static_cast<uint32_t>(tcIn));
        clipOut = static_cast<int32_t>(info._nShortOut + info._nOffsetTC - static_cast<uint32_t>(tcIn));
        if (head->HasUserTimecode()) {
            TcDate date;
            if (date.Unpack(false, head->_aSerTCUsr) == TcDate::kPackedSize) {
                const uint32_t newOffset = date.GetFieldOfDay() - info._nIn;
                const uint32_t shift = newOffset - info._nOffsetTC;
                tcIn = static_cast<int32_t>(static_cast<uint32_t>(tcIn) + shift);
                tcOut = static_cast<int32_t>(static_cast<uint32_t>(tcOut) + shift);
                info._nOffsetTC = newOffset;
                _log.Log("+++ Using USER Primary TC In/Out: %li / %li", static_cast<long>(tcIn),
                         static_cast<long>(tcOut));
            }
        }
        firstField = _settings._bTrimClip ? info._nShortIn : info.GetFirstIndexedField();
        const uint32_t videoSystem = (info._nVideoFormat >> 24) & 0xF;
        if (firstField % 2 == 1 && videoSystem < 6)
            ++firstField;
        blockBytes = info._nBlockSize;
        audios = static_cast<int32_t>(std::min<uint32_t>(4 * info._nAudioGroups, 8));
    }
    if (printName.empty())
        printName = fileName.size() > 4 ? fileName.substr(0, fileName.size() - 4) : std::string();

    CTimeCode::SetDayWrapping(true);
    const uint32_t system = static_cast<uint32_t>(tcSystem);
    const bool trimPoints = clipIn != -1 && clipOut != -1 && _settings._bTrimClip;
    const std::string markIn = TimecodeText(static_cast<uint32_t>(trimPoints ? clipIn : tcIn), system);
    const std::string markOut = TimecodeText(static_cast<uint32_t>(trimPoints ? clipOut : tcOut), system);
    const int32_t fps = static_cast<int32_t>(CTimeCode(0, system).GetFrameRate());

    CXmlDocument doc;
    auto priv = StartClipJob(doc, "GetFileInfos", {printName, fileName, {}, {}, {}, markIn, markOut, fps});
    if (!priv)
        return -2;
    AddULong(*priv, "KorvoTCIn", static_cast<uint32_t>(tcIn));
    AddULong(*priv, "KorvoTCOut", static_cast<uint32_t>(tcOut));
    AddInt(*priv, "KorvonAudios", audios);
    AddInt(*priv, "KorvoRate", rate);
    AddLong(*priv, "KorvoClipIn", clipIn);
    AddLong(*priv, "KorvoClipOut", clipOut);
    AddLong(*priv, "KorvoRixFstFld", static_cast<int32_t>(firstField));
    AddLong(*priv, "KorvoBlockSizeMB", static_cast<int32_t>(blockBytes >> 20));
    AddText(*priv, "KorvonAudioBits", _settings._b24BitsAudio ? "24" : "16");
    AddULong(*priv, "KorvonVideoChannels", header ? header->info._nVideos : 1);
    AddFlag(*priv, "TrimClip", _settings._bTrimClip);
    AddFlag(*priv, "Tardix", _settings._bTardix);
    if (_settings._bTrimClip && _settings._nTrimGuardBand != 0)
        AddULong(*priv, "TrimGuardBand", static_cast<uint32_t>(_settings._nTrimGuardBand));

    const bool ownFormat = type == KorvoIMX_File || type == KorvoHydrel_File || type == KorvoDVCPRO_File;
    std::string fileType = type == IMX_File ? "MXF" : "Korvo";
    const std::string dataType = type == KorvoHydrel_File ? "Hydrel" : type == KorvoDVCPRO_File ? "DVCPro" : "IMX";
    if (_settings._bTcpTransfer && tcpAddress && *tcpAddress) {
        fileType = "TCP";
        if (type == IMX_File) {
            _log.Log("CValdrinView::GetFileInfos : %s is no clip file of ours: no TCP transfer", fileName.c_str());
            return 1;
        }
        AddText(*priv, "KorvoTCPPort", tcpAddress);
    }
    AddText(*priv, "KorvoFileType", fileType);
    AddText(*priv, "KorvoDataType", dataType);

    // Without a readable header there is no head clip to describe: the tree is left out.
    if (ownFormat && header) {
        CMXF_Parvex_ClipInfo& info = header->info;
        const CMXF_Parvex_ClipDescriptor& head = *header->head;
        const uint32_t offset = info._nOffsetTC;
        const uint32_t word = info._nVideoFormat;
        const uint32_t standard = word >> 28;
        const uint32_t videoSystem = (word >> 24) & 0xF;
        const uint32_t picture = (word >> 16) & 0xFF;

        MetadataNodes tree =
            AddMetadataTree(*priv, FormatText("Korvo Mirel Browser %s (file)", CValdrinSettings::kVersion));
        CXmlNode* file = tree.file.get();
        AddText(*file, "Rix_Material_ID", info._szMaterialId);
        AddLong(*file, "Rix_Offset_TC", static_cast<int32_t>(offset));
        AddULong(*file, "Rix_IN", info._nIn);
        AddText(*file, "Rix_IN_TC_str", info.FieldsToTcString(info._nIn + offset, 0, 0));
        AddULong(*file, "Rix_OUT", info._nOut);
        AddText(*file, "Rix_OUT_TC_str", info.FieldsToTcString(info._nOut + offset, 0, 0));
        AddULong(*file, "Rix_Duration", info._nOut - info._nIn);
        AddText(*file, "Rix_Duration_str", info.FieldsToDurationString(info._nOut - info._nIn, 0));
        AddULong(*file, "Rix_TC_System", head._nTCSystem);
        AddText(*file, "Rix_TC_System_str", TcSystemText(static_cast<int32_t>(head._nTCSystem)));
        AddULong(*file, "Rix_Video_Codec", info._nVideoCodec);
        AddText(*file, "Rix_Video_Codec_str", info.GetVideoCodecString());
        AddULong(*file, "Rix_Video_Std", standard);
        AddText(*file, "Rix_Video_Std_str", StandardText(standard));
        AddULong(*file, "Rix_Video_System", videoSystem);
        AddText(*file, "Rix_Video_System_str", SystemText(videoSystem));
        AddFlag(*file, "Rix_Video_Interlaced", (picture & 0x40) == 0);
        AddULong(*file, "Rix_Video_Aspect_Ratio", picture & 0x3F);
        AddText(*file, "Rix_Video_Aspect_Ratio_str", AspectText(static_cast<int32_t>(picture & 0x3F)));
        AddInt(*file, "Rix_Video_Bitrate", rate);
        AddULong(*file, "Rix_Audio_Codec", info._nAudioCodec);
        AddText(*file, "Rix_Audio_Codec_str", info.GetAudioCodecString());
        AddInt(*file, "Rix_Nb_Audio_Monos", audios);
        AddULong(*file, "Rix_Nb_Videos", info._nVideos);
        AddInt64(*file, "Rix_Creation_Time", info._qwCreationTimeGMT);
        if (!AddCreationTimes(*file, info._szMaterialId))
            _log.Log("CValdrinView::GetFileInfos() failed to initialize Rix_Creation_Time from MaterialID [%s]",
                     info._szMaterialId.c_str());
        AddText(*file, "Parvex_Backup_Time_str", BackupTimeText());

        CXmlNode* clip = tree.clip.get();
        AddText(*clip, "Rix_UmID", head._szClipId);
        AddText(*clip, "Rix_VarID",
                head._bWideVarId
                    ? WideBytesToUtf8(head._aWideVarId, std::min<size_t>(head._nWideVarIdSize, sizeof head._aWideVarId))
                    : head._szVarId);
        AddText(*clip, "Rix_NumClip", FormatText("%03d", static_cast<int>(head._nNumClip)));
        AddText(*clip, "Rix_Camera", FormatText("%c", head._cCamera));
        AddULong(*clip, "Rix_Camera_Pref", head._cCameraPref);
        AddText(*clip, "Rix_Camera_Label", head.GetCameraLabel());
        AddInt(*clip, "Rix_Rating", head.GetRating());
        AddULong(*clip, "Rix_TC_System", head._nTCSystem);
        AddText(*clip, "Rix_TC_System_str", TcSystemText(static_cast<int32_t>(head._nTCSystem)));
        AddLong(*clip, "Rix_Offset_TC", static_cast<int32_t>(head._nOffsetTC));
        AddULong(*clip, "Rix_Short_IN", head._nShortIn);
        AddText(*clip, "Rix_Short_IN_TC_str", info.FieldsToTcString(head._nShortIn + offset, 0, 0));
        AddULong(*clip, "Rix_Short_REF", head._nShortRef);
        AddText(*clip, "Rix_Short_REF_TC_str", info.FieldsToTcString(head._nShortRef + offset, 0, 0));
        AddULong(*clip, "Rix_Short_OUT", head._nShortOut);
        AddText(*clip, "Rix_Short_OUT_TC_str", info.FieldsToTcString(head._nShortOut + offset, 0, 0));
        AddULong(*clip, "Rix_Clip_Duration", head._nShortOut - head._nShortIn);
        AddText(*clip, "Rix_Clip_Duration_str", info.FieldsToTcString(info._nShortOut - info._nShortIn, 0, 0));
        AddText(
            *clip, "Rix_ClipName",
            head._bWideClipName ? WideBytesToUtf8(head._aWideClipName, sizeof head._aWideClipName) : info._szClipName);
        for (uint32_t i = 0; i < parvex::kMaxKeywords; ++i) {
            const std::string name = FormatText("Rix_Keyword_%u", i + 1);
            AddText(*clip, name.c_str(),
                    head._bKeywordWide[i] ? WideBytesToUtf8(head._aKeywordWide[i], sizeof head._aKeywordWide[i])
                                          : head._szKeywords[i]);
        }
        return FinishClipJob(doc, clip, head._szClipIdSrc, head._nFillAndKeyType, head._szFillAndKey, "GetFileInfos",
                             job);
    }
    return FinishClipJob(doc, nullptr, {}, 0, {}, "GetFileInfos", job);
}
