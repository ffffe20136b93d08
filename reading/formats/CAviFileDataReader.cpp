#include "reading/formats/CAviFileDataReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/CLogManager.h"
#include "media/DvcproFrames.h"
#include "reading/formats/CDVDataReader.h"

namespace
{

constexpr uint32_t kMaxHeaderList = 16u << 20;
constexpr uint32_t kMaxBuffer = 64u << 20;
constexpr uint32_t kMaxDvFrame = dvcpro::kLargestFrameSize;
constexpr size_t kMaxStreams = 100;     // two digits in the chunk ids
constexpr uint32_t kIndexBlock = 4096;  // index entries read at a time
constexpr uint32_t kAudioPackByte = 4324;

uint16_t Le16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t Le32(const uint8_t* p)
{
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

bool Same(const void* a, const char* b)
{
    return std::memcmp(a, b, 4) == 0;
}

// The next RIFF chunk in [at, end): its id, data and size; false at the end or when it overruns.
bool NextChunk(const uint8_t* bytes, uint64_t end, uint64_t* at, const uint8_t** id, const uint8_t** data,
               uint32_t* size)
{
    if (*at > end || end - *at < 8)
        return false;
    *id = bytes + *at;
    *size = Le32(bytes + *at + 4);
    if (*size > end - *at - 8)
        return false;
    *data = bytes + *at + 8;
    *at += 8 + uint64_t{*size} + (*size & 1);
    return true;
}

}  // namespace

bool CAviFileDataReader::AviStream::Is(const char* name) const
{
    return Same(type, name);
}

CAviFileDataReader::CAviFileDataReader(int32_t kind, const std::string& logName)
    : CFormatDataReader(kBufferSize, logName), _nKind(kind)
{
}

int32_t CAviFileDataReader::Open(uint32_t)
{
    _streams.clear();
    _dvAudioTable.clear();
    _bAudioFromDv = false;
    _bHasIdx1 = false;
    _nIndexKind = 0;
    _nMoviPos = 0;
    _nIndexBase = 0;
    _nFrame = 0;
    _nSelected = SIZE_MAX;
    _nStep = 2;
    if (!Have(kBufferSize)) {
        theLogManager.LogTo(_szLogName, "CAviFileDataReader::Open fewer than %u bytes", kBufferSize);
        return kTooShort;
    }
    const uint64_t start = Position();
    const uint32_t listSize = Le32(_pCursor + 16);
    if (!Same(_pCursor + 12, "LIST") || !Same(_pCursor + 20, "hdrl") || listSize < 4 || listSize > kMaxHeaderList ||
        (listSize + 20 > _nBufferSize && ResizeBuffer(listSize + 20) != 0) || !Have(listSize + 20)) {
        theLogManager.LogTo(_szLogName, "CAviFileDataReader::Open no header list (size %u)", listSize);
        return kNoStream;
    }
    const uint8_t* header = _pCursor;
    uint64_t at = 24;
    const uint8_t *id = nullptr, *data = nullptr;
    uint32_t size = 0;
    while (NextChunk(header, uint64_t{listSize} + 20, &at, &id, &data, &size)) {
        if (Same(id, "avih") && size >= 20) {
            _bHasIdx1 = (Le32(data + 12) & 0x10) != 0;
            const uint32_t frames = Le32(data + 16);
            const uint32_t perFrame = Le32(data);
            _nSystem = perFrame == 40000 ? 3 : perFrame == 20000 ? 6 : perFrame < 20000 ? 7 : 4;
            _dRate = _nSystem == 3 || _nSystem == 6 ? 50.0 : 59.94;
            _nTotalFields = _nSystem == 3 || _nSystem == 4 ? frames * 2 : frames;
        } else if (Same(id, "LIST") && size >= 4 && Same(data, "strl") && _streams.size() < kMaxStreams) {
            ParseStream(data + 4, size - 4);
        }
    }
    if (_streams.empty()) {
        theLogManager.LogTo(_szLogName, "CAviFileDataReader::Open no stream in the header");
        return kNoStream;
    }
    Seek(start + listSize + 20);
    if (_nIndexKind == 3)
        ReadOpenDmlIndexes();
    else if (_bHasIdx1)
        ReadIdx1();
    for (const AviStream& stream : _streams)
        if (stream.index.empty()) {
            theLogManager.LogTo(_szLogName, "CAviFileDataReader::Open stream %u has no index entries", stream.nNumber);
            return kNoEntries;
        }
    // The main header counts the frames of the first RIFF only; an OpenDML file goes on in AVIX lists, and a
    // file cut short has fewer. The video's index says what there is.
    for (const AviStream& stream : _streams)
        if (stream.Is("vids") || stream.Is("iavs")) {
            const uint64_t fields = stream.index.size() * uint64_t{_nSystem == 3 || _nSystem == 4 ? 2u : 1u};
            _nTotalFields = static_cast<uint32_t>(std::min<uint64_t>(fields, INT32_MAX));
            break;
        }

    size_t chosen = SIZE_MAX;
    for (size_t i = 0; i < _streams.size() && chosen == SIZE_MAX; ++i) {
        const AviStream& s = _streams[i];
        if (s.Is("iavs") || (_nKind == Video_Data ? s.Is("vids") : s.Is("auds")))
            chosen = i;
    }
    if (chosen == SIZE_MAX || !Select(chosen))
        return kNoEntries;
    LocateData();
    return 0;
}

void CAviFileDataReader::ParseStream(const uint8_t* list, uint32_t listSize)
{
    AviStream stream;
    stream.nNumber = static_cast<uint32_t>(_streams.size());
    uint64_t at = 0;
    const uint8_t *id = nullptr, *data = nullptr;
    uint32_t size = 0;
    while (NextChunk(list, listSize, &at, &id, &data, &size)) {
        if (Same(id, "strh") && size >= 4) {
            std::memcpy(stream.type, data, 4);
            if (stream.Is("auds"))
                stream.wave = AviWaveFormat();
        } else if (Same(id, "strf")) {
            if (stream.Is("vids") && size >= 40) {
                for (int i = 0; i < 10; ++i)
                    stream.bitmap[i] = Le32(data + 4 * i);
            } else if (stream.Is("auds") && size >= 16) {
                stream.wave.nFormatTag = Le16(data);
                stream.wave.nChannels = Le16(data + 2);
                stream.wave.nSamplesPerSec = Le32(data + 4);
                stream.wave.nAvgBytesPerSec = Le32(data + 8);
                stream.wave.nBlockAlign = Le16(data + 12);
                stream.wave.nBitsPerSample = Le16(data + 14);
                stream.wave.nExtraSize = size >= 18 ? Le16(data + 16) : 0;
            }
        } else if (Same(id, "indx") && size >= 24) {
            if (data[3] == 0) {
                _nIndexKind = 3;
                const uint64_t entrySize = uint64_t{Le16(data)} * 4;
                const uint32_t count = Le32(data + 4);
                if (entrySize < 16 || count > (size - 24) / entrySize) {
                    theLogManager.LogTo(_szLogName, "CAviFileDataReader::Open super index of %u entries cut", count);
                    continue;
                }
                for (uint32_t i = 0; i < count; ++i) {
                    const uint8_t* e = data + 24 + i * entrySize;
                    stream.superIndex.push_back(
                        {uint64_t{Le32(e)} | uint64_t{Le32(e + 4)} << 32, Le32(e + 8), Le32(e + 12)});
                }
                if (!stream.bHasChunkId) {
                    std::memcpy(stream.chunkId, data + 8, 4);
                    stream.bHasChunkId = true;
                }
            } else if (data[3] == 1) {
                _nIndexKind = 4;
            }
        }
    }
    _streams.push_back(stream);
}

void CAviFileDataReader::ReadIdx1()
{
    uint64_t at = Position();
    uint8_t head[12];
    for (;;) {
        if (CopyAt(at, head, 12) != kDataOk)
            return;
        const uint32_t size = Le32(head + 4);
        if (Same(head, "LIST") && Same(head + 8, "movi"))
            _nMoviPos = at + 8;
        if (Same(head, "idx1"))
            break;
        at += 8 + uint64_t{size} + (size & 1);
    }
    uint32_t count = Le32(head + 4) / 16;
    // A file cut short keeps the whole entries that are there.
    const uint64_t size = SourceSize();
    if (size != 0)
        count = static_cast<uint32_t>(std::min<uint64_t>(count, size > at + 8 ? (size - at - 8) / 16 : 0));
    std::vector<uint8_t> block;
    for (uint32_t done = 0; done < count;) {
        const uint32_t n = std::min(count - done, kIndexBlock);
        block.resize(size_t{n} * 16);
        if (CopyAt(at + 8 + uint64_t{done} * 16, block.data(), block.size()) != kDataOk)
            return;
        for (uint32_t i = 0; i < n; ++i) {
            const uint8_t* e = &block[i * 16];
            if (e[0] < '0' || e[0] > '9' || e[1] < '0' || e[1] > '9')
                continue;
            const size_t number = (e[0] - '0') * 10 + (e[1] - '0');
            if (number >= _streams.size())
                continue;
            AviStream& stream = _streams[number];
            if (!stream.bHasChunkId) {
                std::memcpy(stream.chunkId, e, 4);
                stream.bHasChunkId = true;
            }
            if (!Same(e, stream.chunkId))
                continue;
            const uint32_t chunkSize = Le32(e + 12);
            stream.index.push_back({Le32(e + 8), chunkSize});
            stream.nLargestChunk = std::max(stream.nLargestChunk, chunkSize);
        }
        done += n;
    }
}

void CAviFileDataReader::ReadOpenDmlIndexes()
{
    std::vector<uint8_t> block;
    for (AviStream& stream : _streams) {
        for (const AviSuperEntry& super : stream.superIndex) {
            uint8_t head[32];
            if (CopyAt(super.nOffset, head, 32) != kDataOk)
                continue;
            const uint32_t chunkSize = Le32(head + 4);
            uint32_t count = Le32(head + 12);
            const uint64_t base = uint64_t{Le32(head + 20)} | uint64_t{Le32(head + 24)} << 32;
            if (chunkSize < 24 || count > (chunkSize - 24) / 8) {
                theLogManager.LogTo(_szLogName, "CAviFileDataReader::Open standard index of %u entries cut", count);
                continue;
            }
            const uint64_t fileSize = SourceSize();
            if (fileSize != 0)
                count = static_cast<uint32_t>(
                    std::min<uint64_t>(count, fileSize > super.nOffset + 32 ? (fileSize - super.nOffset - 32) / 8 : 0));
            for (uint32_t done = 0; done < count;) {
                const uint32_t n = std::min(count - done, kIndexBlock);
                block.resize(size_t{n} * 8);
                if (CopyAt(super.nOffset + 32 + uint64_t{done} * 8, block.data(), block.size()) != kDataOk)
                    break;
                for (uint32_t i = 0; i < n; ++i) {
                    const uint64_t offset = Le32(&block[i * 8]);
                    const uint32_t size = Le32(&block[i * 8 + 4]) & 0x7FFFFFFF;
                    // The entries point at the data; the chunk header lies 8 bytes before it.
                    if (base > UINT64_MAX - offset || base + offset < 8)
                        continue;
                    stream.index.push_back({base + offset - 8, size});
                    stream.nLargestChunk = std::max(stream.nLargestChunk, size);
                }
                done += n;
            }
        }
    }
}

bool CAviFileDataReader::Select(size_t number)
{
    AviStream& stream = _streams[number];
    _bAudioFromDv = false;
    if (_nKind == Video_Data || stream.Is("iavs")) {
        _nStep = _nSystem < 6 ? 2 : 1;
    } else {
        const double frameBytes = stream.wave.nBitsPerSample / 8.0 * stream.wave.nChannels;
        if (frameBytes <= 0.0) {
            theLogManager.LogTo(_szLogName, "CAviFileDataReader::Open sound stream %u without a sample size",
                                stream.nNumber);
            return false;
        }
        const double step = std::round(stream.index[0].nSize / frameBytes * _dRate / 48000.0);
        // A step of 0 would put every field on the first chunk.
        _nStep = static_cast<uint32_t>(std::clamp(step, 1.0, 1.0e6));
        // Writers cut PCM into chunks of their own size (ffmpeg: 1024 samples), not one a frame: each chunk is
        // timed by the samples before it.
        const uint32_t sampleBytes =
            stream.wave.nBlockAlign != 0 ? stream.wave.nBlockAlign : static_cast<uint32_t>(frameBytes);
        stream.sampleStart.assign(1, 0);
        stream.sampleStart.reserve(stream.index.size() + 1);
        for (const AviIndexEntry& entry : stream.index)
            stream.sampleStart.push_back(stream.sampleStart.back() + entry.nSize / sampleBytes);
    }
    if (_nKind == Audio_Data && stream.Is("iavs")) {
        const bool fifty = _dRate == 50.0;
        const uint32_t samples = fifty ? 1920 : 1602;
        const uint32_t sequences = fifty ? 6 : 5;
        _dvAudioTable.resize(size_t{samples} * 2);
        for (uint32_t n = 0; n < samples; ++n)
            for (uint32_t c = 0; c < 2; ++c)
                _dvAudioTable[n * 2 + c] = CDVDataReader::AudioWordIndex(n, c, sequences);
        _bAudioFromDv = true;
    }
    _nSelected = number;
    _nFrame = 0;
    const uint64_t wanted = std::min<uint64_t>(uint64_t{stream.nLargestChunk} + 8, kMaxBuffer);
    if (wanted > _nBufferSize)
        ResizeBuffer(static_cast<uint32_t>(wanted));
    return true;
}

void CAviFileDataReader::LocateData()
{
    const AviStream& stream = *Selected();
    const uint64_t first = stream.index[0].nOffset;
    uint8_t id[4];
    _nIndexBase = 0;
    for (const uint64_t base : {uint64_t{0}, _nMoviPos, _nMoviPos >= 32 ? _nMoviPos - 32 : UINT64_MAX}) {
        if (base == UINT64_MAX || first > UINT64_MAX - base)
            continue;
        if (CopyAt(first + base, id, 4) == kDataOk && Same(id, stream.chunkId)) {
            _nIndexBase = base;
            break;
        }
    }
    Seek(first + _nIndexBase);
}

int32_t CAviFileDataReader::ExtractDvAudio(uint8_t* buffer, uint32_t size, uint32_t* sizeOut)
{
    const uint32_t code = _dvFrame.size() > kAudioPackByte ? _dvFrame[kAudioPackByte] & 0x3F : 0;
    uint32_t samples = code == 20 ? 1600 : code == 22 ? 1602 : 1920;
    // The 60 Hz table holds 1602 samples; no frame carries more.
    samples = std::min<uint32_t>(samples, static_cast<uint32_t>(_dvAudioTable.size() / 2));
    if (sizeOut)
        *sizeOut = samples * 4;
    if (size < samples * 4)
        return kBufferTooSmall;
    for (uint32_t n = 0; n < samples; ++n)
        for (uint32_t c = 0; c < 2; ++c) {
            const uint64_t byte = uint64_t{_dvAudioTable[n * 2 + c]} * 2;
            uint8_t* out = buffer + (n * 2 + c) * 2;
            if (byte + 2 <= _dvFrame.size())
                std::memcpy(out, &_dvFrame[byte], 2);
            else
                out[0] = out[1] = 0;
        }
    return kDataOk;
}

int32_t CAviFileDataReader::ReadFrame(size_t frame, uint8_t* buffer, uint32_t size, uint32_t* sizeOut,
                                      double* secondsOut)
{
    const AviStream& stream = *Selected();
    const AviIndexEntry& entry = stream.index[frame];
    if (entry.nOffset > UINT64_MAX - _nIndexBase - 8)
        return kNoMoreData;
    const uint64_t at = entry.nOffset + _nIndexBase;
    uint32_t chunkSize = entry.nSize;
    if (chunkSize == 0) {
        // The index leaves the size to the chunk header; it is trusted only as far as the buffer given.
        uint8_t head[8];
        if (CopyAt(at, head, 8) != kDataOk)
            return kNoMoreData;
        chunkSize = Le32(head + 4);
    }
    if (_bAudioFromDv) {
        if (chunkSize > kMaxDvFrame)
            return kNoMoreData;
        _dvFrame.resize(chunkSize);
        if (CopyAt(at + 8, _dvFrame.data(), chunkSize) != kDataOk)
            return kNoMoreData;
        const int32_t result = ExtractDvAudio(buffer, size, sizeOut);
        if (result != kDataOk)
            return result;
    } else {
        if (size < chunkSize) {
            if (sizeOut)
                *sizeOut = chunkSize;
            return kBufferTooSmall;
        }
        if (CopyAt(at + 8, buffer, chunkSize) != kDataOk)
            return kNoMoreData;
        if (sizeOut)
            *sizeOut = chunkSize;
    }
    if (secondsOut)
        *secondsOut = TimedBySamples() ? static_cast<double>(stream.sampleStart[frame]) / stream.wave.nSamplesPerSec
                                       : static_cast<double>(_nStep) * static_cast<double>(frame) / _dRate;
    return kDataOk;
}

int32_t CAviFileDataReader::GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    AviStream* stream = Selected();
    if (!stream)
        return kNotSupported;
    if (_nFrame >= stream->index.size())
        return kNoMoreData;
    if (!buffer || !*buffer)
        return kNoBuffer;
    const int32_t result = ReadFrame(_nFrame, *buffer, size, sizeOut, secondsOut);
    if (result == kDataOk && ++_nFrame < stream->index.size())
        SeekTo(stream->index[_nFrame].nOffset + _nIndexBase);
    return result;
}

