#include "reading/formats/CQTDataReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "common/CLogManager.h"
#include "media/Vc3Compressions.h"

namespace
{

constexpr uint64_t kMaxMovieAtom = 256ull << 20;  // a movie atom is read whole
constexpr uint32_t kMaxBuffer = 16u << 20;
constexpr size_t kMaxSamplesPerTrack = size_t{1} << 24;
constexpr uint32_t kLargeChunk = 0x400000;

uint32_t Be32(const uint8_t* p)
{
    return CDataReader::ReadBigEndian32(p);
}

bool SameType(const char* a, const char* b)
{
    return std::memcmp(a, b, 4) == 0;
}

}  // namespace

// One atom inside bytes already read. Places are counted from the atom's start as if its header were the
// usual 8 bytes, so the offsets of the format's tables apply also to an atom with a 64-bit size.
struct CQTDataReader::Atom {
    const uint8_t* pStart = nullptr;
    uint64_t nSize = 0;  // the whole atom
    uint32_t nHeader = 8;
    char type[4] = {};

    uint64_t BodySize() const { return nSize > nHeader ? nSize - nHeader : 0; }  // 0 for no atom
    const uint8_t* Body() const { return pStart + nHeader; }
    bool Has(uint64_t at, uint64_t count) const
    {
        return at >= 8 && at - 8 <= BodySize() && count <= BodySize() - (at - 8);
    }
    const uint8_t* At(uint64_t at) const { return Body() + (at - 8); }
    uint32_t U32(uint64_t at) const { return Has(at, 4) ? Be32(At(at)) : 0; }
    bool Is(const char* name) const { return SameType(type, name); }

    // The atom at bytes[at], within end; 1 at the end of the bytes, -1 when the atom does not fit.
    static int32_t Next(const uint8_t* bytes, uint64_t end, uint64_t* at, Atom* atom)
    {
        // Fewer than 8 bytes are a terminator or padding.
        if (*at > end || end - *at < 8)
            return 1;
        const uint8_t* p = bytes + *at;
        uint64_t size = Be32(p);
        uint32_t header = 8;
        if (size < 8) {
            if (end - *at < 16)
                return -1;
            size = ReadBigEndian64(p + 8);
            header = 16;
            if (size < 16)
                return -1;
        }
        if (size > end - *at)
            return -1;
        atom->pStart = p;
        atom->nSize = size;
        atom->nHeader = header;
        std::memcpy(atom->type, p + 4, 4);
        *at += size;
        return 0;
    }
};

bool CQTDataReader::QTTrack::Is(const char* handler) const
{
    return SameType(type, handler);
}

CQTDataReader::CQTDataReader(int32_t kind, const std::string& logName) : CFormatDataReader(kInitialBufferSize, logName)
{
    std::memcpy(_szTrackType, kind == Video_Data ? "vide" : kind == Audio_Data ? "soun" : "unkn", 4);
}

CQTDataReader::~CQTDataReader() = default;

int32_t CQTDataReader::Open(uint32_t flag)
{
    _tracks.clear();
    _pTrack = nullptr;
    _nStartField = 0;
    _nSystem = 3;
    _dFieldDuration = CTimeCode::GetFieldDuration(_nSystem);
    _bReopen = flag != 0;
    if (!_pSource)
        return -1;
    _pSource->GetName(_szMovieName);
    _szOpenedName = _szMovieName;

    // The movie atom often lies behind the media: atoms before it are passed by moving the source.
    const uint64_t fileSize = SourceSize();
    uint64_t at = Position();
    for (;;) {
        uint8_t head[16];
        if (CopyAt(at, head, 8) != kDataOk) {
            theLogManager.LogTo(_szLogName, "CQTDataReader::Open no movie atom before byte %llu",
                                static_cast<unsigned long long>(at));
            return kMovieCut;
        }
        uint64_t size = Be32(head);
        uint32_t header = 8;
        if (size < 8) {
            if (CopyAt(at + 8, head + 8, 8) != kDataOk)
                return kMovieCut;
            size = ReadBigEndian64(head + 8);
            header = 16;
            if (size < 16) {
                // A size of 0 (or one smaller than its header) would never move on.
                theLogManager.LogTo(_szLogName, "CQTDataReader::Open atom of size %llu at byte %llu",
                                    static_cast<unsigned long long>(size), static_cast<unsigned long long>(at));
                return kZeroSize;
            }
        }
        if (SameType(reinterpret_cast<const char*>(head + 4), "moov")) {
            const uint64_t body = size - header;
            const bool cut = fileSize && (at + header > fileSize || body > fileSize - (at + header));
            if (cut || body > kMaxMovieAtom) {
                theLogManager.LogTo(_szLogName, "CQTDataReader::Open movie atom of %llu bytes does not fit",
                                    static_cast<unsigned long long>(body));
                return kMovieCut;
            }
            std::vector<uint8_t> movie(body);
            if (CopyAt(at + header, movie.data(), body) != kDataOk)
                return kMovieCut;
            const int32_t result = ParseMovie(movie.data(), body);
            _pParsing = nullptr;
            if (result != 0)
                return result;
            break;
        }
        if (size > UINT64_MAX - at)
            return kMovieCut;
        at += size;
    }

    if (_tracks.empty())
        return kNoTrack;
    QTTrack* chosen = nullptr;
    bool startKnown = false;
    for (const auto& track : _tracks) {
        if (!chosen && track->Is(_szTrackType))
            chosen = track.get();
        if (!startKnown && track->Is("tmcd")) {
            ReadStartField(*track);
            startKnown = true;
        }
        if (chosen && startKnown)
            break;
    }
    if (!chosen)
        return kNoTrackOfKind;
    if (chosen->chunks.empty())
        return kNoChunks;
    return UseTrack(chosen);
}

