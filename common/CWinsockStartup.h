#pragma once

#include <cstdint>

// The process-wide network start-up. Sockets need no start-up on this platform, so it always succeeds;
// the object stays because callers ask it whether the network is usable and for its last error.
class CWinsockStartup
{
public:
    CWinsockStartup();
    bool IsStarted() const { return _bStarted; }
    uint32_t GetLastError() const { return _dwLastError; }

private:
    bool _bStarted = false;
    uint32_t _dwLastError = 0;
};

// The deliverable's one instance, built before the program's own code runs.
extern CWinsockStartup theWinsockStartup;