int32_t CAviFileDataReader::GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    AviStream* stream = Selected();
    if (!stream)
        return kNotSupported;
    if (_nFrame == 0)
        return kNoMoreData;
    if (!buffer || !*buffer)
        return kNoBuffer;
    const int32_t result = ReadFrame(_nFrame - 1, *buffer, size, sizeOut, secondsOut);
    if (result == kDataOk) {
        --_nFrame;
        SeekTo(stream->index[_nFrame].nOffset + _nIndexBase);
    }
    return result;
}

bool CAviFileDataReader::TimedBySamples()
{
    const AviStream* stream = Selected();
    return stream && _nKind == Audio_Data && !_bAudioFromDv && stream->wave.nSamplesPerSec != 0 &&
           stream->sampleStart.size() == stream->index.size() + 1;
}

int32_t CAviFileDataReader::GoToSampleTime(double* seconds)
{
    AviStream& stream = *Selected();
    const double rate = stream.wave.nSamplesPerSec;
    const uint64_t sample = static_cast<uint64_t>(std::min(*seconds * rate, 9.0e15));
    if (sample > stream.sampleStart.back())
        return kNoMoreData;
    // The last chunk starting at or before the sample; the end itself stays a valid place to stand.
    const size_t chunk =
        std::upper_bound(stream.sampleStart.begin(), stream.sampleStart.end(), sample) - stream.sampleStart.begin() - 1;
    *seconds = static_cast<double>(stream.sampleStart[chunk]) / rate;
    _nFrame = chunk;
    if (chunk < stream.index.size())
        Seek(stream.index[chunk].nOffset + _nIndexBase);
    return 0;
}