int32_t CQTDataReader::ParseMovie(const uint8_t* body, uint64_t size)
{
    uint64_t at = 0;
    Atom atom;
    for (int32_t step; (step = Atom::Next(body, size, &at, &atom)) != 1;) {
        if (step < 0)
            return kMovieCut;
        if (atom.Is("mvhd")) {
            if (atom.Has(8, 1) && *atom.At(8) == 1 && atom.Has(12, 28)) {
                _nCreationTime = ReadBigEndian64(atom.At(12));
                _nMovieTimeScale = Be32(atom.At(28));
                _nMovieDuration = ReadBigEndian64(atom.At(32));
            } else if (atom.Has(8, 20)) {
                _nCreationTime = Be32(atom.At(12));
                _nMovieTimeScale = Be32(atom.At(20));
                _nMovieDuration = Be32(atom.At(24));
            }
        } else if (atom.Is("trak")) {
            const int32_t result = ParseTrack(atom.Body(), atom.BodySize());
            if (result != 0)
                return result;
        }
    }
    return 0;
}

int32_t CQTDataReader::ParseTrack(const uint8_t* body, uint64_t size)
{
    auto track = std::make_unique<QTTrack>();
    _pParsing = track.get();
    uint64_t at = 0;
    Atom atom;
    for (int32_t step; (step = Atom::Next(body, size, &at, &atom)) != 1;) {
        if (step < 0)
            return kMovieCut;
        if (atom.Is("mdia")) {
            const int32_t result = ParseMedia(*track, atom.Body(), atom.BodySize());
            if (result != 0)
                return result;
        } else if (atom.Is("edts")) {
            uint64_t inner = 0;
            Atom elst;
            while (Atom::Next(atom.Body(), atom.BodySize(), &inner, &elst) == 0) {
                if (!elst.Is("elst") || !elst.Has(8, 8))
                    continue;
                // Version 1 entries have 64-bit durations and media times.
                const bool wide = *elst.At(8) == 1;
                const uint64_t entrySize = wide ? 20 : 12;
                const uint64_t count = std::min<uint64_t>(elst.U32(12), (elst.BodySize() - 8) / entrySize);
                if (count == 0)
                    continue;
                const uint8_t* last = elst.At(16) + (count - 1) * entrySize;
                const int64_t mediaTime =
                    wide ? static_cast<int64_t>(ReadBigEndian64(last + 8)) : static_cast<int32_t>(Be32(last + 4));
                // -1 marks an empty edit: nothing of the media is dropped.
                track->nSkip = mediaTime > 0 ? static_cast<uint64_t>(mediaTime) : 0;
            }
        } else if (atom.Is("tkhd") && atom.nSize > 91) {
            track->nWidth = atom.U32(84) >> 16;
            track->nHeight = atom.U32(88) >> 16;
        }
    }
    if (!track->Is("unkn"))
        _tracks.push_back(std::move(track));
    return 0;
}

