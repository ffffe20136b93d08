// The description of a video server clip: its clip-table XML over FTP, the side channel for a recording train,
// and the ingest job built from them.
#include <algorithm>
#include <cinttypes>
#include <cstdlib>

#include "browser/CServerClipTable.h"
#include "browser/CValdrinViewCore.h"
#include "browser/IngestJobXml.h"
#include "browser/TimeConversions.h"
#include "common/CTimeCode.h"
#include "common/CodePages.h"
#include "common/FormatText.h"
#include "common/TcDate.h"
#include "ftp/CKorvoFtpClient.h"
#include "ftp/FtpConnectText.h"
#include "parvex/CMXF_Parvex_ClipInfo.h"
#include "platform/Clock.h"
#include "rixclient/CRixFtpClient.h"
#include "xml/CXmlDocument.h"

using namespace ingestjob;

namespace
{

constexpr const char* kFtpLog = "ValdrinFtp";

// The FTP client on exactly the configured account: user and password may hold any character.
class CClipTableFtpClient : public CKorvoFtpClient
{
public:
    explicit CClipTableFtpClient(const FtpServerEntry& server) : CKorvoFtpClient(kFtpLog)
    {
        _servers.push_back(server);
    }
};

std::string VideoSystemText(int32_t code)
{
    static const char* const kNames[] = {"undefined system", "sys_23.976",       "sys_24",
                                         "sys_25 (PAL)",     "sys_29.97 (NTSC)", "sys_30 (NTSC)",
                                         "sys_50",           "sys_59.94",        "sys_60"};
    if (code >= 0 && code < static_cast<int32_t>(std::size(kNames)))
        return kNames[code];
    return "unknown system";
}

uint32_t FieldsOf(uint16_t hours, uint16_t minutes, uint32_t system)
{
    CTimeCode tc(hours, minutes, 0, 0, false, system);
    return tc.GetFrameCount() * tc.GetFieldsPerFrame();
}

uint32_t Sum(int32_t a, int32_t b)
{
    return static_cast<uint32_t>(a) + static_cast<uint32_t>(b);
}

int32_t Difference(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

}  // namespace

int CValdrinViewCore::ReadClipTable(const std::string& clipName, std::string& text)
{
    FtpServerEntry server;
    server.szHost = _settings._szRixAddress;
    const int port = std::atoi(_settings._szRixPort.c_str());
    server.nPort = static_cast<uint16_t>(port == 0 ? 21 : port);
    server.szUser = _settings._szRixUser;
    server.szPassword = _settings._szRixPass;

    CClipTableFtpClient ftp(server);
    FtpTimeouts timeouts;
    timeouts.nControlMs = _timings.nFtpControlMs;
    timeouts.nDataMs = _timings.nFtpControlMs;
    ftp.SetTimeouts(timeouts);
    const int connected = port < 0 || port > 65535 ? -1 : ftp.Connect();
    if (connected != 0) {
        const std::string why =
            connected == -1 ? FormatText("port %s is not a port number", _settings._szRixPort.c_str())
                            : FtpConnectFailureText(server, connected, ftp.GetConnectError(), ftp.GetLastReply());
        _log.Log("CValdrinView::GetFTPInfos : FAILED to connect to %s:%s as %s: %s", server.szHost.c_str(),
                 _settings._szRixPort.c_str(), server.szUser.c_str(), why.c_str());
        Message("Failed to Connect to FTP Server !!\n" + why, "", MessageIcon::None);
        return 1;
    }

    const std::string fileName = clipName + ".XML";
    ftp.SetDirectory(_settings._szCurrentFolder, false);
    // What the server says the table holds tells a cut transfer from a short table.
    const int64_t size = ftp.GetFileSize(fileName);
    constexpr int kTries = 3;
    int result = -1;
    for (int attempt = 1; attempt <= kTries; ++attempt) {
        result = ftp.OpenFile(fileName, CKorvoFtpClient::kRetrieve, 0, 0);
        if (result == 0)
            break;
        if (attempt < kTries)
            platform::SleepMs(_timings.nTableRetryMs);
    }
    if (result != 0) {
        _log.Log("CValdrinView::GetFTPInfos : clip table %s NOT FOUND in %s", fileName.c_str(),
                 _settings._szCurrentFolder.c_str());
        ftp.Close(true, false);
        return 1;
    }

    // Up to the end of the file or the size a clip table may have; one byte more tells a longer file.
    std::string buffer(kMaxClipTableBytes + 1, '\0');
    int64_t count = 0;
    const int readResult = ftp.FtpReadFile(buffer.data(), static_cast<uint32_t>(kMaxClipTableBytes), &count, false);
    if (readResult != 0) {
        _log.Log("CValdrinView::GetFTPInfos : FAILED to read the clip table %s [error %i]", fileName.c_str(),
                 readResult);
        ftp.Close(true, true);
        return 1;
    }
    ftp.FtpCloseFile(ftp.IsDataOpen());
    ftp.Close(true, false);
    if (size >= 0 && count < std::min<int64_t>(size, static_cast<int64_t>(kMaxClipTableBytes))) {
        _log.Log("CValdrinView::GetFTPInfos : clip table %s read short: %" PRId64 " of %" PRId64 " bytes",
                 fileName.c_str(), count, size);
        return 1;
    }
    if (count == static_cast<int64_t>(kMaxClipTableBytes))
        _log.Log("CValdrinView::GetFTPInfos : clip table %s cut at %zu bytes", fileName.c_str(), kMaxClipTableBytes);
    buffer.resize(static_cast<size_t>(count));
    text = std::move(buffer);
    return 0;
}

int64_t CValdrinViewCore::AskTrainTimecode(const std::string& clipName, uint8_t tcSource, char camera, uint32_t field)
{
    std::string folder = _settings._szCurrentFolder;
    while (!folder.empty() && (folder.front() == '/' || folder.front() == '\\'))
        folder.erase(0, 1);
    while (!folder.empty() && (folder.back() == '/' || folder.back() == '\\'))
        folder.pop_back();
    const std::string url =
        FormatText("ftp://%s:%s@%s:%s/%s%s%s.TRN", _settings._szRixUser.c_str(), _settings._szRixPass.c_str(),
                   _settings._szRixAddress.c_str(), _settings._szRixPort.c_str(), folder.c_str(),
                   folder.empty() ? "" : "/", clipName.c_str());
    CRixFtpClient client(kFtpLog);
    RixTimeouts rix;
    rix.nRpcMs = _timings.nRpcReplyMs;
    client.SetRixTimeouts(rix);
    FtpTimeouts timeouts;
    timeouts.nControlMs = _timings.nFtpControlMs;
    client.SetTimeouts(timeouts);
    if (client.SetClipUrl(url, true) != 0) {
        _log.Log("CValdrinView::GetFTPInfos : side channel of %s.TRN: FTP connection FAILED", clipName.c_str());
        return -1;
    }
    const uint16_t port = client.GetRpcPort(nullptr, 0);
    if (port == 0 || client.OpenRpcConnection(port) != 0) {
        _log.Log("CValdrinView::GetFTPInfos : side channel of %s.TRN: RPC port %hu NOT opened", clipName.c_str(), port);
        return -1;
    }
    uint32_t first = 0;
    TcDate date;
    const int16_t result = client.RpcField2Tc(tcSource, static_cast<uint8_t>(camera), field, &first, &date,
                                              static_cast<uint16_t>(_timings.nRpcReplyMs));
    if (result != 0) {
        _log.Log("CValdrinView::GetFTPInfos : side channel of %s.TRN: field %u to timecode FAILED [%i]",
                 clipName.c_str(), field, result);
        return -1;
    }
    return first;
}

void CValdrinViewCore::AddFTPKeywords(CXmlDocument& table, CXmlNode& clip, uint32_t unicodeFlags)
{
    for (int i = 0; i < 5; ++i) {
        auto text = CServerClipTable::ReadText(table, FormatText("INDEXKEY%i", i));
        if (!text)
            continue;
        const uint32_t bit = 0x10u >> i;
        const std::string name = FormatText("Rix_Keyword_%i", i + 1);
        AddText(clip, name.c_str(), unicodeFlags & bit ? CServerClipTable::DecodeUnicodeHex(*text) : *text);
    }
}

int CValdrinViewCore::GetFTPInfos(const std::string& clipName, std::string& job)
{
    _log.Log("Entering CValdrinView::GetFTPInfos.");
    std::string text;
    if (int result = ReadClipTable(clipName, text); result != 0)
        return result;

    _log.Log("CValdrinView::GetFTPInfos : Parsing QVCLIPTABLE");
    CXmlDocument table;
    // The server writes its names in its 8-bit page; a table that is no UTF-8 is read in that page.
    if (!table.LoadXml(text) && (IsAscii(text) || !table.LoadXml(ConvertCodePage(text, 0, 65001)))) {
        _log.Log("CValdrinView::GetFTPInfos : clip table of %s is not well-formed", clipName.c_str());
        return -2;
    }
    CServerClipTable values;
    values.Read(table);
    if (!values.IsSupported()) {
        Message(FormatText("------- File [ %s ] is NOT a supported File !\n", clipName.c_str()), "ERROR",
                MessageIcon::Stop);
        return -1;
    }
    const std::string backupTime = BackupTimeText();
    const uint32_t system = static_cast<uint32_t>(values._nVideoSystem);
    const bool trim = _settings._bTrimClip;

    int32_t in = values._nIn;
    int32_t out = values._nOut;
    int32_t shortIn = values._nShortIn;
    int32_t shortOut = values._nShortOut;
    int32_t offset = values._nOffsetTc;
    int64_t primary = -1;
    // A clip without short points is taken whole, Trim Clip or not.
    const bool shortPoints = values.IsTrain() || values.HasShortPoints();
    const bool trimmed = trim && shortPoints;
    if (values.IsTrain()) {
        in = Difference(values._nOut, static_cast<int32_t>(FieldsOf(0, 1, system)));
        out = static_cast<int32_t>(Sum(in, static_cast<int32_t>(FieldsOf(0, 10, system))));
        shortIn = in;
        shortOut = out;
        const char camera = values._szCamera.empty() ? 'A' : values._szCamera[0];
        primary = AskTrainTimecode(clipName, values._nPrimarySelector == 0 ? 1 : 0, camera, static_cast<uint32_t>(in));
        // Without an answer the entry keeps the table's offset and no primary timecode.
        if (primary >= 0)
            offset = Difference(static_cast<int32_t>(primary), in);
    } else {
        const char* element = values._nPrimarySelector != 0 ? "TC_USR_CURRENT" : "TC_TOD_CURRENT";
        if (auto stamp = CServerClipTable::ReadText(table, element)) {
            uint8_t packed[TcDate::kPackedSize] = {};
            HexTextToBytes(stamp->c_str(), packed, sizeof packed);
            TcDate date;
            if (date.Unpack(false, packed) == TcDate::kPackedSize) {
                primary = date.GetFieldOfDay();
                offset = Difference(static_cast<int32_t>(primary), in);
                if (trimmed)
                    primary = static_cast<int32_t>(Sum(static_cast<int32_t>(primary), Difference(shortIn, in)));
            } else {
                _log.Log("CValdrinView::GetFTPInfos : %s [%s] is no timecode stamp", element, stamp->c_str());
            }
        }
    }
    const int32_t selectedIn = trimmed ? shortIn : in;
    const int32_t selectedOut = trimmed ? shortOut : out;

    std::string printName;
    auto clipNameText = CServerClipTable::ReadText(table, "CLIPNAME");
    if (clipNameText && !clipNameText->empty())
        printName = values._nUnicodeFlags & 0x200 ? "UNICODE" : *clipNameText;
    if (printName.empty())
        printName = FormatText("%03d", values._nClipNumber) + values._szCamera;
    _log.Log("CValdrinView::GetFTPInfos szClipName : %s", printName.c_str());

    const std::string markIn = TimecodeText(Sum(shortPoints ? shortIn : in, offset), system);
    const std::string markOut = TimecodeText(Sum(shortPoints ? shortOut : out, offset), system);
    const int32_t fps = static_cast<int32_t>(CTimeCode(0, system).GetFrameRate());
    const std::string lookupName = clipName + (values.IsTrain() ? ".TRN" : ".CLP");

    CXmlDocument doc;
    auto priv = StartClipJob(doc, "GetFTPInfos", {printName, lookupName, {}, {}, {}, markIn, markOut, fps});
    if (!priv)
        return -2;
    AddLong(*priv, "KorvoTCIn", static_cast<int32_t>(Sum(in, offset)));
    AddLong(*priv, "KorvoTCOut", static_cast<int32_t>(Sum(out, offset)));
    AddInt(*priv, "KorvonAudios", values._nAudios);
    AddInt(*priv, "KorvoRate", values._nRate);
    AddLong(*priv, "KorvoClipIn", shortPoints ? Difference(shortIn, in) : -1);
    AddLong(*priv, "KorvoClipOut", shortPoints ? Difference(shortOut, in) : -1);
    AddLong(*priv, "KorvoRixFstFld", trimmed ? shortIn : in);
    if (primary >= 0)
        AddLong(*priv, "KorvoPrimaryTC", static_cast<int32_t>(primary));
    AddText(*priv, "KorvonAudioBits", _settings._b24BitsAudio ? "24" : "16");
    AddInt(*priv, "KorvonVideoChannels", values._nVideoChannels);
    AddFlag(*priv, "TrimClip", trim);
    AddFlag(*priv, "Tardix", _settings._bTardix);
    if (trim && _settings._nTrimGuardBand != 0)
        AddULong(*priv, "TrimGuardBand", static_cast<uint32_t>(_settings._nTrimGuardBand));
    AddText(*priv, "KorvoFileType", "RixFTP");
    AddText(*priv, "KorvoDataType", values._szDataType);
    AddText(*priv, "KorvoRixServer",
            FormatText("%s:%s@%s:%s", _settings._szRixUser.c_str(), _settings._szRixPass.c_str(),
                       _settings._szRixAddress.c_str(), _settings._szRixPort.c_str()));

    MetadataNodes tree =
        AddMetadataTree(*priv, FormatText("Korvo Mirel Browser %s (RixFtp)", CValdrinSettings::kVersion));
    CXmlNode* file = tree.file.get();
    CXmlNode* clip = tree.clip.get();
    CMXF_Parvex_ClipInfo codec;
    codec._nVideoCodec = static_cast<uint32_t>(values._nCodec);
    AddText(*file, "Rix_Material_ID", values._szMaterialId);
    AddLong(*file, "Rix_Offset_TC", offset);
    AddULong(*file, "Rix_IN", static_cast<uint32_t>(selectedIn));
    AddText(*file, "Rix_IN_TC_str", TimecodeText(Sum(selectedIn, offset), system));
    AddULong(*file, "Rix_OUT", static_cast<uint32_t>(selectedOut));
    AddText(*file, "Rix_OUT_TC_str", TimecodeText(Sum(selectedOut, offset), system));
    AddULong(*file, "Rix_Duration", static_cast<uint32_t>(Difference(selectedOut, selectedIn)));
    AddText(*file, "Rix_Duration_str",
            TimecodeText(static_cast<uint32_t>(Difference(selectedOut, selectedIn)), system));
    AddInt(*file, "Rix_TC_System", values._nTcSystem);
    AddText(*file, "Rix_TC_System_str", TcSystemText(values._nTcSystem));
    AddInt(*file, "Rix_Video_Codec", values._nCodec);
    AddText(*file, "Rix_Video_Codec_str", codec.GetVideoCodecString());
    AddInt(*file, "Rix_Video_Std", values._nStandard);
    AddText(*file, "Rix_Video_Std_str", values._szStandard);
    AddInt(*file, "Rix_Video_System", values._nVideoSystem);
    AddText(*file, "Rix_Video_System_str", VideoSystemText(values._nVideoSystem));
    AddText(*file, "Rix_Video_Interlaced", values._b720Lines ? "0" : "1");
    AddInt(*file, "Rix_Video_Aspect_Ratio", values._nAspect);
    AddText(*file, "Rix_Video_Aspect_Ratio_str", AspectText(values._nAspect));
    AddInt(*file, "Rix_Video_Bitrate", values._nRate);
    AddText(*file, "Rix_Audio_Codec", "0");
    AddText(*file, "Rix_Audio_Codec_str", "PCM");
    AddInt(*file, "Rix_Nb_Audio_Monos", values._nAudios);
    AddInt(*file, "Rix_Nb_Videos", values._nVideoChannels);
    if (!AddCreationTimes(*file, values._szMaterialId))
        _log.Log("CValdrinView::GetFTPInfos() failed to initialize Rix_Creation_Time from MaterialID [%s]",
                 values._szMaterialId.c_str());
    AddText(*file, "Parvex_Backup_Time_str", backupTime);

    if (auto umid = CServerClipTable::ReadText(table, "CLIPID"))
        AddText(*clip, "Rix_UmID", values._nUnicodeFlags & 0x100 ? CServerClipTable::DecodeUnicodeHex(*umid) : *umid);
    if (auto varId = CServerClipTable::ReadVarId(table))
        AddText(*clip, "Rix_VarID", values._nUnicodeFlags & 0x2000 ? "UNICODE" : *varId);
    AddText(*clip, "Rix_NumClip", FormatText("%03d", values._nClipNumber));
    AddText(*clip, "Rix_Camera", values._szCamera);
    AddText(*clip, "Rix_Camera_Pref", values._szCameraPref);
    AddText(*clip, "Rix_Camera_Label", values._szCameraLabel);
    AddText(*clip, "Rix_Rating", values._szRating);
    AddInt(*clip, "Rix_TC_System", values._nTcSystem);
    AddText(*clip, "Rix_TC_System_str", TcSystemText(values._nTcSystem));
    AddLong(*clip, "Rix_Offset_TC", offset);
    AddULong(*clip, "Rix_Short_IN", static_cast<uint32_t>(shortIn));
    AddText(*clip, "Rix_Short_IN_TC_str", TimecodeText(Sum(shortIn, offset), system));
    AddULong(*clip, "Rix_Short_REF", static_cast<uint32_t>(values._nShortRef));
    AddText(*clip, "Rix_Short_REF_TC_str", TimecodeText(Sum(values._nShortRef, offset), system));
    AddULong(*clip, "Rix_Short_OUT", static_cast<uint32_t>(shortOut));
    AddText(*clip, "Rix_Short_OUT_TC_str", TimecodeText(Sum(shortOut, offset), system));
    AddULong(*clip, "Rix_Clip_Duration", static_cast<uint32_t>(Difference(shortOut, shortIn)));
    AddText(*clip, "Rix_Clip_Duration_str", TimecodeText(static_cast<uint32_t>(Difference(shortOut, shortIn)), system));
    if (clipNameText)
        AddText(*clip, "Rix_ClipName",
                values._nUnicodeFlags & 0x200 ? CServerClipTable::DecodeUnicodeHex(*clipNameText) : *clipNameText);
    AddFTPKeywords(table, *clip, values._nUnicodeFlags);
    return FinishClipJob(doc, clip, values._szClipIdSrc, values._nFillAndKeyType, values._szFillAndKey, "GetFTPInfos",
                         job);
}
