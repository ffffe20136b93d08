#include "writers/quicktime/CQTFileWriter.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/CLogManager.h"
#include "writers/formatdata/factory/FormatDataWriterFactory.h"

namespace
{
// The value between an opening tag and its closing tag; false when either is missing.
bool TagValue(const std::string& text, const std::string& tag, std::string* value)
{
    const std::string open = "<" + tag + ">", close = "</" + tag + ">";
    const size_t start = text.find(open);
    if (start == std::string::npos)
        return false;
    const size_t end = text.find(close, start + open.size());
    if (end == std::string::npos)
        return false;
    *value = text.substr(start + open.size(), end - start - open.size());
    return true;
}

std::string FileNameOf(const std::string& path)
{
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string WithoutExtension(const std::string& path)
{
    const size_t slash = path.find_last_of("\\/");
    const size_t dot = path.rfind('.');
    return dot == std::string::npos || (slash != std::string::npos && dot < slash) ? path : path.substr(0, dot);
}
}  // namespace

CQTFileWriter::CQTFileWriter(bool selfContained) : _bSelfContained(selfContained) {}

CQTFileWriter::~CQTFileWriter()
{
    ReleaseMovie();
}

void CQTFileWriter::SetParameters(const char* parameters, const char* metadataPath)
{
    _bCreateXml = false;
    _szExternalPath.clear();
    _szClipName.clear();
    const std::string text = parameters ? parameters : "";
    std::string value;
    if (TagValue(text, "CreateXml", &value))
        _bCreateXml = std::atoi(value.c_str()) != 0;
    TagValue(text, "ExternalPath", &_szExternalPath);
    TagValue(text, "ClipName", &_szClipName);
    TagValue(text, "LoggingInfo", &_szLoggingInfo);
    if (metadataPath)
        _szMetadataPath = metadataPath;
}

std::string CQTFileWriter::FieldDominanceName()
{
    if (_nStandard >= 6)
        return "none";
    return _nStandard == 4 ? "lower" : "upper";
}

uint32_t CQTFileWriter::VideoTimeScale() const
{
    switch (_nStandard) {
        case 4:
            return 2997;
        case 6:
            return 5000;
        case 7:
            return 5994;
        default:
            return 2500;
    }
}

int CQTFileWriter::Write(CKorvoFormatDataWriter& writer, const void* data, uint32_t size, uint64_t* position)
{
    uint32_t written = 0;
    int result = writer.WriteData(data, size, &written);
    *position += written;
    if (result == 0 && written != size)
        result = -1;
    if (result != 0 && _nFailure == 0)
        _nFailure = result;
    return result;
}

int CQTFileWriter::CreateMovieWriter(const char* path)
{
    ReleaseMovie();
    _movie.reset(CreateDataWriter(path, kBufferSize));
    if (!_movie)
        return -1;
    _szMoviePath = path;
    return 0;
}

int CQTFileWriter::StartMovie(uint8_t standardCode, int audioChannels, bool stereoPairs, const CTimeCode& start,
                              uint32_t durationFields)
{
    if (!_movie)
        return -1;
    _nStandard = standardCode;
    _nFieldsPerFrame = standardCode >= 6 ? 1 : 2;
    _nWidth = _nWidthOverride > 0 ? _nWidthOverride : 720;
    _nHeight = _nHeightOverride > 0 ? _nHeightOverride : standardCode == 3 ? 576 : 480;
    _nAnnounced = durationFields ? durationFields / _nFieldsPerFrame : standardCode == 3 ? 180000 : 215784;
    const int channels = std::clamp(audioChannels, 0, 16);
    _bStereoPairs = stereoPairs;
    _nAudioTracks = std::min(stereoPairs ? channels / 2 : channels, kMaxAudioTracks);
    _audioSamples.assign(static_cast<size_t>(_nAudioTracks), 0);
    _audioChunks.assign(static_cast<size_t>(_nAudioTracks), {});
    _audioSidePos.assign(static_cast<size_t>(_nAudioTracks), 0);
    _nFrames = 0;
    _currentChunk.clear();
    _videoChunks.clear();
    _frameSizes.clear();
    _nMoviePos = _nVideoSidePos = 0;
    _bMovieFinal = false;
    _nFailure = 0;

    if (!_bSelfContained) {
        // Side files beside the movie: name.vid and name.000.pcm, name.001.pcm, ...
        const std::string base = WithoutExtension(_szMoviePath);
        const size_t slash = base.find_last_of("\\/");
        const std::string folder = slash == std::string::npos ? "" : base.substr(0, slash + 1);
        const std::string name = base.substr(folder.size()).substr(0, 55);
        _video.reset(CreateDataWriter((folder + name + ".vid").c_str(), kBufferSize));
        if (!_video)
            return -1;
        _audio.clear();
        for (int i = 0; i < _nAudioTracks; ++i) {
            char suffix[16];
            std::snprintf(suffix, sizeof suffix, ".%03d.pcm", i);
            _audio.emplace_back(CreateDataWriter((folder + name + suffix).c_str(), kBufferSize));
            if (!_audio.back())
                return -1;
        }
    }

    _start = start != CTimeCode() ? start : CTimeCode(0u, standardCode == 3 ? 3u : standardCode >= 6 ? 6u : 4u);
    _bTimecodeSample = _bTimecodeTrack && start != CTimeCode();
    QTAtom wide("wide");
    std::vector<uint8_t> head;
    wide.Write(&head);
    _nMdatStart = _nPrefixBytes + head.size();
    const uint32_t mdatSize = _bTimecodeSample ? 12 : 8;
    for (int i = 3; i >= 0; --i)
        head.push_back(static_cast<uint8_t>(mdatSize >> (8 * i)));
    head.insert(head.end(), {'m', 'd', 'a', 't'});
    if (_bTimecodeSample) {
        const uint32_t frame = start.GetFrameCount();
        for (int i = 3; i >= 0; --i)
            head.push_back(static_cast<uint8_t>(frame >> (8 * i)));
    }
    return Write(*_movie, head.data(), static_cast<uint32_t>(head.size()), &_nMoviePos);
}

int CQTFileWriter::PadMovie()
{
    const uint32_t pad = static_cast<uint32_t>((kAlignment - _nMoviePos % kAlignment) % kAlignment);
    if (pad == 0)
        return 0;
    static const uint8_t zeros[kAlignment] = {};
    return Write(*_movie, zeros, pad, &_nMoviePos);
}

int CQTFileWriter::CloseVideoChunk(bool closing)
{
    if (_currentChunk.empty())
        return 0;
    _videoChunks.push_back({_currentChunk.front().offset, static_cast<uint32_t>(_currentChunk.size())});
    _currentChunk.clear();
    if (!_bSelfContained && _videoChunks.size() == 2 && !_bMovieFinal && !closing) {
        // The editing system may open the movie now: it announces the whole clip.
        int result = WriteMovieAtom(_nAnnounced);
        int closed = _movie->Close();
        _movie.reset();
        _bMovieFinal = true;
        return result != 0 ? result : closed;
    }
    return 0;
}

int CQTFileWriter::WriteVideoFrame(const uint8_t* data, uint32_t size)
{
    if (!data || size == 0)
        return -1;
    int result = 0;
    uint64_t offset = 0;
    if (_bSelfContained) {
        if (!_movie)
            return -1;
        if (_currentChunk.empty() && (result = PadMovie()) != 0)
            return result;
        offset = _nMoviePos;
        result = Write(*_movie, data, size, &_nMoviePos);
    } else {
        offset = _nVideoSidePos;
        result = Write(*_video, data, size, &_nVideoSidePos);
    }
    if (result != 0)
        return result;
    _currentChunk.push_back({offset, size});
    _frameSizes.push_back(size);
    ++_nFrames;
    if (_currentChunk.size() >= kSamplesPerChunk)
        return CloseVideoChunk();
    return 0;
}

int CQTFileWriter::WriteAudioChunk(int track, const uint8_t* data, uint32_t bytes, uint32_t samples)
{
    if (track < 0 || track >= _nAudioTracks || samples == 0)
        return 0;
    int result = 0;
    uint64_t offset = 0;
    if (_bSelfContained) {
        if (!_movie)
            return -1;
        if ((result = CloseVideoChunk()) != 0 || (result = PadMovie()) != 0)
            return result;
        offset = _nMoviePos;
        result = Write(*_movie, data, bytes, &_nMoviePos);
    } else {
        offset = _audioSidePos[track];
        result = Write(*_audio[track], data, bytes, &_audioSidePos[track]);
    }
    if (result != 0)
        return result;
    _audioChunks[track].push_back({offset, samples});
    _audioSamples[track] += samples;
    return 0;
}

void CQTFileWriter::AddDataReference(QTAtom& minf, const std::string& sideFile)
{
    if (!sideFile.empty())
        minf.Add("hdlr")
            .U32(0)
            .Text("dhlr")
            .Text("alis")
            .Text("appl")
            .U32(1)
            .U32(0x0001002A)
            .Pascal("Apple Alias Data Handler");
    QTAtom& dref = minf.Add("dinf").Add("dref");
    dref.U32(0).U32(1);
    if (sideFile.empty()) {
        dref.Add("url ").U32(1);
        return;
    }
    // A version 2 file alias record naming the side file in the folder "data" of the volume "DATA".
    const std::string name = sideFile.substr(0, 63);
    QTAtom record("rec ");
    record.Zero(4).U16(0).U16(2);  // user type, record size (set below), version
    record.U16(0).Pascal("DATA", 28);
    record.U32(0).U16(0).U16(0).U32(0);  // volume created, file system type, disk type, parent folder id
    record.Pascal(name, 64);
    record.U32(0).U32(0).Zero(4).Zero(4);  // file number, file created, file type, creator
    record.U16(1).U16(1);                  // levels from the alias up and down to the target
    record.U32(0).U16(0).Zero(10);         // volume attributes, volume file system id, reserved
    auto tag = [&](uint16_t type, const std::string& value) {
        record.U16(type).U16(static_cast<uint32_t>(value.size())).Text(value);
        if (value.size() % 2)
            record.U8(0);
    };
    tag(0, "data");
    tag(2, "DATA:data:" + name);
    tag(11, std::string("\x3C\xC1\x07\xBB\x67\x00", 6));
    record.U16(0xFFFF).U16(0);
    std::vector<uint8_t> bytes;
    record.Write(&bytes);
    bytes.erase(bytes.begin(), bytes.begin() + 8);
    const size_t size = bytes.size();
    bytes[4] = static_cast<uint8_t>(size >> 8);
    bytes[5] = static_cast<uint8_t>(size);
    dref.Add("alis").U32(0).Bytes(bytes);
}

void CQTFileWriter::AddSampleToChunk(QTAtom& stbl, const std::vector<Chunk>& chunks)
{
    // One entry where the samples per chunk change.
    std::vector<std::pair<uint32_t, uint32_t>> entries;
    for (size_t i = 0; i < chunks.size(); ++i)
        if (entries.empty() || entries.back().second != chunks[i].count)
            entries.emplace_back(static_cast<uint32_t>(i + 1), chunks[i].count);
    QTAtom& stsc = stbl.Add("stsc");
    stsc.U32(0).U32(entries.size());
    for (const auto& [first, count] : entries)
        stsc.U32(first).U32(count).U32(1);
}

void CQTFileWriter::AddChunkOffsets(QTAtom& stbl, const std::vector<Chunk>& chunks, bool large)
{
    QTAtom& stco = stbl.Add(large ? "co64" : "stco");
    stco.U32(0).U32(chunks.size());
    for (const Chunk& c : chunks)
        large ? stco.U64(c.offset) : stco.U32(c.offset);
}

void CQTFileWriter::AddVideoTrack(QTAtom& moov, uint64_t frames)
{
    const uint64_t durationMs = MovieDurationMs(frames);
    QTAtom& trak = moov.Add("trak");
    if (_bTimecodeSample)
        trak.Add("tref").Add("tmcd").U32(static_cast<uint32_t>(_nAudioTracks + 2));
    int width = _nWidthOverride > 0 ? _nWidthOverride : 720;
    if (_nAspect == 3 && width == 720)
        width = _nStandard == 3 ? 1024 : 854;
    trak.Add("tkhd")
        .U32(0x0F)
        .U32(0)
        .U32(0)
        .U32(1)
        .U32(0)
        .U32(durationMs)
        .Zero(8)
        .U16(0)
        .U16(0)
        .U16(0)
        .U16(0)
        .Matrix()
        .U32(static_cast<uint32_t>(width) << 16)
        .U32(static_cast<uint32_t>(_nHeight) << 16);
    trak.Add("edts").Add("elst").U32(0).U32(1).U32(durationMs).U32(0).U32(0x10000);
    trak.Add("load").Zero(14).U8(1).U8(0);
    QTAtom& mdia = trak.Add("mdia");
    mdia.Add("mdhd").U32(0).U32(0).U32(0).U32(VideoTimeScale()).U32(frames * 100).U16(0).U16(0);
    mdia.Add("hdlr").U32(0).Text("mhlr").Text("vide").U32(0).U32(0).U32(0).U8(0);
    QTAtom& minf = mdia.Add("minf");
    minf.Add("vmhd").U32(1).U16(0x40).U16(0x8000).U16(0x8000).U16(0x8000);
    AddDataReference(minf, _bSelfContained ? "" : FileNameOf(WithoutExtension(_szMoviePath)).substr(0, 55) + ".vid");
    QTAtom& stbl = minf.Add("stbl");
    QTAtom& stsd = stbl.Add("stsd");
    stsd.U32(0).U32(1);
    WriteSampleDescription(stsd);
    stbl.Add("stts").U32(0).U32(1).U32(frames).U32(100);
    const bool large = _nMoviePos >= _nLargeFile;
    if (_bSelfContained) {
        AddSampleToChunk(stbl, _videoChunks);
        QTAtom& stsz = stbl.Add("stsz");
        const bool same =
            std::all_of(_frameSizes.begin(), _frameSizes.end(), [&](uint32_t s) { return s == _frameSizes.front(); });
        if (same && !_frameSizes.empty()) {
            stsz.U32(0).U32(_frameSizes.front()).U32(_frameSizes.size());
        } else {
            stsz.U32(0).U32(0).U32(_frameSizes.size());
            for (uint32_t s : _frameSizes)
                stsz.U32(s);
        }
        AddChunkOffsets(stbl, _videoChunks, large);
    } else {
        const uint64_t size = _frameSizes.empty() ? 0 : _frameSizes.front();
        // Chunks of 20 frames, the last one holding the rest; a clip shorter than a chunk is one chunk.
        QTAtom& stsc = stbl.Add("stsc");
        const uint64_t whole = frames / kSamplesPerChunk, rest = frames % kSamplesPerChunk;
        stsc.U32(0).U32((whole > 0) + (rest > 0));
        if (whole > 0)
            stsc.U32(1).U32(kSamplesPerChunk).U32(1);
        if (rest > 0)
            stsc.U32(whole + 1).U32(rest).U32(1);
        stbl.Add("stsz").U32(0).U32(size).U32(frames);
        const uint64_t chunks = (frames + kSamplesPerChunk - 1) / kSamplesPerChunk;
        QTAtom& co64 = stbl.Add("co64");
        co64.U32(0).U32(chunks);
        for (uint64_t k = 0; k < chunks; ++k)
            co64.U64(k * kSamplesPerChunk * size);
    }
}

void CQTFileWriter::AddAudioTrack(QTAtom& moov, int track, uint64_t frames)
{
    const uint64_t durationMs = MovieDurationMs(frames);
    // A reference movie announced before the end counts the sound by the announced duration.
    const uint64_t samples = _bSelfContained || _bRealCounts ? _audioSamples[track] : durationMs * 48;
    QTAtom& trak = moov.Add("trak");
    trak.Add("tkhd")
        .U32(0x0F)
        .U32(0)
        .U32(0)
        .U32(static_cast<uint32_t>(track + 2))
        .U32(0)
        .U32(durationMs)
        .Zero(8)
        .U16(0)
        .U16(0)
        .U16(0x0100)
        .U16(0)
        .Matrix()
        .U32(0)
        .U32(0);
    trak.Add("edts").Add("elst").U32(0).U32(1).U32(durationMs).U32(0).U32(0x10000);
    QTAtom& mdia = trak.Add("mdia");
    mdia.Add("mdhd").U32(0).U32(0).U32(0).U32(48000).U32(samples).U16(0).U16(0);
    mdia.Add("hdlr").U32(0).Text("mhlr").Text("soun").U32(0).U32(0).U32(0).U8(0);
    QTAtom& minf = mdia.Add("minf");
    minf.Add("smhd").U32(0).U16(0).U16(0);
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, ".%03d.pcm", track);
    AddDataReference(minf, _bSelfContained ? "" : FileNameOf(WithoutExtension(_szMoviePath)).substr(0, 55) + suffix);
    QTAtom& stbl = minf.Add("stbl");
    QTAtom& stsd = stbl.Add("stsd");
    stsd.U32(0).U32(1);
    stsd.Add(_b24Bit ? "in24" : "sowt")
        .Zero(6)
        .U16(1)
        .U16(0)
        .U16(0)
        .U32(0)
        .U16(static_cast<uint32_t>(AudioChannelsPerTrack()))
        .U16(_b24Bit ? 24 : 16)
        .U16(0)
        .U16(0)
        .U32(48000u << 16);
    stbl.Add("stts").U32(0).U32(1).U32(samples).U32(1);
    stbl.Add("stsz").U32(0).U32(1).U32(samples);
    const bool large = _nMoviePos >= _nLargeFile;
    if (_bSelfContained) {
        AddChunkOffsets(stbl, _audioChunks[track], large);
        AddSampleToChunk(stbl, _audioChunks[track]);
    } else {
        QTAtom& stsc = stbl.Add("stsc");
        const uint64_t per = 96000, chunks = (samples + per - 1) / per;
        const bool rest = samples % per != 0;
        stsc.U32(0).U32(rest && chunks > 1 ? 2 : 1).U32(1).U32(rest && chunks == 1 ? samples % per : per).U32(1);
        if (rest && chunks > 1)
            stsc.U32(chunks).U32(samples % per).U32(1);
        QTAtom& co64 = stbl.Add("co64");
        co64.U32(0).U32(chunks);
        for (uint64_t k = 0; k < chunks; ++k)
            co64.U64(k * per * static_cast<uint64_t>(AudioBytesPerSample() * AudioChannelsPerTrack()));
    }
}

