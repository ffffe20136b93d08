#include "reading/rix/CRixDataReader.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>

#include "common/CLogManager.h"
#include "common/CSlowCallWatch.h"
#include "common/CodePages.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "platform/Wait.h"
#include "reading/framework/CRixLink.h"
#include "reading/rix/CRixFTPDataReader.h"
#include "rixclient/CSockStream.h"
#include "xml/CXmlDocument.h"

namespace
{
constexpr uint32_t kReadBufferSize = 65536;
constexpr size_t kMaxGatewayText = 255;
constexpr int32_t kSlowLimitMs = 100;

int32_t ToInt(uint32_t value)
{
    return static_cast<int32_t>(value);  // kUnset becomes -1
}

bool IsCameraLetter(char c)
{
    return c >= 'A' && c <= 'Z';
}

// A whole non-negative decimal number; -1 when the text is not one.
int32_t Decimal(const std::string& text)
{
    int32_t value = -1;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && ptr == text.data() + text.size() && !text.empty() && value >= 0 ? value : -1;
}

class Guard
{
public:
    explicit Guard(CSyncCritSec& lock) : _lock(lock) { _lock.Lock(); }
    ~Guard() { _lock.Unlock(); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

private:
    CSyncCritSec& _lock;
};
}  // namespace

CRixDataReader::CRixDataReader(const std::string& sourceName, int32_t fileType, const std::string& logName)
    : CDataReader(kReadBufferSize, logName), _nFileType(fileType), _szSourceName(sourceName)
{
}

CRixDataReader::~CRixDataReader()
{
    theLogManager.LogTo(LogName(), "CRixDataReader::Destructor ...");
    ReleaseClient();
}

void CRixDataReader::ReleaseClient()
{
    if (!_pClient)
        return;
    // Joins the receive thread, which may still hand over a reply: the reply lock is not held here.
    _pClient->ForceDisconnect();
    _pClient.reset();
    std::lock_guard lock(_replyMutex);
    _pReply.reset();
}

void CRixDataReader::StoreReply(std::unique_ptr<CRixMessage> reply)
{
    {
        std::lock_guard lock(_replyMutex);
        _pReply = std::move(reply);
    }
    _evReply.Set();
}

void CRixDataReader::ClearConnected()
{
    _bValid = false;
    // A request waiting for its reply learns at once that none will come.
    _evReply.Set();
}

std::unique_ptr<CRixMessage> CRixDataReader::TakeReply()
{
    std::lock_guard lock(_replyMutex);
    return std::move(_pReply);
}

int32_t CRixDataReader::ParseSourceName()
{
    const std::string& name = _szSourceName;
    const size_t start = name.find("\\\\");
    if (start == std::string::npos)
        return -1;
    size_t bounds[4];
    bounds[0] = start + 1;
    for (int i = 1; i < 4; ++i) {
        bounds[i] = name.find('\\', bounds[i - 1] + 1);
        if (bounds[i] == std::string::npos)
            return -1;
    }
    auto part = [&](int i) { return name.substr(bounds[i] + 1, bounds[i + 1] - bounds[i] - 1); };
    _szGatewayAddress = part(0);
    _nRixNumber = Decimal(part(1));
    _nClipNumber = Decimal(part(2));
    _cCameraId = bounds[3] + 1 < name.size()
                     ? static_cast<char>(std::toupper(static_cast<unsigned char>(name[bounds[3] + 1])))
                     : 0;
    if (_szGatewayAddress.empty() || _nRixNumber < 0 || _nClipNumber < 0 || !IsCameraLetter(_cCameraId)) {
        theLogManager.LogTo(LogName(), "*** CRixDataReader::Open - bad source name [%s]", name.c_str());
        return -1;
    }
    return 0;
}

int32_t CRixDataReader::LoadLinkFile(bool* refresh)
{
    CRixLink link;
    if (link.Parse(_szSourceName.c_str()) != 0) {
        theLogManager.LogTo(LogName(), "*** CRixDataReader::Open - cannot load the link file [%s]",
                            _szSourceName.c_str());
        return -1;
    }
    _szUmID = link._szUmID;
    _szGatewayAddress = link._szAddress;
    _nRixNumber = link._nRixNumber;
    _nClipNumber = link._nClipNumber;
    _cCameraId = static_cast<char>(std::toupper(static_cast<unsigned char>(link._cCamera)));
    _nGrowingMode = static_cast<uint32_t>(link._nGrowingMode);
    _nIn = link._nIn;
    _nOut = link._nOut;
    _nShortIn = link._nShortIn;
    _nShortOut = link._nShortOut;
    _nNbVideoChannels = link._nVideoChannels;
    _nNbAudioChannels = link._nAudioChannels;
    _nVideoCodec = link._nVideoCodec;
    _nAudioCodec = link._nAudioCodec;
    _nVideoFormat = link._nVideoFormat;
    if (_szGatewayAddress.empty()) {
        auto text = platform::Registry::GetString(platform::RegHive::LocalMachine, "SOFTWARE\\Brennhall\\Common",
                                                  "Rix Gateway IP");
        _szGatewayAddress = text ? text->substr(0, kMaxGatewayText) : "127.0.0.1";
    }
    if (_szUmID.empty() && (_nRixNumber == -1 || _nClipNumber == -1 || !IsCameraLetter(_cCameraId))) {
        theLogManager.LogTo(LogName(), "*** CRixDataReader::Open - the link names no clip [%s]", _szSourceName.c_str());
        return -1;
    }
    *refresh = !link.IsComplete();
    if (_nGrowingMode != 0 && !(_nGrowingMode & 2)) {
        theLogManager.LogTo(LogName(), "*** CRixDataReader::Open - unsupported growing mode %u", _nGrowingMode);
        return -2;
    }
    return 0;
}

int32_t CRixDataReader::Open(uint32_t)
{
    SetValid(false);
    _nGrowingMode = 0;
    bool refresh = true;
    if (_nFileType == Rix_Link) {
        if (ParseSourceName() != 0)
            return -1;
    } else if (_nFileType == Rix_XmlLink) {
        if (int32_t rc = LoadLinkFile(&refresh); rc != 0)
            return rc;
    } else {
        return -1;
    }

    std::string host = _szGatewayAddress;
    _nPort = kDefaultPort;
    if (const size_t colon = host.find(':'); colon != std::string::npos) {
        _nPort = Decimal(host.substr(colon + 1));
        host.resize(colon);
        if (_nPort < 1 || _nPort > 65535) {
            theLogManager.LogTo(LogName(), "*** CRixDataReader::Open - bad gateway port [%s]",
                                _szGatewayAddress.c_str());
            return -1;
        }
    }

    ReleaseClient();
    std::unique_ptr<CSockStream> stream;
    std::unique_ptr<CRixClientSocketProtocolAsync> client;
    try {
        stream = std::make_unique<CSockStream>();
        client = std::make_unique<CRixClientSocketProtocolAsync>(this, true);
    } catch (...) {
        theLogManager.LogTo(LogName(), "*** CRixDataReader::Open - cannot create the connection");
        return -2;
    }
    _evReply.Reset();
    if (stream->Connect(host, static_cast<uint16_t>(_nPort)) != 0) {
        theLogManager.LogTo(LogName(), "*** CRixDataReader::Open - cannot connect to %s:%d", host.c_str(), _nPort);
        return -3;
    }
    if (client->Init(stream.release()) != 0) {
        theLogManager.LogTo(LogName(), "*** CRixDataReader::Open - the connection could not start");
        return -2;
    }
    _pClient = std::move(client);

    const bool came = _evReply.Wait(_nReplyTimeoutMs) == platform::kWaitObject0;
    const auto welcome = TakeReply();
    int32_t result = 0;
    if (welcome && welcome->_nMessageType == CRixMessage::kErrorReply) {
        theLogManager.LogTo(LogName(), "RixRef: Command Type Response ERROR");
        result = -4;
    } else if (!came || !welcome) {
        theLogManager.LogTo(LogName(), "RixRef: Wait response FAILED !!");
        result = -5;
    } else if (welcome->_szText2.find("Welcome") == std::string::npos) {
        theLogManager.LogTo(LogName(), "RixRef: Welcome message reception ERROR");
        result = -6;
    }
    if (result != 0) {
        ReleaseClient();
        return result;
    }

    if (refresh)
        result = GetRixGatewayClipInfo(true);
    else
        MarkValid();
    _nPosition = _nIn;
    _nStep = 1;
    _nTcSystem = static_cast<uint32_t>(_nVideoFormat) >> 24 & 0xF;
    return result;
}

int32_t CRixDataReader::SendSynchronousMessage(CRixMessage* message)
{
    if (!message)
        return -4;
    if (!_pClient)
        return -1;
    TakeReply();
    _evReply.Reset();
    if (_pClient->SendRequest(*message) < 1)
        return -2;
    const bool came = _evReply.Wait(_nReplyTimeoutMs) == platform::kWaitObject0;
    if (!came) {
        theLogManager.LogTo(LogName(), "*** CRixDataReader::SendSynchronousMessage - Receive Rix Message TIMEOUT !!");
        // A reply that comes later would answer the next request.
        _pClient->ForceDisconnect();
        TakeReply();
        return -1;
    }
    std::lock_guard lock(_replyMutex);
    if (!_pReply) {
        theLogManager.LogTo(LogName(), "*** CRixDataReader::SendSynchronousMessage - NULL Reply Received !?!? !!");
        return -2;
    }
    if (_pReply->_nMessageType == CRixMessage::kErrorReply) {
        theLogManager.LogTo(LogName(), "*** CRixDataReader::SendSynchronousMessage - Received ERROR reply [%s]",
                            _pReply->_szErrorText.c_str());
        _pReply.reset();
        return -3;
    }
    return 0;
}

CRixMessage CRixDataReader::MakeRequest(uint16_t command, const char* operation, bool withUmID)
{
    CRixMessage message;
    message._nHeaderByte = 1;
    message._nMessageType = CRixMessage::kRequest;
    message._nCommand = command;
    message._nRequestId = _pClient ? _pClient->NextRequestId() : 0;
    message._szOperation = operation;
    if (withUmID)
        message._szUmID = _szUmID;
    message._nRixNumber = static_cast<uint32_t>(_nRixNumber);
    message._nClipNumber = static_cast<uint32_t>(_nClipNumber);
    message._cCameraId = _cCameraId;
    return message;
}

int32_t CRixDataReader::GetClipInfo()
{
    if (!_pClient)
        return -1;
    CSlowCallWatch watch("Rix GetClipInfo", kSlowLimitMs, LogName());
    CRixMessage request = MakeRequest(CRixMessage::kClipInfo, "CRixDataReader::GetClipInfo", true);
    const int32_t result = SendSynchronousMessage(&request);
    theLogManager.LogTo(LogName(), "CRixDataReader::GetClipInfo - returned %i", result);
    return result;
}

void CRixDataReader::ForgetClipInfo()
{
    _nIn = _nOut = _nPosition = -1;
    _nNbVideoChannels = _nNbAudioChannels = -1;
    _nVideoCodec = _nAudioCodec = _nVideoFormat = -1;
    _szUmID.clear();
    SetValid(false);
}

void CRixDataReader::TakeClipInfo(const CRixMessage& reply)
{
    _nShortIn = ToInt(reply._nShortIn);
    _nShortOut = ToInt(reply._nShortOut);
    _nIn = ToInt(reply._nIn) == -1 ? _nShortIn : ToInt(reply._nIn);
    _nOut = ToInt(reply._nOut) == -1 ? _nShortOut : ToInt(reply._nOut);
    if (_nClipNumber == 0)
        _nIn = static_cast<int32_t>((uint64_t{static_cast<uint32_t>(_nIn)} + static_cast<uint32_t>(_nOut)) / 2);
    _nNbVideoChannels = ToInt(reply._nNbVideoChannels);
    _nVideoCodec = ToInt(reply._nVideoCodec);
    _nVideoFormat = ToInt(reply._nVideoFormat);
    _nNbAudioChannels = ToInt(reply._nNbAudioChannels);
    _nAudioCodec = ToInt(reply._nAudioCodec);
    if (_szUmID.empty())
        _szUmID = reply._szUmID;
    if (_nRixNumber == -1)
        _nRixNumber = ToInt(reply._nRixNumber);
    if (_nClipNumber == -1)
        _nClipNumber = ToInt(reply._nClipNumber);
    if (!IsCameraLetter(_cCameraId))
        _cCameraId = reply._cCameraId;

    std::memset(_VarID, 0, sizeof _VarID);
    _nVarIDByteCount = 0;
    if (reply._bHasVarID) {
        _nVarIDByteCount = reply._nVarIDByteCount == CRixMessage::kUnset ? 0 : reply._nVarIDByteCount;
        if (_nVarIDByteCount > kVarIdSize) {
            theLogManager.LogTo(LogName(), "*** CRixDataReader::GetRixGatewayClipInfo - VarID of %u bytes cut to %u",
                                _nVarIDByteCount, kVarIdSize);
            _nVarIDByteCount = kVarIdSize;
        }
        std::memcpy(_VarID, reply._VarID.data(), _nVarIDByteCount);
    }
    _bVarIDWide = reply._nVarIDWide != 0 && reply._nVarIDWide != CRixMessage::kUnset;
}

int32_t CRixDataReader::GetRixGatewayClipInfo(bool updateLink)
{
    {
        Guard guard(_csClip);
        const int32_t rc = GetClipInfo();
        const auto reply = TakeReply();
        if (rc != 0 || !reply) {
            ForgetClipInfo();
            return -1;
        }
        TakeClipInfo(*reply);
        const uint32_t growing = reply->_nGrowingMode == CRixMessage::kUnset ? 0 : reply->_nGrowingMode;
        if (growing != _nGrowingMode)
            updateLink = true;
        _nGrowingMode = growing;
        MarkValid();
    }
    int32_t result = 0;
    if (updateLink && _nFileType == Rix_XmlLink)
        result = RewriteLinkFile();
    if (result == 0)
        theLogManager.LogTo(LogName(), "CRixDataReader::GetRixGatewayClipInfo - [%d, %d] - Growing %u", _nIn, _nOut,
                            _nGrowingMode);
    return result;
}

std::string CRixDataReader::GetVarIDText() const
{
    if (_bVarIDWide) {
        std::u16string wide;
        for (uint32_t i = 0; i + 1 < _nVarIDByteCount; i += 2) {
            const char16_t c = static_cast<char16_t>(_VarID[i] | _VarID[i + 1] << 8);
            if (c == 0)
                break;
            wide += c;
        }
        return WideToUtf8(wide);
    }
    const std::string text(reinterpret_cast<const char*>(_VarID),
                           strnlen(reinterpret_cast<const char*>(_VarID), _nVarIDByteCount));
    // Narrow VarIDs are in the local code page; the link file is UTF-8.
    return IsAscii(text) ? text : ConvertCodePage(text, 0, 65001);
}

int32_t CRixDataReader::RewriteLinkFile()
{
    CXmlDocument doc;
    if (!doc.Load(platform::ToLocalPath(_szSourceName)))
        return 0;
    auto root = doc.SelectSingleNode("//RixLink");
    if (!root || root->IsNull()) {
        theLogManager.LogTo(LogName(), "*** CRixDataReader::GetRixGatewayClipInfo - BAD XML Root Node ***");
        return 1;
    }
    bool written = true;
    auto put = [&](const char* name, const std::string& text) {
        auto node = root->GetChildNode(name, true);
        written = written && node && !node->IsNull() && node->SetText(text);
    };
    auto number = [&](const char* name, int64_t value) { put(name, std::to_string(value)); };
    put("UmID", _szUmID);
    number("RixNumber", _nRixNumber);
    number("ClipNumber", _nClipNumber);
    put("CameraId", std::string(1, _cCameraId));
    number("InTC", _nIn);
    number("OutTC", _nOut);
    number("ShortInTC", _nShortIn);
    number("ShortOutTC", _nShortOut);
    number("NbVideoChannels", _nNbVideoChannels);
    number("NbAudioChannels", _nNbAudioChannels);
    number("VideoCodec", _nVideoCodec);
    number("VideoFormat", _nVideoFormat);
    number("AudioCodec", 10000);
    number("GrowingMode", _nGrowingMode);
    put("VarID32", GetVarIDText());
    if (!written || !doc.Save()) {
        theLogManager.LogTo(LogName(), "*** CRixDataReader::GetRixGatewayClipInfo - XML EXCEPTION ***");
        return 2;
    }
    return 0;
}

TcSystem CRixDataReader::RateSystem() const
{
    return _nTcSystem < CTimeCode::kSystemCount ? _nTcSystem : 3;
}

double CRixDataReader::SecondsAt(int32_t position) const
{
    return (int64_t{position} - _nIn) * CTimeCode::GetFieldDuration(RateSystem());
}

uint8_t CRixDataReader::AspectCode() const
{
    const uint32_t format = static_cast<uint32_t>(_nVideoFormat);
    return format >> 28 <= 1 ? static_cast<uint8_t>(format >> 16 & 0x3F) : 3;
}

bool CRixDataReader::AtEndAfterRefresh(int64_t offset)
{
    if (int64_t{_nIn} + offset < _nOut)
        return false;
    if (!IsGrowing())
        return true;
    GetRixGatewayClipInfo(false);
    return int64_t{_nIn} + offset >= _nOut;
}

uint32_t CRixDataReader::GetFormat(uint8_t** format)
{
    if (!format)
        return 0;
    const uint32_t values[4] = {static_cast<uint32_t>(_nVideoCodec), static_cast<uint32_t>(_nVideoFormat),
                                static_cast<uint32_t>(_nAudioCodec), static_cast<uint32_t>(_nNbAudioChannels)};
    *format = new uint8_t[sizeof values];
    std::memcpy(*format, values, sizeof values);
    return sizeof values;
}

int32_t CRixDataReader::FetchFieldData(uint8_t**, uint32_t, uint32_t*, double*)
{
    return -1;
}

int32_t CRixDataReader::GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (!_bValid)
        return -1;
    if (AtEndAfterRefresh(int64_t{_nPosition} - _nIn))
        return _bValid ? kNoMoreData : -1;
    CSlowCallWatch watch("Rix GetNextData", kSlowLimitMs, LogName());
    const int32_t result = FetchFieldData(buffer, size, sizeOut, secondsOut);
    if (result == 0)
        _nPosition += _nStep;
    return result;
}

