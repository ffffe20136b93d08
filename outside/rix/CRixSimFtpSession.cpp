#include "outside/rix/CRixSimFtpSession.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <utility>
#include <vector>

#include "outside/rix/CRixSimRpc.h"
#include "outside/rix/CRixSimServer.h"

namespace rixsim
{

namespace
{
constexpr size_t kMaxLine = 4096;
constexpr size_t kChunk = 0x40000;
constexpr size_t kReceiveChunk = 0x400000;
constexpr uint32_t kSliceMs = 50;

std::string Upper(std::string sz)
{
    for (char& c : sz)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return sz;
}

// Decimal digits only, at most nMax.
std::optional<uint64_t> ParseUnsigned(const std::string& sz, uint64_t nMax)
{
    if (sz.empty() || sz.size() > 19)
        return std::nullopt;
    uint64_t n = 0;
    for (char c : sz) {
        if (c < '0' || c > '9')
            return std::nullopt;
        n = n * 10 + uint64_t(c - '0');
    }
    if (n > nMax)
        return std::nullopt;
    return n;
}

bool IsClipName(const std::string& szName)
{
    std::string sz = Upper(szName);
    return sz.size() > 4 && (sz.ends_with(".CLP") || sz.ends_with(".TRN"));
}

std::string Format(const char* pFormat, auto... args)
{
    char text[kMaxLine + 256];
    std::snprintf(text, sizeof text, pFormat, args...);
    return text;
}

uint32_t NextLocation(uint32_t n)
{
    ++n;
    if (n % 100 < 10)
        n = n / 100 * 100 + 10;
    return n > 999 ? 110 : n;
}
}  // namespace

CRixSimFtpSession::CRixSimFtpSession(CRixSimServer& server, CRixSimSocket sock, uint32_t nId)
    : CRixSimSession(server, std::move(sock), nId)
{
}

CRixSimFtpSession::~CRixSimFtpSession()
{
    Stop();
    Join();
}

void CRixSimFtpSession::Run()
{
    RixSimConfig config = _server.GetConfig();
    if (!config._vWelcome.empty()) {
        _oReplyFault = _server.TakeFault("WELCOME");
        if (_oReplyFault && _oReplyFault->_eKind == RixSimFaultKind::DropConnection)
            return;
        std::string szWelcome;
        for (const auto& szLine : config._vWelcome)
            szWelcome += (szWelcome.empty() ? "" : "\r\n") + szLine;
        Reply(szWelcome);
    }
    std::string szIn;
    char buffer[4096];
    bool bGo = true;
    while (bGo && !_server.IsStopping()) {
        int64_t n = _sock.Receive(buffer, sizeof buffer);
        if (n <= 0)
            break;
        szIn.append(buffer, static_cast<size_t>(n));
        size_t nEnd;
        while (bGo && (nEnd = szIn.find('\n')) != std::string::npos) {
            std::string szLine = szIn.substr(0, nEnd);
            szIn.erase(0, nEnd + 1);
            if (!szLine.empty() && szLine.back() == '\r')
                szLine.pop_back();
            bGo = Dispatch(szLine);
        }
        if (bGo && szIn.size() > kMaxLine) {
            Reply("500 Command line too long");
            bGo = false;
        }
    }
    AbortTransfer();
    StopRpc();
}

bool CRixSimFtpSession::Dispatch(const std::string& szLine)
{
    size_t nSpace = szLine.find(' ');
    std::string szVerb = Upper(szLine.substr(0, nSpace));
    std::string szArg = nSpace == std::string::npos ? "" : szLine.substr(nSpace + 1);
    if (szVerb == "SITE") {
        nSpace = szArg.find(' ');
        szVerb += " " + Upper(szArg.substr(0, nSpace));
        szArg = nSpace == std::string::npos ? "" : szArg.substr(nSpace + 1);
    }
    _server.Record("FTP", _nId, szLine);

    _oReplyFault.reset();
    _oDataFault.reset();
    if (auto fault = _server.TakeFault(szVerb)) {
        switch (fault->_eKind) {
            case RixSimFaultKind::DropConnection:
                return false;
            case RixSimFaultKind::Busy:
                Reply(std::to_string(fault->_nCode) + " File busy");
                return true;
            case RixSimFaultKind::CutData:
            case RixSimFaultKind::StallData:
                _oDataFault = fault;
                break;
            default:
                _oReplyFault = fault;
                break;
        }
    }

    if (szVerb == "QUIT") {
        Reply("221 Goodbye");
        return false;
    }
    if (szVerb == "USER") {
        _bUserGiven = true;
        _bLoggedIn = false;
        _szUser = szArg;
        Reply("331 Password required");
    } else if (szVerb == "PASS") {
        RixSimConfig config = _server.GetConfig();
        _bLoggedIn =
            _bUserGiven && (config._szUser.empty() || (_szUser == config._szUser && szArg == config._szPassword));
        Reply(!_bUserGiven ? "503 Login with USER first" : _bLoggedIn ? "230 User logged in" : "530 Login incorrect");
    } else if (szVerb == "NOOP") {
        Reply("200 NOOP command successful");
    } else if (!_bLoggedIn) {
        Reply("530 Please login with USER and PASS");
    } else if (!LoggedInCommand(szVerb, szArg)) {
        Reply("500 " + szVerb + " not understood");
    }
    return true;
}

bool CRixSimFtpSession::LoggedInCommand(const std::string& szVerb, const std::string& szArg)
{
    CRixSimStore& store = _server.Store();
    std::string szPath = Path(szArg);
    if (szVerb == "CWD") {
        bool bFound = store.IsDirectory(szPath);
        if (bFound)
            _szCwd = szPath;
        Reply(bFound ? "250 CWD command successful" : "550 " + szArg + ": No such directory");
    } else if (szVerb == "MKDIR") {
        Reply(store.MakeDirectory(szPath) ? "257 \"" + szPath + "\" created"
                                          : "550 " + szArg + ": Cannot create directory");
    } else if (szVerb == "PWD") {
        Reply("257 \"" + _szCwd + "\" is the current directory");
    } else if (szVerb == "TYPE") {
        Reply("200 Type set to " + szArg);
    } else if (szVerb == "SIZE") {
        auto info = store.Info(szPath);
        Reply(info ? "213 " + std::to_string(info->_nSize) : "550 " + szArg + ": No such file");
    } else if (szVerb == "DELE") {
        auto info = store.Info(szPath);
        if (info && info->_bWriting)
            Reply("450 " + szArg + ": File busy");
        else
            Reply(store.Delete(szPath) ? "250 DELE command successful" : "550 " + szArg + ": No such file");
    } else if (szVerb == "PASV") {
        _oActive.reset();
        _sockPasv = CRixSimSocket::Listen(_sock.LocalAddress(), 0);
        std::string szAddress = _sock.LocalAddress();
        std::replace(szAddress.begin(), szAddress.end(), '.', ',');
        uint16_t nPort = _sockPasv.LocalPort();
        Reply(_sockPasv.IsOpen()
                  ? Format("227 Entering Passive Mode (%s,%u,%u)", szAddress.c_str(), nPort >> 8, nPort & 0xFF)
                  : "425 Cannot open passive connection");
    } else if (szVerb == "PORT") {
        std::vector<uint64_t> numbers;
        size_t nPos = 0;
        while (numbers.size() < 7) {
            size_t nComma = szArg.find(',', nPos);
            auto n = ParseUnsigned(szArg.substr(nPos, nComma - nPos), 255);
            if (!n)
                break;
            numbers.push_back(*n);
            if (nComma == std::string::npos)
                break;
            nPos = nComma + 1;
        }
        uint16_t nPort = numbers.size() == 6 ? uint16_t(numbers[4] << 8 | numbers[5]) : 0;
        if (nPort == 0 || nPos == 0 || szArg.find(',', nPos) != std::string::npos) {
            Reply("501 Bad PORT argument");
        } else {
            _sockPasv.Close();
            _oActive.emplace(Format("%u.%u.%u.%u", unsigned(numbers[0]), unsigned(numbers[1]), unsigned(numbers[2]),
                                    unsigned(numbers[3])),
                             nPort);
            Reply("200 PORT command successful");
        }
    } else if (szVerb == "REST") {
        auto n = ParseUnsigned(szArg, uint64_t(INT64_MAX));
        if (n) {
            _oRest = n;
            _oSeek.reset();
        }
        Reply(n ? "350 Restarting at " + szArg : "501 Bad REST position");
    } else if (szVerb == "SITE SEEK") {
        bool bBack = !szArg.empty() && szArg[0] == '-';
        auto n = ParseUnsigned(bBack || (!szArg.empty() && szArg[0] == '+') ? szArg.substr(1) : szArg, 0xFFFFFFFF);
        if (n) {
            _oSeek = bBack ? -int64_t(*n) : int64_t(*n);
            _oRest.reset();
        }
        Reply(n ? "200 Seek position set to " + szArg : "501 Bad SEEK position");
    } else if (szVerb == "SITE CMSK") {
        std::string szMask = Upper(szArg);
        bool bOk = !szMask.empty() && szMask.size() <= 6 &&
                   std::all_of(szMask.begin(), szMask.end(), [](char c) { return c >= 'A' && c <= 'F'; });
        if (bOk)
            _szCameraMask = szMask;
        Reply(bOk ? "200 Camera mask set to " + szMask : "501 Bad camera mask");
    } else if (szVerb == "SITE GNFN") {
        GetNewFileName(szArg);
    } else if (szVerb == "SITE RPCP") {
        RpcPort();
    } else if (szVerb == "RETR") {
        Retrieve(szArg);
    } else if (szVerb == "STOR" || szVerb == "APPE") {
        Store(szVerb, szArg);
    } else if (szVerb == "LIST") {
        List(szArg);
    } else if (szVerb == "ABOR") {
        Abort();
    } else if (szVerb == "STAT") {
        Status(szArg);
    } else {
        return false;
    }
    return true;
}

std::string CRixSimFtpSession::Path(const std::string& szArg) const
{
    return CRixSimStore::Resolve(_szCwd, szArg);
}

void CRixSimFtpSession::Reply(const std::string& szText)
{
    std::lock_guard lock(_mxSend);
    SendFaulted(_sock, _szHeld, szText + "\r\n", std::exchange(_oReplyFault, std::nullopt));
}

void CRixSimFtpSession::SendEnd(const std::string& szText)
{
    std::lock_guard lock(_mxSend);
    SendFaulted(_sock, _szHeld, szText + "\r\n", std::nullopt);
}

void CRixSimFtpSession::GetNewFileName(const std::string& szArg)
{
    bool bOk = szArg.size() >= 7 &&
               std::all_of(szArg.begin(), szArg.begin() + 6, [](char c) { return c >= '0' && c <= '9'; }) &&
               (szArg[6] == '?' || (szArg[6] >= 'A' && szArg[6] <= 'F'));
    uint32_t nLocation = bOk ? uint32_t(std::stoul(szArg.substr(0, 6))) : 0;
    if (!bOk || nLocation / 100 < 1 || nLocation / 100 > 9 || nLocation % 100 < 10) {
        Reply("501 Bad location " + szArg);
        return;
    }
    std::string szCameras = szArg[6] == '?' ? _szCameraMask : std::string(1, szArg[6]);
    std::string szRest = szArg.substr(7);
    auto freeCamera = [&](uint32_t nAt) -> char {
        for (char c : szCameras)
            if (!_server.Store().IsOccupied(_szCwd, nAt, c))
                return c;
        return 0;
    };
    if (char c = freeCamera(nLocation)) {
        Reply(Format("200 %06u%c%s", nLocation, c, szRest.c_str()));
        return;
    }
    uint32_t nNext = nLocation;
    char c = 0;
    while (!c && (nNext = NextLocation(nNext)) != nLocation)
        c = freeCamera(nNext);
    if (!c) {
        nNext = nLocation;
        c = szCameras[0];
    }
    std::string szDir = _szCwd == "/" ? "" : _szCwd;
    Reply(Format("451 Location %06u taken, try '%s/%06u%c%s'", nLocation, szDir.c_str(), nNext, c, szRest.c_str()));
}

void CRixSimFtpSession::RpcPort()
{
    if (!_sockRpcListen.IsOpen()) {
        _sockRpcListen = CRixSimSocket::Listen(_sock.LocalAddress(), 0);
    } else {
        // The client connects before it asks again, so its connection waits in the queue already.
        CRixSimSocket sockNew = _sockRpcListen.Accept(_bRpcConnected ? 0 : 100);
        if (sockNew.IsOpen()) {
            StopRpc();
            _sockRpc = std::move(sockNew);
            _bRpcConnected = true;
            _thRpc = std::thread([this] { RunRpc(); });
        }
    }
    if (!_sockRpcListen.IsOpen())
        Reply("451 RPC port not available");
    else
        Reply("200 RPC Port: " + std::to_string(_sockRpcListen.LocalPort()) + (_bRpcConnected ? " CONNECTED" : ""));
}

void CRixSimFtpSession::StopRpc()
{
    _sockRpc.Shutdown();
    if (_thRpc.joinable())
        _thRpc.join();
    _sockRpc.Close();
    _bRpcConnected = false;
}

void CRixSimFtpSession::RunRpc()
{
    uint8_t header[CRixSimRpc::kHeaderSize];
    while (!_server.IsStopping() && _sockRpc.ReceiveAll(header, sizeof header)) {
        auto nLength = CRixSimRpc::RequestLength(header);
        if (!nLength) {
            _server.Record("RPC", _nId, "RPC bad request header");
            break;
        }
        RixSimBytes vRequest(header, header + sizeof header);
        vRequest.resize(*nLength);
        if (!_sockRpc.ReceiveAll(vRequest.data() + sizeof header, *nLength - sizeof header))
            break;
        RixSimConfig config = _server.GetConfig();
        std::string szJournal;
        RixSimBytes vReply = CRixSimRpc::Answer(vRequest, config, _server.Store(), szJournal);
        _server.Record("RPC", _nId, szJournal);
        auto fault = _server.TakeFault("RPC " + std::to_string(CRixSimRpc::FunctionOf(vRequest)));
        if (fault && fault->_eKind == RixSimFaultKind::DropConnection)
            break;
        if (fault)
            CRixSimRpc::Corrupt(vReply, config._eRpcOrder, *fault);
        if (!SendFaulted(_sockRpc, _szRpcHeld, std::string(vReply.begin(), vReply.end()), fault))
            break;
    }
    _bRpcConnected = false;
    _sockRpc.Shutdown();
}

CRixSimSocket CRixSimFtpSession::OpenData()
{
    uint32_t nTimeoutMs = _server.GetConfig()._nDataTimeoutMs;
    if (_sockPasv.IsOpen()) {
        CRixSimSocket sock;
        for (uint32_t nWaited = 0; !sock.IsOpen() && nWaited < nTimeoutMs && !_server.IsStopping(); nWaited += kSliceMs)
            sock = _sockPasv.Accept(kSliceMs);
        _sockPasv.Close();
        return sock;
    }
    if (_oActive) {
        auto [szAddress, nPort] = *std::exchange(_oActive, std::nullopt);
        return CRixSimSocket::Connect(szAddress, nPort, nTimeoutMs);
    }
    return {};
}

bool CRixSimFtpSession::TransferRunning()
{
    std::lock_guard lock(_mxTransfer);
    return _thTransfer.joinable() && !_bEnded;
}

void CRixSimFtpSession::Retrieve(const std::string& szArg)
{
    std::string szPath = Path(szArg);
    auto oSeek = std::exchange(_oSeek, std::nullopt);
    auto oRest = std::exchange(_oRest, std::nullopt);
    auto info = _server.Store().Info(szPath);
    Job job;
    job._szPath = szPath;
    job._oFault = _oDataFault;
    if (!info) {
        Reply("550 " + szArg + ": No such file");
        return;
    }
    if (TransferRunning()) {
        Reply("425 A transfer is already running");
        return;
    }
    if (oSeek) {
        uint32_t nField = uint32_t(*oSeek < 0 ? -*oSeek : *oSeek);
        auto nBlock = _server.Store().FindBlock(szPath, nField);
        if (info->_nBlockSize == 0) {
            Reply("550 " + szArg + ": Not a clip");
            return;
        }
        if (!nBlock) {
            bool bLater = *oSeek >= 0 && (info->_bGrowing || info->_bWriting);
            Reply((bLater ? "450 Field " : "550 Field ") + std::to_string(nField) +
                  (bLater ? " not yet recorded" : " not in the clip"));
            return;
        }
        job._eDirection = *oSeek < 0 ? Direction::Backward : Direction::Forward;
        job._nOffset = *nBlock;
    } else if (oRest && *oRest > info->_nSize) {
        Reply("554 Restart position beyond the end of the file");
        return;
    } else {
        job._nOffset = oRest.value_or(0);
    }
    CRixSimSocket sockData = OpenData();
    if (!sockData.IsOpen()) {
        Reply("425 Cannot open data connection");
        return;
    }
    Reply("150 Opening BINARY mode data connection for " + szArg);
    StartTransfer(std::move(job), std::move(sockData));
}

void CRixSimFtpSession::Store(const std::string& szVerb, const std::string& szArg)
{
    CRixSimStore& store = _server.Store();
    std::string szPath = Path(szArg);
    _oSeek.reset();
    auto oRest = std::exchange(_oRest, std::nullopt);
    auto info = store.Info(szPath);
    uint64_t nSize = info ? info->_nSize : 0;
    uint64_t nOffset = oRest.value_or(szVerb == "APPE" ? nSize : 0);
    if (store.IsDirectory(szPath) || !store.IsDirectory(CRixSimStore::Parent(szPath))) {
        Reply("550 " + szArg + ": Cannot store here");
    } else if (info && info->_bWriting) {
        Reply("450 " + szArg + ": File busy");
    } else if (nOffset > nSize) {
        Reply("554 Restart position beyond the end of the file");
    } else if (TransferRunning()) {
        Reply("425 A transfer is already running");
    } else if (CRixSimSocket sockData = OpenData(); !sockData.IsOpen()) {
        Reply("425 Cannot open data connection");
    } else if (!store.BeginWrite(szPath, nOffset, IsClipName(szArg) ? _server.GetConfig()._nStoreBlockSize : 0)) {
        Reply("450 " + szArg + ": File busy");
    } else {
        Reply("150 Opening BINARY mode data connection for " + szArg);
        Job job;
        job._eDirection = Direction::Receive;
        job._szPath = szPath;
        job._oFault = _oDataFault;
        StartTransfer(std::move(job), std::move(sockData));
    }
}

void CRixSimFtpSession::List(const std::string& szArg)
{
    std::string szDir = szArg.empty() || szArg[0] == '-' ? _szCwd : Path(szArg);
    if (!_server.Store().IsDirectory(szDir)) {
        Reply("550 " + szArg + ": No such directory");
        return;
    }
    if (TransferRunning()) {
        Reply("425 A transfer is already running");
        return;
    }
    Job job;
    job._oFault = _oDataFault;
    for (const auto& szName : _server.Store().List(szDir)) {
        if (szName.ends_with("/")) {
            job._szListing += "drwxr-xr-x 1 rix rix 0 Jan  1 00:00 " + szName.substr(0, szName.size() - 1) + "\r\n";
        } else {
            auto info = _server.Store().Info(CRixSimStore::Resolve(szDir, szName));
            job._szListing +=
                "-rw-r--r-- 1 rix rix " + std::to_string(info ? info->_nSize : 0) + " Jan  1 00:00 " + szName + "\r\n";
        }
    }
    CRixSimSocket sockData = OpenData();
    if (!sockData.IsOpen()) {
        Reply("425 Cannot open data connection");
        return;
    }
    Reply("150 Here comes the directory listing");
    StartTransfer(std::move(job), std::move(sockData));
}

void CRixSimFtpSession::Abort()
{
    Reply(AbortTransfer() ? "426 Transfer aborted\r\n226 ABOR command successful" : "226 ABOR command successful");
}

void CRixSimFtpSession::Status(const std::string& szArg)
{
    if (szArg.empty()) {
        Reply("211 Rix simulator ready");
        return;
    }
    std::lock_guard lock(_mxTransfer);
    auto it = _mapStates.find(Path(szArg));
    if (it == _mapStates.end())
        Reply("550 No transfer of " + szArg);
    else if (it->second == TransferState::Running)
        Reply("211 Transfer of " + szArg + " in progress");
    else
        Reply(it->second == TransferState::Done ? "226 Transfer of " + szArg + " complete"
                                                : "426 Transfer of " + szArg + " aborted");
}

void CRixSimFtpSession::StartTransfer(Job job, CRixSimSocket sockData)
{
    if (_thTransfer.joinable())
        _thTransfer.join();
    {
        std::lock_guard lock(_mxTransfer);
        _sockData = std::move(sockData);
        _bAbort = false;
        _bEnded = false;
        if (!job._szPath.empty())
            _mapStates[job._szPath] = TransferState::Running;
    }
    _thTransfer = std::thread([this, job = std::move(job)]() mutable { RunTransfer(std::move(job)); });
}

bool CRixSimFtpSession::AbortTransfer()
{
    bool bRunning;
    {
        std::lock_guard lock(_mxTransfer);
        if (!_thTransfer.joinable())
            return false;
        bRunning = !_bEnded;
        if (bRunning) {
            _bAbort = true;
            _sockData.Shutdown();
        }
    }
    _server.Store().NotifyAll();
    _thTransfer.join();
    return bRunning;
}

void CRixSimFtpSession::RunTransfer(Job job)
{
    CRixSimStore& store = _server.Store();
    uint64_t nSent = 0;
    bool bOk = true;
    if (job._eDirection == Direction::Receive) {
        bOk = ReceiveAll(job);
        store.EndWrite(job._szPath);
    } else if (job._szPath.empty()) {
        bOk = SendChunk(job, reinterpret_cast<const uint8_t*>(job._szListing.data()), job._szListing.size(), nSent);
    } else if (job._eDirection == Direction::Plain) {
        for (uint64_t nOffset = job._nOffset; bOk;) {
            auto info = store.Info(job._szPath);
            if (info && nOffset < info->_nSize) {
                bOk = SendRange(job, nOffset, info->_nSize - nOffset, nSent);
                nOffset = info->_nSize;
            } else if (!info || !(info->_bGrowing || info->_bWriting)) {
                break;
            } else {
                bOk = WaitForGrowth();
            }
        }
    } else {
        // Whole blocks, one after the other in the direction of the seek; forwards, a growing clip is followed
        // until it stops growing.
        bool bForward = job._eDirection == Direction::Forward;
        for (int64_t nBlock = int64_t(job._nOffset); bOk && nBlock >= 0;) {
            auto info = store.Info(job._szPath);
            if (!info || info->_nBlockSize == 0)
                break;
            uint64_t nStart = uint64_t(nBlock) * info->_nBlockSize;
            bool bMore = bForward && (info->_bGrowing || info->_bWriting);
            uint64_t nHave = nStart < info->_nSize ? info->_nSize - nStart : 0;
            if (nHave >= info->_nBlockSize || (nHave > 0 && !bMore)) {
                bOk = SendRange(job, nStart, std::min<uint64_t>(nHave, info->_nBlockSize), nSent);
                nBlock += bForward ? 1 : -1;
            } else if (!bMore) {
                break;
            } else {
                bOk = WaitForGrowth();
            }
        }
    }
    std::lock_guard lock(_mxTransfer);
    _sockData.Close();
    if (!job._szPath.empty())
        _mapStates[job._szPath] = bOk && !_bAbort ? TransferState::Done : TransferState::Aborted;
    if (!_bAbort)
        SendEnd(bOk ? "226 Transfer complete" : "426 Connection closed; transfer aborted");
    _bEnded = true;
}

bool CRixSimFtpSession::SendRange(Job& job, uint64_t nOffset, uint64_t nLength, uint64_t& nSent)
{
    std::vector<uint8_t> vBuffer(kChunk);
    while (nLength > 0) {
        size_t nRead = _server.Store().Read(job._szPath, nOffset, vBuffer.data(), std::min<uint64_t>(nLength, kChunk));
        if (nRead == 0)
            return true;
        if (!SendChunk(job, vBuffer.data(), nRead, nSent))
            return false;
        nOffset += nRead;
        nLength -= nRead;
    }
    return true;
}

bool CRixSimFtpSession::SendChunk(Job& job, const uint8_t* pData, uint64_t nLength, uint64_t& nSent)
{
    if (job._oFault && nLength > job._oFault->_nAfterBytes - std::min(nSent, job._oFault->_nAfterBytes)) {
        uint64_t nFirst = job._oFault->_nAfterBytes - std::min(nSent, job._oFault->_nAfterBytes);
        if (nFirst > 0 && !_sockData.SendAll(pData, nFirst))
            return false;
        nSent += nFirst;
        if (job._oFault->_eKind == RixSimFaultKind::CutData || !Stall(job))
            return false;
        pData += nFirst;
        nLength -= nFirst;
    }
    if (_bAbort || _server.IsStopping() || !_sockData.SendAll(pData, nLength))
        return false;
    nSent += nLength;
    return true;
}

bool CRixSimFtpSession::ReceiveAll(Job& job)
{
    // Each receive takes what the connection holds; the store appends it without moving what it has.
    std::vector<uint8_t> vBuffer(kReceiveChunk);
    uint64_t nReceived = 0;
    for (;;) {
        uint64_t nWant = kReceiveChunk;
        if (job._oFault) {
            if (nReceived >= job._oFault->_nAfterBytes) {
                if (job._oFault->_eKind == RixSimFaultKind::CutData || !Stall(job))
                    return false;
                continue;
            }
            nWant = std::min(nWant, job._oFault->_nAfterBytes - nReceived);
        }
        int64_t n = _sockData.Receive(vBuffer.data(), nWant);
        if (n == 0)
            return !_bAbort;
        if (n < 0)
            return false;
        _server.Store().Write(job._szPath, vBuffer.data(), size_t(n));
        nReceived += uint64_t(n);
    }
}

bool CRixSimFtpSession::WaitForGrowth()
{
    if (_bAbort || _server.IsStopping() || _sockData.PeerGone())
        return false;
    _server.Store().WaitChange(std::chrono::milliseconds(kSliceMs));
    return !_bAbort && !_server.IsStopping();
}

bool CRixSimFtpSession::Stall(Job& job)
{
    auto tStart = std::chrono::steady_clock::now();
    while (!_bAbort && !_server.IsStopping() && !_sockData.PeerGone()) {
        if (job._oFault->_nDelayMs > 0 &&
            std::chrono::steady_clock::now() - tStart >= std::chrono::milliseconds(job._oFault->_nDelayMs)) {
            job._oFault.reset();
            return true;
        }
        _server.Sleep(kSliceMs / 5);
    }
    return false;
}

}  // namespace rixsim
