// The MXF reader core on arbitrary bytes: finding the header partition, the partition packs, the random index
// pack, the index segments and the header metadata, then a few edit units forwards and backwards through the
// OP1a and the long-GOP readers. The input is the whole file, served from memory.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "reading/mxf/CMXFOP1aReader.h"
#include "reading/mxf/CMXFXDCAMHDReader.h"

namespace
{

class CMemorySource : public CSourceReader
{
public:
    CMemorySource(const uint8_t* data, size_t size) : CSourceReader(""), _pData(data), _nSize(size) { _bOpen = true; }

    int32_t Read(uint8_t* buffer, uint32_t size, uint32_t* read) override
    {
        const uint64_t n = std::min<uint64_t>(size, _nSize - std::min<uint64_t>(_nSize, _nPos));
        std::memcpy(buffer, _pData + _nPos, n);
        _nPos += n;
        *read = static_cast<uint32_t>(n);
        return 0;
    }
    int32_t Seek(uint64_t* position) override
    {
        if (*position > _nSize)
            return 1;
        _nPos = *position;
        return 0;
    }
    int32_t Move(int64_t delta) override
    {
        if (delta < 0 ? static_cast<uint64_t>(-delta) > _nPos : static_cast<uint64_t>(delta) > _nSize - _nPos)
            return 1;
        _nPos += delta;
        return 0;
    }
    int64_t GetSize() override { return static_cast<int64_t>(_nSize); }

private:
    const uint8_t* _pData;
    uint64_t _nSize;
    uint64_t _nPos = 0;
};

template <typename Reader>
void Walk(const uint8_t* data, size_t size)
{
    CMemorySource source(data, size);
    Reader reader("");
    if (reader.SetSourceAndOpen(&source) != 0) {
        reader.DetachSourceReader();
        return;
    }
    std::vector<uint8_t> buffer(1 << 16);
    for (int i = 0; i < 4; ++i) {
        uint8_t* p = buffer.data();
        uint32_t got = 0;
        double seconds = 0;
        if (reader.GetNextData(&p, static_cast<uint32_t>(buffer.size()), &got, &seconds) != 0)
            break;
    }
    reader.GoToDataEnd();
    for (int i = 0; i < 2; ++i) {
        uint8_t* p = buffer.data();
        uint32_t got = 0;
        if (reader.GetPrevData(&p, static_cast<uint32_t>(buffer.size()), &got, nullptr) != 0)
            break;
    }
    int32_t in = 0, out = 0, system = 0;
    reader.GetInOut(&in, &out, &system);
    VideoInfo info;
    reader.GetVideoInfo(&info);
    double seconds = 0.5;
    reader.GoToTime(&seconds);
    reader.DetachSourceReader();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Walk<CMXFOP1aPictureReader>(data, size);
    Walk<CMXFOP1aSoundReader>(data, size);
    // The long-GOP readers, which index the essence after the last index segment of a file cut short.
    Walk<CMXFXDCAMHDVideoReader>(data, size);
    Walk<CMXFXDCAMHDAudioReader>(data, size);
    return 0;
}