int32_t CQTDataReader::ParseMedia(QTTrack& track, const uint8_t* body, uint64_t size)
{
    uint64_t at = 0;
    Atom atom;
    for (int32_t step; (step = Atom::Next(body, size, &at, &atom)) != 1;) {
        if (step < 0)
            return kMovieCut;
        if (atom.Is("mdhd")) {
            const bool wide = atom.Has(8, 1) && *atom.At(8) == 1;
            track.nTimeScale = atom.U32(wide ? 28 : 20);
        } else if (atom.Is("hdlr") && atom.Has(16, 4)) {
            std::memcpy(track.type, atom.At(16), 4);
        } else if (atom.Is("minf")) {
            return ParseMediaInfo(track, atom);
        }
    }
    return -1;
}

int32_t CQTDataReader::ParseMediaInfo(QTTrack& track, const Atom& minf)
{
    if (minf.nSize <= 16)
        return -1;
    int32_t result = 0;
    uint64_t at = 0;
    Atom atom;
    for (int32_t step; (step = Atom::Next(minf.Body(), minf.BodySize(), &at, &atom)) != 1;) {
        if (step < 0)
            return kMovieCut;
        if (atom.Is("dinf"))
            ParseDataReference(track, atom);
        else if (atom.Is("stbl") && result == 0)
            result = ParseSampleTable(track, atom.Body(), atom.BodySize());
    }
    return result;
}

void CQTDataReader::ParseDataReference(QTTrack& track, const Atom& dinf)
{
    // The first child must be a data reference atom whose first entry lies in it; flag bit 0 set means the
    // media are in this file.
    if (!dinf.Has(8, 28) || !SameType(reinterpret_cast<const char*>(dinf.At(12)), "dref") || (*dinf.At(35) & 1))
        return;
    const uint64_t drefEnd = 8 + std::min<uint64_t>(Be32(dinf.At(8)), dinf.BodySize());
    const uint64_t entryEnd = 24 + std::min<uint64_t>(Be32(dinf.At(24)), drefEnd > 24 ? drefEnd - 24 : 0);
    const char* entryType = reinterpret_cast<const char*>(dinf.At(28));
    std::string name;
    if (SameType(entryType, "alis") && entryEnd > 86 && dinf.Has(86, 1)) {
        const uint64_t length = *dinf.At(86);
        if (length <= entryEnd - 87)
            name.assign(reinterpret_cast<const char*>(dinf.At(87)), length);
    } else if (SameType(entryType, "url ") && entryEnd > 44) {
        const char* text = reinterpret_cast<const char*>(dinf.At(44));
        const size_t length = strnlen(text, entryEnd - 44);
        if (length < entryEnd - 44)
            name.assign(text, length);
    }
    if (name.empty()) {
        theLogManager.LogTo(_szLogName, "CQTDataReader::Open data reference without a usable file name");
        return;
    }
    track.bExternal = true;
    track.szDataFile += name;
}

