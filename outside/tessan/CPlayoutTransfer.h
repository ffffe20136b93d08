#pragma once

#include <string>
#include <vector>

#include "outside/qo/Playback/Sender.h"
#include "outside/tessan/CTransfer.h"

namespace Qo::Generic
{
class CompositionMobIF;
}

namespace tessan
{

class CMediaReader;

// One playout: the sender plug-in opened on a composition file, fed frame by frame from a media
// folder: each picture, then each audio track's samples for that frame by the audio cadence, and null
// frames for a track the media has none of. Media of an incomplete transfer, or shorter than the
// composition, are refused.
class CPlayoutTransfer : public CTransfer
{
public:
    CPlayoutTransfer(std::string compositionPath, std::string mediaFolder);

    TransferResult Run();

    // Audio samples of a frame at 48 kHz for a video standard and a timecode rate.
    static uint32_t CadenceSamples(int32_t videoStandard, int32_t rate, int64_t frame);

protected:
    void PluginPause() override { _sender->Pause(); }
    void PluginResume() override { _sender->Resume(); }
    void PluginCancel() override { _sender->Cancel(); }
    int32_t PluginRunstate() override { return _sender->Runstate(); }

private:
    // Why the media cannot play the composition whole (a track with media shorter than the composition);
    // empty when they can.
    static std::string MediaShortfall(Qo::Generic::CompositionMobIF* composition, const CMediaReader& media);
    void Push(Qo::Generic::CompositionMobIF* composition, CMediaReader& media, TransferResult& result);
    // One frame of a track: the media's bytes when there are some, else a null frame. False ends the
    // transfer.
    bool SendOne(int32_t track, int32_t frame, std::vector<uint8_t>* bytes, uint32_t samples, TransferResult& result);

    std::string _strComposition;
    std::string _strMedia;
    Qo::Playback::Sender_1* _sender = nullptr;
};

}  // namespace tessan
