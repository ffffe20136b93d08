#pragma once

#include <memory>

#include "rixclient/CGbEthernetClient.h"

// What the server reader that owns a CRixClientSocketProtocolAsync offers it. Both are called on the
// client's receive thread: the owner must not hold a lock they take while it stops or deletes the client.
class CRixReplyOwner
{
public:
    virtual ~CRixReplyOwner() = default;
    // Stores the reply as the last one (the owner frees it) and sets the owner's reply event.
    virtual void StoreReply(std::unique_ptr<CRixMessage> reply) = 0;
    // The connection ended.
    virtual void ClearConnected() = 0;
};

// The reader's connection to a server: every message received is handed to the owner as its last reply.
class CRixClientSocketProtocolAsync : public CGbEthernetClient
{
public:
    CRixClientSocketProtocolAsync(CRixReplyOwner* owner, bool ownsStream);
    ~CRixClientSocketProtocolAsync() override;

    void OnDisconnect() override;
    int OnMessage(std::unique_ptr<CRixMessage> message) override;

private:
    CRixReplyOwner* _pOwner;
};