int32_t CQTDataReader::ParseSampleTable(QTTrack& track, const uint8_t* body, uint64_t size)
{
    Atom stts, stsc, stsz, stco, stss, ctts;
    bool hasStts = false, hasStsc = false, hasStsz = false, hasStco = false, hasStss = false, wideOffsets = false;
    bool hasCtts = false;
    uint64_t at = 0;
    Atom atom;
    for (int32_t step; (step = Atom::Next(body, size, &at, &atom)) != 1;) {
        if (step < 0)
            return kMovieCut;
        if (atom.Is("stsd")) {
            const int32_t result = OnSampleDescription(atom.pStart, atom.nSize);
            if (result != 0)
                return result;
        } else if (atom.Is("stts")) {
            stts = atom, hasStts = true;
        } else if (atom.Is("stsc")) {
            stsc = atom, hasStsc = true;
        } else if (atom.Is("stsz")) {
            stsz = atom, hasStsz = true;
        } else if (atom.Is("stco") || atom.Is("co64")) {
            stco = atom, hasStco = true, wideOffsets = atom.Is("co64");
        } else if (atom.Is("stss")) {
            stss = atom, hasStss = true;
        } else if (atom.Is("ctts")) {
            ctts = atom, hasCtts = true;
        }
    }
    // Every table's entry count is checked against the bytes of its atom.
    const auto fits = [](const Atom& table, uint64_t header, uint64_t entrySize, uint64_t count) {
        return table.Has(8, header) && count <= (table.BodySize() - header) / entrySize;
    };
    const uint32_t timeCount = stts.U32(12);
    if (!hasStts || !fits(stts, 8, 8, timeCount) || track.nTimeScale == 0) {
        theLogManager.LogTo(_szLogName, "CQTDataReader::Open sample times missing or cut (time scale %u)",
                            track.nTimeScale);
        return kNoTimes;
    }
    const uint32_t mapCount = stsc.U32(12);
    if (!hasStsc || !fits(stsc, 8, 12, mapCount)) {
        theLogManager.LogTo(_szLogName, "CQTDataReader::Open sample-to-chunk table missing or cut");
        return kNoSampleToChunk;
    }
    const uint32_t constantSize = stsz.U32(12);
    const uint32_t sizeCount = stsz.U32(16);
    if (!hasStsz || !stsz.Has(8, 12) || (constantSize == 0 && !fits(stsz, 12, 4, sizeCount))) {
        theLogManager.LogTo(_szLogName, "CQTDataReader::Open sample sizes missing or cut");
        return kNoSizes;
    }
    const uint32_t chunkCount = stco.U32(12);
    if (!hasStco || !fits(stco, 8, wideOffsets ? 8 : 4, chunkCount)) {
        theLogManager.LogTo(_szLogName, "CQTDataReader::Open chunk offsets missing or cut");
        return kNoChunkOffsets;
    }
    const uint32_t syncCount = hasStss && fits(stss, 8, 4, stss.U32(12)) ? stss.U32(12) : 0;

    const bool video = track.Is("vide"), sound = track.Is("soun"), timecode = track.Is("tmcd");
    if (hasCtts && fits(ctts, 8, 8, ctts.U32(12)) && ctts.U32(12) > 0) {
        // The edit list counts presentation time: the first sample is shown its composition offset late.
        const int64_t shown = static_cast<int32_t>(ctts.U32(20));
        const uint64_t late = shown > 0 ? static_cast<uint64_t>(shown) : 0;
        track.nSkip = track.nSkip > late ? track.nSkip - late : 0;
    }
    uint64_t perSample = constantSize;
    const std::vector<uint8_t>& d = track.description;
    if (sound && constantSize == 1 && d.size() >= 44) {
        // Uncompressed sound counts single bytes: the real unit is one audio frame.
        if (d[33] != 0 && d.size() >= 64)
            perSample = Be32(&d[60]);
        else if (SameType(reinterpret_cast<const char*>(&d[20]), "in24"))
            perSample = uint64_t{d[41]} * 3;
        else
            perSample = (uint64_t{d[43]} >> 3) * d[41];
        if (perSample == 0) {
            theLogManager.LogTo(_szLogName, "CQTDataReader::Open sound description gives no frame size");
            return kNoSizes;
        }
    }

    track.bHasSync = syncCount != 0;
    uint32_t nextSync = 1, syncIndex = 1;
    uint32_t runIndex = 0, runLeft = 0;
    uint32_t duration = static_cast<uint32_t>(0.04 * track.nTimeScale);
    const auto nextDuration = [&] {
        while (runLeft == 0 && runIndex < timeCount) {
            const uint8_t* run = stts.At(16) + uint64_t{runIndex} * 8;
            runLeft = Be32(run);
            duration = Be32(run + 4);
            ++runIndex;
            if (video && runLeft != 0)
                DetectSystem(static_cast<double>(duration) / track.nTimeScale);
        }
        if (runLeft > 0)
            --runLeft;
        return duration;
    };

    double runningTime = 0.0;
    uint64_t sampleNumber = 1;  // 1-based, as the tables count
    size_t records = 0;
    uint32_t mapIndex = 0;
    for (uint32_t c = 0; c < chunkCount; ++c) {
        while (mapIndex + 1 < mapCount && Be32(stsc.At(16) + uint64_t{mapIndex + 1} * 12) <= c + 1)
            ++mapIndex;
        const uint32_t perChunk = mapCount ? Be32(stsc.At(16) + uint64_t{mapIndex} * 12 + 4) : 0;
        QTChunk chunk;
        chunk.nOffset =
            wideOffsets ? ReadBigEndian64(stco.At(16) + uint64_t{c} * 8) : Be32(stco.At(16) + uint64_t{c} * 4);
        chunk.dStartTime = runningTime;
        chunk.nByteSize = 0;
        if (video || (sound && constantSize == 0)) {
            uint64_t offset = 0, timeOffset = 0;
            for (uint32_t s = 0; s < perChunk; ++s, ++sampleNumber) {
                if (sampleNumber > sizeCount)
                    break;
                const uint32_t sampleSize = constantSize ? constantSize : Be32(stsz.At(20) + (sampleNumber - 1) * 4);
                bool sync = false;
                if (track.bHasSync && sampleNumber == nextSync) {
                    sync = true;
                    nextSync = syncIndex < syncCount ? Be32(stss.At(16) + uint64_t{syncIndex++} * 4) : 0;
                }
                const uint32_t units = nextDuration();
                if (video && track.nSkip != 0) {
                    chunk.nOffset += sampleSize;
                    track.nSkip = track.nSkip > units ? track.nSkip - units : 0;
                    continue;
                }
                if (++records > kMaxSamplesPerTrack) {
                    theLogManager.LogTo(_szLogName, "CQTDataReader::Open more than %zu samples in a track",
                                        kMaxSamplesPerTrack);
                    return kNoSizes;
                }
                chunk.samples.push_back({offset, sampleSize, timeOffset, sync});
                offset += sampleSize;
                timeOffset += units;
                runningTime += static_cast<double>(units) / track.nTimeScale;
            }
            chunk.nByteSize = offset;
        } else if (sound) {
            const uint64_t bytes = perSample * perChunk;
            if (bytes > UINT32_MAX) {
                theLogManager.LogTo(_szLogName, "CQTDataReader::Open sound chunk of %llu bytes",
                                    static_cast<unsigned long long>(bytes));
                return kNoSizes;
            }
            const uint32_t units = nextDuration();
            if (perChunk > 0)
                chunk.samples.push_back({0, static_cast<uint32_t>(bytes), 0, true});
            chunk.nByteSize = bytes;
            runningTime += static_cast<double>(units) * perChunk / track.nTimeScale;
        } else if (timecode) {
            const uint32_t sampleSize = constantSize ? constantSize : sizeCount ? Be32(stsz.At(20)) : 0;
            chunk.samples.push_back({0, sampleSize, 0, true});
            chunk.nByteSize = sampleSize;
        }
        if (!chunk.samples.empty())
            track.chunks.push_back(std::move(chunk));
    }
    return 0;
}

