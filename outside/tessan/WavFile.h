#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "outside/tessan/CBlockFileWriter.h"

namespace tessan
{

// A mono 48 kHz PCM WAV file of 16- or 24-bit samples, written as samples arrive in blocks of this size; the
// sizes in the header are set when it closes.
constexpr uint32_t kWavBlockBytes = 2u << 20;

class CWavWriter
{
public:
    CWavWriter() = default;
    ~CWavWriter();
    CWavWriter(const CWavWriter&) = delete;
    CWavWriter& operator=(const CWavWriter&) = delete;

    bool Open(const std::string& path, int32_t bitsPerSample);
    bool Append(const uint8_t* data, size_t size);
    bool Close();
    int32_t Bits() const { return _nBits; }

private:
    CBlockFileWriter _file{kWavBlockBytes};
    int32_t _nBits = 0;
    uint64_t _nDataBytes = 0;
};

// The samples of such a file, read whole; Error() says why a file is refused.
class CWavReader
{
public:
    bool Load(const std::string& path);
    const std::string& Error() const { return _strError; }
    int32_t Bits() const { return _nBits; }
    uint64_t Samples() const { return _samples.size() / static_cast<size_t>(_nBits / 8); }
    // The bytes of count samples from a sample position; false when the file holds fewer.
    bool Take(uint64_t first, uint32_t count, std::vector<uint8_t>& bytes) const;

private:
    std::string _strError;
    int32_t _nBits = 0;
    std::vector<uint8_t> _samples;
};

constexpr uint32_t kWavSampleRate = 48000;

}  // namespace tessan
