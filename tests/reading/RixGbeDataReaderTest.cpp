// The server clip readers over the gigabit-Ethernet protocol against the simulator's gateway: fields and audio
// forwards and backwards, growing clips, link files, faults of the connection and the server, and replies
// whose counts lie (from a scripted gateway).
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "outside/rix/CRixSimServer.h"
#include "platform/Registry.h"
#include "platform/Socket.h"
#include "reading/framework/CRixLink.h"
#include "reading/rix/CRixAudioDataReader.h"
#include "reading/rix/CRixDVCProVideoDataReader.h"
#include "reading/rix/CRixHydrelVideoDataReader.h"
#include "reading/rix/CRixVideoDataReader.h"
#include "tests/support/BoundPort.h"
#include "tests/support/FileTestKit.h"
#include "tests/support/TestEnv.h"

namespace
{

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using rixsim::RixSimFault;
using rixsim::RixSimFaultKind;
using rixsim::RixSimGbeClip;

// Field f of the test clips: its length and bytes vary with f.
Bytes FieldBytes(uint32_t f)
{
    Bytes bytes(100 + f % 7);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(f * 3 + i);
    return bytes;
}

// PAL timecode system (3), 625 lines, aspect code 2.
constexpr uint32_t kPalFormat = 1u << 28 | 3u << 24 | 2u << 16;

RixSimGbeClip MakeClip(uint32_t in, uint32_t out, uint32_t codec = 1, uint32_t clipNumber = 12)
{
    RixSimGbeClip clip;
    clip._szUmId = "UMID-" + std::to_string(clipNumber);
    clip._nRixNumber = 3;
    clip._nClipNumber = clipNumber;
    clip._cCamera = 'B';
    clip._nIn = in;
    clip._nOut = out;
    clip._nShortIn = in + 1;
    clip._nShortOut = out - 1;
    clip._nVideoCodec = codec;
    clip._nVideoFormat = kPalFormat;
    clip._nAudioChannels = 4;
    clip._nSamplesPerField = 5;
    for (uint32_t f = in; f < out; ++f)
        clip._vFields.push_back(FieldBytes(f));
    return clip;
}

class RixGbeReaderThreads : public ::testing::Test
{
protected:
    // Long enough for a sanitizer build on a busy machine: only the tests of the time-out itself set a short one.
    static constexpr uint32_t kReplyMs = 20000;

    void SetUp() override
    {
        _server = std::make_unique<rixsim::CRixSimServer>(_config);
        _server->Store().AddGbeClip(MakeClip(100, 140));
        ASSERT_TRUE(_server->Start());
    }

    std::string Name(uint32_t clip = 12, char camera = 'B') const
    {
        return "\\\\127.0.0.1:" + std::to_string(_server->GbePort()) + "\\3\\" + std::to_string(clip) + "\\" + camera;
    }

    template <typename Reader>
    std::unique_ptr<Reader> Open(const std::string& source, int32_t fileType = Rix_Link, int32_t expected = 0)
    {
        auto reader = std::make_unique<Reader>(source, fileType);
        reader->SetReplyTimeout(kReplyMs);
        EXPECT_EQ(reader->Open(0), expected) << source;
        return reader;
    }

    void Fault(RixSimFaultKind kind, const char* command, uint32_t delayMs = 0, int32_t code = 450)
    {
        RixSimFault fault;
        fault._szCommand = command;
        fault._eKind = kind;
        fault._nDelayMs = delayMs;
        fault._nCode = code;
        _server->AddFault(fault);
    }

    // How many requests of the command the gateway received.
    size_t Requests(uint16_t command) const
    {
        const std::string prefix = "GBE " + std::to_string(command) + " ";
        size_t n = 0;
        for (const auto& entry : _server->Journal())
            n += entry._szChannel == "GBE" && entry._szText.rfind(prefix, 0) == 0;
        return n;
    }

    // Reads with the operation until it stops (or, without toEnd, the fields are read); every field is
    // checked against the one served.
    static int32_t ReadVideo(CRixDataReader& reader, bool forward, const std::vector<uint32_t>& fields, uint32_t in,
                             bool toEnd = true)
    {
        Bytes buffer(4096);
        for (size_t n = 0; toEnd || n < fields.size(); ++n) {
            uint8_t* data = buffer.data();
            uint32_t size = 0;
            double seconds = -1;
            const int32_t rc = forward ? reader.GetNextData(&data, buffer.size(), &size, &seconds)
                                       : reader.GetPrevData(&data, buffer.size(), &size, &seconds);
            if (rc != 0) {
                EXPECT_EQ(n, fields.size());
                return rc;
            }
            if (n >= fields.size()) {
                ADD_FAILURE() << "more fields than expected";
                return 0;
            }
            EXPECT_EQ(Bytes(data, data + size), FieldBytes(fields[n])) << fields[n];
            EXPECT_DOUBLE_EQ(seconds, (fields[n] - in) * 0.02);
        }
        return 0;
    }

