// The server clip reader over FTP against the video server simulator: field by field forwards and backwards,
// seeks, growing clips and trains, and the faults of the connection, the server and the RPC channel.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "outside/rix/CRixClipTable.h"
#include "platform/Paths.h"
#include "platform/Registry.h"
#include "reading/rix/CRixFTPDataReader.h"
#include "tests/outside/RixSimProgramRun.h"
#include "tests/reading/ParvexClipKit.h"
#include "tests/reading/RixPictureBlocks.h"
#include "tests/rixclient/RixTestHelpers.h"
#include "tests/support/FileTestKit.h"

using namespace rixtest;
using rixsim::CRixClipTable;
using rixsim::RixSimFault;
using rixsim::RixSimFaultKind;

namespace
{

// A source that only carries the clip's URL.
class UrlSource : public CSourceReader
{
public:
    explicit UrlSource(std::string url) : CSourceReader(""), _szUrl(std::move(url)) {}
    void GetName(std::string& name) override { name = _szUrl; }

private:
    std::string _szUrl;
};

const char kClip[] = "/clips/000110A_news.CLP";

class RixFTPDataReaderThreads : public SimTest
{
protected:
    void Configure(rixsim::RixSimConfig& config) override
    {
        config._vWelcome = rixsim::RixSimWelcome(rixsim::RixSimWelcomeStyle::Block2);
        const std::string key = "SOFTWARE\\Brennhall\\" + platform::ProgramName();
        platform::Registry::SetDword(platform::RegHive::LocalMachine, key, "SrcCacheSizeInMB", 12);
        platform::Registry::SetDword(platform::RegHive::LocalMachine, key, "SrcPreloadNbBlocks", 3);
    }

    // A finished clip of fields [100, 100 + blocks x fields) with the points of the table.
    void AddClip(const std::string& path, uint32_t in, uint32_t out, int blocks = 5, uint16_t fields = 10,
                 uint32_t format = 1, uint32_t channels = 1, bool metadata = false, bool growing = false,
                 const CRixClipTable* table = nullptr)
    {
        const std::string name = path.substr(path.rfind('/') + 1);
        const std::string xml =
            table ? table->ToXml() : CRixClipTable::ForClip(name, in, out).Set("VIDEOFORMAT", 1).ToXml();
        _server->Store().AddClip(path, PictureBlocks(100, blocks, fields, format, channels, metadata), 0x200000, xml,
                                 growing);
    }

    std::unique_ptr<CRixFTPDataReader> Reader(const std::string& path, const char* options = "", int32_t expected = 0)
    {
        auto reader = std::make_unique<CRixFTPDataReader>("");
        Prepare(*reader);
        reader->SetReaderTimeouts({10, 5000});
        reader->AttachSourceReader(std::make_unique<UrlSource>(Url(path)), 0);
        EXPECT_EQ(reader->Initialize(options), expected);
        return reader;
    }

    // Reads with the operation until it stops; the pictures, each checked against the field and channel
    // expected next.
    static int32_t ReadAll(CRixFTPDataReader& reader, bool forward, std::vector<std::pair<uint32_t, uint32_t>> want)
    {
        std::vector<uint8_t> buffer(4096);
        size_t n = 0;
        for (;; ++n) {
            uint8_t* data = buffer.data();
            uint32_t size = 0;
            double seconds = -1;
            const int32_t rc = forward ? reader.GetNextData(&data, buffer.size(), &size, &seconds)
                                       : reader.GetPrevData(&data, buffer.size(), &size, &seconds);
            if (rc != 0) {
                EXPECT_EQ(n, want.size());
                return rc;
            }
            if (n >= want.size()) {
                ADD_FAILURE() << "more pictures than expected";
                return 0;
            }
            const auto expected = Picture(want[n].first, want[n].second);
            EXPECT_EQ(std::vector<uint8_t>(data, data + size), expected) << want[n].first << "/" << want[n].second;
        }
    }

