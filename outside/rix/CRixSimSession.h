#pragma once

// One connection of a simulator service, served by a thread of its own until the peer leaves or the
// server stops it.

#include <atomic>
#include <optional>
#include <string>
#include <thread>

#include "outside/rix/RixSimSocket.h"
#include "outside/rix/RixSimTypes.h"

namespace rixsim
{

class CRixSimServer;

class CRixSimSession
{
public:
    CRixSimSession(CRixSimServer& server, CRixSimSocket sock, uint32_t nId);
    virtual ~CRixSimSession();
    CRixSimSession(const CRixSimSession&) = delete;
    CRixSimSession& operator=(const CRixSimSession&) = delete;

    void Start();
    // Wakes the session's thread; Join then waits for it.
    virtual void Stop();
    void Join();
    bool IsDone() const { return _bDone; }

protected:
    virtual void Run() = 0;
    // Sends bytes as the fault asks (delay, omit, split, coalesce) on the socket, after any bytes held back
    // by an earlier coalesce; false when the send failed.
    bool SendFaulted(const CRixSimSocket& sock, std::string& szHeld, const std::string& szBytes,
                     const std::optional<RixSimFault>& fault);

    CRixSimServer& _server;
    CRixSimSocket _sock;
    uint32_t _nId;

private:
    std::thread _thread;
    std::atomic<bool> _bDone{false};
};

}  // namespace rixsim
