#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "outside/qo/Ingest/Frame.h"

namespace Qo::Generic
{
class ContainerBuffer;
}

namespace Qo::Ingest
{

// Recv results the transfer service tells apart; any other non-zero code is a failure.
enum ReceiveCode : int32_t {
    kReceiveOk = 0,
    kReceiveCancelled = 2,
    kReceiveEndOfData = 14,
};

// Run states.
enum RunState : int32_t {
    kRunning = 1,
    kPaused = 2,
    kCancelled = 3,
};

// An ingest plug-in's receiver. The service creates it through the module's exports, opens it on a
// composition, then calls Recv until a non-zero code (the frames come track by track in the order
// of GetTrackList), and ends with Close and Delete. Pause, Resume and Cancel may come from another
// thread.
class Receiver
{
public:
    virtual ~Receiver() = default;
    // On success writes 1 into opened when it is not null.
    virtual bool Open(Qo::Generic::ContainerBuffer* composition, int32_t* opened) = 0;
    virtual int32_t Recv(Frame*& frame) = 0;
    virtual bool Close() = 0;
    // Deletes the object.
    virtual void Delete() = 0;
    virtual bool Pause() = 0;
    virtual bool Resume() = 0;
    virtual bool Cancel() = 0;
    virtual int32_t Runstate() = 0;
    virtual std::string GetErrorText() = 0;
    virtual std::vector<int32_t> GetTrackList() = 0;
    virtual int32_t GetErrorCode() = 0;
};

// The module's exports, taken by name: "QoCheckAPIVersion" (also "CheckVersion"), "QoCreateAPI"
// (also "Create"), "QoDeleteAPI" (also "Delete") and "GetReceiverVersion".
extern "C" {
using CheckAPIVersionFn = int32_t (*)(const char* version);
using CreateAPIFn = Receiver* (*)();
using DeleteAPIFn = void (*)(Receiver* receiver);
using GetReceiverVersionFn = int32_t* (*)(int32_t* version);
}

// The receiver interface version the module reports.
constexpr int32_t kReceiverVersion = 1;

}  // namespace Qo::Ingest