void CQTFileWriter::AddTimecodeTrack(QTAtom& moov, uint64_t frames)
{
    // The drop flag is the start timecode's; the 29.97 and 59.94 rates keep their time scale either way.
    const bool ntsc = _nStandard == 4 || _nStandard == 7;
    const bool drop = ntsc && _start.IsDropFrame();
    const uint32_t fps = _nStandard == 4 ? 30 : _nStandard == 6 ? 50 : _nStandard == 7 ? 60 : 25;
    QTAtom& trak = moov.Add("trak");
    trak.Add("tkhd")
        .U32(0x0D)
        .U32(0)
        .U32(0)
        .U32(static_cast<uint32_t>(_nAudioTracks + 2))
        .U32(0)
        .U32(MovieDurationMs(frames))
        .Zero(8)
        .U16(0)
        .U16(0)
        .U16(0)
        .U16(0)
        .Matrix()
        .U32(720u << 16)
        .U32(20u << 16);
    QTAtom& mdia = trak.Add("mdia");
    mdia.Add("mdhd").U32(0).U32(0).U32(0).U32(VideoTimeScale()).U32(_nAnnounced * 100).U16(0).U16(0);
    mdia.Add("hdlr").U32(0).Text("mhlr").Text("tmcd").Text("appl").U32(0).U32(0).U8(0);
    QTAtom& minf = mdia.Add("minf");
    QTAtom& gmhd = minf.Add("gmhd");
    gmhd.Add("gmin").U32(0).U16(0x40).U16(0x8000).U16(0x8000).U16(0x8000).U16(0).U16(0);
    gmhd.Add("tmcd").Add("tcmi").U32(0).U16(0).U16(0).U16(12).U16(0).Zero(6).U16(0xFFFF).U16(0xFFFF).U16(0xFFFF).Pascal(
        "System");
    minf.Add("hdlr").U32(0).Text("dhlr").Text("alis").U32(0).U32(0).U32(0).U8(0);
    AddDataReference(minf, "");
    QTAtom& stbl = minf.Add("stbl");
    QTAtom& stsd = stbl.Add("stsd");
    stsd.U32(0).U32(1);
    QTAtom& tmcd = stsd.Add("tmcd");
    tmcd.Zero(6).U16(1).U32(0).U32(drop ? 3 : 2).U32(ntsc ? 2997 : 2500).U32(100).U8(fps).U8(0);
    tmcd.Add("name").U16(4).U16(0).Text("test");
    stbl.Add("stts").U32(0).U32(1).U32(1).U32(frames * 100);
    stbl.Add("stsc").U32(0).U32(1).U32(1).U32(1).U32(1);
    stbl.Add("stsz").U32(0).U32(4).U32(1);
    stbl.Add("stco").U32(0).U32(1).U32(_nMdatStart + 8);
}