    // Field and channel of every picture of [from, to) in forward order.
    static std::vector<std::pair<uint32_t, uint32_t>> Pictures(uint32_t from, uint32_t to, uint32_t step = 1,
                                                               uint32_t channels = 1)
    {
        std::vector<std::pair<uint32_t, uint32_t>> result;
        for (uint32_t f = from; f < to; f += step)
            for (uint32_t c = 0; c < channels; ++c)
                result.emplace_back(f, c);
        return result;
    }
    static std::vector<std::pair<uint32_t, uint32_t>> Reversed(std::vector<std::pair<uint32_t, uint32_t>> v)
    {
        std::reverse(v.begin(), v.end());
        return v;
    }
};

struct Layout {
    uint32_t nFormat;
    uint32_t nChannels;
    bool bMetadata;
};

class RixFTPDataReaderLayoutThreads : public RixFTPDataReaderThreads, public ::testing::WithParamInterface<Layout>
{
};

TEST_P(RixFTPDataReaderLayoutThreads, ForwardsThenBackwardsEqualTheServedBlocks)
{
    const Layout layout = GetParam();
    AddClip(kClip, 104, 146, 5, 10, layout.nFormat, layout.nChannels, layout.bMetadata);
    auto reader = Reader(kClip);
    const uint32_t step = IsTwoFieldFormat(layout.nFormat) ? 2 : 1;
    EXPECT_EQ(reader->GetFieldsPerPicture(), step);
    EXPECT_EQ(reader->GetVideoChannelCount(), layout.nChannels);
    const auto pictures = Pictures(104, 146, step, layout.nChannels);
    EXPECT_EQ(ReadAll(*reader, true, pictures), -2);
    EXPECT_TRUE(reader->IsAtEnd());
    EXPECT_EQ(ReadAll(*reader, false, Reversed(pictures)), -3);
}

INSTANTIATE_TEST_SUITE_P(Layouts, RixFTPDataReaderLayoutThreads,
                         ::testing::Values(Layout{1, 1, false}, Layout{9, 1, false}, Layout{1, 2, true},
                                           Layout{9, 2, false}));

// A whole clip of full 2 MB blocks streamed at loopback speed with the default cache, by a server that
// announces its block size and by one that announces 8 MB (its default) while its blocks are 2 MB.
struct Announced {
    rixsim::RixSimWelcomeStyle eWelcome;
    int32_t nInitialize;
};

class RixFTPDataReaderDefaultCacheThreads : public RixFTPDataReaderThreads,
                                            public ::testing::WithParamInterface<Announced>
{
protected:
    void Configure(rixsim::RixSimConfig& config) override
    {
        config._vWelcome = rixsim::RixSimWelcome(GetParam().eWelcome);
        const std::string key = "SOFTWARE\\Brennhall\\" + platform::ProgramName();
        platform::Registry::SetDword(platform::RegHive::LocalMachine, key, "SrcCacheSizeInMB", 128);
        platform::Registry::SetDword(platform::RegHive::LocalMachine, key, "SrcPreloadNbBlocks", 4);
    }
};

TEST_P(RixFTPDataReaderDefaultCacheThreads, WholeClipForwardsThenBackwards)
{
    AddClip(kClip, 100, 212, 7, 16, 9);
    auto reader = Reader(kClip, "", GetParam().nInitialize);
    if (GetParam().nInitialize != 0) {
        // Blocks read by the wrong size would swallow their neighbours.
        uint8_t* data = nullptr;
        EXPECT_EQ(reader->GetNextData(&data, 0, nullptr, nullptr), -1);
        return;
    }
    const auto pictures = Pictures(100, 212, 2);
    EXPECT_EQ(ReadAll(*reader, true, pictures), -2);
    EXPECT_EQ(ReadAll(*reader, false, Reversed(pictures)), -3);
}

INSTANTIATE_TEST_SUITE_P(Servers, RixFTPDataReaderDefaultCacheThreads,
                         ::testing::Values(Announced{rixsim::RixSimWelcomeStyle::Block2, 0},
                                           Announced{rixsim::RixSimWelcomeStyle::Standard, -4}));

TEST_F(RixFTPDataReaderThreads, ClipTableAndFirstBlock)
{
    AddClip(kClip, 104, 146);
    auto reader = Reader(kClip);
    EXPECT_EQ(reader->GetFileType(), KorvoIMX_File);
    EXPECT_EQ(reader->GetVideoType(), IMX50_Video);
    EXPECT_EQ(reader->GetAudioChannelCount(), 0u);  // the blocks carry no audio
    EXPECT_EQ(reader->GetServerVersion(), 7.07);
    EXPECT_EQ(reader->GetSequenceId(), 1);
    int32_t in = 0, out = 0, system = 0;
    EXPECT_EQ(reader->GetInOut(&in, &out, &system), 0);
    EXPECT_EQ(in, 104);
    EXPECT_EQ(out, 146);
    EXPECT_EQ(system, 3);
    uint8_t* format = nullptr;
    ASSERT_EQ(reader->GetFormat(&format), 16u);
    EXPECT_EQ(reinterpret_cast<uint32_t*>(format)[0], uint32_t{KorvoIMX_File});
    delete[] format;
    EXPECT_EQ(reader->Open(0), -1);
    // A picture by pointer into the block, and a buffer too small.
    uint8_t* data = nullptr;
    uint32_t size = 0;
    double seconds = -1;
    ASSERT_EQ(reader->GetNextData(&data, 0, &size, &seconds), 0);
    EXPECT_EQ(std::vector<uint8_t>(data, data + size), Picture(104, 0));
    EXPECT_EQ(seconds, 0);
    uint8_t small[8];
    data = small;
    EXPECT_EQ(reader->GetNextData(&data, sizeof small, &size, &seconds), -3);
    EXPECT_EQ(size, Picture(105, 0).size());
}

TEST_F(RixFTPDataReaderThreads, SeeksInTheClipsOwnRate)
{
    // NTSC: 59.94 fields a second. Half a second is field 29, not 25.
    CRixClipTable table = CRixClipTable::ForClip("000110A_news.CLP", 100, 150);
    table.Set("VIDEOFORMAT", 2);
    AddClip(kClip, 100, 150, 5, 10, 1, 1, false, false, &table);
    auto reader = Reader(kClip);
    EXPECT_EQ(reader->GetRateSystem(), 4u);
    double half = 0.5;
    ASSERT_EQ(reader->GoToTime(&half), 0);
    std::vector<uint8_t> buffer(4096);
    uint8_t* data = buffer.data();
    uint32_t size = 0;
    double seconds = 0;
    ASSERT_EQ(reader->GetNextData(&data, buffer.size(), &size, &seconds), 0);
    EXPECT_EQ(std::vector<uint8_t>(data, data + size), Picture(129, 0));
    EXPECT_NEAR(seconds, 29 / 59.94, 1e-9);

    ASSERT_EQ(reader->GoToFieldOffset(37), 0);
    EXPECT_EQ(ReadAll(*reader, false, Reversed(Pictures(100, 137))), -3);
    ASSERT_EQ(reader->GoToDataEnd(), 0);
    EXPECT_EQ(ReadAll(*reader, false, Reversed(Pictures(100, 150))), -3);
    ASSERT_EQ(reader->GoToDataStart(), 0);
    EXPECT_EQ(reader->SkipNextData(), 0);
    EXPECT_EQ(ReadAll(*reader, true, Pictures(101, 150)), -2);
    EXPECT_EQ(reader->SkipPrevData(), 0);
    EXPECT_EQ(ReadAll(*reader, false, Reversed(Pictures(100, 149))), -3);
    EXPECT_EQ(reader->GoToFieldOffset(50), -2);
    double negative = -3;
    ASSERT_EQ(reader->GoToTime(&negative), 0);
    EXPECT_EQ(ReadAll(*reader, true, Pictures(100, 150)), -2);
}

TEST_F(RixFTPDataReaderThreads, GrowingClipIsFollowed)
{
    AddClip(kClip, 100, 130, 3, 10, 1, 1, false, true);
    _server->Store().SetSequence(1, {0, 0, 0, 0, kClip});
    auto reader = Reader(kClip, "-refresh_limits");
    ASSERT_TRUE(reader->IsGrowing());
    EXPECT_EQ(ReadAll(*reader, true, Pictures(100, 130)), -2);
    _server->Store().AppendBlocks(kClip, {PictureBlock(130, 10), PictureBlock(140, 10)});
    int32_t in = 0, out = 0;
    ASSERT_EQ(reader->GetInOut(&in, &out, nullptr), 0);
    EXPECT_EQ(in, 100);
    EXPECT_EQ(out, 148);  // the last recorded field, made even
    EXPECT_EQ(ReadAll(*reader, true, Pictures(130, 148)), -2);
}

TEST_F(RixFTPDataReaderThreads, TrainIsFollowedFromNearItsEnd)
{
    const char kTrain[] = "/clips/000120A_live.TRN";
    AddClip(kTrain, 100, 1500, 7, 200);
    _server->Store().SetSequence(1, {0, 0, 0, 0, kTrain});
    auto reader = Reader(kTrain);
    ASSERT_TRUE(reader->IsTrain());
    // Started 1000 fields before the recorded end, and kept 600 fields clear of it.
    EXPECT_EQ(ReadAll(*reader, true, Pictures(500, 900)), -200);
    int32_t in = 0, out = 0;
    ASSERT_EQ(reader->GetInOut(&in, &out, nullptr), 0);
    EXPECT_EQ(out, 1498);
    // A train ends at whole blocks: the block holding OUT is read to its end.
    EXPECT_EQ(ReadAll(*reader, true, Pictures(900, 1500)), -200);
}

TEST_F(RixFTPDataReaderThreads, OldServersAreAskedForTheSequencePoints)
{
    _server->SetConfig([&] {
        auto config = _server->GetConfig();
        config._vWelcome = {"220 Korvo FTP Server B: 2"};
        return config;
    }());
    AddClip(kClip, 100, 130, 3, 10, 1, 1, false, true);
    _server->Store().SetSequence(1, {0, 0, 0, 0, kClip});
    auto reader = Reader(kClip, "-refresh_limits");
    EXPECT_EQ(reader->GetServerVersion(), 0);
    int32_t in = 0, out = 0;
    ASSERT_EQ(reader->GetInOut(&in, &out, nullptr), 0);
    EXPECT_EQ(out, 128);
    bool seqInOut = false;
    for (const auto& line : Commands("RPC"))
        seqInOut |= line.rfind("RPC 3 ", 0) == 0;
    EXPECT_TRUE(seqInOut);
}

TEST_F(RixFTPDataReaderThreads, BrokenDataConnectionIsReadAgain)
{
    AddClip(kClip, 100, 150);
    auto reader = Reader(kClip);
    RixSimFault cut;
    cut._szCommand = "RETR";
    cut._eKind = RixSimFaultKind::CutData;
    cut._nAfterBytes = 0x280000;  // in the second block
    _server->AddFault(cut);
    ASSERT_EQ(reader->GoToDataStart(), 0);
    EXPECT_EQ(ReadAll(*reader, true, Pictures(100, 150)), -2);
}

TEST_F(RixFTPDataReaderThreads, BusyServerIsAskedAgainThenGivenUp)
{
    AddClip(kClip, 100, 200, 10);
    auto reader = Reader(kClip);
    RixSimFault busy;
    busy._szCommand = "RETR";
    busy._eKind = RixSimFaultKind::Busy;
    busy._nTimes = 2;
    _server->AddFault(busy);
    ASSERT_EQ(reader->GoToFieldOffset(80), 0);
    EXPECT_EQ(ReadAll(*reader, true, Pictures(180, 200)), -2);
    // Blocks 5 to 7 were never read: the seek needs the server.
    busy._nTimes = -1;
    _server->AddFault(busy);
    EXPECT_EQ(reader->GoToFieldOffset(55), -2);
    _server->ClearFaults();
    ASSERT_EQ(reader->GoToFieldOffset(55), 0);
    EXPECT_EQ(ReadAll(*reader, true, Pictures(155, 200)), -2);
}

TEST_F(RixFTPDataReaderThreads, RpcFailuresReachTheCallerAndTheChannelComesBack)
{
    AddClip(kClip, 100, 130, 3, 10, 1, 1, false, true);
    _server->Store().SetSequence(1, {0, 0, 0, 0, kClip});
    auto reader = Reader(kClip, "-refresh_limits");
    int32_t in = 0, out = 0;
    RixSimFault code;
    code._szCommand = "RPC 6";
    code._eKind = RixSimFaultKind::ReturnCode;
    code._nCode = 3;
    _server->AddFault(code);
    EXPECT_NE(reader->GetInOut(&in, &out, nullptr), 0);
    ASSERT_EQ(reader->GetInOut(&in, &out, nullptr), 0);
    EXPECT_EQ(out, 128);

    // A dropped channel breaks the session; the next block read builds it again.
    RixSimFault drop;
    drop._szCommand = "RPC 6";
    drop._eKind = RixSimFaultKind::DropConnection;
    _server->AddFault(drop);
    EXPECT_NE(reader->GetInOut(&in, &out, nullptr), 0);
    ASSERT_EQ(reader->GoToFieldOffset(20), 0);
    EXPECT_EQ(ReadAll(*reader, true, Pictures(120, 128)), -2);
    ASSERT_EQ(reader->GetInOut(&in, &out, nullptr), 0);
}

TEST_F(RixFTPDataReaderThreads, InitializeFailures)
{
    AddClip(kClip, 104, 146);
    _server->Store().AddFile("/clips/000111A_empty.XML", {});
    _server->Store().AddFile("/clips/000112A_big.XML", rixsim::RixSimBytes(0x100000, ' '));
    _server->Store().AddFile("/clips/000113A_noclip.XML", [] {
        const std::string xml = CRixClipTable::ForClip("x", 100, 150).ToXml();
        return rixsim::RixSimBytes(xml.begin(), xml.end());
    }());
    AddClip("/clips/000114A_dead.TRN", 0, 0);
    Reader("/clips/000111A_empty.CLP", "", -2);
    Reader("/clips/000112A_big.CLP", "", -2);
    Reader("/clips/000115A_none.CLP", "", -2);
    Reader("/clips/000113A_noclip.CLP", "", -3);
    Reader("/clips/000114A_dead.TRN", "", -4);

    CRixFTPDataReader reader("");
    EXPECT_EQ(reader.Initialize(""), -1);
    reader.AttachSourceReader(std::make_unique<UrlSource>("ftp://127.0.0.1:1/clips/x.CLP"), 0);
    EXPECT_EQ(reader.Initialize(""), -5);
    EXPECT_FALSE(reader.IsOpen());
    uint8_t* data = nullptr;
    EXPECT_EQ(reader.GetNextData(&data, 0, nullptr, nullptr), -1);
}

}  // namespace

