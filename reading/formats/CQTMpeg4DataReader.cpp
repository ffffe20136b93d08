#include "reading/formats/CQTMpeg4DataReader.h"

#include <cstring>

#include "common/CLogManager.h"

namespace
{

constexpr int32_t kNoEntry = 6;
constexpr uint8_t kEndCode[4] = {0x00, 0x00, 0x01, 0xB1};  // visual object sequence end

// Calls visit(entry, size) for each sample description entry that fits its atom; false when none or one
// overruns.
template <typename Visit>
bool ForEachEntry(const uint8_t* atom, uint64_t size, Visit visit)
{
    if (size < 16 || CDataReader::ReadBigEndian32(atom + 12) < 1)
        return false;
    for (uint64_t at = 16; size - at >= 8;) {
        const uint64_t entrySize = CDataReader::ReadBigEndian32(atom + at);
        if (entrySize < 8 || entrySize > size - at)
            return false;
        if (visit(atom + at, entrySize))
            return true;
        at += entrySize;
    }
    return false;
}

// The end of the esds atom that an entry holds at the place, within the entry; 0 when it is not there.
uint64_t EsdsEnd(const uint8_t* entry, uint64_t entrySize, uint64_t at)
{
    if (entrySize < at + 12 || std::memcmp(entry + at + 4, "esds", 4) != 0)
        return 0;
    const uint64_t size = CDataReader::ReadBigEndian32(entry + at);
    return size >= 12 && size <= entrySize - at ? at + size : 0;
}

void DropEndCode(uint8_t** buffer, uint32_t* sizeOut)
{
    if (sizeOut && *sizeOut >= 4 && std::memcmp(*buffer + *sizeOut - 4, kEndCode, 4) == 0)
        *sizeOut -= 4;
}

}  // namespace

int32_t CQTMpeg4VideoDataReader::OnSampleDescription(const uint8_t* atom, uint64_t size)
{
    const QTTrack* track = ParsingTrack();
    if (!track || !track->Is("vide"))
        return CQTDataReader::OnSampleDescription(atom, size);
    bool usable = false;
    const bool found = ForEachEntry(atom, size, [&](const uint8_t* entry, uint64_t entrySize) {
        if (std::memcmp(entry + 4, "mp4v", 4) != 0)
            return false;
        const uint64_t end = EsdsEnd(entry, entrySize, 86);
        // Descriptors with one-byte lengths: ES (3) and decoder configuration (4) have fixed heads, the
        // decoder-specific information (5) is kept.
        for (uint64_t at = 98; end && at < end;) {
            const uint8_t tag = entry[at];
            if (tag == 3) {
                at += 5;
            } else if (tag == 4) {
                at += 15;
            } else if (tag == 5) {
                if (end - at < 2 || entry[at + 1] > end - at - 2)
                    return true;
                _config.assign(entry + at + 2, entry + at + 2 + entry[at + 1]);
                usable = true;
                at += 2 + entry[at + 1];
            } else {
                at += 1;
            }
        }
        return true;
    });
    if (!found || !usable) {
        theLogManager.LogTo(_szLogName, "CQTMpeg4VideoDataReader::Open no usable mp4v description");
        return kNoEntry;
    }
    return 0;
}

uint32_t CQTMpeg4VideoDataReader::WriteStreamHeader(uint8_t* buffer)
{
    if (buffer && !_config.empty())
        std::memcpy(buffer, _config.data(), _config.size());
    return static_cast<uint32_t>(_config.size());
}

int32_t CQTMpeg4VideoDataReader::Open(uint32_t flag)
{
    _config.clear();
    const int32_t result = CQTDataReader::Open(flag);
    if (result == 0)
        GoToDataStart();
    return result;
}

int32_t CQTMpeg4VideoDataReader::GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    const int32_t result = CQTDataReader::GetNextData(buffer, size, sizeOut, secondsOut);
    if (result == kDataOk)
        DropEndCode(buffer, sizeOut);
    return result;
}

int32_t CQTMpeg4VideoDataReader::GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    const int32_t result = CQTDataReader::GetPrevData(buffer, size, sizeOut, secondsOut);
    if (result == kDataOk)
        DropEndCode(buffer, sizeOut);
    return result;
}

bool CQTMpeg4VideoDataReader::GetVideoInfo(VideoInfo* info)
{
    if (!info)
        return false;
    const bool pal = GetSystem() == 3;
    info->nVideoType = MP4ART_Video;
    info->nStandard = pal ? 18 : 17;
    info->nAspect = 2;
    info->bProgressive = true;
    info->nWidth = 352;
    info->nHeight = pal ? 288 : 240;
    return true;
}

int32_t CQTMpeg4AudioDataReader::OnSampleDescription(const uint8_t* atom, uint64_t size)
{
    const QTTrack* track = ParsingTrack();
    if (!track || !track->Is("soun"))
        return CQTDataReader::OnSampleDescription(atom, size);
    bool usable = false;
    ForEachEntry(atom, size, [&](const uint8_t* entry, uint64_t entrySize) {
        if (std::memcmp(entry + 4, "mp4a", 4) != 0)
            return false;
        const uint64_t end = EsdsEnd(entry, entrySize, 36);
        usable = end != 0;
        for (uint64_t at = 48; end && at < end;) {
            const uint8_t tag = entry[at];
            if (tag == 3) {
                at += 5;
            } else if (tag == 4) {
                if (end - at < 11) {
                    usable = false;
                    break;
                }
                _nMaxBitRate = ReadBigEndian32(entry + at + 7);
                at += 15;
            } else if (tag == 5) {
                break;
            } else {
                at += 1;
            }
        }
        return true;
    });
    if (!usable) {
        theLogManager.LogTo(_szLogName, "CQTMpeg4AudioDataReader::Open no usable mp4a description");
        return kNoEntry;
    }
    const uint32_t rate = _nMaxBitRate;
    const uint8_t header[kAdifSize] = {'A',
                                       'D',
                                       'I',
                                       'F',
                                       0x40,
                                       static_cast<uint8_t>((rate >> 16 & 0xFF) << 5 | (rate >> 8 & 0xFF) >> 3),
                                       static_cast<uint8_t>((rate >> 8 & 0xFF) << 5 | (rate & 0xFF) >> 3),
                                       static_cast<uint8_t>((rate & 0xFF) << 5),
                                       0,
                                       0,
                                       0,
                                       static_cast<uint8_t>((6 | 0xF0) << 3),
                                       0x80,
                                       0,
                                       4,
                                       0,
                                       0};
    std::memcpy(_adif, header, kAdifSize);
    return CQTDataReader::OnSampleDescription(atom, size);
}

uint32_t CQTMpeg4AudioDataReader::WriteStreamHeader(uint8_t* buffer)
{
    if (buffer)
        std::memcpy(buffer, _adif, kAdifSize);
    return kAdifSize;
}

int32_t CQTMpeg4AudioDataReader::Open(uint32_t flag)
{
    const int32_t result = CQTDataReader::Open(flag);
    if (result != 0)
        return result;
    // Every access unit can be decoded on its own.
    for (const auto& track : GetTracks())
        for (QTChunk& chunk : track->chunks)
            for (QTSample& sample : chunk.samples)
                sample.bSync = true;
    GoToDataStart();
    return 0;
}