void CQTDataReader::DetectSystem(double secondsPerSample)
{
    TcSystem found = 3;
    // Durations far from any frame rate keep the default.
    if (secondsPerSample > 0.0 && secondsPerSample < 10.0) {
        const auto matches = [secondsPerSample](uint32_t scale, uint32_t slack) {
            for (TcSystem system = 1; system <= 8; ++system) {
                const double frame = CTimeCode::GetSystemFieldsPerFrame(system) * CTimeCode::GetFieldDuration(system);
                if (static_cast<int64_t>(secondsPerSample / frame * scale + slack) / scale == 1)
                    return system;
            }
            return TcSystem{0};
        };
        found = matches(1000, 1);
        if (found == 0)
            found = matches(100, 3);
        if (found == 0)
            found = 3;
    }
    _nSystem = found;
    _dFieldDuration = CTimeCode::GetFieldDuration(found);
}

void CQTDataReader::ReadStartField(const QTTrack& track)
{
    if (track.chunks.empty())
        return;
    uint8_t bytes[4];
    if (CopyAt(track.chunks[0].nOffset, bytes, 4) != kDataOk)
        return;
    const uint32_t frame = Be32(bytes);
    uint32_t fields = _nSystem < 6 ? frame * 2 : frame;
    const std::vector<uint8_t>& d = track.description;
    if (d.size() > 49 && (d[39] & 1) == 0 && (_nSystem == 4 || _nSystem == 7)) {
        // A count of non-drop frames: the same clock time in the drop-frame system.
        uint16_t h = 0, m = 0, s = 0, f = 0;
        CTimeCode(fields, _nSystem + 1).GetHMSF(h, m, s, f);
        const CTimeCode drop(h, m, s, f, false, _nSystem);
        fields = drop.GetFrameCount() * CTimeCode::GetSystemFieldsPerFrame(_nSystem);
    }
    _nStartField = static_cast<int32_t>(fields);
}

int32_t CQTDataReader::UseTrack(QTTrack* track)
{
    _pTrack = track;
    _place = {0, 0};
    _dTime = 0.0;
    _bFirstRead = true;
    if (_bReopen) {
        std::string wanted = _szMovieName;
        if (track->bExternal) {
            const size_t slash = _szMovieName.find_last_of("/\\");
            wanted =
                (slash == std::string::npos ? std::string() : _szMovieName.substr(0, slash + 1)) + track->szDataFile;
        }
        if (wanted != _szOpenedName) {
            _szOpenedName.clear();
            if (_pSource->Open(wanted.c_str(), 0, 0) != 0) {
                theLogManager.LogTo(_szLogName, "CQTDataReader::Open cannot open the data file %s", wanted.c_str());
                return kNoDataFile;
            }
            _szOpenedName = wanted;
            DropBuffer();
        }
    }
    DropSamplesPastEnd(*track);
    if (track->chunks.empty()) {
        theLogManager.LogTo(_szLogName, "CQTDataReader::Open no sample lies within the file");
        return kNoChunks;
    }
    const QTChunk& first = track->chunks[0];
    uint64_t bufferSize = first.nByteSize >= kLargeChunk ? uint64_t{first.samples[0].nSize} * 4 : first.nByteSize;
    bufferSize = std::clamp<uint64_t>(bufferSize, kInitialBufferSize, kMaxBuffer);
    if (bufferSize != _nBufferSize)
        ResizeBuffer(static_cast<uint32_t>(bufferSize));
    Seek(first.nOffset);
    return 0;
}

