#include "reading/rix/CRixAudioDataReader.h"

#include <algorithm>

#include "common/CLogManager.h"

namespace
{
constexpr uint32_t kSampleRate = 48000;
constexpr uint32_t kBytesOut = 4;
constexpr uint32_t kBytesIn = 3;
}  // namespace

int32_t CRixAudioDataReader::GetAudioChannels(int32_t* channels, int32_t max)
{
    if (channels)
        std::fill_n(channels, std::clamp(_nNbAudioChannels, 0, std::max(max, 0)), 1);
    return _nNbAudioChannels;
}

int32_t CRixAudioDataReader::GetCurrentFieldInfo(uint32_t* first, uint32_t* second, uint8_t*)
{
    if (!IsOpen())
        return -1;
    if (first)
        *first = kSampleRate;
    if (second)
        *second = kBytesOut;
    return 0;
}

int32_t CRixAudioDataReader::FetchFieldData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (!IsOpen() || !HasClient())
        return -1;
    if (!buffer || !*buffer || !sizeOut)
        return kNoBuffer;
    CRixMessage request = MakeRequest(CRixMessage::kAudio, "Rix Audio Reader", false);
    request._nField = static_cast<uint32_t>(_nPosition);
    request._nTcSystem = _nTcSystem;
    const int32_t asked = std::clamp<int32_t>(_nNbAudioChannels, 0, CRixMessage::kAudioChannels);
    request._nAudioChannelMask = (1u << asked) - 1;
    _csClip.Lock();
    const int32_t result = SendSynchronousMessage(&request);
    const auto reply = TakeReply();
    _csClip.Unlock();
    if (result != 0)
        return result;
    if (!reply)
        return -2;

    // The reply's counts are checked against what it carries before a byte is copied.
    const uint64_t channels = reply->_nNbAudioChannels;
    const uint64_t samples = reply->_n0024;
    uint64_t present = 0;
    bool fits = channels <= CRixMessage::kAudioChannels && samples != CRixMessage::kUnset;
    for (const auto& data : reply->_audioData) {
        if (!data)
            continue;
        ++present;
        fits = fits && data->size() / kBytesIn >= samples;
    }
    const uint64_t need = samples * channels * kBytesOut;
    if (!fits || present != channels || need > UINT32_MAX) {
        theLogManager.LogTo(LogName(),
                            "*** CRixAudioDataReader::FetchFieldData - bad audio reply: %llu channels, %llu buffers, "
                            "%llu samples",
                            static_cast<unsigned long long>(channels), static_cast<unsigned long long>(present),
                            static_cast<unsigned long long>(samples));
        return -2;
    }
    *sizeOut = static_cast<uint32_t>(need);
    if (size < need)
        return kBufferTooSmall;
    uint8_t* out = *buffer;
    for (const auto& data : reply->_audioData) {
        if (!data)
            continue;
        const uint8_t* in = data->data();
        for (uint64_t s = 0; s < samples; ++s, in += kBytesIn, out += kBytesOut) {
            out[0] = 0;
            out[1] = in[2];
            out[2] = in[1];
            out[3] = in[0];
        }
    }
    if (secondsOut)
        *secondsOut = SecondsAt(_nPosition);
    return 0;
}
