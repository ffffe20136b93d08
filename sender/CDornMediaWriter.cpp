#include "sender/CDornMediaWriter.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "common/CLogManager.h"
#include "outside/qo/Generic/ErrorIF.h"

uint32_t CDornMediaWriter::SamplesOfFrame(int64_t n) const
{
    if (_nPictureCode == 3 || _nPictureCode == 6)
        return 1920;
    static constexpr uint32_t kCadence[5] = {1602, 1601, 1602, 1601, 1602};
    return kCadence[static_cast<size_t>((n < 0 ? 0 : n) % 5)];
}

void CDornMediaWriter::StartFrameAudio()
{
    for (int c = 0; c < kMaxChannels; ++c) {
        _samples[c].assign(c < _nChannels ? kSampleCapacity : 0, 0.0f);
        _fill[c] = 0;
    }
}

bool CDornMediaWriter::AppendSamples(int channel, const DornFrame* frame, bool fromStart)
{
    const uint32_t bps = _b24Bit ? 3 : 2;
    const uint32_t length = frame && frame->pData ? frame->nLength : 0;
    const uint32_t count = length / bps;
    const uint32_t at = fromStart ? 0 : _fill[channel];
    if (uint64_t{at} + count > kSampleCapacity) {
        theLogManager.Log("CDornMediaWriter::AddAudio - EXCESSIVE Audio Samples !! [%u + %u / %u]", at, count,
                          kSampleCapacity);
        return false;
    }
    float* out = _samples[channel].data() + at;
    const uint8_t* in = frame && frame->pData ? frame->pData : nullptr;
    for (uint32_t s = 0; s < count; ++s, in += bps) {
        if (_b24Bit) {
            int32_t v = in[0] | in[1] << 8 | in[2] << 16;
            if (v & 0x800000)
                v -= 0x1000000;
            out[s] = static_cast<float>(v * (1.0 / 8388607));
        } else {
            out[s] = static_cast<float>(static_cast<int16_t>(in[0] | in[1] << 8) * (1.0 / 32767));
        }
    }
    _fill[channel] = at + count;
    return true;
}

int CDornMediaWriter::WriteOldest(uint32_t count)
{
    if (_pictures.empty() || !_pWriter)
        return -1;
    const float* pointers[kMaxChannels] = {};
    for (int c = 0; c < _nChannels; ++c)
        pointers[c] = _samples[c].data();
    auto& picture = _pictures.front();
    const uint32_t size =
        _nFrameSize > 0 ? std::min(static_cast<uint32_t>(_nFrameSize), picture.nCapacity) : picture.nLength;
    const int result = _pWriter->AddFrame(picture.pData.get(), size, _nChannels ? pointers : nullptr,
                                          _nChannels ? static_cast<int>(count) : 0, _nChannels);
    DropOldestPicture();
    ++_nFramesWritten;
    for (int c = 0; c < _nChannels; ++c) {
        const uint32_t used = std::min(count, _fill[c]);
        std::memmove(_samples[c].data(), _samples[c].data() + used, (_fill[c] - used) * sizeof(float));
        _fill[c] -= used;
    }
    return result;
}

int CDornMediaWriter::AddNULLAudioFrame(int channel, int64_t frameNumber)
{
    const uint32_t bytes = SamplesOfFrame(frameNumber) * (_b24Bit ? 3 : 2);
    if (_silence.size() < bytes) {
        try {
            _silence.assign(bytes, 0);
        } catch (const std::bad_alloc&) {
            throw Qo::Generic::ErrorIF(5);
        }
    }
    const DornFrame silent{_silence.data(), bytes};
    return AddAudio(channel, &silent);
}

MediaWriterClipInfo CDornMediaWriter::ClipInfo() const
{
    MediaWriterClipInfo info;
    info.startTimecode = _start;
    info.standardCode = _nPictureCode;
    info.videoBitRate = static_cast<uint32_t>(std::max<int64_t>(_nBitrate, 0));
    info.aspectCode = static_cast<uint8_t>(_nAspectCode);
    info.audioChannels = _nChannels;
    return info;
}

void CDornMediaWriter::Log(const char* what, int code) const
{
    theLogManager.Log("%s [%i]", what, code);
}

int CDornMediaWriter::Close(bool cancelled)
{
    theLogManager.Log("Dorn_Op1a_Writer::Close - %i Frames remaining", static_cast<int>(_pictures.size()));
    int first = 0;
    if (cancelled || !_pWriter)
        _pictures.clear();
    while (!_pictures.empty()) {
        // The sound still missing for the picture is silence.
        const uint32_t count = SamplesOfFrame(_nFramesWritten);
        for (int c = 0; c < _nChannels; ++c) {
            if (_fill[c] < count) {
                std::fill(_samples[c].begin() + _fill[c], _samples[c].begin() + count, 0.0f);
                _fill[c] = count;
            }
        }
        const int result = WriteOldest(count);
        if (result != 0 && first == 0)
            first = result;
    }
    if (_pWriter) {
        const int closed = _pWriter->Close();
        if (closed != 0) {
            Log("Dorn_Op1a_Writer::Close - media file not completed", closed);
            if (first == 0)
                first = closed;
        }
        _pWriter.reset();
    }
    return first;
}

void CDornMediaWriter::CloseQuietly() noexcept
{
    try {
        if (_pWriter)
            Close(false);
    } catch (...) {
        theLogManager.Log("CDornMediaWriter - Close EXCEPTION caught in destructor");
    }
}

void CDornMediaWriter::KeepOpenSettings(uint8_t pictureCode, int64_t bitrate, int channels, int sampleBits,
                                        const CTimeCode& start)
{
    _nPictureCode = pictureCode;
    _nChannels = std::clamp(channels, 0, kMaxChannels);
    _nSourceChannels = _nChannels;
    _b24Bit = sampleBits == 24;
    _nBitrate = bitrate;
    _start = start;
    _nFramesWritten = 0;
}
