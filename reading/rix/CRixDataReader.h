#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "common/CSyncCritSec.h"
#include "common/CTimeCode.h"
#include "platform/Event.h"
#include "reading/framework/CDataReader.h"
#include "rixclient/CRixClientSocketProtocolAsync.h"

// Reads a clip straight from a video server, one field per request, over the gigabit-Ethernet request
// protocol. The source is a server clip name ("\\address\rix\clip\C", FileType Rix_Link) or a link file
// (FileType Rix_XmlLink), which is rewritten with what the server tells about the clip when it was incomplete
// or its growing state changed. Each reader keeps one connection; a broken one makes the reader invalid until
// it is opened again.
class CRixDataReader : public CDataReader, public CRixReplyOwner
{
public:
    static constexpr int32_t kDefaultPort = 701;
    static constexpr uint32_t kReplyTimeoutMs = 1500;
    static constexpr uint32_t kVarIdSize = 32;

    CRixDataReader(const std::string& sourceName, int32_t fileType, const std::string& logName = "");
    ~CRixDataReader() override;

    bool IsAtEnd() override;
    bool IsOpen() override { return _bValid; }
    // Video codec, video format word, audio codec, audio channel count, as four 32-bit numbers.
    uint32_t GetFormat(uint8_t** format) override;
    int32_t GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut) override;
    int32_t SkipNextData() override;
    int32_t SkipPrevData() override;
    int32_t GoToFieldOffset(int64_t field) override;
    // The time counts in the clip's own rate.
    int32_t GoToTime(double* seconds) override;
    int32_t GetInOut(int32_t* in, int32_t* out, int32_t* system) override;
    int32_t GetCurrentFieldInfo(uint32_t* first, uint32_t* second, uint8_t* code) override;
    int32_t GoToDataStart() override;
    int32_t GoToDataEnd() override;
    // Connects, takes the welcome and the clip information: 0, -1 bad source or failed clip information,
    // -2 unsupported growing mode or no client, -3 connect failed, -4 error reply, -5 no welcome, -6 not a
    // welcome. May be called again after the connection broke.
    int32_t Open(uint32_t flag = 0) override;
    void OnBufferReset() override {}

    // One field (video) or one field's audio at the position, which does not move.
    virtual int32_t FetchFieldData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut);

    // One request and its reply (then in LastReply): 0, -1 no client or time-out (the connection is ended),
    // -2 send failed or no reply, -3 error reply, -4 no message.
    int32_t SendSynchronousMessage(CRixMessage* message);
    int32_t GetClipInfo();
    // 0, 1 link file without its root element, 2 the link file could not be written, -1 request failed.
    int32_t GetRixGatewayClipInfo(bool updateLink);

    // Tests shorten the wait for a reply.
    void SetReplyTimeout(uint32_t timeoutMs) { _nReplyTimeoutMs = timeoutMs; }

    void StoreReply(std::unique_ptr<CRixMessage> reply) override;
    void ClearConnected() override;

    int32_t GetPosition() const { return _nPosition; }
    int32_t GetStep() const { return _nStep; }
    int32_t GetClipNumber() const { return _nClipNumber; }
    int32_t GetRixNumber() const { return _nRixNumber; }
    char GetCameraId() const { return _cCameraId; }
    const std::string& GetUmID() const { return _szUmID; }
    const std::string& GetGatewayAddress() const { return _szGatewayAddress; }
    int32_t GetPort() const { return _nPort; }
    uint32_t GetGrowingMode() const { return _nGrowingMode; }
    // The VarID as UTF-8 text.
    std::string GetVarIDText() const;

protected:
    // A request of the command for the clip at the position.
    CRixMessage MakeRequest(uint16_t command, const char* operation, bool withUmID);
    // The reply taken from the slot; empty when there is none.
    std::unique_ptr<CRixMessage> TakeReply();
    double SecondsAt(int32_t position) const;
    TcSystem RateSystem() const;
    bool HasClient() const { return _pClient != nullptr; }
    bool IsGrowing() const { return _nGrowingMode != 0; }
    // Refreshes the points of a growing clip at its end; whether the position is still at or past the end.
    bool AtEndAfterRefresh(int64_t offset);
    void SetValid(bool valid) { _bValid = valid; }
    // Valid while the connection lives: one that broke meanwhile has cleared the flag already.
    void MarkValid() { _bValid = _pClient && _pClient->IsRunning(); }
    // The VideoInfo aspect of the format word: bits 16-21 for standard definition, else 16:9.
    uint8_t AspectCode() const;

    const std::string& LogName() const { return CDataReader::_szLogName; }

    CSyncCritSec _csClip;  // around every exchange and the clip-information refresh
    int32_t _nFileType;
    std::string _szSourceName;
    std::string _szUmID;
    std::string _szGatewayAddress;
    int32_t _nPort = kDefaultPort;
    int32_t _nRixNumber = -1;
    int32_t _nClipNumber = -1;
    char _cCameraId = 0;

    int32_t _nIn = -1;
    int32_t _nOut = -1;  // excluded
    int32_t _nShortIn = -1;
    int32_t _nShortOut = -1;
    int32_t _nNbVideoChannels = -1;
    int32_t _nVideoCodec = -1;
    int32_t _nVideoFormat = -1;
    int32_t _nNbAudioChannels = -1;
    int32_t _nAudioCodec = -1;
    uint32_t _nGrowingMode = 0;
    uint8_t _VarID[kVarIdSize + 2] = {};
    uint32_t _nVarIDByteCount = 0;
    bool _bVarIDWide = false;

    int32_t _nPosition = -1;
    int32_t _nStep = 1;
    TcSystem _nTcSystem = 0;

private:
    void ReleaseClient();
    // The clip's points and coding from a clip-information reply.
    void TakeClipInfo(const CRixMessage& reply);
    int32_t RewriteLinkFile();
    int32_t ParseSourceName();
    int32_t LoadLinkFile(bool* refresh);
    void ForgetClipInfo();

    std::unique_ptr<CRixClientSocketProtocolAsync> _pClient;  // owns its stream
    platform::Event _evReply{false, false};
    std::mutex _replyMutex;  // taken by the receive thread: never held while the client stops
    std::unique_ptr<CRixMessage> _pReply;
    std::atomic<bool> _bValid{false};
    std::atomic<uint32_t> _nReplyTimeoutMs{kReplyTimeoutMs};
};
