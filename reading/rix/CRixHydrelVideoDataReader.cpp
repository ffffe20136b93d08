#include "reading/rix/CRixHydrelVideoDataReader.h"

#include <algorithm>

#include "common/CLogManager.h"

namespace
{
// A picture whose byte 5 ends in 01 is a whole frame.
bool IsWholeFrame(const uint8_t* field, uint32_t bytes)
{
    return bytes > 5 && (field[5] & 3) == 1;
}
}  // namespace

int32_t CRixHydrelVideoDataReader::GetFrame(bool forwards, uint8_t** buffer, uint32_t size, uint32_t* sizeOut,
                                            double* secondsOut)
{
    if (!IsOpen())
        return -1;
    uint32_t capacity = size;
    uint8_t* out = FrameBuffer(buffer, &capacity);
    if (!out)
        return kNoBuffer;
    const int32_t start = _nPosition;
    // Nothing delivered, nothing consumed: the caller may ask again.
    const auto refuse = [&](int32_t result, uint64_t needed) {
        _nPosition = start;
        if (result == kBufferTooSmall && sizeOut)
            *sizeOut = static_cast<uint32_t>(std::max<uint64_t>(needed, std::max<int64_t>(GetFrameSize(), 0)));
        return result;
    };

    uint32_t total = 0;
    uint32_t firstBytes = 0;
    double seconds = 0;
    for (int i = 0; i < 2; ++i) {
        uint8_t* field = out + total;
        uint32_t bytes = 0;
        double at = 0;
        const int32_t rc = forwards ? CRixVideoDataReader::GetNextData(&field, capacity - total, &bytes, &at)
                                    : CRixVideoDataReader::GetPrevData(&field, capacity - total, &bytes, &at);
        // A clip that ends inside a frame gives the frame's one field.
        if (rc == kNoMoreData && i > 0)
            break;
        if (rc == kBufferTooSmall)
            return refuse(rc, uint64_t{total} + bytes);
        if (rc != 0)
            return refuse(rc, 0);
        total += bytes;
        if (i == 0)
            firstBytes = bytes;
        if (i == 0 || !forwards)
            seconds = at;
        if (IsWholeFrame(field, bytes))
            break;
    }
    // Backwards the earlier field came second: it goes in front.
    if (!forwards)
        std::rotate(out, out + firstBytes, out + total);
    const uint32_t padded = PadFrame(out, total, capacity);
    if (padded == 0) {
        if (GetFrameSize() >= 0 && std::max<int64_t>(total, GetFrameSize()) > capacity)
            return refuse(kBufferTooSmall, total);
        theLogManager.LogTo(LogName(), "*** CRixHydrelVideoDataReader - field %i of %u bytes is no Hydrel picture",
                            start, total);
        return refuse(kNoPicture, 0);
    }
    if (!*buffer)
        *buffer = out;
    if (sizeOut)
        *sizeOut = padded;
    if (secondsOut)
        *secondsOut = seconds;
    return kDataOk;
}

int32_t CRixHydrelVideoDataReader::GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    return GetFrame(true, buffer, size, sizeOut, secondsOut);
}

int32_t CRixHydrelVideoDataReader::GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    return GetFrame(false, buffer, size, sizeOut, secondsOut);
}
