#include "outside/rix/CRixSimRpc.h"

#include <cstdio>

namespace rixsim
{

namespace
{
constexpr uint16_t kMagic = 0x4248;
constexpr uint64_t kTicksPerField[3] = {11988, 9990, 10000};

bool IsBig(const uint8_t* p)
{
    return p[0] == 0x42 && p[1] == 0x48;
}

uint16_t Get16(const uint8_t* p, bool bBig)
{
    return bBig ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]);
}

void Put16(RixSimBytes& v, size_t nAt, uint16_t n, bool bBig)
{
    v[nAt] = uint8_t(bBig ? n >> 8 : n);
    v[nAt + 1] = uint8_t(bBig ? n : n >> 8);
}

void Put32(RixSimBytes& v, size_t nAt, uint32_t n, bool bBig)
{
    for (int i = 0; i < 4; ++i)
        v[nAt + i] = uint8_t(n >> (bBig ? 24 - 8 * i : 8 * i));
}
}  // namespace

std::optional<uint32_t> CRixSimRpc::RequestLength(const uint8_t* pHeader)
{
    bool bBig = IsBig(pHeader);
    if (Get16(pHeader, bBig) != kMagic)
        return std::nullopt;
    uint32_t nLength = Get16(pHeader + 8, bBig);
    if (nLength < kMinRequest || nLength > kMaxRequest)
        return std::nullopt;
    return nLength;
}

uint16_t CRixSimRpc::FunctionOf(const RixSimBytes& vRequest)
{
    return Get16(vRequest.data() + vRequest.size() - 2, IsBig(vRequest.data()));
}

RixSimBytes CRixSimRpc::Answer(const RixSimBytes& vRequest, const RixSimConfig& config, const CRixSimStore& store,
                               std::string& szJournal)
{
    bool bInBig = IsBig(vRequest.data());
    uint16_t nId = Get16(vRequest.data() + 6, bInBig);
    uint16_t nFunction = FunctionOf(vRequest);
    const uint8_t* pPayload = vRequest.data() + kHeaderSize;
    size_t nPayload = vRequest.size() - kMinRequest;

    szJournal = "RPC " + std::to_string(nFunction) + " id=" + std::to_string(nId) + (bInBig ? " be " : " le ");
    for (size_t i = 0; i < nPayload; ++i) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", pPayload[i]);
        szJournal += hex;
    }

    std::vector<uint32_t> values;
    uint16_t nCode = 0;
    size_t nWanted = 0;
    switch (nFunction) {
        case 3:
        case 6: {
            nWanted = 2;
            values.assign(nFunction == 3 ? 2 : 4, 0);
            if (nPayload != nWanted)
                break;
            auto seq = store.Sequence(Get16(pPayload, bInBig));
            if (seq && nFunction == 3)
                values = {seq->_nIn, seq->_nOut};
            else if (seq)
                values = {seq->_nFirst, seq->_nIn, seq->_nOut, seq->_nFlags};
            break;
        }
        case 2: {
            nWanted = 7;
            values.assign(3, 0);
            if (nPayload != nWanted)
                break;
            char cCamera = static_cast<char>(pPayload[2]);
            uint32_t nField = uint32_t(pPayload[3]) | uint32_t(pPayload[4]) << 8 | uint32_t(pPayload[5]) << 16 |
                              uint32_t(pPayload[6]) << 24;
            if (pPayload[0] > 1 || cCamera < 'A' || cCamera > 'F' || config._nTcSystem > 2) {
                nCode = 3;
                break;
            }
            uint64_t nTicks = config._nTcBaseTicks + nField * kTicksPerField[config._nTcSystem];
            uint32_t nHigh = uint32_t(nTicks >> 32) & 0xFFFFF;
            nHigh |= (config._nTcKind & 3) << 28 | (config._nTcSystem & 3) << 30;
            values = {nField, nHigh, uint32_t(nTicks)};
            break;
        }
        default:
            nCode = 2;
            break;
    }
    if (nCode == 0 && nPayload != nWanted) {
        nCode = 1;
    }

    bool bBig = config._eRpcOrder == RixSimByteOrder::Big;
    RixSimBytes vReply(kMinRequest + 4 * values.size(), 0);
    Put16(vReply, 0, kMagic, bBig);
    Put16(vReply, 6, nId, bBig);
    Put16(vReply, 8, uint16_t(vReply.size()), bBig);
    for (size_t i = 0; i < values.size(); ++i)
        Put32(vReply, kHeaderSize + 4 * i, values[i], bBig);
    Put16(vReply, vReply.size() - 4, nCode, bBig);
    Put16(vReply, vReply.size() - 2, nFunction, bBig);
    return vReply;
}

void CRixSimRpc::Corrupt(RixSimBytes& vReply, RixSimByteOrder eOrder, const RixSimFault& fault)
{
    bool bBig = eOrder == RixSimByteOrder::Big;
    size_t nEnd = vReply.size();
    switch (fault._eKind) {
        case RixSimFaultKind::BadMagic:
            Put16(vReply, 0, 0x1234, bBig);
            break;
        case RixSimFaultKind::WrongRequestId:
            Put16(vReply, 6, uint16_t(Get16(&vReply[6], bBig) + 1), bBig);
            break;
        case RixSimFaultKind::WrongFunction:
            Put16(vReply, nEnd - 2, uint16_t(Get16(&vReply[nEnd - 2], bBig) + 1), bBig);
            break;
        case RixSimFaultKind::ReturnCode:
            Put16(vReply, nEnd - 4, uint16_t(fault._nCode), bBig);
            break;
        case RixSimFaultKind::Length:
            vReply.resize(std::min<uint32_t>(fault._nLength, kMaxRequest), 0);
            break;
        default:
            break;
    }
}

}  // namespace rixsim
