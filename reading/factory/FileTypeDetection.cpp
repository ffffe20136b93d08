#include "reading/factory/FileTypeDetection.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "common/ByteOrder.h"
#include "media/DvcproFrames.h"
#include "media/ImxFrames.h"
#include "media/MxfLabels.h"
#include "parvex/CMXF_Parvex_ClipInfo.h"
#include "parvex/ParvexLayout.h"
#include "platform/PageBuffer.h"
#include "platform/Paths.h"
#include "reading/formats/CDVDataReader.h"
#include "reading/formats/CQTDataReader.h"
#include "reading/framework/CRixLink.h"
#include "reading/framework/SourceReaderFactory.h"
#include "reading/parvex/CMXF_Parvex_FileReader.h"
#include "reading/rix/CRixDataReader.h"
#include "serverblock/CBavdBlockData.h"
#include "serverblock/CBlockData.h"
#include "serverblock/ServerBlock.h"
#include "xml/CXmlDocument.h"

namespace
{

constexpr uint32_t kWorkSize = 0x10000;
constexpr uint32_t kMinBytes = 1024;
constexpr uint32_t kScanTail = 1880;  // ten 188-byte transport packets
constexpr uint32_t kFirstBlockPos = parvex::kHeaderAreaSize;
constexpr uint32_t kTable2kInFirstBlock = kFirstBlockPos + k2kTableOffset;
constexpr uint32_t kTable2kFallback = k2kTableOffset;
constexpr uint32_t kPicturePeek = 2048;

// An essence-container label (bytes 4 to 15; 0 to 3 are the SMPTE prefix) and the types it stands for. The first
// row whose first nLength bytes match wins.
struct EssenceKey {
    uint8_t aLabel[12];
    int32_t nLength;
    FileType nFile;
    VideoType nVideo;
};

// The row for a named label: its bytes from 4 on, then `tail`; a non-zero `version` replaces the registry version
// (byte 7), which some writers set otherwise.
template <size_t N>
constexpr EssenceKey Row(const uint8_t (&label)[N], std::initializer_list<uint8_t> tail, FileType file, VideoType video,
                         uint8_t version = 0, int32_t length = 16)
{
    EssenceKey key{{}, length, file, video};
    size_t i = 0;
    for (size_t b = 4; b < N; ++b)
        key.aLabel[i++] = label[b];
    for (uint8_t b : tail)
        key.aLabel[i++] = b;
    if (version != 0)
        key.aLabel[3] = version;
    return key;
}

// A D-10 row for a rate in Mb/s, 625 or 525 lines; `wrapping` is byte 15.
constexpr EssenceKey D10(int megabits, bool fiftyHz, uint8_t wrapping, FileType file, VideoType video)
{
    const imx::Rate& rate = *imx::Find(megabits);
    return Row(mxf::kD10ContainerPrefix, {fiftyHz ? rate.nCodingVariant625 : rate.nCodingVariant525, wrapping}, file,
               video);
}

constexpr EssenceKey Dv(uint8_t kind, uint8_t wrapping, FileType file, VideoType video)
{
    return Row(mxf::kDvContainerPrefix, {kind, wrapping}, file, video);
}

constexpr EssenceKey Hydrel(uint8_t a, uint8_t b, uint8_t c)
{
    return Row(mxf::kHydrelContainerPrefix, {a, b, c}, OPAtom_File, Hydrel_Video);
}

// DV-based kinds: 40/41 are DVCPRO 25 Mb/s (525/625), 50/51 DVCPRO50, 60 to 63 DVCPRO HD. The first P2 audio row
// is the AES3 label behind an essence element's leading bytes, as some cameras write it.
constexpr EssenceKey kEssenceKeys[] = {
    Row(mxf::kParvexEssenceKey, {}, MJPEG_File, Mjpeg_Video),
    D10(50, true, 0x01, IMX_File, IMX50_Video),
    D10(50, false, 0x01, IMX_File, IMX50_Video),
    D10(40, true, 0x01, IMX_File, IMX40_Video),
    D10(40, false, 0x01, IMX_File, IMX40_Video),
    D10(30, true, 0x01, IMX_File, IMX30_Video),
    D10(30, false, 0x01, IMX_File, IMX30_Video),
    Dv(0x40, 0x02, P2Video_File, DVCPro25_Video),
    Dv(0x41, 0x02, P2Video_File, DVCPro25_Video),
    Dv(0x50, 0x02, P2Video_File, DVCPro50_Video),
    Dv(0x51, 0x02, P2Video_File, DVCPro50_Video),
    Dv(0x02, 0x02, P2Video_File, DV25_Video),
    Dv(0x02, 0x02, P2Video_File, DV25_Video),
    Row(mxf::kEssenceElement,
        {mxf::kAes3ClipContainerLabel[12], mxf::kAes3ClipContainerLabel[13], mxf::kAes3ClipContainerLabel[14],
         mxf::kAes3ClipContainerLabel[15]},
        P2Audio_File, Unknown_Video),
    Row(mxf::kMpegEsContainerPrefix, {0x61, 0x07}, IMXProxy_File, MP4ART_Video, 0x02),
    Row(mxf::kMpegEsContainerPrefix, {0x61, 0x07}, IMXProxy_File, MP4ART_Video),
    Row(mxf::kALawCustomContainerLabel, {}, IMXProxy_File, Unknown_Video, 0x03),
    Row(mxf::kALawCustomContainerLabel, {}, IMXProxy_File, Unknown_Video),
    Dv(0x01, 0x01, SonyDV_File, DV25_Video),
    Dv(0x02, 0x01, SonyDV_File, DV25_Video),
    Dv(0x40, 0x01, MXFDVFrame_File, DVCPro25_Video),
    Dv(0x41, 0x01, MXFDVFrame_File, DVCPro25_Video),
    Dv(0x50, 0x01, MXFDVFrame_File, DVCPro50_Video),
    Dv(0x51, 0x01, MXFDVFrame_File, DVCPro50_Video),
    Row(mxf::kAes3ClipContainerLabel, {}, P2Audio_File, Unknown_Video),
    Row(mxf::kMpegEsContainerPrefix, {0x60, 0x01}, HDXDCAM_File, HDV_Video, 0x02),
    Row(mxf::kMpegEsContainerPrefix, {0x60, 0x01}, HDXDCAM_File, HDV_Video),
    Dv(0x7F, 0x01, MXFDVFrame_File, Unknown_Video),
    Dv(0x60, 0x02, P2Video_File, DVCPro100_Video),
    Dv(0x61, 0x02, P2Video_File, DVCPro100_Video),
    Dv(0x62, 0x02, P2Video_File, DVCPro720P_Video),
    Dv(0x63, 0x02, P2Video_File, DVCPro720P_Video),
    Row(mxf::kMpegEsContainerPrefix, {0x60, 0x02}, OPAtom_File, IMX40_Video, 0x02),
    D10(50, true, 0x7F, OPAtom_File, IMX50_Video),
    D10(30, true, 0x7F, OPAtom_File, IMX30_Video),
    D10(40, true, 0x7F, OPAtom_File, IMX40_Video),
    D10(50, false, 0x7F, OPAtom_File, IMX50_Video),
    D10(40, false, 0x7F, OPAtom_File, IMX40_Video),
    D10(30, false, 0x7F, OPAtom_File, IMX30_Video),
    Hydrel(0x06, 0x02, 0x02),
    Row(mxf::kVc3ClipContainerLabel, {}, OPAtom_File, Hydrel_Video, 0x10),
    Hydrel(0x00, 0x00, 0x00),
    Hydrel(0x01, 0x00, 0x00),
    Hydrel(0x06, 0x02, 0x03),
    Hydrel(0x06, 0x03, 0x03),
    Hydrel(0x06, 0x03, 0x02),
    Row(mxf::kHydrelLegacyContainerLabel, {}, OPAtom_File, Hydrel_Video),
    Row(mxf::kSoundContainerLabel, {}, OPAtomAudio_File, Unknown_Video),
    Dv(0x63, 0x01, OP1ADVCPHD_File, DVCPro720P_Video),
    // DVCPRO HD 1080i60, 1080i50 and 720p60 frame-wrapped: the same codec as the 720p50 row.
    Dv(0x60, 0x01, OP1ADVCPHD_File, DVCPro720P_Video),
    Dv(0x61, 0x01, OP1ADVCPHD_File, DVCPro720P_Video),
    Dv(0x62, 0x01, OP1ADVCPHD_File, DVCPro720P_Video),
    Row(mxf::kHydrelContainerPrefix, {0x06, 0x02, 0x02}, HydrelVideo_File, Hydrel_Video, 0, 15),
    Row(mxf::kMpegEsContainerPrefix, {}, MXFMPEGES_File, MPEG2_Video, 0x02, 14),
};
static_assert(sizeof kEssenceKeys / sizeof kEssenceKeys[0] == 54);

const EssenceKey* FindEssenceKey(const uint8_t* label)
{
    if (std::memcmp(label, mxf::kUlPrefix, 4) != 0)
        return nullptr;
    for (const EssenceKey& key : kEssenceKeys)
        if (std::memcmp(label + 4, key.aLabel, static_cast<size_t>(key.nLength) - 4) == 0)
            return &key;
    return nullptr;
}

bool Is(const uint8_t* bytes, const char* text)
{
    return std::memcmp(bytes, text, std::strlen(text)) == 0;
}

// What detection has found so far; the video type is only reported when the caller asked for it.
struct Found {
    FileType nFile = Unknown_File;
    int32_t nVideo = Unknown_Video;
};

class Detector
{
public:
    Detector(CSourceReader* source, bool wantVideo, const std::string& logName)
        : _pSource(source), _bWantVideo(wantVideo), _szLogName(logName)
    {
    }

