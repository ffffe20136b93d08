#include "rixclient/CRixClientSocketProtocolAsync.h"

#include "common/CLogManager.h"

CRixClientSocketProtocolAsync::CRixClientSocketProtocolAsync(CRixReplyOwner* owner, bool ownsStream)
    : CGbEthernetClient(ownsStream), _pOwner(owner)
{
}

CRixClientSocketProtocolAsync::~CRixClientSocketProtocolAsync()
{
    Stop();
}

void CRixClientSocketProtocolAsync::OnDisconnect()
{
    theLogManager.Log("CRixClientSocketProtocolAsync: OnDisconnect !!");
    if (_pOwner)
        _pOwner->ClearConnected();
}

int CRixClientSocketProtocolAsync::OnMessage(std::unique_ptr<CRixMessage> message)
{
    if (_pOwner)
        _pOwner->StoreReply(std::move(message));
    return 0;
}
