#include "reading/parvex/CHydrelFramePadder.h"

#include <algorithm>
#include <cstring>

#include "common/ByteOrder.h"
#include "media/Vc3Compressions.h"

namespace
{
constexpr uint32_t kCompressionIdOffset = 40;
constexpr uint32_t kLengthIndexOffset = 365;
constexpr uint32_t kLengthTableOffset = 368;
constexpr uint32_t kHeaderAfterLength = 640;
}  // namespace

uint32_t CHydrelFramePadder::FrameSizeOfCompression(uint32_t compressionId)
{
    return vc3::UnitSize(compressionId);
}

uint8_t* CHydrelFramePadder::FrameBuffer(uint8_t** buffer, uint32_t* capacity)
{
    if (!buffer)
        return nullptr;
    if (*buffer)
        return *buffer;
    if (!_pFrame)
        _pFrame = platform::MakePageBuffer(kLargestFrame);
    if (_pFrame)
        *capacity = kLargestFrame;
    return _pFrame.get();
}

uint32_t CHydrelFramePadder::PadFrame(uint8_t* frame, uint32_t dataLength, uint32_t capacity)
{
    if (!frame || dataLength < kCompressionIdOffset + 4)
        return 0;
    if (_nFrameSize < 0)
        _nFrameSize = FrameSizeOfCompression(ReadBigEndian32(frame + kCompressionIdOffset));
    const auto frameSize = static_cast<uint32_t>(_nFrameSize);

    // The coded length, when the frame carries one, is read only from bytes the frame has.
    uint32_t length = dataLength;
    uint8_t* codedWord = nullptr;
    if (dataLength > kLengthIndexOffset) {
        const uint32_t at = kLengthTableOffset + 4u * frame[kLengthIndexOffset];
        if (uint64_t{at} + 4 <= dataLength) {
            const uint32_t coded = ReadBigEndian32(frame + at);
            if (coded != 0 && uint64_t{coded} + kHeaderAfterLength <= dataLength) {
                codedWord = frame + at;
                length = coded + kHeaderAfterLength;
            }
        }
    }
    const uint32_t padded = std::max(length, frameSize);
    if (padded > capacity)
        return 0;
    if (codedWord)
        std::memset(codedWord, 0, 4);
    if (length < frameSize) {
        std::memset(frame + length, 0, frameSize - length);
        const uint32_t marker = kEndMarker;
        const uint8_t bytes[4] = {static_cast<uint8_t>(marker), static_cast<uint8_t>(marker >> 8),
                                  static_cast<uint8_t>(marker >> 16), static_cast<uint8_t>(marker >> 24)};
        std::memcpy(frame + frameSize - 4, bytes, 4);
    }
    return padded;
}