    Found Run();

private:
    bool ReadStart();
    std::string Path() const;
    bool SeekTo(uint64_t position) const;
    // Reads exactly size bytes at the position.
    bool ReadAt(uint64_t position, uint8_t* buffer, uint32_t size) const;

    Found DetectXml() const;
    Found DetectQuickTime() const;
    bool ScanAt(uint32_t p, Found* found) const;
    Found DetectRiff(uint32_t p) const;
    Found DetectMxf(uint32_t p) const;
    bool HasAtomPrimerLabel(uint32_t p) const;
    Found DetectParvexClip() const;
    Found ClassifyFirstBlock(const CMXF_Parvex_ClipInfo& info) const;
    int32_t DVVideoType() const;
    Found DetectAtStart() const;
    bool IsMpegAudio() const;
    bool IsAc3() const;

    CSourceReader* _pSource;
    bool _bWantVideo;
    std::string _szLogName;
    platform::PageBuffer _pWork;
    uint32_t _nBytes = 0;
};

bool Detector::ReadStart()
{
    _pWork = platform::MakePageBuffer(kWorkSize);
    if (!_pWork)
        return false;
    // A source may deliver fewer bytes than asked without being at its end.
    while (_nBytes < kWorkSize) {
        uint32_t got = 0;
        if (_pSource->Read(_pWork.get() + _nBytes, kWorkSize - _nBytes, &got) != 0)
            return _nBytes > 0;
        if (got == 0 || got > kWorkSize - _nBytes)
            break;
        _nBytes += got;
    }
    return true;
}

std::string Detector::Path() const
{
    char path[4096];
    if (_pSource->GetPath(path, sizeof path) < 0)
        return std::string();
    return path;
}

bool Detector::SeekTo(uint64_t position) const
{
    uint64_t at = position;
    return _pSource->Seek(&at) == 0 && at == position;
}

bool Detector::ReadAt(uint64_t position, uint8_t* buffer, uint32_t size) const
{
    if (!SeekTo(position))
        return false;
    uint32_t total = 0;
    while (total < size) {
        uint32_t got = 0;
        if (_pSource->Read(buffer + total, size - total, &got) != 0 || got == 0 || got > size - total)
            return false;
        total += got;
    }
    return true;
}

Found Detector::Run()
{
    if (!ReadStart())
        return {};
    Found found;
    const uint8_t* b = _pWork.get();
    if (CDataReader::IsXmlText(reinterpret_cast<const char*>(b))) {
        found = DetectXml();
    } else if (_nBytes < kMinBytes) {
        return {};
    } else if (Is(b + 4, "ftyp") && Is(b + 8, "mp42")) {
        found = {P2Proxy_File, MP4ART_Video};
    } else if (Is(b + 4, "moov") || Is(b + 4, "mdat") || Is(b + 4, "wide") || Is(b + 4, "free") || Is(b + 4, "skip") ||
               Is(b + 4, "ftyp")) {
        found = DetectQuickTime();
    } else if (Is(b + 8, "AAF")) {
        found = {AAF_File, Unknown_Video};
    } else {
        bool decided = false;
        for (uint32_t p = 0; _nBytes - p > kScanTail && !decided; ++p)
            decided = ScanAt(p, &found);
        if (!decided)
            found = DetectAtStart();
    }
    SeekTo(0);
    return found;
}

uint32_t ReadNative32(const uint8_t* bytes)
{
    uint32_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

bool Exists(const CXmlDocument& doc, const std::string& xpath)
{
    auto node = doc.SelectSingleNode(xpath);
    return node && !node->IsNull();
}

Found Detector::DetectXml() const
{
    const std::string path = Path();
    CXmlDocument doc;
    if (path.empty() || !doc.Load(platform::ToLocalPath(path)))
        return {};
    std::string prefix = "//";
    if (auto root = doc.GetRootNode()) {
        const std::string ns = root->GetAttributeValue("xmlns");
        if (!ns.empty() && doc.SetSelectionNamespaces("xmlns:NS='" + ns + "'"))
            prefix = "//NS:";
    }
    if (Exists(doc, prefix + "P2Main")) {
        Found found{P2_File, Unknown_Video};
        auto codec = doc.SelectSingleNode(prefix + "Codec");
        if (!codec || codec->IsNull())
            codec = doc.SelectSingleNode(prefix + "CodecType");
        std::string text;
        if (codec)
            codec->ReadText(text);
        if (text == "DV25_420")
            found.nVideo = DV25_Video;
        else if (text == "DV25_411")
            found.nVideo = DVCPro25_Video;
        else if (text == "DV50_422")
            found.nVideo = DVCPro50_Video;
        else if (text.starts_with("DV100_720"))
            found.nVideo = DVCPro720P_Video;
        else if (text.starts_with("DV100_"))
            found.nVideo = DVCPro100_Video;
        else if (text.starts_with("AVC-I_720"))
            found.nVideo = AVC_I_720P_Video;
        else if (text.starts_with("AVC-I"))
            found.nVideo = AVC_I_1080i_Video;
        return found;
    }
    if (Exists(doc, "//RixLink")) {
        CRixLink link;
        link.Parse(path.c_str());
        int32_t codec = link._nVideoCodec;
        int32_t format = link._nVideoFormat;
        // An incomplete link (a clip still recording, or values missing) asks the server for the coding.
        if (!link.IsComplete()) {
            CRixDataReader reader(path, Rix_XmlLink, std::string());
            uint8_t* values = nullptr;
            if (reader.Open(1) == 0 && reader.GetFormat(&values) >= 8) {
                codec = static_cast<int32_t>(ReadNative32(values));
                format = static_cast<int32_t>(ReadNative32(values + 4));
            }
            delete[] values;
        }
        return {Rix_XmlLink, LinkCodecToVideoType(codec, static_cast<uint32_t>(format))};
    }
    if (Exists(doc, "//RixFtpClip"))
        return {Rix_FtpLink, Unknown_Video};
    if (Exists(doc, "//KorvoMultiStream"))
        return {Korvo_MultiStream, Unknown_Video};
    return {};
}

Found Detector::DetectQuickTime() const
{
    Found found{QTUnknown_File, Unknown_Video};
    if (!SeekTo(0))
        return found;
    CQTDataReader reader(Video_Data, std::string());
    VideoInfo info;
    if (reader.SetSourceAndOpen(_pSource) == 0 && reader.GetVideoInfo(&info)) {
        found.nVideo = info.nVideoType;
        switch (info.nVideoType) {
            case Mjpeg_Video:
            case MjpegFrame_Video:
                found.nFile = QTJPG_File;
                break;
            case DV25_Video:
            case DVCPro25_Video:
            case DVCPro50_Video:
                found.nFile = QTDV_File;
                break;
            case IMX30_Video:
            case IMX40_Video:
            case IMX50_Video:
                found.nFile = QTIMX_File;
                break;
            case DVCPro100_Video:
            case DVCPro720P_Video:
                found.nFile = QTDVHD_File;
                break;
            case Hydrel_Video:
            case HydrelHigh_Video:
                found.nFile = QTHydrel_File;
                break;
            case ProRes_Video:
            case ProResHigh_Video:
                found.nFile = QTProRes_File;
                break;
            default:
                break;
        }
    }
    reader.DetachSourceReader();
    return found;
}

// One position of the byte scan: true when it decided (found may still be unknown).
bool Detector::ScanAt(uint32_t p, Found* found) const
{
    const uint8_t* b = _pWork.get() + p;
    const uint32_t left = _nBytes - p;  // more than kScanTail
    if (Is(b, "RIFF")) {
        *found = DetectRiff(p);
        return true;
    }
    if (std::memcmp(b, mxf::kHeaderPartition, sizeof mxf::kHeaderPartition) == 0) {
        *found = DetectMxf(p);
        return true;
    }
    // A DIF sequence: header, two subcode, three VAUX, one audio and three video blocks.
    static constexpr uint8_t kDifTypes[10] = {0x00, 0x20, 0x20, 0x40, 0x40, 0x40, 0x60, 0x80, 0x80, 0x80};
    bool dif = true;
    for (uint32_t k = 0; k < 10 && dif; ++k)
        dif = (b[80 * k] & 0xE0) == kDifTypes[k];
    if (dif) {
        *found = {RawDV_File, _bWantVideo ? DVVideoType() : Unknown_Video};
        return true;
    }
    if (b[0] == 0x47) {
        bool ts = true;
        for (uint32_t k = 0; (k + 1) * 188 <= kScanTail && ts; ++k)
            ts = b[188 * k] == 0x47;
        if (ts) {
            *found = {TS_File, Unknown_Video};
            return true;
        }
        const uint32_t span = left < 2040 ? left : 2040;
        ts = true;
        for (uint32_t k = 0; (k + 1) * 204 <= span && ts; ++k)
            ts = b[204 * k] == 0x47;
        if (ts) {
            *found = {TS204_File, Unknown_Video};
            return true;
        }
    }
    if (b[0] == 0 && b[1] == 0 && b[2] == 1 && b[3] == 0xBA) {
        if (b[4] & 0x20) {
            *found = {PSMPEG1_File, Unknown_Video};
            return true;
        }
        if (b[4] & 0x40) {
            *found = {PSMPEG2_File, Unknown_Video};
            return true;
        }
    }
    return false;
}

int32_t Detector::DVVideoType() const
{
    int32_t video = Unknown_Video;
    if (!SeekTo(0))
        return video;
    CDVVideoDataReader reader{std::string()};
    if (reader.SetSourceAndOpen(_pSource) == 0) {
        uint8_t* frame = nullptr;
        uint32_t size = 0;
        if (reader.GetNextData(&frame, 0, &size, nullptr) == CDataReader::kDataOk && frame &&
            size > dvcpro::kStreamTypeByte) {
            const uint8_t code = frame[dvcpro::kStreamTypeByte] & 0x1F;
            if (code == dvcpro::kStreamType1080)
                video = DVCPro100_Video;
            else if (code == dvcpro::kStreamType720)
                video = DVCPro720P_Video;
            else
                video =
                    size == dvcpro::FrameSize(dvcpro::kDv50, true) || size == dvcpro::FrameSize(dvcpro::kDv50, false)
                        ? DVCPro50_Video
                        : DVCPro25_Video;
        }
    }
    reader.DetachSourceReader();
    return video;
}

Found Detector::DetectRiff(uint32_t p) const
{
    const uint8_t* b = _pWork.get();
    const uint32_t end = _nBytes;
    if (Is(b + p + 8, "WAVE"))
        return {WAVE_File, Unknown_Video};
    if (!Is(b + p + 8, "AVI "))
        return DetectAtStart();

    Found found{AVIUnknown_File, Unknown_Video};
    // The hdrl list and, inside it, the main AVI header.
    if (end - p < 32 || !Is(b + p + 12, "LIST") || !Is(b + p + 20, "hdrl"))
        return found;
    const uint64_t hdrlEnd = std::min<uint64_t>(uint64_t{p} + 20 + ReadLittleEndian32(b + p + 16), end);
    if (hdrlEnd < uint64_t{p} + 32)
        return found;
    const uint8_t* mainHeader = nullptr;
    uint64_t at = uint64_t{p} + 24;
    if (Is(b + p + 24, "avih")) {
        const uint32_t size = ReadLittleEndian32(b + p + 28);
        if (size >= 32 && size <= hdrlEnd - (p + 32))
            mainHeader = b + p + 32;
        at = uint64_t{p} + 32 + std::min<uint64_t>(size, hdrlEnd - (p + 32));
    }
    // Stream lists: the first video stream's handler decides.
    while (at + 36 <= hdrlEnd) {
        if (!Is(b + at, "LIST")) {
            ++at;
            continue;
        }
        const uint8_t* list = b + at + 8;  // the list type
        if (Is(list, "strl") && (Is(list + 12, "vids") || Is(list + 12, "iavs"))) {
            const uint8_t* handler = list + 16;
            if (Is(handler, "dvsd") || Is(handler, "DVSD") || Is(handler, "CDVC"))
                return {AVIDV_File, DV25_Video};
            if (Is(handler, "dv25") || Is(handler, "DV25"))
                return {AVIDV_File, DVCPro25_Video};
            if (Is(handler, "dv50") || Is(handler, "DV50"))
                return {AVIDV_File, DVCPro50_Video};
            if (Is(handler, "M701"))
                return {AVIMatroxHD_File, MPEGFrame_Video};
            if (Is(handler, "MMES")) {
                found = {AVIIMX_File, IMX50_Video};
                // The stream header's rate and largest chunk: the frame size tells the bit rate.
                VideoType byFrame = Unknown_Video;
                if (at + 8 + 52 <= hdrlEnd && Is(list + 4, "strh")) {
                    const uint32_t scale = ReadLittleEndian32(list + 32);
                    const uint32_t rate = ReadLittleEndian32(list + 36);
                    const uint32_t largest = ReadLittleEndian32(list + 48);
                    if (scale != 0)
                        byFrame = ImxVideoTypeOfFrame(largest, static_cast<double>(rate) / scale);
                }
                if (byFrame != Unknown_Video) {
                    found.nVideo = byFrame;
                } else if (mainHeader) {
                    const uint32_t maxBytes = ReadLittleEndian32(mainHeader + 4);
                    const uint32_t suggested = ReadLittleEndian32(mainHeader + 28);
                    // The header's byte rate (the rate's bits / 8) or its frame size.
                    if (maxBytes == 30000000 / 8 || suggested == imx::FrameSize(30000000, true) ||
                        suggested == imx::FrameSize(30000000, false))
                        found.nVideo = IMX30_Video;
                    else if (maxBytes == 40000000 / 8 || suggested == imx::FrameSize(40000000, true) ||
                             suggested <= imx::RoundedFrameSize(40000000, false))
                        found.nVideo = IMX40_Video;
                }
            }
            return found;
        }
        const uint64_t size = ReadLittleEndian32(b + at + 4);
        at += 8 + std::min<uint64_t>(size, hdrlEnd - at);
    }
    return found;
}

Found Detector::DetectMxf(uint32_t p) const
{
    const uint8_t* b = _pWork.get();
    const uint64_t left = _nBytes - p;
    const uint64_t lengthSize = (b[p + 16] & 0x80) ? 1 + (b[p + 16] & 0x7F) : 1;
    if (left < 16 + lengthSize + 80 + 16)
        return DetectAtStart();
    const uint64_t batch = p + 16 + lengthSize + 80;
    const uint32_t count = ReadBigEndian32(b + batch);
    Found found;
    const EssenceKey* key = nullptr;
    for (uint64_t i = 0, label = batch + 8; i < count && label + 16 <= _nBytes && !key; ++i, label += 16)
        if ((key = FindEssenceKey(b + label)) != nullptr) {
            found = {key->nFile, key->nVideo};
            if (found.nFile == MXFMPEGES_File && b[label + 14] >= 0x40 && b[label + 14] <= 0x4F)
                found.nFile = MXFMPEGAudioES_File;
        }
    if (!key)
        return DetectAtStart();
    if (found.nFile == P2Video_File && HasAtomPrimerLabel(p))
        found.nFile = OPAtom_File;
    else if (found.nFile == MJPEG_File)
        found = DetectParvexClip();
    return found;
}

// A P2 picture file that is really an OP-Atom file names the atom label in its primer pack.
bool Detector::HasAtomPrimerLabel(uint32_t p) const
{
    const uint8_t* b = _pWork.get();
    for (uint64_t at = uint64_t{p} + 1; at <= uint64_t{p} + 200 && at + 17 <= _nBytes; ++at) {
        if (std::memcmp(b + at, mxf::kPrimerPack, sizeof mxf::kPrimerPack) != 0)
            continue;
        const uint8_t ber = b[at + 16];
        if (!(ber & 0x80))
            return false;
        const uint32_t lengthBytes = ber & 0x7F;
        if (lengthBytes == 0 || lengthBytes > 8 || lengthBytes > _nBytes - (at + 17))
            return false;
        uint64_t length = 0;
        for (uint32_t i = 0; i < lengthBytes; ++i)
            length = length << 8 | b[at + 17 + i];
        const uint64_t value = at + 17 + lengthBytes;
        const uint64_t valueEnd = value + std::min<uint64_t>(length, _nBytes - value);
        for (uint64_t v = value; v + 16 <= valueEnd; ++v)
            if (std::memcmp(b + v, mxf::kPrimerAtomLabel, sizeof mxf::kPrimerAtomLabel) == 0)
                return true;
        return false;
    }
    return false;
}

// The maker's own clip file: the codec its clip information names, or failing that its first block.
Found Detector::DetectParvexClip() const
{
    const Found fallback{MJPEG_File, Mjpeg_Video};
    const std::string path = Path();
    if (path.empty())
        return fallback;
    CMXF_Parvex_FileReader reader{std::string()};
    CMXF_Parvex_ClipInfo info;
    if (reader.Open(path) != 0)
        return fallback;
    const bool read = reader.GetHeaderData(&info, 0) == 0;
    reader.Close();
    if (!read)
        return fallback;
    FileType file = Unknown_File;
    VideoType video = Unknown_Video;
    if (ClipCodecToTypes(static_cast<int32_t>(info._nVideoCodec), info._nVideoFormat, &file, &video))
        return {file, video};
    return ClassifyFirstBlock(info);
}

Found Detector::ClassifyFirstBlock(const CMXF_Parvex_ClipInfo& info) const
{
    // The clip information numbers BAVD blocks 2 (2 MB) and 3 (8 MB); the block-data classes call both kind 2.
    const uint32_t kind = info._nBlockType == 1 ? 1 : info._nBlockType <= 3 ? 2 : 0;
    std::unique_ptr<CBlockData> block = CreateBlockData(kind, info._nBlockSize);
    if (!block)
        return {};
    // A 2k table ends the first block; a BAVD block starts with its header.
    uint64_t tablePos = kFirstBlockPos;
    if (kind == 1)
        tablePos = info._nBlockSize == kBlockSize2MB ? kTable2kInFirstBlock : kTable2kFallback;
    platform::PageBuffer table = platform::MakePageBuffer(block->GetTableSize());
    if (!table || !ReadAt(tablePos, table.get(), block->GetTableSize()) || block->SetTable(table.get()) != 0)
        return {};
    switch (block->GetVideoFormat()) {
        case 1:
            return {MJPEG_File, block->IsProgressive() ? MjpegFrame_Video : Mjpeg_Video};
        case 2:
            return {MJPEG_File, Mjpeg4_Video};
        case 3:
            return {KorvoMPEGfield_File, MPEGField_Video};
        case 4: {
            // The first picture's sequence header names the bit rate, and with it the file type too, so it is
            // read whether the video type was asked for or not.
            Found found{KorvoIMX_File, Unknown_Video};
            uint64_t picturePos = info._nBlockSize;
            if (auto* bavd = dynamic_cast<CBavdBlockData*>(block.get())) {
                const BavdElemRecord* record = bavd->GetBavd().GetElemRecord(0);
                if (!record)
                    return found;
                picturePos = kFirstBlockPos + uint64_t{bavd->GetBavd().GetHeaderAreaSize()} + record->_nDataOffset;
            }
            uint8_t picture[kPicturePeek];
            if (!ReadAt(picturePos, picture, sizeof picture))
                return found;
            switch (picture[8] + picture[9] * 256u + (picture[10] & 0xC0u) * 65536u) {
                case 0x127A:
                    found.nVideo = IMX50_Video;
                    break;
                case 0x3E49:
                    found.nVideo = IMX30_Video;
                    break;
                case 0xA861:
                    found.nVideo = IMX40_Video;
                    break;
                default:
                    found = {KorvoMPEGHD_File, MPEGFrame_Video};
                    break;
            }
            return found;
        }
        case 5:
            return {KorvoHydrel_File, Hydrel_Video};
        case 7:
            return {KorvoDVCPRO_File, DVCPro720P_Video};
        case 8:
            return {KorvoDVCPRO_File, DVCPro100_Video};
        case 9:
            return {KorvoDVCPRO_File, DVCPro50_Video};
        default:
            return {};
    }
}

Found Detector::DetectAtStart() const
{
    const uint8_t* b = _pWork.get();
    if (b[0] == 0 && b[1] == 0 && b[2] == 1) {
        const uint8_t code = b[3];
        if (code == 0xBA)
            return {(b[4] & 0x20) ? PSMPEG1_File : (b[4] & 0x40) ? PSMPEG2_File : Unknown_File, Unknown_Video};
        if (code >= 0xE0 && code <= 0xEF)
            return {PESVideo_File, Unknown_Video};
        if (code >= 0xC0 && code <= 0xDF)
            return {PESAudio_File, Unknown_Video};
        uint32_t next = 0;
        if (code == 0xB3) {
            // The sequence header grows by 64 bytes for each quantiser matrix it loads.
            const bool intra = b[11] & 0x02;
            const bool nonIntra = intra ? (b[75] & 0x01) : (b[11] & 0x01);
            next = 12 + (intra ? 64 : 0) + (nonIntra ? 64 : 0);
        } else if (code == 0xB8) {
            next = 8;
        } else {
            return {};
        }
        const bool startCode = b[next] == 0 && b[next + 1] == 0 && b[next + 2] == 1;
        return {startCode ? ESVideo_File : Unknown_File, Unknown_Video};
    }
    if (IsMpegAudio())
        return {ESAudio_File, Unknown_Video};
    if (IsAc3())
        return {ESAC3_File, Unknown_Video};
    return {};
}

bool Detector::IsMpegAudio() const
{
    static constexpr uint32_t kLayer2[15] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};
    static constexpr uint32_t kLayer3[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static constexpr uint32_t kRates[3] = {44100, 48000, 32000};
    const uint8_t* b = _pWork.get();
    if (b[0] != 0xFF || (b[1] & 0xF8) != 0xF8 || (b[2] & 0xF0) == 0xF0)
        return false;
    const uint32_t layer = (b[1] >> 1) & 3;
    const uint32_t rateIndex = (b[2] >> 2) & 3;
    if ((layer != 2 && layer != 1) || rateIndex >= 3)
        return false;
    const uint32_t kbits = (layer == 2 ? kLayer2 : kLayer3)[b[2] >> 4];
    // A free-format frame (no bit rate) has no length to check.
    const uint64_t length = uint64_t{144} * kbits * 1000 / kRates[rateIndex];
    if (length == 0 || _nBytes <= 5 * length + 5)
        return false;
    uint64_t at = 0;
    for (int i = 0; i < 5; ++i) {
        at += length + ((rateIndex == 0 && (b[at + 2] & 0x02)) ? 1 : 0);
        if (at + 3 > _nBytes || b[at] != b[0] || b[at + 1] != b[1] || (b[at + 2] & 0xFC) != (b[2] & 0xFC))
            return false;
    }
    return true;
}

// The bytes of an AC-3 frame from its fscod and frmsizecod byte; 0 for a code beyond the table.
uint64_t Ac3FrameLength(uint8_t code)
{
    static constexpr uint32_t kBitRates[19] = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                               192, 224, 256, 320, 384, 448, 512, 576, 640};
    const uint32_t fscod = code >> 6;
    const uint32_t frmsizecod = code & 0x3F;
    if (frmsizecod >= 38)
        return 0;
    const uint64_t kbits = kBitRates[frmsizecod / 2];
    if (fscod == 1)
        return 2 * (kbits * 1536000 / 705600 + (frmsizecod & 1));  // 16-bit words at 44.1 kHz
    return 192 * kbits / (fscod == 2 ? 32 : 48);
}

bool Detector::IsAc3() const
{
    const uint8_t* b = _pWork.get();
    if (b[0] != 0x0B || b[1] != 0x77)
        return false;
    const uint64_t length = Ac3FrameLength(b[4]);
    if (length == 0 || _nBytes <= 5 * length + 5)
        return false;
    // At 44.1 kHz the frames alternate between two lengths (the low bit of frmsizecod), so each frame's own
    // length leads to the next and that bit is not compared.
    const uint8_t same = (b[4] >> 6) == 1 ? 0xFE : 0xFF;
    uint64_t at = 0;
    for (int k = 0; k < 5; ++k) {
        at += Ac3FrameLength(b[at + 4]);
        if (at + 6 > _nBytes)
            return false;
        const uint8_t* frame = b + at;
        if (frame[0] != 0x0B || frame[1] != 0x77 || (frame[4] & same) != (b[4] & same) || (frame[5] & 0xF8) > 0x40)
            return false;
    }
    return true;
}

bool IsServerClipName(const char* name)
{
    for (int i = 0; i < 6; ++i)
        if (!std::isdigit(static_cast<unsigned char>(name[i])))
            return false;
    return name[6] >= 'A' && name[6] <= 'H';
}

}  // namespace

FileType DetectFileType(CSourceReader* source, int32_t* videoType, const std::string& logName)
{
    if (videoType)
        *videoType = Unknown_Video;
    if (!source)
        return Unknown_File;
    Detector detector(source, videoType != nullptr, logName);
    const Found found = detector.Run();
    if (videoType)
        *videoType = found.nVideo;
    return found.nFile;
}

FileType GetFileTypeFromSource(const char* source, int32_t* videoType, const std::string& logName)
{
    if (!source) {
        if (videoType)
            *videoType = Unknown_Video;
        return Unknown_File;
    }
    if (StartsWithNoCase(source, "Rix:\\\\")) {
        if (videoType)
            *videoType = Mjpeg_Video;
        return Rix_Link;
    }
    if (StartsWithNoCase(source, "ftp://")) {
        const char* last = std::strrchr(source, '/');
        if (IsServerClipName(last + 1))
            return Rix_Ftp;
    }
    std::unique_ptr<CSourceReader> reader = CreateSourceReader(source, 0, 0, logName);
    if (!reader) {
        if (videoType)
            *videoType = Unknown_Video;
        return Unknown_File;
    }
    return DetectFileType(reader.get(), videoType, logName);
}
