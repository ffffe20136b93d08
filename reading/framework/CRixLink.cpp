#include "reading/framework/CRixLink.h"

#include <algorithm>
#include <limits>

#include "common/CodePages.h"
#include "platform/Paths.h"
#include "xml/CXmlDocument.h"

namespace
{

// The accepted first characters of an address; the upper-case J is not among them.
constexpr const char* kAddressStart = "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIKLMNOPQRSTUVWXYZ";

// Leading decimal digits, as atol reads them, held to the 32-bit range.
int32_t LeadingNumber(const std::string& text)
{
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    const bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        ++i;
    int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = std::min<int64_t>(value * 10 + (text[i] - '0'), int64_t{std::numeric_limits<int32_t>::max()} + 1);
    value = negative ? -value : value;
    return static_cast<int32_t>(
        std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

void ReadText(const CXmlDocument& doc, const char* xpath, std::string* text)
{
    auto node = doc.SelectSingleNode(xpath);
    if (node && !node->IsNull())
        *text = node->GetText();
}

void ReadInt(const CXmlDocument& doc, const char* xpath, int defaultValue, int32_t* value)
{
    auto node = doc.SelectSingleNode(xpath);
    if (node && !node->IsNull())
        *value = node->GetTextAsInt(defaultValue);
}

}  // namespace

int32_t CRixLink::Parse(const char* path)
{
    CXmlDocument doc;
    if (!path || !doc.Load(platform::ToLocalPath(path)))
        return -1;

    ReadText(doc, "//RixLink/UmID", &_szUmID);

    auto address = doc.SelectSingleNode("//RixLink/IPAddress");
    if (address && !address->IsNull()) {
        std::string text = address->GetText();
        const size_t start = text.find_first_of(kAddressStart);
        text = start == std::string::npos ? std::string() : text.substr(start);
        _szAddress = text;
        const size_t colon = text.find(':');
        if (colon != std::string::npos) {
            _szHost = text.substr(0, colon);
            _nPort = LeadingNumber(text.substr(colon + 1));
        } else {
            _szHost = text;
            _nPort = -1;
        }
    }

    ReadInt(doc, "//RixLink/RixNumber", 0, &_nRixNumber);
    ReadInt(doc, "//RixLink/ClipNumber", 0, &_nClipNumber);

    std::string camera;
    auto cameraNode = doc.SelectSingleNode("//RixLink/CameraId");
    if (cameraNode && !cameraNode->IsNull()) {
        camera = cameraNode->GetText();
        _cCamera = camera.empty() ? 0 : camera[0];
    }

    ReadInt(doc, "//RixLink/InTC", 0, &_nIn);
    ReadInt(doc, "//RixLink/OutTC", 0, &_nOut);
    ReadInt(doc, "//RixLink/ShortInTC", 0, &_nShortIn);
    ReadInt(doc, "//RixLink/ShortOutTC", 0, &_nShortOut);
    ReadInt(doc, "//RixLink/VideoCodec", -1, &_nVideoCodec);
    ReadInt(doc, "//RixLink/NbVideoChannels", 1, &_nVideoChannels);
    ReadInt(doc, "//RixLink/VideoFormat", 0, &_nVideoFormat);
    ReadInt(doc, "//RixLink/AudioCodec", 0, &_nAudioCodec);
    ReadInt(doc, "//RixLink/NbAudioChannels", 0, &_nAudioChannels);
    ReadInt(doc, "//RixLink/GrowingMode", 0, &_nGrowingMode);

    std::string varId;
    auto varNode = doc.SelectSingleNode("//RixLink/VarID32");
    if (varNode && !varNode->IsNull()) {
        varId = varNode->GetText();
        _szVarID32 = IsAscii(varId) ? varId : Utf8ToAnsi(varId);
    }
    return 0;
}

bool CRixLink::IsComplete() const
{
    if (_nGrowingMode != 0)
        return false;
    for (int32_t value : {_nRixNumber, _nClipNumber, _nIn, _nOut, _nShortIn, _nShortOut, _nVideoChannels, _nVideoFormat,
                          _nVideoCodec, _nAudioChannels})
        if (value == -1)
            return false;
    return !_szUmID.empty() && _cCamera >= 'A' && _cCamera <= 'Z';
}