void CQTDataReader::DropSamplesPastEnd(QTTrack& track)
{
    _dCutTime = -1.0;
    const uint64_t fileSize = SourceSize();
    if (fileSize == 0)
        return;
    // A track's chunks lie in file order, so those cut off are the last ones.
    std::vector<QTChunk>& chunks = track.chunks;
    while (!chunks.empty()) {
        QTChunk& chunk = chunks.back();
        std::vector<QTSample>& samples = chunk.samples;
        const auto pastEnd = [&](const QTSample& sample) {
            return chunk.nOffset > fileSize || sample.nOffset > fileSize - chunk.nOffset ||
                   sample.nSize > fileSize - chunk.nOffset - sample.nOffset;
        };
        if (samples.empty() || !pastEnd(samples.back()))
            break;
        const QTSample dropped = samples.back();
        samples.pop_back();
        _dCutTime = chunk.dStartTime + static_cast<double>(dropped.nTimeOffset) / track.nTimeScale;
        chunk.nByteSize = samples.empty() ? 0 : samples.back().nOffset + samples.back().nSize;
        if (samples.empty())
            chunks.pop_back();
    }
    if (_dCutTime >= 0.0)
        theLogManager.LogTo(_szLogName, "CQTDataReader::Open the file ends before the samples from %.3f s", _dCutTime);
}

bool CQTDataReader::IsSync(Place place) const
{
    return _pTrack->chunks[place.nChunk].samples[place.nSample].bSync;
}

bool CQTDataReader::StepBack(Place& place) const
{
    if (place.nSample > 0) {
        --place.nSample;
        return true;
    }
    if (place.nChunk == 0)
        return false;
    --place.nChunk;
    place.nSample = _pTrack->chunks[place.nChunk].samples.size() - 1;
    return true;
}

double CQTDataReader::TimeOf(Place place) const
{
    const QTChunk& chunk = _pTrack->chunks[place.nChunk];
    return chunk.dStartTime + static_cast<double>(chunk.samples[place.nSample].nTimeOffset) / _pTrack->nTimeScale;
}

int32_t CQTDataReader::ReadUnit(uint8_t* buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    const std::vector<QTChunk>& chunks = _pTrack->chunks;
    const auto stepForward = [&chunks](Place& place) {
        if (++place.nSample >= chunks[place.nChunk].samples.size())
            place = {place.nChunk + 1, 0};
        return place.nChunk < chunks.size();
    };
    Place first = _place;
    if (first.nChunk >= chunks.size())
        return kNoMoreData;
    if (_pTrack->bHasSync)
        while (!IsSync(first))
            if (!stepForward(first))
                return kNoMoreData;

    // The whole unit is measured before anything is consumed.
    const uint32_t header = _bFirstRead ? WriteStreamHeader(nullptr) : 0;
    uint64_t total = header;
    Place end = first;
    do
        total += chunks[end.nChunk].samples[end.nSample].nSize;
    while (stepForward(end) && _pTrack->bHasSync && !IsSync(end));
    if (total > size) {
        if (sizeOut)
            *sizeOut = static_cast<uint32_t>(std::min<uint64_t>(total, UINT32_MAX));
        return kBufferTooSmall;
    }

    uint8_t* out = buffer;
    if (header)
        out += WriteStreamHeader(out);
    for (Place p = first; p.nChunk < end.nChunk || (p.nChunk == end.nChunk && p.nSample < end.nSample);) {
        const QTChunk& chunk = chunks[p.nChunk];
        const size_t last = p.nChunk == end.nChunk ? end.nSample : chunk.samples.size();
        const QTSample& from = chunk.samples[p.nSample];
        const QTSample& to = chunk.samples[last - 1];
        const uint64_t bytes = to.nOffset + to.nSize - from.nOffset;
        if (chunk.nOffset > UINT64_MAX - from.nOffset || CopyAt(chunk.nOffset + from.nOffset, out, bytes) != kDataOk)
            return kNoMoreData;
        out += bytes;
        p = {p.nChunk + 1, 0};
    }
    _dTime = TimeOf(first);
    _place = end;
    _bFirstRead = false;
    if (sizeOut)
        *sizeOut = static_cast<uint32_t>(total);
    if (secondsOut)
        *secondsOut = _dTime;
    return kDataOk;
}