int32_t CAviFileDataReader::GoToFieldOffset(int64_t field)
{
    AviStream* stream = Selected();
    if (!stream)
        return -1;
    if (TimedBySamples()) {
        if (field < 0)
            return kNoMoreData;
        double seconds = static_cast<double>(field) / _dRate;
        return GoToSampleTime(&seconds);
    }
    if (field < 0 || field >= _nTotalFields)
        return kNoMoreData;
    const uint64_t frame = static_cast<uint64_t>(field) / _nStep;
    if (frame > stream->index.size())
        return kNoMoreData;
    _nFrame = frame;
    if (frame < stream->index.size())
        Seek(stream->index[frame].nOffset + _nIndexBase);
    return 0;
}

int32_t CAviFileDataReader::GoToTime(double* seconds)
{
    if (!seconds)
        return -1;
    if (!(*seconds > 0.0))
        *seconds = 0.0;
    if (TimedBySamples())
        return GoToSampleTime(seconds);
    const int64_t field = static_cast<int64_t>(std::min(*seconds * _dRate + 0.5, 9.0e15)) & ~int64_t{1};
    *seconds = static_cast<double>(field) / _dRate;
    return GoToFieldOffset(field);
}

int32_t CAviFileDataReader::GoToDataStart()
{
    AviStream* stream = Selected();
    if (!stream || stream->index.empty())
        return -1;
    _nFrame = 0;
    Seek(stream->index[0].nOffset + _nIndexBase);
    return 0;
}

