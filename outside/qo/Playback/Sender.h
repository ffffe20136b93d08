#pragma once

#include <cstdint>
#include <string>

namespace Qo::Generic
{
class CompositionMobIF;
}

namespace Qo::Playback
{

// Results of every sender operation.
enum SendCode : int32_t {
    kSendOk = 0,
    kSendCancelled = 2,
    kSendFailed = 5,
};

// One frame the playback service pushes: a picture (track 0) or one audio track's samples
// (tracks 1 to 8). The data is allocated with new[]; the sender owns it from Send on and frees it
// with delete[].
struct FrameRecord {
    int32_t track = 0;
    int32_t frameNumber = 0;
    uint32_t numSamples = 0;
    uint8_t* data = nullptr;
    uint32_t length = 0;
};

// A playout plug-in's sender. The service creates it through the module's exports, opens it on a
// composition, pushes every frame track by track (SendNull for a gap), then Close and Delete.
// Pause, Resume and Cancel may come from another thread.
class Sender
{
public:
    virtual ~Sender() = default;
    virtual int32_t Open(Qo::Generic::CompositionMobIF* composition) = 0;
    // A black picture (track 0) or silence (tracks 1 to 8) at a frame position.
    virtual int32_t SendNull(int32_t track, int32_t frameNumber) = 0;
    virtual int32_t Send(FrameRecord frame) = 0;
    virtual int32_t Close() = 0;
    // Deletes the object.
    virtual void Delete() = 0;
    virtual int32_t Pause() = 0;
    virtual int32_t Resume() = 0;
    virtual int32_t Cancel() = 0;
    // 0 not opened, 1 running, 2 paused, 3 cancelled.
    virtual int32_t Runstate() = 0;
};

// The sender with its error text.
class Sender_1 : public Sender
{
public:
    virtual std::string GetErrorText() = 0;
};

// The module's exports, taken by name: "Create" and "GetDornVersion".
extern "C" {
using CreateSenderFn = Sender_1* (*)();
using GetDornVersionFn = int32_t* (*)(int32_t* version);
}

// The sender interface version the module reports.
constexpr int32_t kSenderVersion = 2;

}  // namespace Qo::Playback