std::vector<uint8_t> CQTFileWriter::BuildMovieAtom(uint64_t frames)
{
    QTAtom moov("moov");
    moov.Add("mvhd")
        .U32(0)
        .U32(0)
        .U32(0)
        .U32(1000)
        .U32(MovieDurationMs(frames))
        .U32(0x10000)
        .U16(0x100)
        .Zero(10)
        .Matrix()
        .U32(0)
        .U32(0)
        .U32(0)
        .U32(0)
        .U32(0)
        .U32(0)
        .U32(static_cast<uint32_t>(_nAudioTracks + 2 + (_bTimecodeSample ? 1 : 0)));
    if (_nFrames > 0)
        AddVideoTrack(moov, frames);
    for (int t = 0; t < _nAudioTracks; ++t)
        AddAudioTrack(moov, t, frames);
    if (_bTimecodeSample)
        AddTimecodeTrack(moov, frames);
    std::vector<uint8_t> bytes;
    moov.Write(&bytes);
    return bytes;
}

int CQTFileWriter::WriteMovieAtom(uint64_t frames)
{
    const std::vector<uint8_t> atom = BuildMovieAtom(frames);
    // Written at the end only: the bytes before it are essence the sample tables point at.
    int result = Write(*_movie, atom.data(), static_cast<uint32_t>(atom.size()), &_nMoviePos);
    if (result != 0)
        theLogManager.Log("CQTFileWriter: FAILED to write the movie atom [%i]", result);
    else if (_bCreateXml)
        QTCreateXML(static_cast<int64_t>(frames));
    return result;
}