int32_t CQTDataReader::GetNextData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (!_pTrack)
        return kNotSupported;
    if (_place.nChunk >= _pTrack->chunks.size())
        return kNoMoreData;
    if (!buffer || !*buffer)
        return kNoBuffer;
    return ReadUnit(*buffer, size, sizeOut, secondsOut);
}

int32_t CQTDataReader::GetPrevData(uint8_t** buffer, uint32_t size, uint32_t* sizeOut, double* secondsOut)
{
    if (!_pTrack)
        return kNotSupported;
    if (!buffer || !*buffer)
        return kNoBuffer;
    Place place = _place;
    if (!StepBack(place))
        return kNoMoreData;
    if (_pTrack->bHasSync)
        while (!IsSync(place) && StepBack(place)) {
        }
    const Place saved = _place;
    _place = place;
    const int32_t result = ReadUnit(*buffer, size, sizeOut, secondsOut);
    // Repeated calls walk backwards: the reader stays on the unit it delivered.
    _place = result == kDataOk ? place : saved;
    return result;
}

int32_t CQTDataReader::GoToTime(double* seconds)
{
    if (!seconds || !_pTrack)
        return -1;
    const double t = *seconds > 0.0 ? *seconds : 0.0;
    const double wanted = t + 0.000001;
    const std::vector<QTChunk>& chunks = _pTrack->chunks;
    const auto after = std::upper_bound(chunks.begin(), chunks.end(), wanted,
                                        [](double time, const QTChunk& chunk) { return time < chunk.dStartTime; });
    _bFirstRead = true;
    if (after == chunks.begin()) {
        _place = {0, 0};
        *seconds = t;
        return kNoMoreData;
    }
    Place place{static_cast<size_t>(after - chunks.begin()) - 1, 0};
    const QTChunk& chunk = chunks[place.nChunk];
    while (place.nSample + 1 < chunk.samples.size() && TimeOf({place.nChunk, place.nSample + 1}) <= wanted)
        ++place.nSample;
    if (_pTrack->bHasSync)
        while (!IsSync(place))
            if (!StepBack(place)) {
                GoToDataStart();
                return kNoMoreData;
            }
    _place = place;
    const QTChunk& at = chunks[place.nChunk];
    Seek(at.nOffset + at.samples[place.nSample].nOffset);
    _dTime = TimeOf(place);
    *seconds = _dTime;
    return 0;
}

int32_t CQTDataReader::GoToFieldOffset(int64_t field)
{
    double seconds = static_cast<double>(field) * _dFieldDuration;
    return GoToTime(&seconds);
}

int32_t CQTDataReader::GoToDataStart()
{
    if (!_pTrack)
        return -1;
    _place = {0, 0};
    _bFirstRead = true;
    Seek(_pTrack->chunks[0].nOffset);
    return 0;
}

int32_t CQTDataReader::GoToDataEnd()
{
    if (!_pTrack)
        return -1;
    _place = {_pTrack->chunks.size(), 0};
    _bFirstRead = true;
    const QTChunk& last = _pTrack->chunks.back();
    Seek(last.nOffset + last.nByteSize);
    return 0;
}

int32_t CQTDataReader::GetInOut(int32_t* in, int32_t* out, int32_t* system)
{
    const double perField = static_cast<double>(_nMovieTimeScale) * _dFieldDuration;
    double fields = perField > 0.0 ? std::round(static_cast<double>(_nMovieDuration) / perField) : 0.0;
    if (_dCutTime >= 0.0 && _dFieldDuration > 0.0)
        fields = std::min(fields, std::round(_dCutTime / _dFieldDuration));
    if (in)
        *in = _nStartField;
    if (out)
        *out =
            static_cast<int32_t>(static_cast<uint32_t>(_nStartField) + static_cast<uint32_t>(std::min(fields, 4.0e9)));
    if (system)
        *system = static_cast<int32_t>(_nSystem);
    return 0;
}

uint32_t CQTDataReader::GetFormat(uint8_t** format)
{
    if (!format || !_pTrack || _pTrack->description.empty())
        return 0;
    *format = new uint8_t[_pTrack->description.size()];
    std::memcpy(*format, _pTrack->description.data(), _pTrack->description.size());
    return static_cast<uint32_t>(_pTrack->description.size());
}