int32_t CAviFileDataReader::GoToDataEnd()
{
    AviStream* stream = Selected();
    if (!stream || stream->index.empty())
        return -1;
    _nFrame = stream->index.size();
    const AviIndexEntry& last = stream->index.back();
    Seek(last.nOffset + _nIndexBase + 8 + last.nSize);
    return 0;
}

int32_t CAviFileDataReader::GetInOut(int32_t* in, int32_t* out, int32_t* system)
{
    if (in)
        *in = _nStartField;
    if (out)
        *out = static_cast<int32_t>(static_cast<uint32_t>(_nStartField) + _nTotalFields);
    if (system)
        *system = static_cast<int32_t>(_nSystem);
    return 0;
}

uint32_t CAviFileDataReader::GetFormat(uint8_t** format)
{
    if (!format || _streams.empty())
        return 0;
    *format = new uint8_t[4];
    std::memcpy(*format, _streams[0].type, 4);
    return 4;
}

int32_t CAviFileDataReader::GetAudioChannels(int32_t* channels, int32_t max)
{
    if (_nKind == Video_Data)
        return 1;
    const AviStream* stream = Selected();
    if (!stream)
        return 0;
    if (channels && max >= 1)
        channels[0] = stream->Is("iavs") ? 2 : stream->wave.nChannels;
    return 1;
}

