#include "outside/tessan/WavFile.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>

#include "outside/tessan/CBlockFileReader.h"

namespace tessan
{

namespace
{

constexpr size_t kHeaderBytes = 44;
constexpr uint16_t kFormatPcm = 1;
// A WAV's sizes are 32-bit: a data chunk may not pass this.
constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - kHeaderBytes;
constexpr uintmax_t kMaxFileBytes = 2ull << 30;

void Put16(uint8_t* at, uint32_t value)
{
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void Put32(uint8_t* at, uint32_t value)
{
    Put16(at, value);
    Put16(at + 2, value >> 16);
}

uint32_t Get16(const uint8_t* at)
{
    return uint32_t(at[0]) | uint32_t(at[1]) << 8;
}

uint32_t Get32(const uint8_t* at)
{
    return Get16(at) | Get16(at + 2) << 16;
}

std::array<uint8_t, kHeaderBytes> Header(int32_t bits, uint32_t dataBytes)
{
    std::array<uint8_t, kHeaderBytes> h{};
    uint32_t blockAlign = static_cast<uint32_t>(bits / 8);
    std::memcpy(&h[0], "RIFF", 4);
    Put32(&h[4], static_cast<uint32_t>(kHeaderBytes - 8 + dataBytes));
    std::memcpy(&h[8], "WAVEfmt ", 8);
    Put32(&h[16], 16);
    Put16(&h[20], kFormatPcm);
    Put16(&h[22], 1);
    Put32(&h[24], kWavSampleRate);
    Put32(&h[28], kWavSampleRate * blockAlign);
    Put16(&h[32], blockAlign);
    Put16(&h[34], static_cast<uint32_t>(bits));
    std::memcpy(&h[36], "data", 4);
    Put32(&h[40], dataBytes);
    return h;
}

}  // namespace

CWavWriter::~CWavWriter()
{
    Close();
}

bool CWavWriter::Open(const std::string& path, int32_t bitsPerSample)
{
    Close();
    if (bitsPerSample != 16 && bitsPerSample != 24)
        return false;
    if (!_file.Open(path))
        return false;
    _nBits = bitsPerSample;
    _nDataBytes = 0;
    auto header = Header(_nBits, 0);
    return _file.Append(header.data(), header.size());
}

bool CWavWriter::Append(const uint8_t* data, size_t size)
{
    if (!_file.IsOpen() || size > kMaxDataBytes - _nDataBytes)
        return false;
    if (!_file.Append(data, size))
        return false;
    _nDataBytes += size;
    return true;
}

bool CWavWriter::Close()
{
    if (!_file.IsOpen())
        return true;
    auto header = Header(_nBits, static_cast<uint32_t>(_nDataBytes));
    bool ok = _file.Overwrite(0, header.data(), header.size());
    return _file.Close() && ok;
}

bool CWavReader::Load(const std::string& path)
{
    _samples.clear();
    std::error_code ec;
    uintmax_t fileSize = std::filesystem::file_size(path, ec);
    if (ec || fileSize > kMaxFileBytes) {
        _strError = ec ? "cannot read " + path : path + " is too big";
        return false;
    }
    std::vector<uint8_t> bytes;
    CBlockFileReader reader(kWavBlockBytes);
    if (!reader.Open(path) || !reader.ReadAll(bytes, kMaxFileBytes)) {
        _strError = "cannot read " + path;
        return false;
    }
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(&bytes[8], "WAVE", 4) != 0) {
        _strError = path + " is not a WAV file";
        return false;
    }
    bool format = false;
    size_t pos = 12;
    // A skipped chunk of odd size is followed by a pad byte that a cut file may lack: pos may pass the end.
    while (pos <= bytes.size() && bytes.size() - pos >= 8) {
        uint32_t chunkSize = Get32(&bytes[pos + 4]);
        size_t body = pos + 8;
        if (std::memcmp(&bytes[pos], "fmt ", 4) == 0) {
            if (chunkSize < 16 || chunkSize > bytes.size() - body) {
                _strError = path + ": short format chunk";
                return false;
            }
            uint32_t tag = Get16(&bytes[body]), channels = Get16(&bytes[body + 2]), rate = Get32(&bytes[body + 4]);
            _nBits = static_cast<int32_t>(Get16(&bytes[body + 14]));
            if (tag != kFormatPcm || channels != 1 || rate != kWavSampleRate || (_nBits != 16 && _nBits != 24)) {
                _strError = path + ": not mono 48 kHz PCM of 16 or 24 bits (format " + std::to_string(tag) + ", " +
                            std::to_string(channels) + " channels, " + std::to_string(rate) + " Hz, " +
                            std::to_string(_nBits) + " bits)";
                return false;
            }
            format = true;
        } else if (std::memcmp(&bytes[pos], "data", 4) == 0) {
            if (!format) {
                _strError = path + ": data before the format chunk";
                return false;
            }
            // A writer that stopped before fixing the header leaves 0 or too large a size: take what is there.
            size_t size = chunkSize == 0 || chunkSize > bytes.size() - body ? bytes.size() - body : chunkSize;
            size -= size % static_cast<size_t>(_nBits / 8);
            _samples.assign(bytes.begin() + static_cast<std::ptrdiff_t>(body),
                            bytes.begin() + static_cast<std::ptrdiff_t>(body + size));
            return true;
        }
        if (chunkSize > bytes.size() - body)
            break;
        pos = body + chunkSize + (chunkSize & 1);
    }
    _strError = path + ": no data chunk";
    return false;
}

bool CWavReader::Take(uint64_t first, uint32_t count, std::vector<uint8_t>& bytes) const
{
    uint64_t width = static_cast<uint64_t>(_nBits / 8);
    uint64_t samples = _samples.size() / (width ? width : 1);
    if (width == 0 || first > samples || count > samples - first)
        return false;
    auto begin = _samples.begin() + static_cast<std::ptrdiff_t>(first * width);
    bytes.assign(begin, begin + static_cast<std::ptrdiff_t>(count * width));
    return true;
}

}  // namespace tessan