bool CQTDataReader::GetVideoInfo(VideoInfo* info)
{
    if (!info || !SameType(_szTrackType, "vide"))
        return false;
    const std::vector<uint8_t> none;
    const std::vector<uint8_t>& d = _pTrack && _pTrack->Is("vide") ? _pTrack->description : none;
    VideoType type = Unknown_Video;
    if (d.size() >= 24) {
        const char* f = reinterpret_cast<const char*>(&d[20]);
        const auto is = [f](const char* name) { return SameType(f, name); };
        if (is("mjpa"))
            type = Mjpeg_Video;
        else if (is("jpeg"))
            type = MjpegFrame_Video;
        else if (is("dvc ") || is("dvcp"))
            type = DV25_Video;
        else if (is("dvpp") || is("dvpn") || is("QOdv"))
            type = DVCPro25_Video;
        else if (is("dv5p") || is("dv5n"))
            type = DVCPro50_Video;
        else if (f[0] == 'm' && f[1] == 'x')
            type = f[2] == '3' ? IMX30_Video : f[2] == '4' ? IMX40_Video : f[2] == '5' ? IMX50_Video : Unknown_Video;
        else if (is("QOmp"))
            type = IMX50_Video;
        else if (is("dvh5") || is("dvh6"))
            type = DVCPro100_Video;
        else if (is("dvhp") || is("dvhq"))
            type = DVCPro720P_Video;
        else if (is("QOdn")) {
            const uint32_t first = _pTrack->chunks.empty() ? 0 : _pTrack->chunks[0].samples[0].nSize;
            type = _pTrack->chunks.empty()      ? Hydrel_Video
                   : vc3::IsHighRateSize(first) ? HydrelHigh_Video
                                                : Unknown_Video;
        } else if (f[0] == 'a' && f[1] == 'p' && f[2] == 'c')
            type = f[3] == 'h' ? ProResHigh_Video : ProRes_Video;
    }
    info->nVideoType = type;
    info->nWidth = d.size() >= 52 ? uint32_t{d[48]} << 8 | d[49] : 0;
    info->nHeight = d.size() >= 52 ? uint32_t{d[50]} << 8 | d[51] : 0;
    info->bProgressive = _nSystem >= 6;
    info->nStandard = info->nHeight < 576 ? 1 : info->nHeight < 720 ? 2 : info->nHeight < 1080 ? 3 : 4;
    if (info->nStandard >= 3) {
        info->nAspect = 3;
    } else {
        info->nAspect = 0;
        for (size_t i = 24; i + 12 <= d.size(); ++i) {
            if (std::memcmp(&d[i], "pasp", 4) != 0)
                continue;
            const uint32_t h = Be32(&d[i + 4]), v = Be32(&d[i + 8]);
            const bool wide =
                (info->nStandard == 2 && h == 118 && v == 81) || (info->nStandard == 1 && h == 40 && v == 33);
            info->nAspect = wide ? 3 : 2;
            break;
        }
    }
    return true;
}

int32_t CQTDataReader::GetAudioChannels(int32_t* channels, int32_t max)
{
    if (!SameType(_szTrackType, "soun"))
        return 1;
    const auto count = [](const QTTrack& track) {
        return track.description.size() > 41 ? int32_t{track.description[41]} : 1;
    };
    if (!channels)
        return _pTrack ? count(*_pTrack) : 1;
    int32_t written = 0;
    for (const auto& track : _tracks)
        if (track->Is("soun") && written < max)
            channels[written++] = count(*track);
    return written;
}

int32_t CQTDataReader::SelectAudioStream(int32_t index)
{
    int32_t n = 0;
    for (const auto& track : _tracks) {
        if (!track->Is(_szTrackType))
            continue;
        if (n++ == index)
            return track->chunks.empty() ? 1 : UseTrack(track.get()) == 0 ? 0 : 1;
    }
    return 1;
}

int32_t CQTDataReader::GetCurrentFieldInfo(uint32_t*, uint32_t* second, uint8_t* code)
{
    if (second)
        *second = _pTrack ? _pTrack->chunks[0].samples[0].nSize : 0;
    if (code)
        *code = 0;
    return 0;
}

uint32_t CQTDataReader::WriteStreamHeader(uint8_t*)
{
    return 0;
}

int32_t CQTDataReader::OnSampleDescription(const uint8_t* atom, uint64_t size)
{
    if (_pParsing)
        _pParsing->description.insert(_pParsing->description.end(), atom, atom + size);
    return 0;
}
