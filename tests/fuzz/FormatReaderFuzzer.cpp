// The QuickTime, MPEG-4, AVI, WAV, DV and SDI readers on arbitrary bytes held in memory. The first input byte
// picks the reader and the kind; the rest is the file. Each reader is opened, walked forwards and backwards and
// positioned.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "reading/formats/CAviFileDataReader.h"
#include "reading/formats/CDVDataReader.h"
#include "reading/formats/CQTDataReader.h"
#include "reading/formats/CQTMpeg4DataReader.h"
#include "reading/formats/CSdiDataReader.h"
#include "reading/formats/CWavDataReader.h"

namespace
{

// A source on bytes in memory.
class CMemorySource : public CSourceReader
{
public:
    CMemorySource(const uint8_t* data, size_t size) : CSourceReader(""), _data(data, data + size) { _bOpen = true; }
    int32_t Read(uint8_t* buffer, uint32_t size, uint32_t* read) override
    {
        const uint64_t n = _nPos < _data.size() ? std::min<uint64_t>(size, _data.size() - _nPos) : 0;
        if (n)
            std::memcpy(buffer, _data.data() + _nPos, n);
        _nPos += n;
        *read = static_cast<uint32_t>(n);
        return 0;
    }
    int32_t Seek(uint64_t* position) override
    {
        _nPos = *position;
        return 0;
    }
    int32_t Move(int64_t delta) override
    {
        if (delta < 0 && static_cast<uint64_t>(-delta) > _nPos)
            return 1;
        _nPos += delta;
        return 0;
    }
    int64_t GetSize() override { return static_cast<int64_t>(_data.size()); }
    void GetName(std::string& name) override { name = "memory.bin"; }

private:
    std::vector<uint8_t> _data;
    uint64_t _nPos = 0;
};

std::unique_ptr<CDataReader> MakeReader(uint8_t pick)
{
    const DataKind kind = pick & 1 ? Audio_Data : Video_Data;
    switch (pick / 2 % 7) {
        case 0:
            return std::make_unique<CQTDataReader>(kind, "");
        case 1:
            if (kind == Video_Data)
                return std::make_unique<CQTMpeg4VideoDataReader>("");
            return std::make_unique<CQTMpeg4AudioDataReader>("");
        case 2:
            return std::make_unique<CAviFileDataReader>(kind, "");
        case 3:
            return std::make_unique<CWavDataReader>("");
        case 4:
            if (kind == Video_Data)
                return std::make_unique<CDVVideoDataReader>("");
            return std::make_unique<CDVAudioDataReader>("");
        default:
            if (kind == Video_Data)
                return std::make_unique<CSdiVideoDataReader>("");
            return std::make_unique<CSdiAudioDataReader>("");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    auto reader = MakeReader(data[0]);
    if (reader->AttachSourceReader(std::make_unique<CMemorySource>(data + 1, size - 1), 1) != 0)
        return 0;
    std::vector<uint8_t> buffer(1 << 20);
    for (int step = 0; step < 64; ++step) {
        uint8_t* p = buffer.data();
        uint32_t out = 0;
        double seconds = 0;
        if (reader->GetNextData(&p, static_cast<uint32_t>(buffer.size()), &out, &seconds) != 0)
            break;
    }
    reader->GoToDataEnd();
    for (int step = 0; step < 64; ++step) {
        uint8_t* p = buffer.data();
        uint32_t out = 0;
        if (reader->GetPrevData(&p, static_cast<uint32_t>(buffer.size()), &out, nullptr) != 0)
            break;
    }
    double seconds = 0.3;
    reader->GoToTime(&seconds);
    reader->GoToFieldOffset(3);
    VideoInfo info;
    reader->GetVideoInfo(&info);
    int32_t channels[8];
    reader->GetAudioChannels(channels, 8);
    reader->SelectAudioStream(1);
    uint8_t* format = nullptr;
    if (reader->GetFormat(&format))
        delete[] format;
    int32_t in = 0, out = 0, system = 0;
    reader->GetInOut(&in, &out, &system);
    return 0;
}
