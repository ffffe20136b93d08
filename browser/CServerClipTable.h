#pragma once

#include <cstdint>
#include <optional>
#include <string>

class CXmlDocument;

// The values of a video server's clip-table XML ("QVCLIPTABLE") as the browser reads them, with what it derives
// from them: video standard and system, timecode system, codec and data type, aspect. Each element is found by
// XPath, the first one counts, and a missing element takes its default.
class CServerClipTable
{
public:
    // Reads every value from a parsed clip table. Empty elements with a non-empty default get the default written
    // into the document, as the reader of the document does.
    void Read(CXmlDocument& doc);

    // The codec is one the browser ingests (IMX, Hydrel, DVCPRO).
    bool IsSupported() const { return _nCodec >= 0; }
    // A ".TRN" entry (a recording train) rather than a ".CLP" clip.
    bool IsTrain() const { return _nClipNumber == 0; }
    // Both short points are set: present, and neither is -1.
    bool HasShortPoints() const { return _bShortPoints; }

    // The optional texts of the clip; none when the element is missing. Unicode ones are decoded to UTF-8.
    static std::optional<std::string> ReadText(CXmlDocument& doc, const std::string& element);
    // Text of hexadecimal UTF-16 (low byte first), at most 30 bytes, ending at the first zero unit, as UTF-8.
    static std::string DecodeUnicodeHex(const std::string& hex);
    // The variable id: VARID32 decoded into its current size, up to the first zero byte.
    static std::optional<std::string> ReadVarId(CXmlDocument& doc);
    static std::string Trim(const std::string& text);

    // As read.
    int32_t _nOffsetTc = 0;
    int32_t _nIn = 0;
    int32_t _nOut = 0;
    int32_t _nShortIn = 0;
    int32_t _nShortOut = 0;
    int32_t _nShortRef = 0;  // OFFSETREF + short in
    int32_t _nAudios = 0;    // mono channels: 0, 4 or 8
    int32_t _nRate = 0;
    int32_t _nFormat = 0;
    int32_t _nCodecType = 0;
    uint32_t _nUnicodeFlags = 0;
    std::string _szMaterialId;
    int32_t _nClipNumber = 111;
    std::string _szCamera = "A";
    int32_t _nFillAndKeyType = 0;
    std::string _szFillAndKey;
    int32_t _nVideoChannels = 1;
    std::string _szCameraLabel;
    std::string _szClipIdSrc;
    std::string _szCameraPref;
    std::string _szRating;
    int32_t _nPrimarySelector = 0;  // 0 the time-of-day timecode, else the user timecode
    bool _bShortPoints = false;

    // Derived.
    int32_t _nStandard = 0;
    std::string _szStandard = "SD_525";
    bool _b720Lines = false;
    int32_t _nTcSystem = 3;
    int32_t _nVideoSystem = 3;  // also the timecode system index of every timecode text
    int32_t _nCodec = -1;       // clip-information numbering; -1 unsupported
    std::string _szDataType;
    int32_t _nAspect = 2;
};