int CQTFileWriter::FinishMovie()
{
    // At the end a reference movie gets the real counts, not the announced ones.
    int result = CloseVideoChunk(true);
    if (_bSelfContained && _movie) {
        const uint64_t moovAt = _nMoviePos;
        if (result == 0)
            result = WriteMovieAtom(_nFrames);
        // The media data runs from its header to the movie atom.
        uint64_t ignored = 0;
        int fixed = 0;
        if (moovAt < _nLargeFile) {
            const uint64_t size = moovAt - _nMdatStart;
            const uint8_t bytes[4] = {static_cast<uint8_t>(size >> 24), static_cast<uint8_t>(size >> 16),
                                      static_cast<uint8_t>(size >> 8), static_cast<uint8_t>(size)};
            fixed = _movie->SeekPos64(_nMdatStart);
            if (fixed == 0)
                fixed = Write(*_movie, bytes, 4, &ignored);
        } else {
            // The wide atom and the old header become one 64-bit media data header.
            const uint64_t start = _nMdatStart - 8, size = moovAt - start;
            uint8_t bytes[16] = {0, 0, 0, 1, 'm', 'd', 'a', 't'};
            for (int i = 0; i < 8; ++i)
                bytes[8 + i] = static_cast<uint8_t>(size >> (56 - 8 * i));
            fixed = _movie->SeekPos64(start);
            if (fixed == 0)
                fixed = Write(*_movie, bytes, 16, &ignored);
        }
        if (result == 0)
            result = fixed;
    } else if (!_bSelfContained) {
        for (auto& side : _audio)
            if (side) {
                int closed = side->Close();
                result = result != 0 ? result : closed;
            }
        if (_video) {
            int closed = _video->Close();
            result = result != 0 ? result : closed;
        }
        if (_movie && !_bMovieFinal) {
            _bRealCounts = true;
            int written = WriteMovieAtom(_nFrames);
            _bRealCounts = false;
            result = result != 0 ? result : written;
        }
    }
    if (_movie) {
        int closed = _movie->Close();
        result = result != 0 ? result : closed;
    }
    if (result == 0 && _nFailure != 0)
        result = _nFailure;
    ReleaseMovie();
    return result;
}

void CQTFileWriter::ReleaseMovie()
{
    _movie.reset();
    _video.reset();
    _audio.clear();
}
