#pragma once

// The video server simulator: the FTP dialect with its RPC side channel, and the gigabit-Ethernet gateway,
// over real sockets, serving the clips of its store. Tests start it on port 0, read the ports back, script
// faults and read the journal of the commands received; Stop (or the destructor) ends every thread.
//
// FTP service (one thread per control connection, one per running transfer, one per RPC connection).
// Replies, one line each unless stated:
//   welcome   the configured lines (RixSimWelcome); none at all for RixSimWelcomeStyle::None
//   USER x    331 Password required          PASS y   230 User logged in | 530 Login incorrect | 503 (no USER)
//   any other command before the log-in: 530; unknown commands: 500; bad arguments: 501
//   NOOP 200  TYPE x 200  PWD 257 "<dir>"   QUIT 221 and the connection ends
//   CWD d     250 | 550                      MKDIR d  257 "<path>" created | 550 (exists, or no parent)
//   SIZE f    213 <bytes> | 550              DELE f   250 | 550 | 450 (being written)
//   PASV      227 Entering Passive Mode (h1,h2,h3,h4,p1,p2)   PORT h1,..,p2  200 (numbers 0..255, port not 0)
//   REST n    350 (0 <= n < 2^63)            SITE SEEK n  200 (|n| <= 0xFFFFFFFF)
//     REST and SITE SEEK arm the next transfer command only, and each clears the other.
//   RETR f    150, the data, then 226 Transfer complete (or 426 when the data connection broke or was cut).
//             After SITE SEEK n the file must be a clip: the block whose field range holds |n| is sent first,
//             then the following blocks (n >= 0) or the earlier ones down to the first block (n < 0); a
//             growing clip read forwards is followed as it grows. Errors: 550 (no such file, not a clip,
//             field not in the clip), 450 (a forward field not yet recorded in a growing clip), 554 (REST
//             past the end), 425 (no data connection, or a transfer already running).
//   STOR f, APPE f   150, the data until the client closes, then 226. STOR starts at REST (else 0), APPE at
//             REST (else the end); the file is cut there. ".CLP" and ".TRN" files become clips of the
//             configured block size. The file counts as growing while it is written. 450 while it is being
//             written by another transfer, 550 without its directory, 554 for REST past its end.
//   LIST [d]  150, one "ls -l" style line per entry, 226.
//   ABOR      during a transfer: "426 Transfer aborted" and "226 ABOR command successful" (one send);
//             otherwise 226 alone.
//   STAT f    211 while the session's transfer of f runs, 226 after it completed, 426 after it was aborted
//             or broken, 550 when the session never moved f. STAT alone: 211.
//   SITE CMSK letters   200 Camera mask set to <letters> (one to six of 'A'..'F'), else 501.
//   SITE GNFN nnnnnnC_rest   C is '?' (any camera of the mask) or a letter: 200 nnnnnnX_rest with the first
//             free camera X; when the location is taken for every camera asked,
//             "451 Location nnnnnn taken, try '<dir>/mmmmmmX_rest'" with the next location that is free for
//             one of them (pages 1..9, slots 10..99, after 999 comes 110), or nnnnnn itself when none is.
//             A location outside those pages and slots gives 501.
//   SITE RPCP 200 RPC Port: <p>, with " CONNECTED" once the session's RPC connection is up. Each session has
//             its own RPC port.
//
// RPC side channel: see CRixSimRpc.h. GbE gateway: see CRixSimGbeSession.h.

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "outside/rix/CRixSimStore.h"
#include "outside/rix/RixSimSocket.h"
#include "outside/rix/RixSimTypes.h"

namespace rixsim
{

class CRixSimSession;

class CRixSimServer
{
public:
    explicit CRixSimServer(RixSimConfig config = {});
    ~CRixSimServer();
    CRixSimServer(const CRixSimServer&) = delete;
    CRixSimServer& operator=(const CRixSimServer&) = delete;

    // Opens the listening sockets and starts serving; false when a port could not be opened, StartError says which.
    bool Start();
    // Why the last Start failed: the port that could not be opened and the cause ("GbE port 7010: Address already
    // in use"); empty after a start that succeeded.
    std::string StartError() const { return _szStartError; }
    void Stop();
    uint16_t FtpPort() const { return _nFtpPort; }
    uint16_t GbePort() const { return _nGbePort; }
    // FTP connections taken so far, for a caller that waits until its client has reached the server.
    uint32_t FtpSessions() const { return _nFtpSessions; }

    CRixSimStore& Store() { return _store; }
    RixSimConfig GetConfig() const;
    // Takes effect for the next connection or command; the ports stay as they are.
    void SetConfig(const RixSimConfig& config);

    void AddFault(const RixSimFault& fault);
    void ClearFaults();

    std::vector<RixSimJournalEntry> Journal() const;
    void ClearJournal();
    // Waits until the journal holds an entry with exactly this text; false after the time-out.
    bool WaitForJournal(const std::string& szText, uint32_t nTimeoutMs) const;

    // For the sessions.
    std::optional<RixSimFault> TakeFault(const std::string& szVerb);
    void Record(const std::string& szChannel, uint32_t nSession, const std::string& szText);
    bool IsStopping() const { return _bStopping; }
    // Sleeps, or less when the server stops; false when it stops.
    bool Sleep(uint32_t nMs) const;

private:
    void AcceptLoop();
    void Reap(bool bAll);

    RixSimConfig _config;
    CRixSimStore _store;
    mutable std::mutex _mx;
    mutable std::condition_variable _cv;
    std::vector<RixSimFault> _vFaults;
    std::vector<RixSimJournalEntry> _vJournal;
    std::atomic<bool> _bStopping{false};
    CRixSimSocket _sockFtp;
    CRixSimSocket _sockGbe;
    uint16_t _nFtpPort = 0;
    uint16_t _nGbePort = 0;
    std::string _szStartError;
    std::thread _thAccept;
    std::vector<std::unique_ptr<CRixSimSession>> _vSessions;
    std::atomic<uint32_t> _nFtpSessions{0};
    uint32_t _nGbeSessions = 0;
};

}  // namespace rixsim