namespace
{

// Server clips of 2 MB and of 8 MB blocks written by the system's clip writer, each in a folder that the
// simulator's program serves: the program announces the block size of its clips, the reader reads blocks by it,
// and every picture comes whole.
TEST(RixFTPDataReaderProgram, ClipsOfEitherBlockSizeAreReadWhole)
{
    namespace fs = std::filesystem;
    const std::string key = "SOFTWARE\\Brennhall\\" + platform::ProgramName();
    platform::Registry::SetDword(platform::RegHive::LocalMachine, key, "SrcCacheSizeInMB", 64);
    platform::Registry::SetDword(platform::RegHive::LocalMachine, key, "SrcPreloadNbBlocks", 2);
    for (const uint32_t format : {uint32_t{KORVOMXF_FORMAT_BAVD_2MB}, uint32_t{KORVOMXF_FORMAT_BAVD_8MB}}) {
        const bool two = format == KORVOMXF_FORMAT_BAVD_2MB;
        SCOPED_TRACE(two ? "2 MB" : "8 MB");
        const parvexclip::ClipSpec layout{"Imx50", format, 2, 3, 4, 50, 1, "imx50.m2v", 250000, 12, false};
        const fs::path dir = testsupport::FreshDir(two ? "rixsim-folder-2mb" : "rixsim-folder-8mb");
        parvexclip::ClipWriter writer(layout);
        ASSERT_TRUE(writer.WriteAll((dir / "CLIP.MXF").string()));
        // The server keeps the blocks that follow the clip file's 2 MB header area.
        const parvexclip::Bytes file = parvexclip::ReadFile(dir / "CLIP.MXF");
        const size_t block = two ? 0x200000 : 0x800000;
        ASSERT_GT(file.size(), 0x200000u + block);
        const fs::path clips = dir / "server" / "clips";
        fs::create_directories(clips);
        parvexclip::WriteFile(clips / "000110A_news.CLP", file.data() + 0x200000,
                              (file.size() - 0x200000) / block * block);
        const std::string xml =
            CRixClipTable::ForClip("news", parvexclip::kFirstField, parvexclip::kFirstField + 2 * layout.nPictures)
                .Set("VIDEOFORMAT", 1)
                .ToXml();
        parvexclip::WriteFile(clips / "000110A_news.XML", reinterpret_cast<const uint8_t*>(xml.data()), xml.size());

        rixsimtest::RixSimProgramRun server(KORVO_RIXSIM_PROGRAM, dir / "server");
        EXPECT_TRUE(server.Welcome().ends_with(two ? " B: 2" : " B: 8")) << server.Welcome();
        CRixFTPDataReader reader("");
        reader.SetTimeouts(ShortFtpTimeouts());
        reader.SetRixTimeouts(ShortRixTimeouts());
        reader.SetReaderTimeouts({10, 5000});
        reader.AttachSourceReader(
            std::make_unique<UrlSource>("ftp://127.0.0.1:" + std::to_string(server.Port()) + "/clips/000110A_news.CLP"),
            0);
        ASSERT_EQ(reader.Initialize(""), 0);
        std::vector<uint8_t> buffer(0x100000);
        uint32_t pictures = 0;
        for (;; ++pictures) {
            uint8_t* data = buffer.data();
            uint32_t size = 0;
            double seconds = -1;
            if (reader.GetNextData(&data, static_cast<uint32_t>(buffer.size()), &size, &seconds) != 0)
                break;
            ASSERT_LT(pictures, layout.nPictures);
            const parvexclip::Bytes& stored = writer.Stored()[pictures];
            ASSERT_GE(size, stored.size()) << pictures;
            EXPECT_EQ(0, std::memcmp(data, stored.data(), stored.size())) << pictures;
        }
        EXPECT_EQ(pictures, layout.nPictures);
    }
}

}  // namespace
