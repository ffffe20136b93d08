#include "sender/CDornWriter.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "common/CLogManager.h"
#include "media/ImxFrames.h"
#include "outside/qo/Generic/ErrorIF.h"
#include "sender/DornCodecFrames.h"

CDornWriter::~CDornWriter() = default;

int CDornWriter::Close(bool)
{
    return 0;
}

int CDornWriter::AddPicture(const DornFrame* frame)
{
    Picture picture;
    picture.pData.reset(new (std::nothrow) uint8_t[_nFrameCapacity]);
    if (!picture.pData)
        throw Qo::Generic::ErrorIF(5);
    picture.nCapacity = _nFrameCapacity;
    const uint32_t length = frame && frame->pData ? std::min(frame->nLength, _nFrameCapacity) : 0;
    if (length)
        std::memcpy(picture.pData.get(), frame->pData, length);
    std::memset(picture.pData.get() + length, 0, _nFrameCapacity - length);
    picture.nLength = length;
    _pictures.push_back(std::move(picture));
    return 0;
}

int CDornWriter::AddNULLAudioFrame(int, int64_t)
{
    return 0;
}

void CDornWriter::SetAspectRatio(int) {}

void CDornWriter::SetFrameCapacity(uint32_t bytes)
{
    _nFrameCapacity = std::clamp<uint32_t>(bytes, 1, kMaxFrameCapacity);
}

int CDornWriter::LearnImxFrame(const DornFrame* frame, int system, int64_t* frameSize, int64_t* bitrate)
{
    const int64_t measured = frame ? dorncodec::MeasureImxBitrate(frame->pData, frame->nLength) : 0;
    const int megabits = dorncodec::ImxMegabits(measured);
    if (megabits == 0) {
        theLogManager.Log("++ Measured ++ IMX Bitrate: %li bits/s not supported (30, 40 or 50 Mb/s)",
                          static_cast<long>(measured));
        return 0;
    }
    *bitrate = int64_t{megabits} * 1000000;
    *frameSize = imx::FrameSize(*bitrate, system == 3);
    SetFrameCapacity(static_cast<uint32_t>(*frameSize));
    theLogManager.Log("++ Measured ++ IMX Bitrate: %li bits/s [Frame Size: %li B]", static_cast<long>(measured),
                      static_cast<long>(*frameSize));
    return megabits;
}