int32_t CAviFileDataReader::SelectAudioStream(int32_t index)
{
    if (_nKind != Audio_Data)
        return 1;
    int32_t n = 0;
    for (size_t i = 0; i < _streams.size(); ++i) {
        if (!_streams[i].Is("auds") || n++ != index)
            continue;
        if (!Select(i))
            return 1;
        GoToDataStart();
        return 0;
    }
    return 1;
}

int32_t CAviFileDataReader::GetCurrentFieldInfo(uint32_t* first, uint32_t* second, uint8_t* code)
{
    if (first)
        *first = 48000;
    if (second)
        *second = 1920;
    if (code)
        *code = 0;
    return 0;
}

bool CAviFileDataReader::GetVideoInfo(VideoInfo* info)
{
    const AviStream* stream = Selected();
    if (!info || _nKind != Video_Data || !stream)
        return false;
    info->bProgressive = _nSystem >= 6;
    info->nWidth = stream->bitmap[1];
    info->nHeight = stream->bitmap[2];
    if (info->nHeight >= 1080) {
        info->nStandard = 4;
        info->nAspect = 3;
    } else if (info->nHeight >= 720) {
        info->nStandard = 3;
        info->nAspect = 3;
    } else {
        info->nStandard = _nSystem == 3 ? 2 : 1;
    }
    uint8_t code[4];
    for (int i = 0; i < 4; ++i)
        code[i] = static_cast<uint8_t>(stream->bitmap[4] >> (8 * i));
    if (Same(code, "dv25"))
        info->nVideoType = DVCPro25_Video;
    else if (Same(code, "M701"))
        info->nVideoType = MPEGFrame_Video;
    else if (Same(code, "MMES")) {
        const VideoType byFrame = ImxVideoTypeOfFrame(stream->nLargestChunk, _nSystem < 6 ? _dRate / 2.0 : _dRate);
        info->nVideoType = byFrame != Unknown_Video ? byFrame : IMX50_Video;
    } else if (Same(code, "dv50"))
        info->nVideoType = DVCPro50_Video;
    else if (Same(code, "dvsd"))
        info->nVideoType = DV25_Video;
    return true;
}
