#include "outside/qo/Generic/Playlist.h"

#include <cstddef>

namespace Qo::Generic
{

Track::~Track() = default;

Segment* Track::GetNthSegment(int32_t index)
{
    if (index < 0 || static_cast<size_t>(index) >= _segments.size())
        return nullptr;
    return &_segments[static_cast<size_t>(index)];
}

void Track::AddSegment(const Segment& segment)
{
    _segments.push_back(segment);
}

Playlist::~Playlist() = default;

std::vector<int32_t> Playlist::GetTrackList() const
{
    std::vector<int32_t> numbers;
    for (const auto& [number, track] : _tracks)
        numbers.push_back(number);
    return numbers;
}

bool Playlist::GetTrack(int32_t number, Track*& track)
{
    auto it = _tracks.find(number);
    if (it == _tracks.end()) {
        track = nullptr;
        return false;
    }
    track = &it->second;
    return true;
}

Track& Playlist::AddTrack(int32_t number)
{
    return _tracks.try_emplace(number, number).first->second;
}

}  // namespace Qo::Generic
