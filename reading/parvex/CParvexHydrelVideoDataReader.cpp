#include "reading/parvex/CParvexHydrelVideoDataReader.h"

#include <cstring>

CParvexHydrelVideoDataReader::CParvexHydrelVideoDataReader(const std::string& logName, bool raw, bool allChannels)
    : CParvexVideoDataReader(logName, raw, allChannels)
{
}

void CParvexHydrelVideoDataReader::Undo(bool forwards, int taken)
{
    for (int i = 0; i < taken; ++i) {
        if (forwards)
            SkipPrevData();
        else
            SkipNextData();
    }
}

int32_t CParvexHydrelVideoDataReader::GetFrame(bool forwards, uint8_t** buffer, uint32_t size, uint32_t* sizeOut,
                                               double* secondsOut)
{
    if (!_bOpen)
        return kNotSupported;
    uint32_t capacity = size;
    uint8_t* out = FrameBuffer(buffer, &capacity);
    if (!out)
        return kNoBuffer;
    uint32_t total = 0;
    double seconds = 0;
    int taken = 0;
    for (int i = 0; i < 2; ++i) {
        uint8_t* field = nullptr;
        uint32_t bytes = 0;
        double at = 0;
        const int32_t rc = forwards ? CParvexVideoDataReader::GetNextData(&field, 0, &bytes, &at)
                                    : CParvexVideoDataReader::GetPrevData(&field, 0, &bytes, &at);
        if (rc != 0) {
            if (taken == 0)
                return rc;
            break;
        }
        ++taken;
        if (bytes > capacity - total) {
            Undo(forwards, taken);
            if (sizeOut)
                *sizeOut = total + bytes;
            return kBufferTooSmall;
        }
        // Backwards the earlier field comes second and goes in front.
        if (!forwards && total > 0)
            std::memmove(out + bytes, out, total);
        std::memcpy(forwards ? out + total : out, field, bytes);
        total += bytes;
        if (i == 0 || !forwards)
            seconds = at;
        // A picture whose byte 5 ends in 01 is a whole frame.
        if (bytes > 5 && (field[5] & 3) == 1)
            break;
    }
    const uint32_t padded = PadFrame(out, total, capacity);
    if (padded == 0) {
        Undo(forwards, taken);
        if (GetFrameSize() < 0)
            return kNoPicture;
        if (sizeOut)
            *sizeOut = std::max<uint32_t>(total, static_cast<uint32_t>(GetFrameSize()));
        return kBufferTooSmall;
    }
    if (!*buffer)
        *buffer = out;
    if (sizeOut)
        *sizeOut = padded;
    if (secondsOut)
        *secondsOut = seconds;
    return kDataOk;
}

int32_t CParvexHydrelVideoDataReader::GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut,
                                                  double* secondsOut)
{
    return GetFrame(true, buffer, size, sizeOut, secondsOut);
}

int32_t CParvexHydrelVideoDataReader::GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut,
                                                  double* secondsOut)
{
    return GetFrame(false, buffer, size, sizeOut, secondsOut);
}