int32_t CRixDataReader::GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (!_bValid)
        return -1;
    if (_nPosition <= _nIn)
        return kNoMoreData;
    const int32_t before = _nPosition;
    _nPosition = std::max(_nIn, _nPosition - _nStep);
    CSlowCallWatch watch("Rix GetPrevData", kSlowLimitMs, LogName());
    const int32_t result = FetchFieldData(buffer, size, sizeOut, secondsOut);
    // Nothing delivered, nothing consumed: the caller may ask again.
    if (result != 0)
        _nPosition = before;
    return result;
}

int32_t CRixDataReader::SkipNextData()
{
    if (!_bValid)
        return -1;
    if (AtEndAfterRefresh(int64_t{_nPosition} - _nIn))
        return _bValid ? kNoMoreData : -1;
    ++_nPosition;
    return 0;
}

int32_t CRixDataReader::SkipPrevData()
{
    if (!_bValid)
        return -1;
    if (_nPosition <= _nIn)
        return kNoMoreData;
    --_nPosition;
    return 0;
}

int32_t CRixDataReader::GoToFieldOffset(int64_t field)
{
    if (!_bValid)
        return -1;
    if (field < 0)
        return kNoMoreData;
    if (AtEndAfterRefresh(field))
        return _bValid ? kNoMoreData : -1;
    _nPosition = static_cast<int32_t>(_nIn + field);
    return 0;
}

