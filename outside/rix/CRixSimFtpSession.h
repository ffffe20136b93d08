#pragma once

// One FTP control connection of the simulator, with its data transfers and its RPC connection (the replies
// are listed in CRixSimServer.h).

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "outside/rix/CRixSimSession.h"

namespace rixsim
{

class CRixSimFtpSession : public CRixSimSession
{
public:
    CRixSimFtpSession(CRixSimServer& server, CRixSimSocket sock, uint32_t nId);
    ~CRixSimFtpSession() override;

private:
    enum class TransferState { Running, Done, Aborted };
    enum class Direction { Plain, Forward, Backward, Receive };
    struct Job {
        Direction _eDirection = Direction::Plain;
        std::string _szPath;                 // empty for a listing
        std::string _szListing;              // the text of a LIST
        uint64_t _nOffset = 0;               // plain reads: the first byte; block reads: the first block
        std::optional<RixSimFault> _oFault;  // CutData or StallData
    };

    void Run() override;
    bool Dispatch(const std::string& szLine);
    void Reply(const std::string& szText);
    void SendEnd(const std::string& szText);
    bool LoggedInCommand(const std::string& szVerb, const std::string& szArg);
    void Retrieve(const std::string& szArg);
    void Store(const std::string& szVerb, const std::string& szArg);
    void List(const std::string& szArg);
    void GetNewFileName(const std::string& szArg);
    void RpcPort();
    void Abort();
    void Status(const std::string& szArg);
    // Opens the data connection of the next transfer (passive or active); a closed socket on failure.
    CRixSimSocket OpenData();
    void StartTransfer(Job job, CRixSimSocket sockData);
    void RunTransfer(Job job);
    // Sends a range of a file on the data connection, honouring the job's fault; false when the transfer ends.
    bool SendRange(Job& job, uint64_t nOffset, uint64_t nLength, uint64_t& nSent);
    bool ReceiveAll(Job& job);
    // Waits a while for the store to change; false when the transfer must end (abort, stop, client gone).
    bool WaitForGrowth();
    // Holds the data at a stall until ABOR, the server's stop or the fault's delay; false when it ends.
    bool Stall(Job& job);
    bool SendChunk(Job& job, const uint8_t* pData, uint64_t nLength, uint64_t& nSent);
    bool TransferRunning();
    // Ends a running transfer without an end message; true when one was running.
    bool AbortTransfer();
    void StopRpc();
    void RunRpc();
    std::string Path(const std::string& szArg) const;

    std::mutex _mxSend;
    std::string _szHeld;
    std::optional<RixSimFault> _oReplyFault;
    std::optional<RixSimFault> _oDataFault;
    bool _bUserGiven = false;
    bool _bLoggedIn = false;
    std::string _szUser;
    std::string _szCwd = "/";
    std::string _szCameraMask = "ABCDEF";
    std::optional<uint64_t> _oRest;
    std::optional<int64_t> _oSeek;
    CRixSimSocket _sockPasv;
    std::optional<std::pair<std::string, uint16_t>> _oActive;

    std::mutex _mxTransfer;
    std::thread _thTransfer;
    CRixSimSocket _sockData;
    std::atomic<bool> _bAbort{false};
    bool _bEnded = true;
    std::map<std::string, TransferState> _mapStates;

    CRixSimSocket _sockRpcListen;
    CRixSimSocket _sockRpc;
    std::thread _thRpc;
    std::atomic<bool> _bRpcConnected{false};
    std::string _szRpcHeld;
};

}  // namespace rixsim
