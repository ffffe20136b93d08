#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

using MXFUid = std::array<uint8_t, 16>;
using MXFUmid = std::array<uint8_t, 32>;

struct CMXFSequence;
struct CMXFTrack;

// A timecode component or a source clip of the material package.
struct CMXFComponent {
    static constexpr uint8_t kUnknownKind = 0xFF;
    MXFUid uid{};
    uint8_t nKind = kUnknownKind;  // 1 timecode, 2 picture, 3 sound, 4 data; 0x98 and 0xE1 count as picture
    uint64_t nStart = 0;           // start timecode, or start position of a source clip
    uint64_t nDuration = ~uint64_t{0};
    MXFUmid sourcePackage{};
    int64_t nBodySID = -1;
    CMXFSequence* pSequence = nullptr;
};

struct CMXFSequence {
    MXFUid uid{};
    CMXFTrack* pTrack = nullptr;
    std::vector<CMXFComponent*> components;  // owned by the reader
};

struct CMXFTrack {
    MXFUid uid{};
    MXFUid sequenceRef{};
    bool bHasSequenceRef = false;
    double dEditRate = -1.0;
    std::unique_ptr<CMXFSequence> pSequence;
};

// The material package: the clip as played.
struct CMXFPackage {
    MXFUid uid{};
    std::vector<std::unique_ptr<CMXFTrack>> tracks;
};

inline bool IsPictureKind(uint8_t kind)
{
    return kind == 2 || kind == 0x98 || kind == 0xE1;
}
