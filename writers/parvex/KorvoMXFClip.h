#pragma once

#include <cstdint>

// One clip's record for the clip-file writer: what becomes one clip group of the metadata set.
class KorvoMXFClip
{
public:
    enum Time { kTimeTod = 0, kTimeUser = 1, kTimeTodSource = 2, kTimeUserSource = 3, kTimeCount = 4 };
    static constexpr uint32_t kKeywords = 5;
    static constexpr uint32_t kVarIdSize = 32;

    KorvoMXFClip();
    virtual ~KorvoMXFClip() = default;
    KorvoMXFClip(const KorvoMXFClip&) = default;
    KorvoMXFClip& operator=(const KorvoMXFClip&) = default;

    void CopyFrom(const KorvoMXFClip& other) { *this = other; }
    void SetUmId(const char* id);
    // Up to 32 bytes; a binary VarID is written raw beside the text "<BINARY>".
    void SetVarId(const uint8_t* data, uint32_t length, bool binary);
    // Copy at most 24 characters and drop the wide form.
    void SetName(const char* name);
    void SetClipNameSource(const char* name);
    void SetClipIdSource(const char* id);
    void SetServerName(const char* name);
    void SetKeyword(uint32_t n, const char* keyword);
    void SetFillAndKey(const char* text);
    // Wide forms, UTF-16: 12 units for the names, 6 for a keyword; longer texts are cut.
    void SetWideName(const char16_t* name);
    void SetWideClipNameSource(const char16_t* name);
    void SetWideKeyword(uint32_t n, const char16_t* keyword);
    // A time in the 8-byte packed TcDate form.
    void SetTime(Time which, const uint8_t (&packed)[8]);

    uint16_t _nMachineNumber = 1;
    uint16_t _nClipNumber = 111;
    uint8_t _cCamera = 'A';
    uint8_t _cCameraPref = 0;
    uint32_t _nShortIn = 0;
    uint32_t _nShortOut = 0;
    uint32_t _nShortRef = 0;
    uint32_t _nOffset = 0;
    uint32_t _nTCSystem = 0;
    uint16_t _nQuality = 0;
    uint32_t _nSession = 0;
    uint8_t _nFillAndKeyType = 0;
    uint8_t _nUserTCType = 0;
    uint8_t _nPrimaryTC = 0;
    char _szUmId[9];
    uint8_t _aVarId[kVarIdSize] = {};
    uint32_t _nVarIdLength = 0;
    bool _bVarIdBinary = false;
    char _szName[25] = {};
    char _szServerName[21] = {};
    char _szKeywords[kKeywords][13] = {};
    char _szClipIdSource[9];
    char _szClipNameSource[25] = {};
    bool _bWideName = false;
    char16_t _wszName[13] = {};
    bool _bWideKeyword[kKeywords] = {};
    char16_t _wszKeywords[kKeywords][7] = {};
    bool _bWideNameSource = false;
    char16_t _wszNameSource[13] = {};
    uint8_t _aUserBits[8] = {};
    char _szFillAndKey[9];
    bool _bHasTime[kTimeCount] = {};
    uint8_t _aTimes[kTimeCount][8] = {};
};
