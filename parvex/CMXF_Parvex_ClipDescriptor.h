#pragma once

#include <cstdint>
#include <string>

#include "parvex/ParvexLayout.h"

// One clip described in a Parvex clip file: the file's own clip or a sub-clip cut from it.
class CMXF_Parvex_ClipDescriptor
{
public:
    CMXF_Parvex_ClipDescriptor() = default;
    virtual ~CMXF_Parvex_ClipDescriptor() = default;
    CMXF_Parvex_ClipDescriptor(const CMXF_Parvex_ClipDescriptor&) = delete;
    CMXF_Parvex_ClipDescriptor& operator=(const CMXF_Parvex_ClipDescriptor&) = delete;

    // The user timecode is the primary one and the clip carries it (packed TcDate in _aSerTCUsr).
    bool HasUserTimecode() const { return _bSerTCUsr && _nPrimaryTC != 0; }
    // What the browser calls the camera label and the rating.
    const std::string& GetCameraLabel() const { return _szClipNameSrc; }
    uint16_t GetRating() const { return _nQuality; }

    std::string _szClipId;  // Lenmark_Clip_UmID
    std::string _szClipName;
    int32_t _nNumClip = -1;  // 16-bit clip number once read
    uint8_t _cCamera = 0;
    uint8_t _nNumMachine = 0;
    uint8_t _cCameraPref = 0;
    uint16_t _nMchSerialNb = 0;  // recording machine's serial number
    uint32_t _nFileIn = 0;       // the clip info's Lenmark_in and Lenmark_out
    uint32_t _nFileOut = 0;
    uint32_t _nShortIn = 0;
    uint32_t _nShortRef = 0;
    uint32_t _nShortOut = 0;
    uint32_t _nOffsetTC = 0;
    uint32_t _nTCSystem = 0;
    std::string _szKeywords[parvex::kMaxKeywords];
    bool _bKeywordWide[parvex::kMaxKeywords] = {};
    uint8_t _aKeywordWide[parvex::kMaxKeywords][parvex::kWideKeywordSize] = {};
    uint8_t _aWideClipName[parvex::kWideNameSize] = {};
    bool _bWideClipName = false;
    uint8_t _aWideClipNameSrc[parvex::kWideNameSize] = {};
    bool _bWideClipNameSrc = false;
    uint8_t _aUserBits[8] = {};
    uint8_t _aWideVarId[parvex::kWideVarIdSize] = {};
    bool _bWideVarId = false;
    uint16_t _nWideVarIdSize = parvex::kWideVarIdSize;
    std::string _szVarId;
    uint16_t _nStatus = 0;
    uint16_t _nQuality = 0;
    uint16_t _nFileStatus = 0;
    uint32_t _nSession = 0;
    uint32_t _nUnicodeFlag = 0;  // the clip's names exist in wide form
    uint32_t _nFillAndKeyType = 0;
    std::string _szServerName;
    std::string _szClipIdSrc;
    std::string _szClipNameSrc;
    std::string _szFillAndKey;
    uint16_t _nSerTCVersion = 0xFFFF;
    uint8_t _aSerTCTod[parvex::kSerTCSize] = {};
    uint8_t _aSerTCUsr[parvex::kSerTCSize] = {};
    uint8_t _aSerTCTodSrc[parvex::kSerTCSize] = {};
    uint8_t _aSerTCUsrSrc[parvex::kSerTCSize] = {};
    bool _bSerTCUsr = false;  // the user timecode item was read or set
    uint8_t _nTypeTCTod = 0;
    uint8_t _nTypeTCUser = 0;
    uint8_t _nPrimaryTC = 0;

    CMXF_Parvex_ClipDescriptor* _pNext = nullptr;  // owned by the clip info
    uint32_t _nListNumber = 0;
};
