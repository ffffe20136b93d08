#include "outside/rix/CRixSimGbeSession.h"

#include <map>

#include "outside/rix/CRixSimServer.h"

namespace rixsim
{

namespace
{
constexpr size_t kHeader = 8;
constexpr uint32_t kMaxText = 4096;
constexpr uint32_t kUnset = 0xFFFFFFFF;
const char* const kName = "Rix gateway";

uint32_t Le(const uint8_t* p, int nBytes)
{
    uint32_t n = 0;
    for (int i = nBytes - 1; i >= 0; --i)
        n = n << 8 | p[i];
    return n;
}

// Builds one message; the header's length is written by Finish.
class Writer
{
public:
    Writer(uint8_t nType, uint16_t nCommand, uint32_t nRequestId)
    {
        _sz = {1, char(nType), char(nCommand & 0xFF), char(nCommand >> 8), 0, 0, 0, 0};
        U32(0x0001, nRequestId);
        Text(0x1111, kName);
    }
    void Field(uint16_t nTag, const void* pData, uint32_t nLength)
    {
        Put(nTag, 2);
        Put(nLength, 4);
        _sz.append(static_cast<const char*>(pData), nLength);
    }
    void U32(uint16_t nTag, uint32_t n)
    {
        if (n == kUnset)
            return;
        Put(nTag, 2);
        Put(4, 4);
        Put(n, 4);
    }
    void Text(uint16_t nTag, const std::string& sz) { Field(nTag, sz.data(), uint32_t(sz.size())); }
    void Byte(uint16_t nTag, char c) { Field(nTag, &c, 1); }
    void Put(uint32_t n, int nBytes)
    {
        for (int i = 0; i < nBytes; ++i)
            _sz += char(n >> (8 * i));
    }
    std::string Finish()
    {
        uint32_t nRest = uint32_t(_sz.size() - kHeader);
        for (int i = 0; i < 4; ++i)
            _sz[4 + i] = char(nRest >> (8 * i));
        return _sz;
    }

private:
    std::string _sz;
};

std::string ErrorReply(uint16_t nCommand, uint32_t nRequestId, uint32_t nCode, const std::string& szText)
{
    Writer w(3, nCommand, nRequestId);
    w.Byte(0x0504, 0);
    w.U32(0x0050, nCode);
    w.Text(0x0051, szText);
    return w.Finish();
}
}  // namespace

CRixSimGbeSession::CRixSimGbeSession(CRixSimServer& server, CRixSimSocket sock, uint32_t nId)
    : CRixSimSession(server, std::move(sock), nId)
{
}

CRixSimGbeSession::~CRixSimGbeSession()
{
    Stop();
    Join();
}

bool CRixSimGbeSession::Send(std::string szMessage, const std::optional<RixSimFault>& fault)
{
    if (fault && fault->_eKind == RixSimFaultKind::Length) {
        for (int i = 0; i < 4; ++i)
            szMessage[4 + i] = char(fault->_nLength >> (8 * i));
    } else if (fault && fault->_eKind == RixSimFaultKind::WrongRequestId && szMessage.size() >= 18) {
        uint32_t nId = Le(reinterpret_cast<const uint8_t*>(szMessage.data()) + 14, 4) + 1;
        for (int i = 0; i < 4; ++i)
            szMessage[14 + i] = char(nId >> (8 * i));
    }
    return SendFaulted(_sock, _szHeld, szMessage, fault);
}

void CRixSimGbeSession::Run()
{
    auto fault = _server.TakeFault("GBE WELCOME");
    if (fault && fault->_eKind == RixSimFaultKind::DropConnection)
        return;
    Writer welcome(2, 0, 0);
    welcome.Text(0x1112, _server.GetConfig()._szGbeWelcome);
    welcome.Byte(0x0504, 0);
    std::string szWelcome = fault && fault->_eKind == RixSimFaultKind::ErrorReply
                                ? ErrorReply(0, 0, uint32_t(fault->_nCode), "Gateway refuses the connection")
                                : welcome.Finish();
    if (!Send(szWelcome, fault))
        return;

    uint8_t header[kHeader];
    while (!_server.IsStopping() && _sock.ReceiveAll(header, sizeof header)) {
        uint64_t nTotal = uint64_t(Le(header + 4, 4)) + kHeader;
        if (header[0] != 1 || header[1] != 1 || nTotal < kMinMessage || nTotal > kMaxMessage) {
            _server.Record("GBE", _nId,
                           "GBE bad header type=" + std::to_string(header[1]) + " total=" + std::to_string(nTotal));
            return;
        }
        RixSimBytes vRequest(header, header + kHeader);
        vRequest.resize(size_t(nTotal));
        if (!_sock.ReceiveAll(vRequest.data() + kHeader, vRequest.size() - kHeader))
            return;
        std::string szJournal;
        std::string szReply = Answer(vRequest, szJournal);
        _server.Record("GBE", _nId, szJournal);
        fault = _server.TakeFault("GBE " + std::to_string(Le(header + 2, 2)));
        if (fault && fault->_eKind == RixSimFaultKind::DropConnection)
            return;
        if (fault && fault->_eKind == RixSimFaultKind::ErrorReply)
            szReply = ErrorReply(uint16_t(Le(header + 2, 2)), Le(vRequest.data() + 14, 4), uint32_t(fault->_nCode),
                                 "Error requested by the test");
        if (!Send(szReply, fault))
            return;
    }
}

std::string CRixSimGbeSession::Answer(const RixSimBytes& vRequest, std::string& szJournal)
{
    uint16_t nCommand = uint16_t(Le(vRequest.data() + 2, 2));
    std::map<uint16_t, std::string> fields;
    bool bMalformed = false;
    for (size_t nPos = kHeader; nPos < vRequest.size();) {
        if (vRequest.size() - nPos < 6) {
            bMalformed = true;
            break;
        }
        uint16_t nTag = uint16_t(Le(&vRequest[nPos], 2));
        uint64_t nLength = Le(&vRequest[nPos + 2], 4);
        nPos += 6;
        if (nLength > vRequest.size() - nPos || nLength > kMaxText) {
            bMalformed = true;
            break;
        }
        fields.emplace(nTag, std::string(reinterpret_cast<const char*>(&vRequest[nPos]), size_t(nLength)));
        nPos += size_t(nLength);
    }
    auto number = [&](uint16_t nTag) -> uint32_t {
        auto it = fields.find(nTag);
        if (it == fields.end())
            return kUnset;
        if (it->second.size() != 4)
            bMalformed = true;
        return it->second.size() == 4 ? Le(reinterpret_cast<const uint8_t*>(it->second.data()), 4) : kUnset;
    };
    uint32_t nRequestId = number(0x0001);
    uint32_t nRix = number(0x0004), nClip = number(0x0005), nField = number(0x0007), nMask = number(0x000B);
    std::string szUmId = fields.count(0x0003) ? fields[0x0003] : "";
    char cCamera = fields.count(0x0006) && fields[0x0006].size() == 1 ? fields[0x0006][0] : 'Z';

    szJournal = "GBE " + std::to_string(nCommand) + " id=" + std::to_string(nRequestId);
    if (!szUmId.empty())
        szJournal += " umid=" + szUmId;
    for (auto [szName, nValue] : {std::pair{" rix=", nRix},
                                  {" clip=", nClip},
                                  {" field=", nField},
                                  {" sys=", number(0x0008)},
                                  {" mask=", nMask}})
        if (nValue != kUnset)
            szJournal += szName + std::to_string(nValue);
    if (cCamera != 'Z')
        szJournal += std::string(" cam=") + cCamera;

    if (bMalformed || nRequestId == kUnset)
        return ErrorReply(nCommand, nRequestId, 3, "Malformed request");
    if (nCommand < 1 || nCommand > 3)
        return ErrorReply(nCommand, nRequestId, 4, "Unknown command");
    auto clip = _server.Store().FindGbeClip(szUmId, nRix, nClip, cCamera);
    if (!clip)
        return ErrorReply(nCommand, nRequestId, 1, "Unknown clip");

    Writer w(2, nCommand, nRequestId);
    if (nCommand == 1) {
        if (!clip->_szUmId.empty())
            w.Text(0x0003, clip->_szUmId);
        w.U32(0x0004, clip->_nRixNumber);
        w.U32(0x0005, clip->_nClipNumber);
        w.Byte(0x0006, clip->_cCamera);
        w.U32(0x0060, clip->_nGrowingMode);
        if (!clip->_vVarId.empty()) {
            RixSimBytes vVarId = clip->_vVarId;
            vVarId.resize(32, 0);
            w.Field(0x0061, vVarId.data(), 32);
            w.U32(0x0062, uint32_t(std::min<size_t>(clip->_vVarId.size(), 32)));
            w.U32(0x0063, clip->_bVarIdWide ? 1 : 0);
        }
        w.Byte(0x0504, 0);
        w.U32(0x0010, clip->_nVideoChannels);
        w.U32(0x0011, clip->_nVideoCodec);
        w.U32(0x0012, clip->_nVideoFormat);
        w.U32(0x0014, clip->_nShortIn);
        w.U32(0x0015, clip->_nShortOut);
        w.U32(0x0016, clip->_nIn);
        w.U32(0x0017, clip->_nOut);
        w.U32(0x0020, clip->_nAudioChannels);
        w.U32(0x0021, clip->_nAudioCodec);
        return w.Finish();
    }
    if (nField == kUnset || nField < clip->_nIn || nField >= clip->_nOut)
        return ErrorReply(nCommand, nRequestId, 2, "Field outside the clip");
    w.U32(0x0007, nField);
    w.Byte(0x0504, 0);
    if (nCommand == 2) {
        uint64_t nIndex = nField - clip->_nIn;
        RixSimBytes vData;
        if (nIndex < clip->_vFields.size()) {
            vData = clip->_vFields[nIndex];
        } else {
            for (uint32_t i = 0; i < 64; ++i)
                vData.push_back(uint8_t(nField + i));
        }
        w.Field(0x0013, vData.data(), uint32_t(vData.size()));
        return w.Finish();
    }
    uint32_t nChannels = std::min<uint32_t>(clip->_nAudioChannels, 8);
    uint32_t nSent = 0;
    for (uint32_t c = 0; c < nChannels; ++c)
        nSent += (nMask >> c) & 1;
    // Eight channels of samples must fit one message.
    uint32_t nSamples = std::min<uint32_t>(clip->_nSamplesPerField, (kMaxMessage - 1024) / 8 / 3);
    w.U32(0x0020, nSent);
    w.U32(0x0024, nSamples);
    for (uint32_t c = 0; c < nChannels; ++c) {
        if (!((nMask >> c) & 1))
            continue;
        // The container's length is the length of what it holds: the index field and the data field.
        w.Put(0x0026, 2);
        w.Put(10 + 6 + nSamples * 3, 4);
        w.U32(0x0027, c);
        w.Put(0x0028, 2);
        w.Put(nSamples * 3, 4);
        for (uint32_t s = 0; s < nSamples; ++s) {
            w.Put(s & 0xFF, 1);
            w.Put(c, 1);
            w.Put(nField & 0xFF, 1);
        }
    }
    w.U32(0x0023, nSent);
    return w.Finish();
}

}  // namespace rixsim
