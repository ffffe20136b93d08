#pragma once

#include <cstdint>

#include "media/Vc3Compressions.h"
#include "platform/PageBuffer.h"

// Pads Hydrel pictures to the fixed frame size of their compression id and marks the frame's end, as the
// decoders expect whole frames.
class CHydrelFramePadder
{
public:
    static constexpr uint32_t kEndMarker = 0xDEC00D60;  // stored little-endian: 60 0D C0 DE
    static constexpr uint32_t kLargestFrame = vc3::kLargestFrameSize;

    CHydrelFramePadder() = default;
    virtual ~CHydrelFramePadder() = default;

    // Pads the frame of dataLength bytes in a buffer of capacity bytes and returns its padded size; the size is
    // fixed by the first frame's compression id for the padder's life. 0 when there is no frame, when it is too
    // short to carry its compression id, or when the padded frame does not fit the capacity (nothing is written
    // then; GetFrameSize tells the room needed).
    uint32_t PadFrame(uint8_t* frame, uint32_t dataLength, uint32_t capacity);
    // -1 until the first frame.
    int64_t GetFrameSize() const { return _nFrameSize; }

    static uint32_t FrameSizeOfCompression(uint32_t compressionId);

protected:
    // The caller's buffer, or the padder's own of the largest frame size when the caller gives none (then
    // capacity becomes its size); null without a buffer pointer or when no buffer can be had.
    uint8_t* FrameBuffer(uint8_t** buffer, uint32_t* capacity);

private:
    int64_t _nFrameSize = -1;
    platform::PageBuffer _pFrame;
};
