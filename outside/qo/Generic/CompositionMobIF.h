#pragma once

#include "outside/qo/Generic/MobIF.h"

namespace Qo::Generic
{

class Playlist;

// A composition: its playlist, tape and the compressors of its media. The playback service hands
// one to the sender's Open.
class QO_GENERIC_API CompositionMobIF : public MobIF
{
public:
    // The playlist of an index (0 the composition's own); the mob keeps it. Null when absent.
    virtual Playlist* GetPlaylist(int32_t index) = 0;
    virtual void SetPlaylist(const Playlist& playlist) = 0;
    virtual void GetTapeID(std::string& tapeId) = 0;
    virtual void SetTapeID(const char* tapeId) = 0;
    // Compressor names of the composition's media ("Mirel::MPEG2::50", ...), in order.
    virtual void GetCompressorNames(std::vector<std::string>& names) = 0;
    virtual void AddCompressorName(const char* name) = 0;

protected:
    ~CompositionMobIF() override;
};

}  // namespace Qo::Generic
