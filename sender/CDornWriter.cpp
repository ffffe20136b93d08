#include "sender/CDornWriter.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "outside/qo/Generic/ErrorIF.h"

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