int32_t CRixDataReader::GoToTime(double* seconds)
{
    if (!seconds)
        return -1;
    return GoToFieldOffset(CRixFTPDataReader::FieldsOfTime(*seconds, RateSystem()));
}

int32_t CRixDataReader::GoToDataStart()
{
    if (!_bValid)
        return -1;
    _nPosition = _nIn;
    return 0;
}

int32_t CRixDataReader::GoToDataEnd()
{
    if (!_bValid)
        return -1;
    if (IsGrowing() && GetRixGatewayClipInfo(false) < 0)
        return -1;
    _nPosition = _nOut;
    return 0;
}

bool CRixDataReader::IsAtEnd()
{
    if (!_bValid)
        return true;
    return AtEndAfterRefresh(int64_t{_nPosition} - _nIn);
}

int32_t CRixDataReader::GetInOut(int32_t* in, int32_t* out, int32_t* system)
{
    if (!_bValid)
        return -1;
    if (IsGrowing()) {
        theLogManager.LogTo(LogName(), "--- RixDataReader::GetInOut : Growing Clip refresh ....");
        if (GetRixGatewayClipInfo(false) < 0)
            return -1;
    }
    if (in)
        *in = _nIn;
    if (out)
        *out = _nOut;
    if (system)
        *system = static_cast<int32_t>(_nTcSystem);
    return 0;
}

int32_t CRixDataReader::GetCurrentFieldInfo(uint32_t* first, uint32_t*, uint8_t* code)
{
    if (!_bValid)
        return -1;
    if (first)
        *first = static_cast<uint32_t>(_nNbVideoChannels);
    if (code)
        *code = AspectCode();
    return 1;
}
