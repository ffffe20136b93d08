#include "outside/rix/CRixSimFileData.h"

#include <algorithm>
#include <cstring>

namespace rixsim
{

void CRixSimFileData::Assign(const RixSimBytes& vBytes)
{
    _vSegments.clear();
    _nSize = 0;
    Append(vBytes.data(), vBytes.size());
}

void CRixSimFileData::Append(const uint8_t* pData, size_t nLength)
{
    while (nLength > 0) {
        size_t nRoom = 0;
        uint8_t* pRoom = Room(&nRoom);
        size_t n = std::min(nRoom, nLength);
        std::memcpy(pRoom, pData, n);
        _nSize += n;
        pData += n;
        nLength -= n;
    }
}

void CRixSimFileData::Truncate(uint64_t nSize)
{
    if (nSize >= _nSize)
        return;
    _nSize = nSize;
    _vSegments.resize(static_cast<size_t>((nSize + kSegmentSize - 1) / kSegmentSize));
}

size_t CRixSimFileData::Read(uint64_t nOffset, uint8_t* pBuffer, size_t nLength) const
{
    if (nOffset >= _nSize)
        return 0;
    size_t nCount = static_cast<size_t>(std::min<uint64_t>(nLength, _nSize - nOffset));
    for (size_t nDone = 0; nDone < nCount;) {
        uint64_t nAt = nOffset + nDone;
        size_t nInSegment = static_cast<size_t>(nAt % kSegmentSize);
        size_t n = std::min(nCount - nDone, kSegmentSize - nInSegment);
        std::memcpy(pBuffer + nDone, _vSegments[static_cast<size_t>(nAt / kSegmentSize)].get() + nInSegment, n);
        nDone += n;
    }
    return nCount;
}

RixSimBytes CRixSimFileData::Bytes() const
{
    RixSimBytes vBytes(static_cast<size_t>(_nSize));
    Read(0, vBytes.data(), vBytes.size());
    return vBytes;
}

const uint8_t* CRixSimFileData::View(uint64_t nOffset, size_t nLength, RixSimBytes& vScratch) const
{
    if (nOffset > _nSize || nLength > _nSize - nOffset)
        return nullptr;
    size_t nInSegment = static_cast<size_t>(nOffset % kSegmentSize);
    if (nLength > 0 && nInSegment + nLength <= kSegmentSize)
        return _vSegments[static_cast<size_t>(nOffset / kSegmentSize)].get() + nInSegment;
    vScratch.resize(nLength);
    Read(nOffset, vScratch.data(), nLength);
    return vScratch.data();
}

uint8_t* CRixSimFileData::Room(size_t* pRoom)
{
    size_t nUsed = static_cast<size_t>(_nSize % kSegmentSize);
    if (nUsed == 0 && _vSegments.size() * kSegmentSize == _nSize)
        _vSegments.push_back(std::make_unique_for_overwrite<uint8_t[]>(kSegmentSize));
    *pRoom = kSegmentSize - nUsed;
    return _vSegments.back().get() + nUsed;
}

}  // namespace rixsim
