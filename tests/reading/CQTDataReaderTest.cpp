#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <sstream>

#include "common/CTimeCode.h"
#include "reading/formats/CQTDataReader.h"
#include "reading/formats/CQTMpeg4DataReader.h"
#include "support/TestEnv.h"
#include "tests/reading/FormatMedia.h"
#include "tests/reading/MXFTestMedia.h"
#include "tests/reading/QtAtoms.h"

namespace
{

using namespace formatmedia;
using namespace qtatoms;

struct QtCase {
    const char* szName;
    VideoType nVideoType;
    uint32_t nWidth;
    uint32_t nHeight;
    TcSystem nSystem;
    uint32_t nStandard;
    uint8_t nAspect;
    bool bSound;
};

void PrintTo(const QtCase& c, std::ostream* os)
{
    *os << c.szName;
}

const QtCase kCases[] = {
    {"qt_dvcp.mov", DV25_Video, 720, 576, 3, 2, 2, true},
    {"qt_dvc.mov", DV25_Video, 720, 480, 4, 1, 2, true},
    {"qt_dvpp.mov", DVCPro25_Video, 720, 576, 3, 2, 2, true},
    {"qt_dv5p.mov", DVCPro50_Video, 720, 576, 3, 2, 2, true},
    {"qt_dvh5.mov", DVCPro100_Video, 1440, 1080, 3, 4, 3, true},
    {"qt_apch.mov", ProResHigh_Video, 320, 240, 3, 1, 2, true},
    {"qt_apcn.mov", ProRes_Video, 320, 240, 3, 1, 2, true},
    {"qt_mjpa.mov", Mjpeg_Video, 320, 240, 3, 1, 2, true},
    {"qt_mx5p.mov", IMX50_Video, 720, 576, 3, 2, 2, true},  // the description gives the shown height
    {"qt_24.mov", Mjpeg_Video, 320, 240, 1, 1, 2, false},
};

class QtFiles : public testing::TestWithParam<QtCase>
{
};

TEST_P(QtFiles, VideoAsFfprobeListsIt)
{
    const QtCase& c = GetParam();
    int32_t result = -9;
    auto reader = OpenReader<CQTDataReader>(Media(c.szName), &result, Video_Data, std::string());
    ASSERT_TRUE(reader) << result;
    EXPECT_EQ(reader->GetSystem(), c.nSystem);
    VideoInfo info;
    ASSERT_TRUE(reader->GetVideoInfo(&info));
    EXPECT_EQ(info.nVideoType, c.nVideoType);
    EXPECT_EQ(info.nWidth, c.nWidth);
    EXPECT_EQ(info.nHeight, c.nHeight);
    EXPECT_EQ(info.nStandard, c.nStandard);
    EXPECT_EQ(info.nAspect, c.nAspect);
    EXPECT_EQ(reader->GetAudioChannels(nullptr, 0), 1);

    int32_t in = -1, out = -1, system = -1;
    ASSERT_EQ(reader->GetInOut(&in, &out, &system), 0);
    EXPECT_EQ(system, static_cast<int32_t>(c.nSystem));
    const size_t frames = ProbedPackets(c.szName, "v").size();
    EXPECT_EQ(static_cast<size_t>(out - in), frames * CTimeCode::GetSystemFieldsPerFrame(c.nSystem));
    // The timecode track's start, as ffprobe shows it.
    uint16_t h = 0, m = 0, s = 0, f = 0;
    CTimeCode(static_cast<uint32_t>(in), c.nSystem).GetHMSF(h, m, s, f);
    char text[32];
    std::snprintf(text, sizeof text, "%02u:%02u:%02u:%02u", h, m, s, f);
    const std::string probed = ProbedTimecode(c.szName);
    EXPECT_EQ(probed.empty() ? "00:00:00:00" : probed, text);

    uint8_t* format = nullptr;
    const uint32_t length = reader->GetFormat(&format);
    ASSERT_GT(length, 24u);
    EXPECT_EQ(std::memcmp(format + 4, "stsd", 4), 0);
    delete[] format;

    ExpectPackets(*reader, c.szName, "v", 1 << 20);
}

TEST_P(QtFiles, SoundAsFfprobeListsIt)
{
    const QtCase& c = GetParam();
    int32_t result = -9;
    auto reader = OpenReader<CQTDataReader>(Media(c.szName), &result, Audio_Data, std::string());
    if (!c.bSound) {
        EXPECT_EQ(result, CQTDataReader::kNoTrackOfKind);
        return;
    }
    ASSERT_TRUE(reader) << result;
    EXPECT_EQ(reader->GetAudioChannels(nullptr, 0), 1);
    int32_t channels[4] = {};
    EXPECT_EQ(reader->GetAudioChannels(channels, 4), 1);
    EXPECT_EQ(channels[0], 1);
    EXPECT_FALSE(reader->GetVideoInfo(nullptr));
    // One unit per chunk; ffprobe cuts chunks of sound into smaller packets.
    const Walk forwards = WalkForwards(*reader, 1 << 20);
    const Bytes file = ReadBytes(Media(c.szName));
    Bytes probed;
    for (const Packet& packet : ProbedPackets(c.szName, "a"))
        probed.insert(probed.end(), file.begin() + packet.nPos, file.begin() + packet.nPos + packet.nSize);
    EXPECT_EQ(Joined(forwards), probed);
    const Walk backwards = WalkBackwards(*reader, 1 << 20);
    EXPECT_EQ(backwards.units, forwards.units);
    EXPECT_EQ(backwards.seconds, forwards.seconds);
}

INSTANTIATE_TEST_SUITE_P(Ffmpeg, QtFiles, testing::ValuesIn(kCases),
                         [](const auto& info) { return ParamName(info.param.szName); });

// The movie ffmpeg made, as atoms, with its media data left where it is (the movie atom comes last).
struct Movie {
    explicit Movie(const std::string& name) : bytes(ReadBytes(Media(name))), atoms(Parse(bytes.data(), bytes.size())) {}
    fs::path Write(const std::string& file) const
    {
        const fs::path path = testsupport::TestRoot() / file;
        WriteBytes(path, Serialize(atoms));
        return path;
    }
    Bytes bytes;
    std::vector<QtAtom> atoms;
};

TEST(QTDataReader, EditListDropsTheFirstVideoSamples)
{
    Movie movie("qt_dvcp.mov");
    // Media time 2 frames of 512 units at 12800 units per second.
    PutBe32(Find(movie.atoms, "moov/trak:0/edts/elst").payload, 12, 2 * 512);
    int32_t result = -9;
    auto reader = OpenReader<CQTDataReader>(movie.Write("edit.mov"), &result, Video_Data, std::string());
    ASSERT_TRUE(reader) << result;
    const std::vector<Packet> packets = ProbedPackets("qt_dvcp.mov", "v");
    const Walk walk = WalkForwards(*reader, 144000);
    ASSERT_EQ(walk.units.size(), packets.size() - 2);
    EXPECT_TRUE(std::equal(walk.units[0].begin(), walk.units[0].end(), movie.bytes.begin() + packets[2].nPos));
    EXPECT_EQ(walk.seconds[0], 0.0);
}

struct ReferenceCase {
    const char* szEntry;
    Bytes (*make)(const std::string& name);
};

Bytes AliasEntry(const std::string& name)
{
    Bytes entry(12 + 150, 0);
    std::memcpy(&entry[4], "alis", 4);
    entry[12 + 50] = static_cast<uint8_t>(name.size());
    std::memcpy(&entry[12 + 51], name.data(), name.size());
    PutBe32(entry, 0, static_cast<uint32_t>(entry.size()));
    return entry;
}

Bytes UrlEntry(const std::string& name)
{
    const std::string url = "file:///" + name;
    Bytes entry(12 + url.size() + 1, 0);
    std::memcpy(&entry[4], "url ", 4);
    std::memcpy(&entry[12], url.data(), url.size());
    PutBe32(entry, 0, static_cast<uint32_t>(entry.size()));
    return entry;
}

class QtReference : public testing::TestWithParam<ReferenceCase>
{
};

TEST_P(QtReference, MediaComeFromTheSiblingFile)
{
    Movie movie("qt_dvcp.mov");
    const fs::path dir = testsupport::TestRoot() / "reference";
    fs::create_directories(dir);
    WriteBytes(dir / "media.mov", movie.bytes);
    for (int t = 0; t < 2; ++t) {
        Bytes& dref = Find(movie.atoms, "moov/trak:" + std::to_string(t) + "/mdia/minf/dinf/dref").payload;
        dref.resize(8);
        const Bytes entry = GetParam().make("media.mov");
        dref.insert(dref.end(), entry.begin(), entry.end());
    }
    // The reference movie holds no media of its own.
    Remove(movie.atoms, "mdat");
    const fs::path path = dir / "reference.mov";
    WriteBytes(path, Serialize(movie.atoms));
    for (const DataKind kind : {Video_Data, Audio_Data}) {
        int32_t result = -9;
        auto reader = OpenReader<CQTDataReader>(path, &result, kind, std::string());
        ASSERT_TRUE(reader) << result;
        EXPECT_TRUE(reader->GetCurrentTrack()->bExternal);
        EXPECT_EQ(reader->GetCurrentTrack()->szDataFile, "media.mov");
        auto original = OpenReader<CQTDataReader>(Media("qt_dvcp.mov"), &result, kind, std::string());
        ASSERT_TRUE(original);
        EXPECT_EQ(WalkForwards(*reader, 1 << 20).units, WalkForwards(*original, 1 << 20).units);
    }
    fs::remove(dir / "media.mov");
    int32_t result = -9;
    EXPECT_FALSE(OpenReader<CQTDataReader>(path, &result, Video_Data, std::string()));
    EXPECT_EQ(result, CQTDataReader::kNoDataFile);
}

INSTANTIATE_TEST_SUITE_P(Entries, QtReference,
                         testing::Values(ReferenceCase{"alis", AliasEntry}, ReferenceCase{"url", UrlEntry}),
                         [](const auto& info) { return std::string(info.param.szEntry); });

// The packets ffprobe lists for a stream of the whole file that the file cut to fileSize still holds whole; ffprobe
// lists them again (and one cut through, shorter) in the cut file.
std::vector<Packet> WholePackets(const std::string& name, const char* kind, const fs::path& cut, uint64_t fileSize)
{
    std::vector<Packet> whole = ProbedPackets(name, kind);
    whole.erase(
        std::remove_if(whole.begin(), whole.end(), [&](const Packet& p) { return p.nPos + p.nSize > fileSize; }),
        whole.end());
    std::istringstream in(mxftest::Run("ffprobe -v error -select_streams " + std::string(kind) +
                                       ":0 -show_entries packet=size,pos -of csv=p=0 " + cut.string()));
    Packet packet{};
    char comma = 0;
    for (size_t i = 0; i < whole.size(); ++i) {
        EXPECT_TRUE(in >> packet.nSize >> comma >> packet.nPos) << i;
        EXPECT_EQ(packet.nPos, whole[i].nPos) << i;
        EXPECT_EQ(packet.nSize, whole[i].nSize) << i;
    }
    return whole;
}

// A movie whose movie atom comes first, cut in half in transfer: the samples past the end are left out.
TEST(QTDataReader, FileCutShortLeavesOutTheSamplesPastItsEnd)
{
    Bytes bytes = ReadBytes(Media("qt_fast.mov"));
    bytes.resize(bytes.size() / 2);
    const fs::path path = testsupport::TestRoot() / "cut.mov";
    WriteBytes(path, bytes);
    const std::vector<Packet> pictures = WholePackets("qt_fast.mov", "v", path, bytes.size());
    ASSERT_GT(pictures.size(), 5u);
    ASSERT_LT(pictures.size(), ProbedPackets("qt_fast.mov", "v").size());

    int32_t result = -9;
    auto video = OpenReader<CQTDataReader>(path, &result, Video_Data, std::string());
    ASSERT_TRUE(video) << result;
    int32_t in = -1, out = -1;
    ASSERT_EQ(video->GetInOut(&in, &out, nullptr), 0);
    EXPECT_EQ(static_cast<size_t>(out - in), 2 * pictures.size());
    EXPECT_EQ(in, static_cast<int32_t>(CTimeCode(10, 0, 0, 0, false, 3).GetFrameCount() * 2));
    EXPECT_NE(mxftest::Run("ffprobe -v error -show_entries stream_tags=timecode -of csv=p=0 " + path.string())
                  .find("10:00:00:00"),
              std::string::npos);
    const Walk forwards = WalkForwards(*video, 1 << 20);
    ASSERT_EQ(forwards.units.size(), pictures.size());
    for (size_t i = 0; i < pictures.size(); ++i)
        EXPECT_TRUE(Bytes(bytes.begin() + pictures[i].nPos, bytes.begin() + pictures[i].nPos + pictures[i].nSize) ==
                    forwards.units[i])
            << i;
    const Walk backwards = WalkBackwards(*video, 1 << 20);
    EXPECT_EQ(backwards.units, forwards.units);

    // Sound comes a chunk at a time; a chunk the cut went through is left out whole.
    auto sound = OpenReader<CQTDataReader>(path, &result, Audio_Data, std::string());
    ASSERT_TRUE(sound) << result;
    Bytes probed;
    for (const Packet& packet : WholePackets("qt_fast.mov", "a", path, bytes.size()))
        probed.insert(probed.end(), bytes.begin() + packet.nPos, bytes.begin() + packet.nPos + packet.nSize);
    const Walk walk = WalkForwards(*sound, 1 << 20);
    const Bytes joined = Joined(walk);
    ASSERT_LE(joined.size(), probed.size());
    EXPECT_TRUE(std::equal(joined.begin(), joined.end(), probed.begin()));
    EXPECT_LE(probed.size() - joined.size(), walk.units.back().size());
    EXPECT_EQ(WalkBackwards(*sound, 1 << 20).units, walk.units);
}

TEST(QTDataReader, SmallBufferConsumesNothing)
{
    int32_t result = -9;
    auto reader = OpenReader<CQTDataReader>(Media("qt_dvcp.mov"), &result, Video_Data, std::string());
    ASSERT_TRUE(reader);
    const std::vector<Packet> packets = ProbedPackets("qt_dvcp.mov", "v");
    const Bytes file = ReadBytes(Media("qt_dvcp.mov"));
    Bytes buffer(144000);
    uint8_t* p = buffer.data();
    uint32_t size = 0;
    double seconds = -1;
    EXPECT_EQ(reader->GetNextData(&p, 143999, &size, &seconds), CDataReader::kBufferTooSmall);
    EXPECT_EQ(size, 144000u);
    ASSERT_EQ(reader->GetNextData(&p, 144000, &size, &seconds), 0);
    EXPECT_TRUE(std::equal(buffer.begin(), buffer.end(), file.begin() + packets[0].nPos));
    ASSERT_EQ(reader->GetNextData(&p, 144000, &size, &seconds), 0);
    EXPECT_DOUBLE_EQ(seconds, 0.04);
    EXPECT_EQ(reader->GetPrevData(&p, 100, &size, &seconds), CDataReader::kBufferTooSmall);
    ASSERT_EQ(reader->GetPrevData(&p, 144000, &size, &seconds), 0);
    EXPECT_DOUBLE_EQ(seconds, 0.04);
    uint8_t* none = nullptr;
    EXPECT_EQ(reader->GetNextData(&none, 144000, &size, &seconds), CDataReader::kNoBuffer);
}

TEST(QTDataReader, GoToTimeLandsOnTheSampleAtOrBefore)
{
    int32_t result = -9;
    auto reader = OpenReader<CQTDataReader>(Media("qt_dvcp.mov"), &result, Video_Data, std::string());
    ASSERT_TRUE(reader);
    double seconds = 0.419;
    ASSERT_EQ(reader->GoToTime(&seconds), 0);
    EXPECT_DOUBLE_EQ(seconds, 0.4);
    Bytes buffer(144000);
    uint8_t* p = buffer.data();
    uint32_t size = 0;
    double at = -1;
    ASSERT_EQ(reader->GetNextData(&p, 144000, &size, &at), 0);
    EXPECT_DOUBLE_EQ(at, 0.4);
    ASSERT_EQ(reader->GoToFieldOffset(6), 0);
    ASSERT_EQ(reader->GetNextData(&p, 144000, &size, &at), 0);
    EXPECT_DOUBLE_EQ(at, 0.12);
    seconds = -3;
    ASSERT_EQ(reader->GoToTime(&seconds), 0);
    EXPECT_EQ(seconds, 0.0);
}

// Descriptors rewritten with one-byte lengths, as the MPEG-4 readers walk them.
Bytes ShortLengths(const uint8_t* p, size_t n)
{
    Bytes out;
    for (size_t at = 0; at < n;) {
        const uint8_t tag = p[at++];
        size_t length = 0;
        uint8_t b = 0;
        do {
            b = p[at++];
            length = length << 7 | (b & 0x7F);
        } while (b & 0x80);
        const uint8_t* content = p + at;
        at += length;
        const size_t fixed = tag == 3 ? 3 : tag == 4 ? 13 : length;
        Bytes inner(content, content + fixed);
        if (fixed < length) {
            const Bytes nested = ShortLengths(content + fixed, length - fixed);
            inner.insert(inner.end(), nested.begin(), nested.end());
        }
        out.push_back(tag);
        out.push_back(static_cast<uint8_t>(inner.size()));
        out.insert(out.end(), inner.begin(), inner.end());
    }
    return out;
}

// Rewrites the esds atom at the place in the first sample description entry; returns the old descriptors.
Bytes RewriteEsds(Bytes& stsd, size_t esdsInEntry)
{
    const size_t entry = 8, at = entry + esdsInEntry;
    const uint32_t oldSize = Be32(&stsd[at]);
    const Bytes descriptors(stsd.begin() + at + 12, stsd.begin() + at + oldSize);
    Bytes esds(12, 0);
    std::memcpy(&esds[4], "esds", 4);
    const Bytes shortened = ShortLengths(descriptors.data(), descriptors.size());
    esds.insert(esds.end(), shortened.begin(), shortened.end());
    PutBe32(esds, 0, static_cast<uint32_t>(esds.size()));
    stsd.erase(stsd.begin() + at, stsd.begin() + at + oldSize);
    stsd.insert(stsd.begin() + at, esds.begin(), esds.end());
    PutBe32(stsd, entry, Be32(&stsd[entry]) + static_cast<uint32_t>(esds.size()) - oldSize);
    return descriptors;
}

struct Mp4 {
    Mp4() : movie("mp4v.mp4")
    {
        RewriteEsds(Find(movie.atoms, "moov/trak:0/mdia/minf/stbl/stsd").payload, 86);
        const Bytes sound = RewriteEsds(Find(movie.atoms, "moov/trak:1/mdia/minf/stbl/stsd").payload, 36);
        // ES descriptor (3 bytes after its 4-byte length), then the decoder configuration's bit rates.
        maxBitRate = Be32(&sound[5 + 3 + 5 + 5]);
        path = movie.Write("short-esds.mp4");
    }
    Movie movie;
    uint32_t maxBitRate = 0;
    fs::path path;
};

TEST(QTMpeg4DataReader, VideoComesInGroupsFromSyncToSync)
{
    Mp4 mp4;
    int32_t result = -9;
    auto reader = OpenReader<CQTMpeg4VideoDataReader>(mp4.path, &result, std::string());
    ASSERT_TRUE(reader) << result;
    VideoInfo info;
    ASSERT_TRUE(reader->GetVideoInfo(&info));
    EXPECT_EQ(info.nVideoType, MP4ART_Video);
    EXPECT_EQ(info.nStandard, 18u);
    EXPECT_EQ(info.nHeight, 288u);

    // The groups ffprobe's key flags make, each the bytes of its packets.
    std::vector<Bytes> groups;
    for (const Packet& packet : ProbedPackets("mp4v.mp4", "v")) {
        if (packet.bKey)
            groups.emplace_back();
        groups.back().insert(groups.back().end(), mp4.movie.bytes.begin() + packet.nPos,
                             mp4.movie.bytes.begin() + packet.nPos + packet.nSize);
    }
    ASSERT_EQ(groups.size(), 3u);
    const Walk walk = WalkForwards(*reader, 1 << 20);
    ASSERT_EQ(walk.units.size(), groups.size());
    // The decoder configuration (a visual object sequence) goes in front of the first group.
    const size_t config = walk.units[0].size() - groups[0].size();
    ASSERT_GT(config, 4u);
    EXPECT_EQ(Bytes(walk.units[0].begin(), walk.units[0].begin() + 4), (Bytes{0, 0, 1, 0xB0}));
    EXPECT_TRUE(std::equal(groups[0].begin(), groups[0].end(), walk.units[0].begin() + config));
    EXPECT_EQ(walk.units[1], groups[1]);
    EXPECT_EQ(walk.units[2], groups[2]);
    EXPECT_DOUBLE_EQ(walk.seconds[1], 12 * 0.04);

    const Walk back = WalkBackwards(*reader, 1 << 20);
    ASSERT_EQ(back.units.size(), groups.size());
    EXPECT_EQ(back.units[0], groups[0]);
    EXPECT_EQ(Bytes(back.units[2].begin() + config, back.units[2].end()), groups[2]);
}

TEST(QTMpeg4DataReader, SoundGetsAnAdifHeader)
{
    Mp4 mp4;
    int32_t result = -9;
    auto reader = OpenReader<CQTMpeg4AudioDataReader>(mp4.path, &result, std::string());
    ASSERT_TRUE(reader) << result;
    EXPECT_EQ(reader->GetMaxBitRate(), mp4.maxBitRate);
    const std::vector<Packet> packets = ProbedPackets("mp4v.mp4", "a");
    const Walk walk = WalkForwards(*reader, 1 << 16);
    ASSERT_EQ(walk.units.size(), packets.size());
    const uint32_t r = mp4.maxBitRate;
    const Bytes adif = {'A',
                        'D',
                        'I',
                        'F',
                        0x40,
                        static_cast<uint8_t>((r >> 16 & 0xFF) << 5 | (r >> 8 & 0xFF) >> 3),
                        static_cast<uint8_t>((r >> 8 & 0xFF) << 5 | (r & 0xFF) >> 3),
                        static_cast<uint8_t>(r << 5),
                        0,
                        0,
                        0,
                        0xB0,
                        0x80,
                        0,
                        4,
                        0,
                        0};
    EXPECT_EQ(Bytes(walk.units[0].begin(), walk.units[0].begin() + 17), adif);
    for (size_t i = 0; i < packets.size(); ++i) {
        const Bytes& unit = walk.units[i];
        const size_t skip = i == 0 ? 17 : 0;
        ASSERT_EQ(unit.size() - skip, packets[i].nSize) << i;
        EXPECT_TRUE(std::equal(unit.begin() + skip, unit.end(), mp4.movie.bytes.begin() + packets[i].nPos)) << i;
    }
}

TEST(QTMpeg4DataReader, LongEsdsLengthsAreRefused)
{
    // ffmpeg's own four-byte descriptor lengths leave no decoder configuration where the reader looks.
    int32_t result = -9;
    EXPECT_FALSE(OpenReader<CQTMpeg4VideoDataReader>(Media("mp4v.mp4"), &result, std::string()));
    EXPECT_EQ(result, 6);
}

// Damaged movies: each table is checked against its atom.
struct DamageCase {
    const char* szName;
    void (*damage)(std::vector<QtAtom>& atoms);
    int32_t nResult;
};

void PrintTo(const DamageCase& c, std::ostream* os)
{
    *os << c.szName;
}

const DamageCase kDamage[] = {
    {"StszCountBeyondAtom",
     [](auto& a) {
         Bytes& stsz = Find(a, "moov/trak:0/mdia/minf/stbl/stsz").payload;
         PutBe32(stsz, 4, 0);  // variable sizes, but no table behind the count
     },
     CQTDataReader::kNoSizes},
    {"StcoCountBeyondAtom", [](auto& a) { PutBe32(Find(a, "moov/trak:0/mdia/minf/stbl/stco").payload, 4, 0x10000000); },
     CQTDataReader::kNoChunkOffsets},
    {"SttsMissing", [](auto& a) { Remove(Find(a, "moov/trak:0/mdia/minf/stbl").children, "stts"); },
     CQTDataReader::kNoTimes},
    {"StscCountBeyondAtom", [](auto& a) { PutBe32(Find(a, "moov/trak:0/mdia/minf/stbl/stsc").payload, 4, 0xFFFFFFFF); },
     CQTDataReader::kNoSampleToChunk},
    {"ZeroTimeScale", [](auto& a) { PutBe32(Find(a, "moov/trak:0/mdia/mdhd").payload, 12, 0); },
     CQTDataReader::kNoTimes},
    {"NoMovie", [](auto& a) { Remove(a, "moov"); }, CQTDataReader::kMovieCut},
    {"NoTracks", [](auto& a) { Remove(Find(a, "moov").children, "trak"); }, CQTDataReader::kNoTrack},
    {"NoVideoTrack", [](auto& a) { Find(a, "moov/trak:0/mdia/hdlr").payload[8] = 'X'; }, CQTDataReader::kNoTrackOfKind},
};

class QtDamage : public testing::TestWithParam<DamageCase>
{
};

TEST_P(QtDamage, OpenFails)
{
    Movie movie("qt_dvcp.mov");
    GetParam().damage(movie.atoms);
    int32_t result = -9;
    EXPECT_FALSE(OpenReader<CQTDataReader>(movie.Write("damaged.mov"), &result, Video_Data, std::string()));
    EXPECT_EQ(result, GetParam().nResult);
}

INSTANTIATE_TEST_SUITE_P(Tables, QtDamage, testing::ValuesIn(kDamage),
                         [](const auto& info) { return std::string(info.param.szName); });

TEST(QTDataReader, AtomSizesThatNeverMoveOn)
{
    const fs::path path = testsupport::TestRoot() / "sizes.mov";
    // A 64-bit size of 0, then one smaller than its own header.
    for (const uint8_t small : {0, 8}) {
        Bytes bytes = {0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0, 0, 0, 0, 0, 0, small, 0, 0, 0, 0};
        WriteBytes(path, bytes);
        int32_t result = -9;
        EXPECT_FALSE(OpenReader<CQTDataReader>(path, &result, Video_Data, std::string()));
        EXPECT_EQ(result, CQTDataReader::kZeroSize);
    }
}

}  // namespace