    static std::vector<uint32_t> Fields(uint32_t from, uint32_t to, uint32_t step)
    {
        std::vector<uint32_t> fields;
        for (uint32_t f = from; f < to; f += step)
            fields.push_back(f);
        return fields;
    }

    rixsim::RixSimConfig _config;
    std::unique_ptr<rixsim::CRixSimServer> _server;
};

struct CodecCase {
    uint32_t nCodec;
    int32_t nStep;
    VideoType eType;
};

class RixGbeVideoThreads : public RixGbeReaderThreads, public ::testing::WithParamInterface<CodecCase>
{
};

TEST_P(RixGbeVideoThreads, ForwardsThenBackwardsEqualTheServedFields)
{
    const CodecCase c = GetParam();
    _server->Store().AddGbeClip(MakeClip(100, 140, c.nCodec));
    auto reader = Open<CRixVideoDataReader>(Name());
    EXPECT_EQ(reader->GetStep(), c.nStep);
    uint32_t first = 0;
    uint8_t aspect = 0;
    EXPECT_EQ(reader->GetCurrentFieldInfo(&first, nullptr, &aspect), c.nStep);
    EXPECT_EQ(first, 1u);
    EXPECT_EQ(aspect, 2);
    VideoInfo info;
    ASSERT_TRUE(reader->GetVideoInfo(&info));
    EXPECT_EQ(info.nVideoType, c.eType);
    EXPECT_EQ(info.nStandard, 2u);
    EXPECT_EQ(info.nWidth, 720u);
    EXPECT_EQ(info.nHeight, 576u);

    const auto forward = Fields(100, 140, c.nStep);
    EXPECT_EQ(ReadVideo(*reader, true, forward, 100), 100);
    EXPECT_TRUE(reader->IsAtEnd());
    EXPECT_EQ(ReadVideo(*reader, false, {forward.rbegin(), forward.rend()}, 100), 100);
    // A finished clip is asked for its information once only.
    EXPECT_EQ(Requests(1), 1u);
}

INSTANTIATE_TEST_SUITE_P(Codecs, RixGbeVideoThreads,
                         ::testing::Values(CodecCase{1, 1, Mjpeg_Video}, CodecCase{4, 2, IMX50_Video},
                                           CodecCase{8, 1, Hydrel_Video}));

TEST_F(RixGbeReaderThreads, ClipInformationAndNavigation)
{
    auto reader = Open<CRixVideoDataReader>(Name());
    EXPECT_TRUE(reader->IsOpen());
    EXPECT_EQ(reader->GetUmID(), "UMID-12");
    EXPECT_EQ(reader->GetPort(), _server->GbePort());
    int32_t in = 0, out = 0, system = 0;
    EXPECT_EQ(reader->GetInOut(&in, &out, &system), 0);
    EXPECT_EQ(in, 100);
    EXPECT_EQ(out, 140);
    EXPECT_EQ(system, 3);

    uint8_t* format = nullptr;
    ASSERT_EQ(reader->GetFormat(&format), 16u);
    const uint32_t expected[4] = {1, kPalFormat, 1, 4};
    EXPECT_EQ(std::memcmp(format, expected, 16), 0);
    delete[] format;

    EXPECT_EQ(reader->SkipPrevData(), 100);
    EXPECT_EQ(reader->SkipNextData(), 0);
    EXPECT_EQ(reader->GetPosition(), 101);
    EXPECT_EQ(reader->GoToFieldOffset(40), 100);
    EXPECT_EQ(reader->GoToFieldOffset(39), 0);
    EXPECT_EQ(reader->GetPosition(), 139);
    double seconds = 0.5;  // 25 fields at 50 fields per second
    EXPECT_EQ(reader->GoToTime(&seconds), 0);
    EXPECT_EQ(reader->GetPosition(), 125);
    EXPECT_EQ(reader->GoToDataEnd(), 0);
    EXPECT_TRUE(reader->IsAtEnd());
    EXPECT_EQ(reader->SkipNextData(), 100);
    EXPECT_EQ(reader->GoToDataStart(), 0);
    EXPECT_EQ(reader->GetPosition(), 100);

    // Too small a buffer: the size needed, nothing consumed.
    Bytes small(10);
    uint8_t* data = small.data();
    uint32_t size = 0;
    EXPECT_EQ(reader->GetNextData(&data, small.size(), &size, nullptr), 101);
    EXPECT_EQ(size, FieldBytes(100).size());
    EXPECT_EQ(reader->GetPosition(), 100);
    EXPECT_EQ(reader->GetNextData(nullptr, 10, &size, nullptr), 102);
}

TEST_F(RixGbeReaderThreads, SeeksCountInTheClipsOwnRate)
{
    // NTSC drop frame: 59.94 fields per second.
    RixSimGbeClip clip = MakeClip(100, 400);
    clip._nVideoFormat = 4u << 24;
    _server->Store().AddGbeClip(clip);
    auto reader = Open<CRixVideoDataReader>(Name());
    double seconds = 2.0;
    EXPECT_EQ(reader->GoToTime(&seconds), 0);
    EXPECT_EQ(reader->GetPosition(), 100 + 119);
    seconds = -3;
    EXPECT_EQ(reader->GoToTime(&seconds), 0);
    EXPECT_EQ(reader->GetPosition(), 100);
}

TEST_F(RixGbeReaderThreads, SourceNames)
{
    struct Case {
        std::string name;
        int32_t result;
    };
    const std::string port = std::to_string(_server->GbePort());
    const Case cases[] = {
        {"\\\\127.0.0.1:" + port + "\\3\\12\\b", 0},  // lower case letter accepted
        {"x\\\\127.0.0.1:" + port + "\\3\\12\\B", 0}, {"\\\\127.0.0.1:" + port + "\\3\\12\\1", -1},
        {"\\\\127.0.0.1:" + port + "\\3\\12", -1},    {"\\\\127.0.0.1:" + port + "\\3\\x\\B", -1},
        {"\\\\127.0.0.1:" + port + "\\3\\12\\", -1},  {"127.0.0.1\\3\\12\\B", -1},
        {"\\\\127.0.0.1:99999\\3\\12\\B", -1},        {"\\\\127.0.0.1:" + port + "\\3\\99\\B", -1},  // no such clip
    };
    for (const Case& c : cases) {
        auto reader = Open<CRixVideoDataReader>(c.name, Rix_Link, c.result);
        EXPECT_EQ(reader->IsOpen(), c.result == 0) << c.name;
    }
    auto reader = Open<CRixVideoDataReader>(Name(), WAVE_File, -1);
}

TEST_F(RixGbeReaderThreads, GatewayWithoutPortIsPort701)
{
    CRixVideoDataReader reader("\\\\127.0.0.1\\3\\12\\B", Rix_Link);
    reader.Open(0);  // nothing of ours listens there
    EXPECT_EQ(reader.GetPort(), 701);
}

TEST_F(RixGbeReaderThreads, ClipNumberZeroStartsHalfway)
{
    _server->Store().AddGbeClip(MakeClip(100, 140, 1, 0));
    auto reader = Open<CRixVideoDataReader>(Name(0));
    int32_t in = 0, out = 0;
    EXPECT_EQ(reader->GetInOut(&in, &out, nullptr), 0);
    EXPECT_EQ(in, 120);
    EXPECT_EQ(out, 140);
    EXPECT_EQ(ReadVideo(*reader, true, Fields(120, 140, 1), 120), 100);
}

TEST_F(RixGbeReaderThreads, AudioForwardsAndBackwards)
{
    auto reader = Open<CRixAudioDataReader>(Name());
    int32_t channels[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(reader->GetAudioChannels(channels, 2), 4);
    EXPECT_EQ(channels[1], 1);
    EXPECT_EQ(channels[2], 0);
    uint32_t rate = 0, bytes = 0;
    EXPECT_EQ(reader->GetCurrentFieldInfo(&rate, &bytes, nullptr), 0);
    EXPECT_EQ(rate, 48000u);
    EXPECT_EQ(bytes, 4u);

    Bytes buffer(4 * 5 * 4);
    uint8_t* data = buffer.data();
    uint32_t size = 0;
    EXPECT_EQ(reader->GetNextData(&data, 79, &size, nullptr), 101);
    EXPECT_EQ(size, 80u);
    auto check = [&](uint32_t field) {
        ASSERT_EQ(size, 80u);
        // The gateway's sample s of channel c is (s, c, field) little-endian: 0, field, c, s big-endian here.
        for (uint32_t c = 0; c < 4; ++c)
            for (uint32_t s = 0; s < 5; ++s) {
                const uint8_t* sample = &buffer[(c * 5 + s) * 4];
                EXPECT_EQ(Bytes(sample, sample + 4),
                          (Bytes{0, static_cast<uint8_t>(field), static_cast<uint8_t>(c), static_cast<uint8_t>(s)}))
                    << field << " " << c << " " << s;
            }
    };
    for (uint32_t f = 100; f < 140; ++f) {
        double seconds = -1;
        ASSERT_EQ(reader->GetNextData(&data, buffer.size(), &size, &seconds), 0);
        EXPECT_DOUBLE_EQ(seconds, (f - 100) * 0.02);
        check(f);
    }
    EXPECT_EQ(reader->GetNextData(&data, buffer.size(), &size, nullptr), 100);
    for (uint32_t f = 140; f-- > 100;) {
        ASSERT_EQ(reader->GetPrevData(&data, buffer.size(), &size, nullptr), 0);
        check(f);
    }
    EXPECT_EQ(reader->GetPrevData(&data, buffer.size(), &size, nullptr), 100);
    EXPECT_TRUE(_server->WaitForJournal("GBE 3 id=1 rix=3 clip=12 field=100 sys=3 mask=15 cam=B", 1000));
}

TEST_F(RixGbeReaderThreads, GrowingClipIsFollowed)
{
    RixSimGbeClip clip = MakeClip(100, 110);
    clip._nGrowingMode = 2;
    _server->Store().AddGbeClip(clip);
    auto reader = Open<CRixVideoDataReader>(Name());
    EXPECT_EQ(ReadVideo(*reader, true, Fields(100, 110, 1), 100), 100);

    clip = MakeClip(100, 125);
    clip._nGrowingMode = 2;
    _server->Store().AddGbeClip(clip);
    EXPECT_FALSE(reader->IsAtEnd());
    EXPECT_EQ(ReadVideo(*reader, true, Fields(110, 125, 1), 100), 100);

    _server->Store().AddGbeClip(MakeClip(100, 130));  // recording ended
    int32_t out = 0;
    EXPECT_EQ(reader->GetInOut(nullptr, &out, nullptr), 0);
    EXPECT_EQ(out, 130);
    EXPECT_EQ(reader->GetGrowingMode(), 0u);
    EXPECT_EQ(ReadVideo(*reader, true, Fields(125, 130, 1), 100), 100);
    const size_t asked = Requests(1);
    EXPECT_EQ(reader->GetNextData(nullptr, 0, nullptr, nullptr), 100);
    EXPECT_TRUE(reader->IsAtEnd());
    EXPECT_EQ(Requests(1), asked);  // a finished clip is not asked again
}

TEST_F(RixGbeReaderThreads, BrokenConnectionInvalidatesUntilOpenedAgain)
{
    auto reader = Open<CRixVideoDataReader>(Name());
    EXPECT_EQ(ReadVideo(*reader, true, Fields(100, 103, 1), 100, false), 0);
    Fault(RixSimFaultKind::DropConnection, "GBE 2");
    Bytes buffer(4096);
    uint8_t* data = buffer.data();
    uint32_t size = 0;
    EXPECT_EQ(reader->GetNextData(&data, buffer.size(), &size, nullptr), -2);
    EXPECT_FALSE(reader->IsOpen());
    EXPECT_EQ(reader->GetNextData(&data, buffer.size(), &size, nullptr), -1);
    EXPECT_EQ(reader->GetInOut(nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(reader->GoToFieldOffset(3), -1);

    ASSERT_EQ(reader->Open(0), 0);
    ASSERT_EQ(reader->GoToFieldOffset(3), 0);
    EXPECT_EQ(ReadVideo(*reader, true, Fields(103, 140, 1), 100), 100);
}

TEST_F(RixGbeReaderThreads, BusyServerAnswersAreRetriedByTheCaller)
{
    auto reader = Open<CRixVideoDataReader>(Name());
    Bytes buffer(4096);
    uint8_t* data = buffer.data();
    uint32_t size = 0;
    // An error reply: the field stays where it was and the next read gets it.
    Fault(RixSimFaultKind::ErrorReply, "GBE 2", 0, 7);
    EXPECT_EQ(reader->GetNextData(&data, buffer.size(), &size, nullptr), -3);
    EXPECT_TRUE(reader->IsOpen());
    EXPECT_EQ(reader->GetPosition(), 100);
    ASSERT_EQ(reader->GetNextData(&data, buffer.size(), &size, nullptr), 0);
    EXPECT_EQ(Bytes(data, data + size), FieldBytes(100));
    // Backwards likewise.
    Fault(RixSimFaultKind::ErrorReply, "GBE 2", 0, 7);
    EXPECT_EQ(reader->GetPrevData(&data, buffer.size(), &size, nullptr), -3);
    EXPECT_EQ(reader->GetPosition(), 101);
    ASSERT_EQ(reader->GetPrevData(&data, buffer.size(), &size, nullptr), 0);
    EXPECT_EQ(Bytes(data, data + size), FieldBytes(100));

    // A reply later than the time-out ends the connection.
    reader->SetReplyTimeout(50);
    Fault(RixSimFaultKind::Delay, "GBE 2", 400);
    EXPECT_EQ(reader->GetNextData(&data, buffer.size(), &size, nullptr), -1);
    EXPECT_FALSE(reader->IsOpen());
    reader->SetReplyTimeout(kReplyMs);
    ASSERT_EQ(reader->Open(0), 0);
    EXPECT_EQ(ReadVideo(*reader, true, Fields(100, 140, 1), 100), 100);
}

TEST_F(RixGbeReaderThreads, OpenFailures)
{
    Fault(RixSimFaultKind::ErrorReply, "GBE WELCOME", 0, 5);
    Open<CRixVideoDataReader>(Name(), Rix_Link, -4);
    Fault(RixSimFaultKind::Omit, "GBE WELCOME");
    {
        auto reader = std::make_unique<CRixVideoDataReader>(Name(), Rix_Link);
        reader->SetReplyTimeout(100);
        EXPECT_EQ(reader->Open(0), -5);
    }
    auto config = _server->GetConfig();
    config._szGbeWelcome = "Hello";
    _server->SetConfig(config);
    Open<CRixVideoDataReader>(Name(), Rix_Link, -6);

    const testsupport::BoundPort refusing;
    ASSERT_NE(refusing.Port(), 0);
    Open<CRixVideoDataReader>("\\\\127.0.0.1:" + std::to_string(refusing.Port()) + "\\3\\12\\B", Rix_Link, -3);
}

// Link files.

class RixGbeLinkThreads : public RixGbeReaderThreads
{
protected:
    std::string WriteLink(const std::string& body)
    {
        const fs::path path = testsupport::FreshDir("gbelinks") / "clip.xml";
        testsupport::WriteWholeFile(path,
                                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<RixLink>" + body + "</RixLink>\n");
        return path.string();
    }
    std::string Address() const
    {
        return "<IPAddress>127.0.0.1:" + std::to_string(_server->GbePort()) + "</IPAddress>";
    }
    static bool XmllintAccepts(const std::string& path)
    {
        return std::system(("xmllint --noout --nonet '" + path + "' 2>/dev/null").c_str()) == 0;
    }
};

TEST_F(RixGbeLinkThreads, IncompleteLinkIsCompletedFromTheServerAndThenReadAlone)
{
    RixSimGbeClip clip = MakeClip(100, 140);
    const uint8_t wide[] = {0xC9, 0x00, 't', 0, 0xE9, 0x00};  // "Été" in UTF-16
    clip._vVarId.assign(std::begin(wide), std::end(wide));
    clip._bVarIdWide = true;
    _server->Store().AddGbeClip(clip);
    const std::string path =
        WriteLink(Address() + "<RixNumber>3</RixNumber><ClipNumber>12</ClipNumber><CameraId>b</CameraId>");
    auto reader = Open<CRixVideoDataReader>(path, Rix_XmlLink);
    EXPECT_EQ(reader->GetVarIDText(), "\xC3\x89t\xC3\xA9");
    EXPECT_EQ(Requests(1), 1u);
    EXPECT_TRUE(XmllintAccepts(path));

    CRixLink link;
    ASSERT_EQ(link.Parse(path.c_str()), 0);
    EXPECT_TRUE(link.IsComplete());
    EXPECT_EQ(link._szUmID, "UMID-12");
    EXPECT_EQ(link._cCamera, 'B');
    EXPECT_EQ(link._nIn, 100);
    EXPECT_EQ(link._nOut, 140);
    EXPECT_EQ(link._nShortIn, 101);
    EXPECT_EQ(link._nShortOut, 139);
    EXPECT_EQ(link._nVideoFormat, static_cast<int32_t>(kPalFormat));
    EXPECT_EQ(link._nAudioCodec, 10000);
    EXPECT_EQ(link._nAudioChannels, 4);
    EXPECT_EQ(link._szVarID32, "\xC9t\xE9");  // read back into the local code page

    // A complete, finished link needs only the welcome.
    auto again = Open<CRixVideoDataReader>(path, Rix_XmlLink);
    EXPECT_EQ(Requests(1), 1u);
    EXPECT_EQ(ReadVideo(*again, true, Fields(100, 140, 1), 100), 100);
}

TEST_F(RixGbeLinkThreads, GrowingLinkIsRewrittenWhenTheRecordingEnds)
{
    RixSimGbeClip clip = MakeClip(100, 110);
    clip._nGrowingMode = 2;
    _server->Store().AddGbeClip(clip);
    const std::string path = WriteLink(Address() +
                                       "<UmID>UMID-12</UmID><RixNumber>3</RixNumber><ClipNumber>12</ClipNumber>"
                                       "<CameraId>B</CameraId><GrowingMode>2</GrowingMode>");
    auto reader = Open<CRixVideoDataReader>(path, Rix_XmlLink);
    EXPECT_EQ(ReadVideo(*reader, true, Fields(100, 110, 1), 100), 100);
    _server->Store().AddGbeClip(MakeClip(100, 120));
    EXPECT_EQ(ReadVideo(*reader, true, Fields(110, 120, 1), 100), 100);
    EXPECT_TRUE(XmllintAccepts(path));
    CRixLink link;
    ASSERT_EQ(link.Parse(path.c_str()), 0);
    EXPECT_EQ(link._nGrowingMode, 0);
    EXPECT_EQ(link._nOut, 120);
    EXPECT_TRUE(link.IsComplete());
    // The rewrite replaced the elements rather than adding more.
    std::ifstream in(path);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(text.find("<GrowingMode>"), text.rfind("<GrowingMode>"));
}

TEST_F(RixGbeLinkThreads, LinkFailuresAndTheRegistryGateway)
{
    Open<CRixVideoDataReader>((testsupport::TestRoot() / "missing.xml").string(), Rix_XmlLink, -1);
    Open<CRixVideoDataReader>(WriteLink(Address() + "<RixNumber>3</RixNumber>"), Rix_XmlLink, -1);
    Open<CRixVideoDataReader>(WriteLink(Address() + "<UmID>UMID-12</UmID><GrowingMode>1</GrowingMode>"), Rix_XmlLink,
                              -2);
    // No address in the link: the machine's gateway setting.
    platform::Registry::SetString(platform::RegHive::LocalMachine, "SOFTWARE\\Brennhall\\Common", "Rix Gateway IP",
                                  "127.0.0.1:" + std::to_string(_server->GbePort()));
    auto reader = Open<CRixVideoDataReader>(WriteLink("<UmID>UMID-12</UmID>"), Rix_XmlLink);
    EXPECT_EQ(reader->GetRixNumber(), 3);
    EXPECT_EQ(reader->GetCameraId(), 'B');
}

// DVCPRO fields.

fs::path DvcproFrame()
{
    static const fs::path dir = [] {
        const char* data = std::getenv("KORVO_TEST_DATA");
        const fs::path d = fs::path(data ? data : testsupport::TestRoot().string()) / "dvcpro";
        const std::string command = std::string("bash ") + KORVO_SOURCE_DIR + "/tools/make-dvcpro-frames " + d.string();
        EXPECT_EQ(std::system(command.c_str()), 0) << command;
        return d;
    }();
    return dir / "dvcpro50_625.dif";
}

TEST_F(RixGbeReaderThreads, DVCProFieldsBecomeDifFrames)
{
    std::ifstream file(DvcproFrame(), std::ios::binary);
    const Bytes dif((std::istreambuf_iterator<char>(file)), {});
    ASSERT_EQ(dif.size(), 288000u);
    CKorvoDVCProHelper packer;
    ASSERT_TRUE(packer.InitFromDVCProFrame(dif.data(), dif.size()));
    Bytes packed(dif.size());
    uint32_t packedSize = 0;
    ASSERT_TRUE(packer.PackFrame(dif.data(), dif.size(), packed.data(), &packedSize));
    packed.resize(packedSize);

    RixSimGbeClip clip = MakeClip(100, 104);
    clip._vFields.assign(4, packed);
    _server->Store().AddGbeClip(clip);
    auto reader = Open<CRixDVCProVideoDataReader>(Name());
    Bytes frame(288000);
    uint8_t* data = frame.data();
    uint32_t size = 0;
    EXPECT_EQ(reader->GetNextData(&data, frame.size() - 1, &size, nullptr), 101);
    EXPECT_EQ(size, 288000u);
    for (int n = 0; n < 4; ++n) {
        ASSERT_EQ(reader->GetNextData(&data, frame.size(), &size, nullptr), 0);
        ASSERT_EQ(size, 288000u);
        // Every video block comes back where the DIF frame had it.
        for (uint32_t block = 0; block < 288000 / 80; ++block) {
            const uint32_t inSequence = block % 150;
            if (inSequence < 6 || (inSequence - 6) % 16 == 0)
                continue;
            ASSERT_EQ(std::memcmp(&frame[block * 80], &dif[block * 80], 80), 0) << n << " " << block;
        }
    }
    EXPECT_EQ(reader->GetNextData(&data, frame.size(), &size, nullptr), 100);
    EXPECT_EQ(reader->GetPrevData(&data, frame.size(), &size, nullptr), 0);

    // Fields that are not packed DVCPRO.
    _server->Store().AddGbeClip(MakeClip(100, 104));
    Open<CRixDVCProVideoDataReader>(Name(), Rix_Link, 200);
}

// Hydrel field f: compression id 0 (frames of 0x4A000 bytes), no coded length, whole frame only for 102.
Bytes HydrelField(uint32_t f)
{
    Bytes bytes = FieldBytes(f);
    bytes.resize(400 + f % 7, static_cast<uint8_t>(f));
    bytes[5] = f == 102 ? 1 : 2;
    std::fill(bytes.begin() + 40, bytes.begin() + 44, 0);
    bytes[365] = 0;
    std::fill(bytes.begin() + 368, bytes.begin() + 372, 0);
    return bytes;
}

Bytes PaddedFrame(std::initializer_list<uint32_t> fields)
{
    Bytes frame;
    for (uint32_t f : fields) {
        const Bytes field = HydrelField(f);
        frame.insert(frame.end(), field.begin(), field.end());
    }
    frame.resize(0x4A000 - 4);
    frame.insert(frame.end(), {0x60, 0x0D, 0xC0, 0xDE});
    return frame;
}

TEST_F(RixGbeReaderThreads, HydrelFieldsBecomePaddedFrames)
{
    RixSimGbeClip clip = MakeClip(100, 107, 8);
    clip._vFields.clear();
    for (uint32_t f = 100; f < 107; ++f)
        clip._vFields.push_back(HydrelField(f));
    _server->Store().AddGbeClip(clip);
    auto reader = Open<CRixHydrelVideoDataReader>(Name());
    const std::vector<std::vector<uint32_t>> frames = {{100, 101}, {102}, {103, 104}, {105, 106}};
    Bytes buffer(0x4A000);
    const auto frame = [&](bool forwards, uint8_t** data, uint32_t size, const std::vector<uint32_t>& fields) {
        uint32_t got = 0;
        double seconds = -1;
        ASSERT_EQ(forwards ? reader->GetNextData(data, size, &got, &seconds)
                           : reader->GetPrevData(data, size, &got, &seconds),
                  0);
        ASSERT_EQ(got, 0x4A000u);
        const Bytes expected = fields.size() == 1 ? PaddedFrame({fields[0]}) : PaddedFrame({fields[0], fields[1]});
        EXPECT_TRUE(Bytes(*data, *data + got) == expected) << fields[0];
        EXPECT_DOUBLE_EQ(seconds, (fields[0] - 100) * 0.02);
    };
    uint8_t* data = buffer.data();
    uint32_t size = 0;
    for (const auto& fields : frames)
        frame(true, &data, buffer.size(), fields);
    EXPECT_EQ(reader->GetNextData(&data, buffer.size(), &size, nullptr), 100);
    for (auto it = frames.rbegin(); it != frames.rend(); ++it)
        frame(false, &data, buffer.size(), *it);
    EXPECT_EQ(reader->GetPrevData(&data, buffer.size(), &size, nullptr), 100);

    // A buffer too small for a field, or for the padding, is refused without consuming anything.
    for (uint32_t small : {100u, 0x4A000u - 1}) {
        size = 0;
        EXPECT_EQ(reader->GetNextData(&data, small, &size, nullptr), 101) << small;
        EXPECT_EQ(size, 0x4A000u);
        EXPECT_EQ(reader->GetPosition(), 100);
    }
    frame(true, &data, buffer.size(), frames[0]);
    EXPECT_EQ(reader->GetPrevData(&data, 0x4A000 - 1, &size, nullptr), 101);
    EXPECT_EQ(reader->GetPosition(), 102);
    frame(false, &data, buffer.size(), frames[0]);

    // Without a buffer the frame comes in the reader's own.
    uint8_t* own = nullptr;
    frame(true, &own, 0, frames[0]);
    EXPECT_NE(own, nullptr);
    EXPECT_NE(own, buffer.data());
}

// A gateway that answers each request with what the test makes of it, for replies the simulator never sends.
class ScriptedGateway
{
public:
    explicit ScriptedGateway(std::function<CRixMessage(const CRixMessage&)> answer) : _answer(std::move(answer))
    {
        EXPECT_TRUE(_listen.Listen("127.0.0.1", 0));
        _thread = std::thread([this] { Run(); });
    }
    ~ScriptedGateway()
    {
        _bStop = true;
        _thread.join();
    }
    uint16_t Port() const { return _listen.LocalPort(); }

private:
    bool Send(const CRixMessage& message)
    {
        platform::PageBuffer buffer;
        const int64_t total = message.Encode(&buffer);
        return total > 0 && _peer.SendAll(buffer.get(), static_cast<size_t>(total), 2000);
    }
    bool Receive(uint8_t* data, size_t size)
    {
        for (size_t got = 0; got < size;) {
            const int ready = _peer.WaitReadable(50);
            if (_bStop || ready < 0)
                return false;
            if (ready == 0)
                continue;
            const int64_t n = _peer.Recv(data + got, size - got);
            if (n <= 0)
                return false;
            got += static_cast<size_t>(n);
        }
        return true;
    }
    void Run()
    {
        while (!_bStop && !_peer.IsValid())
            _peer = _listen.Accept(50);
        if (_bStop)
            return;
        CRixMessage welcome;
        welcome._nMessageType = CRixMessage::kReply;
        welcome._nRequestId = 0;
        welcome._szText2 = "Welcome";
        Send(welcome);
        Bytes request(CRixMessage::kHeaderSize);
        while (Receive(request.data(), CRixMessage::kHeaderSize)) {
            const uint32_t rest = request[4] | request[5] << 8 | request[6] << 16 | uint32_t{request[7]} << 24;
            request.resize(CRixMessage::kHeaderSize + rest);
            if (!Receive(request.data() + CRixMessage::kHeaderSize, rest))
                return;
            CRixMessage message;
            CRixMessage::Decode(&message, request.data(), static_cast<uint32_t>(request.size()));
            CRixMessage reply = _answer(message);
            reply._nMessageType = CRixMessage::kReply;
            reply._nCommand = message._nCommand;
            reply._nRequestId = message._nRequestId;
            if (!Send(reply))
                return;
            request.resize(CRixMessage::kHeaderSize);
        }
    }

    std::function<CRixMessage(const CRixMessage&)> _answer;
    platform::Socket _listen;
    platform::Socket _peer;
    std::atomic<bool> _bStop{false};
    std::thread _thread;
};

CRixMessage ClipInfoReply()
{
    CRixMessage reply;
    reply._szUmID = "U";
    reply._nRixNumber = 1;
    reply._nClipNumber = 1;
    reply._cCameraId = 'A';
    reply._nGrowingMode = 0;
    reply._nIn = 0;
    reply._nOut = 10;
    reply._nNbVideoChannels = 1;
    reply._nVideoCodec = 1;
    reply._nVideoFormat = kPalFormat;
    reply._nNbAudioChannels = 2;
    reply._nAudioCodec = 1;
    return reply;
}

TEST(RixGbeScriptedThreads, VarIDCountIsBoundedByItsField)
{
    ScriptedGateway gateway([](const CRixMessage&) {
        CRixMessage reply = ClipInfoReply();
        reply._bHasVarID = true;
        reply._VarID.fill('v');
        reply._nVarIDByteCount = 100000;
        reply._nVarIDWide = 0;
        return reply;
    });
    CRixVideoDataReader reader("\\\\127.0.0.1:" + std::to_string(gateway.Port()) + "\\1\\1\\A", Rix_Link);
    ASSERT_EQ(reader.Open(0), 0);
    EXPECT_EQ(reader.GetVarIDText(), std::string(32, 'v'));
}

TEST(RixGbeScriptedThreads, AudioBuffersAreCheckedAgainstTheSampleCount)
{
    struct Case {
        uint32_t nChannels;
        uint32_t nSamples;
        std::vector<size_t> vBuffers;  // bytes per channel buffer sent
        int32_t nResult;
    };
    const Case cases[] = {
        {2, 4, {12, 12}, 0},
        {2, 4, {12, 11}, -2},  // a short buffer
        {2, 4, {12}, -2},      // a buffer missing
        {1, 4, {12, 12}, -2},  // more buffers than channels
        {2, 0xFFFFFFFF, {12, 12}, -2},
        {9, 4, {12, 12}, -2},
        {2, 0x20000000, {12, 12}, -2},  // a count far beyond the data
    };
    for (const Case& c : cases) {
        ScriptedGateway gateway([&](const CRixMessage& request) {
            if (request._nCommand == CRixMessage::kClipInfo)
                return ClipInfoReply();
            CRixMessage reply;
            reply._nNbAudioChannels = c.nChannels;
            reply._n0024 = c.nSamples;
            for (size_t i = 0; i < c.vBuffers.size(); ++i)
                reply._audioData[i] = Bytes(c.vBuffers[i], static_cast<uint8_t>(i + 1));
            return reply;
        });
        CRixAudioDataReader reader("\\\\127.0.0.1:" + std::to_string(gateway.Port()) + "\\1\\1\\A", Rix_Link);
        ASSERT_EQ(reader.Open(0), 0);
        Bytes buffer(64, 0xEE);
        uint8_t* data = buffer.data();
        uint32_t size = 0;
        EXPECT_EQ(reader.GetNextData(&data, buffer.size(), &size, nullptr), c.nResult) << c.nSamples;
        if (c.nResult == 0) {
            EXPECT_EQ(size, 32u);
            EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 8), (Bytes{0, 1, 1, 1, 0, 1, 1, 1}));
            EXPECT_EQ(Bytes(buffer.begin() + 16, buffer.begin() + 20), (Bytes{0, 2, 2, 2}));
        }
        EXPECT_EQ(reader.GetPosition(), c.nResult == 0 ? 1 : 0);
    }
}

}  // namespace
