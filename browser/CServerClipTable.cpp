#include "browser/CServerClipTable.h"

#include <cstring>

#include "browser/TimeConversions.h"
#include "common/CodePages.h"
#include "xml/CXmlDocument.h"

namespace
{

constexpr size_t kMaxUnicodeBytes = 30;
constexpr size_t kVarIdBytes = 32;

std::unique_ptr<CXmlNode> Select(CXmlDocument& doc, const std::string& element)
{
    auto node = doc.SelectSingleNode("//QVCLIPTABLE/" + element);
    if (node && node->IsNull())
        node.reset();
    return node;
}

// atoi semantics; a missing element gives the default, an empty one the default written into it.
int32_t ReadInt(CXmlDocument& doc, const char* element, int32_t missing, int32_t empty)
{
    auto node = Select(doc, element);
    if (!node)
        return missing;
    return node->GetTextAsInt(empty);
}

std::string ReadString(CXmlDocument& doc, const char* element, const char* missing, const char* empty)
{
    auto node = Select(doc, element);
    if (!node)
        return missing;
    return node->GetText(empty);
}

}  // namespace

std::string CServerClipTable::Trim(const std::string& text)
{
    const char* blanks = " \t\r\n\v\f";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

std::optional<std::string> CServerClipTable::ReadText(CXmlDocument& doc, const std::string& element)
{
    auto node = Select(doc, element);
    if (!node)
        return std::nullopt;
    return Trim(node->GetText());
}

std::string CServerClipTable::DecodeUnicodeHex(const std::string& hex)
{
    const size_t count = std::min(hex.size() / 2, kMaxUnicodeBytes);
    uint8_t bytes[kMaxUnicodeBytes + 2] = {};
    if (count > 0)
        HexTextToBytes(hex.c_str(), bytes, count);
    std::u16string wide;
    for (size_t i = 0; i + 1 < count + 2; i += 2) {
        const char16_t unit = static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
        if (unit == 0)
            break;
        wide.push_back(unit);
    }
    return WideToUtf8(wide);
}

std::optional<std::string> CServerClipTable::ReadVarId(CXmlDocument& doc)
{
    auto text = ReadText(doc, "VARID32");
    if (!text)
        return std::nullopt;
    const int32_t size = ReadInt(doc, "VARID32_CURSIZE", 0, 0);
    const size_t count = size >= 1 && size <= 31 ? static_cast<size_t>(size) : kVarIdBytes;
    uint8_t bytes[kVarIdBytes + 1] = {};
    HexTextToBytes(text->c_str(), bytes, count);
    std::string raw(reinterpret_cast<const char*>(bytes), strnlen(reinterpret_cast<const char*>(bytes), count));
    // The id's bytes are the server's 8-bit text.
    return IsAscii(raw) ? raw : ConvertCodePage(raw, 0, 65001);
}

void CServerClipTable::Read(CXmlDocument& doc)
{
    _nOffsetTc = ReadInt(doc, "OFFSETTC", 0, 0);
    _nIn = ReadInt(doc, "IN", 0, 0);
    _nOut = ReadInt(doc, "OUT", 0, 0);
    _nShortIn = ReadInt(doc, "SHORTIN", 0, 0);
    _nShortOut = ReadInt(doc, "SHORTOUT", 0, 0);
    // A clip the operator never trimmed has no short points: -1, or no elements at all.
    _bShortPoints = Select(doc, "SHORTIN") && Select(doc, "SHORTOUT") && _nShortIn != -1 && _nShortOut != -1;
    _nShortRef =
        static_cast<int32_t>(static_cast<uint32_t>(ReadInt(doc, "OFFSETREF", 0, 0)) + static_cast<uint32_t>(_nShortIn));
    const int32_t audioMode = ReadInt(doc, "AUDIOMODE", 0, 0);
    _nAudios = audioMode == 0 ? 0 : audioMode >= 1 && audioMode <= 3 ? 4 : 8;
    _nRate = ReadInt(doc, "VIDEOCOMPRESSIONRATE", 0, 0);

    _nFormat = ReadInt(doc, "VIDEOFORMAT", 0, 0);
    const int32_t lines = _nFormat & 0x38;
    const int32_t frames = _nFormat & 7;
    _b720Lines = lines == 0x10;
    if (_b720Lines) {
        _nStandard = 2;
        _szStandard = "HD_720";
    } else if (lines == 0x20) {
        _nStandard = 3;
        _szStandard = "HD_1080";
    } else if (frames == 1) {
        _nStandard = 1;
        _szStandard = "SD_625";
    } else {
        _nStandard = 0;
        _szStandard = "SD_525";
    }
    const bool ntsc = frames == 2 || frames == 4;
    _nTcSystem = frames == 2 ? 5 : frames == 4 ? 4 : 3;
    _nVideoSystem = ntsc ? (_b720Lines ? 7 : 4) : (_b720Lines ? 6 : 3);

    _nCodecType = ReadInt(doc, "VIDEOCOMPRESSIONTYPE", 0, 0);
    switch (_nCodecType) {
        case 3:
            _szDataType = "IMX";
            _nCodec = _nRate == 30 ? 2 : _nRate == 40 ? 3 : 4;
            break;
        case 4:
            _szDataType = "Hydrel";
            _nCodec = _nRate == 220 || _nRate == 185 ? 9 : 8;
            break;
        case 6:
            _szDataType = "DVCPro";
            _nCodec = 23;
            break;
        case 7:
            _szDataType = "DVCPro";
            _nCodec = _nRate <= 50 ? 22 : 23;
            break;
        case 8:
            _szDataType = "DVCPro";
            _nCodec = 22;
            break;
        default:
            _szDataType.clear();
            _nCodec = -1;
            return;
    }

    const int32_t aspect = ReadInt(doc, "ASPECTRATIO", 0, 0);
    _nAspect = _nStandard >= 2 || aspect == 2 ? 3 : 2;
    _nUnicodeFlags = static_cast<uint32_t>(ReadInt(doc, "UNICODEFLAG", 0, 0));
    _szMaterialId = ReadString(doc, "IDMATERIAL", "", nullptr);
    _nClipNumber = ReadInt(doc, "NUMCLIPLenmark", 111, 111) & 0x3FFF;
    _szCamera = ReadString(doc, "CAMERA", "A", "A");
    _nFillAndKeyType = ReadInt(doc, "FILLANDKEYTYPE", 0, 0);
    _szFillAndKey = ReadString(doc, "FILLANDKEY", "", nullptr);
    _nVideoChannels = ReadInt(doc, "NBCHANNELAV", 1, 0) & 7;
    _szCameraLabel = ReadString(doc, "CLIPNAMESOURCE", "", nullptr);
    _szClipIdSrc = ReadString(doc, "CLIPIDSOURCE", "", nullptr);
    _szCameraPref = ReadString(doc, "CAMPREF", "", "1");
    _szRating = ReadString(doc, "QUALITY", "", nullptr);
    _nPrimarySelector = ReadInt(doc, "CURRENT_PRIMARY_TC", 0, 0) & 0xFF;
}
