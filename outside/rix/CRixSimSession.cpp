#include "outside/rix/CRixSimSession.h"

#include "outside/rix/CRixSimServer.h"

namespace rixsim
{

CRixSimSession::CRixSimSession(CRixSimServer& server, CRixSimSocket sock, uint32_t nId)
    : _server(server), _sock(std::move(sock)), _nId(nId)
{
}

CRixSimSession::~CRixSimSession()
{
    Stop();
    Join();
}

void CRixSimSession::Start()
{
    _thread = std::thread([this] {
        Run();
        _sock.Close();
        _bDone = true;
    });
}

void CRixSimSession::Stop()
{
    _sock.Shutdown();
}

void CRixSimSession::Join()
{
    if (_thread.joinable())
        _thread.join();
}

bool CRixSimSession::SendFaulted(const CRixSimSocket& sock, std::string& szHeld, const std::string& szBytes,
                                 const std::optional<RixSimFault>& fault)
{
    RixSimFaultKind eKind = fault ? fault->_eKind : RixSimFaultKind::Length;
    if (eKind == RixSimFaultKind::Omit)
        return true;
    std::string szOut = szHeld + szBytes;
    if (eKind == RixSimFaultKind::Coalesce) {
        szHeld = szOut;
        return true;
    }
    szHeld.clear();
    if (eKind == RixSimFaultKind::Delay)
        _server.Sleep(fault->_nDelayMs);
    if (eKind == RixSimFaultKind::Split && fault->_nSplitAt < szOut.size()) {
        if (!sock.SendAll(szOut.data(), fault->_nSplitAt))
            return false;
        _server.Sleep(fault->_nDelayMs);
        return sock.SendAll(szOut.data() + fault->_nSplitAt, szOut.size() - fault->_nSplitAt);
    }
    return sock.SendAll(szOut);
}

}  // namespace rixsim
