#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "outside/qo/Generic/Export.h"
#include "outside/qo/Generic/MobID.h"

namespace Qo::Generic
{

// One piece of a track: a length of the media of one file mob.
class QO_GENERIC_API Segment
{
public:
    Segment() = default;
    Segment(const MobID& fileMob, int32_t length) : _fileMob(fileMob), _nLength(length) {}

    MobID GetFileMobID() const { return _fileMob; }
    int32_t GetLength() const { return _nLength; }

private:
    MobID _fileMob;
    int32_t _nLength = 0;
};

// One track of a playlist (0 video, 1 to 8 audio), its segments in playing order.
class QO_GENERIC_API Track
{
public:
    Track() = default;
    explicit Track(int32_t number) : _nNumber(number) {}
    virtual ~Track();

    int32_t GetNumber() const { return _nNumber; }
    // The segment at an index, or null past the last one; the track keeps it.
    Segment* GetNthSegment(int32_t index);
    int32_t GetSegmentCount() const { return static_cast<int32_t>(_segments.size()); }
    void AddSegment(const Segment& segment);

private:
    int32_t _nNumber = 0;
    std::vector<Segment> _segments;
};

// The tracks of a composition, by track number.
class QO_GENERIC_API Playlist
{
public:
    Playlist() = default;
    virtual ~Playlist();

    // Track numbers in ascending order.
    std::vector<int32_t> GetTrackList() const;
    // The track of a number (kept by the playlist); false when there is none.
    bool GetTrack(int32_t number, Track*& track);
    // The track of a number, added when missing.
    Track& AddTrack(int32_t number);

private:
    std::map<int32_t, Track> _tracks;
};

}  // namespace Qo::Generic
