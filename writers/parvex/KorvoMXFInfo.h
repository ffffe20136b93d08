#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "writers/parvex/KorvoMXFClip.h"
#include "writers/parvex/KorvoMXFResult.h"

// The settings of one clip file handed to KorvoMXFWriter::SetInfo: video and audio set-up, field range,
// material id, session texts and keywords, and the clips.
class KorvoMXFInfo
{
public:
    enum SessionText {
        kSessionDate = 0,
        kSessionName,
        kSessionSport,
        kSessionCompetition,
        kSessionCompetitionLevel,
        kSessionLocation,
        kSessionPlayerA,
        kSessionPlayerB,
        kSessionTextCount
    };

    KorvoMXFInfo();
    virtual ~KorvoMXFInfo() = default;
    // The defaults, without clips, keywords or session texts.
    virtual void Reset();
    // Drops the clips, keywords and session texts.
    virtual void Clear();

    bool IsHD() const { return _nVideoSystem == 3 || _nVideoSystem == 4; }
    void SetMaterialId(const char* id);
    KorvoMXFResult AddClip(const KorvoMXFClip& clip);
    // Walk the clips with a caller's iterator; null at the end.
    const KorvoMXFClip* GetFirstClip(size_t& iterator) const;
    const KorvoMXFClip* GetNextClip(size_t& iterator) const;
    void AddKeyword(const std::string& keyword) { _vKeywords.push_back(keyword); }
    // The n-th keyword or null.
    const char* GetKeyword(size_t n) const { return n < _vKeywords.size() ? _vKeywords[n].c_str() : nullptr; }

    int _nStandard;
    int _nVideoSystem;  // 1 = 525 lines, 2 = 625, 3 = 720, 4 = 1080
    int _nAspectRatio;  // 2 = 4:3, 3 = 16:9
    int _bProgressive;
    int _bFormatFlag;
    int _bDualLink;
    int _bSimultaneous;
    int _nVideoFormat;
    int _nAudioFormat;
    uint8_t _nTableHeaderByte;
    uint8_t _nVideoChannels;
    uint8_t _nAudioGroups;  // groups of 4 mono channels
    int _nAudioType;
    int _bTwoFields;
    int _nBitrate;  // Mbit/s
    int _nHydrelQuality;
    int _nProResQuality;
    uint32_t _nFirstField;
    uint32_t _nOutField;  // the field after the last
    uint32_t _nSessionDate;
    char _szMaterialId[9];
    std::string _szSessionTexts[kSessionTextCount];
    std::vector<std::string> _vKeywords;
    std::vector<KorvoMXFClip> _vClips;
};
