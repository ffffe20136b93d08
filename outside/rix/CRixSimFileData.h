#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace rixsim
{

using RixSimBytes = std::vector<uint8_t>;

// The bytes of a stored file in segments of a fixed size: the file grows without moving what it holds.
class CRixSimFileData
{
public:
    // A multiple of every server block size, so that a block lies in one segment.
    static constexpr size_t kSegmentSize = 8u << 20;

    uint64_t Size() const { return _nSize; }
    void Assign(const RixSimBytes& vBytes);
    void Append(const uint8_t* pData, size_t nLength);
    // Cuts the file to nSize bytes; a larger size is ignored.
    void Truncate(uint64_t nSize);
    // Copies up to nLength bytes from nOffset: the count.
    size_t Read(uint64_t nOffset, uint8_t* pBuffer, size_t nLength) const;
    RixSimBytes Bytes() const;
    // nLength bytes from nOffset in one piece: inside a segment, or copied into vScratch when they cross one.
    const uint8_t* View(uint64_t nOffset, size_t nLength, RixSimBytes& vScratch) const;

private:
    // The room after the end, at least one byte.
    uint8_t* Room(size_t* pRoom);

    std::vector<std::unique_ptr<uint8_t[]>> _vSegments;
    uint64_t _nSize = 0;
};

}  // namespace rixsim
