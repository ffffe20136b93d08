// The server writer against two video server simulators: the clip on each, a server failing mid-clip, cancel,
// a failed open and a cancel that ends the connection retries.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "outside/rix/CRixSimServer.h"
#include "sender/CDorn_RixFtp_Writer.h"
#include "sender/DornCodecFrames.h"
#include "serverblock/CBavdBlockData.h"
#include "serverblock/CKorvoDVCProHelper.h"
#include "tests/rixclient/RixTestHelpers.h"
#include "tests/sender/SenderTestMedia.h"
#include "tests/support/FileTestKit.h"
#include "tests/support/WaitUntil.h"

namespace
{
using namespace sendertest;
namespace fs = std::filesystem;

constexpr int kFrames = 240;  // IMX 50 pictures with sound: full 8 MB blocks and a partial one

class RixFtpWriterThreads : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (auto& server : _servers) {
            rixsim::RixSimConfig config;
            config._nDataTimeoutMs = 2000;
            server = std::make_unique<rixsim::CRixSimServer>(config);
            server->Store().AddDirectory("/clips");
            ASSERT_TRUE(server->Start());
        }
        _dir = testsupport::FreshDir("dorn-rixftp");
        _frames = ImxFrames(50, true, kFrames);
        ASSERT_EQ(_frames.size(), static_cast<size_t>(kFrames));
    }

    std::string Host(int n) const { return "127.0.0.1:" + std::to_string(_servers[n]->FtpPort()); }
    std::string Target() const { return "ftp://" + Host(0) + "+" + Host(1) + "/clips/110A"; }
    std::string ClipPath(const char* louthId) const
    {
        return std::string("/clips/000110A_") + louthId + "_Match final             .CLP";
    }

    std::unique_ptr<CDorn_RixFtpIMX_Writer> MakeWriter()
    {
        auto writer = std::make_unique<CDorn_RixFtpIMX_Writer>(
            "Match.final", "MAINID01", "VARMAIN", "BACKID02", "VARBACK", 2, (_dir / "ref_main.xml").c_str(), 2,
            (_dir / "ref_backup.xml").c_str(), "TAPE7", "Owner X", 12340);
        writer->SetClientTimeouts(rixtest::ShortFtpTimeouts(), rixtest::ShortRixTimeouts());
        writer->SetRetryPolicy({2, 10, 2, 10});
        writer->SetMetadataCopyPath((_dir / "MetadataUpdate.xml").string());
        writer->SetCancelSignal(&_cancel);
        return writer;
    }

    int Open(CDorn_RixFtp_Writer& writer, const std::string& target)
    {
        return writer.Open(target.c_str(), 3, 50000000, 2, 24, 1, CTimeCode(10, 0, 0, 0, false, 3), kFrames);
    }

    // Sends frames [from, to); the first failure, else 0.
    int Send(CDorn_RixFtp_Writer& writer, int from, int to)
    {
        for (int i = from; i < to; ++i) {
            const DornFrame picture{reinterpret_cast<const uint8_t*>(_frames[i].data()),
                                    static_cast<uint32_t>(_frames[i].size())};
            if (int r = writer.AddPicture(&picture); r != 0)
                return r;
            for (int ch = 0; ch < 2; ++ch) {
                const Bytes audio = RampBytes(static_cast<uint32_t>(i) * 1920, 1920, ch, 24);
                const DornFrame sound{audio.data(), static_cast<uint32_t>(audio.size())};
                if (int r = writer.AddAudio(ch, &sound); r != 0)
                    return r;
            }
        }
        return 0;
    }

    // The pictures of a server's clip, block by block, equal the frames sent.
    void ExpectClip(int server, const char* louthId)
    {
        const auto data = _servers[server]->Store().FileData(ClipPath(louthId));
        ASSERT_GE(data.size(), 2u * CDorn_RixFtp_Writer::kBlockBytes);
        ASSERT_EQ(data.size() % CDorn_RixFtp_Writer::kBlockBytes, 0u);
        size_t picture = 0;
        uint32_t expectField = 10 * 3600 * 50;
        for (size_t offset = 0; offset < data.size(); offset += CDorn_RixFtp_Writer::kBlockBytes) {
            CBavdBlockData block(CDorn_RixFtp_Writer::kBlockBytes);
            ASSERT_EQ(block.SetBlock(data.data() + offset), 0);
            EXPECT_EQ(block.GetFirstField(), expectField);
            const uint32_t fields = block.GetEndField() - block.GetFirstField();
            for (uint32_t f = 0; f < fields; f += 2, ++picture) {
                SCOPED_TRACE(picture);
                ASSERT_LT(picture, _frames.size());
                uint32_t size = 0;
                const uint8_t* bytes = block.GetFieldData(f, &size);
                ASSERT_NE(bytes, nullptr);
                const auto* sent = reinterpret_cast<const uint8_t*>(_frames[picture].data());
                const uint32_t used = dorncodec::TrimmedLength(sent, static_cast<uint32_t>(_frames[picture].size()));
                ASSERT_GE(size, used);
                EXPECT_EQ(0, std::memcmp(bytes, sent, used));
            }
            expectField += fields;
        }
        EXPECT_EQ(picture, _frames.size());
    }

    std::unique_ptr<rixsim::CRixSimServer> _servers[2];
    fs::path _dir;
    std::vector<std::string> _frames;
    std::atomic<bool> _cancel{false};
};

TEST_F(RixFtpWriterThreads, EachServerGetsItsOwnClipTableAndReferencingXml)
{
    auto writer = MakeWriter();
    ASSERT_EQ(Open(*writer, Target()), 0);
    EXPECT_EQ(writer->GetClipId(), "000110A");
    EXPECT_EQ(writer->GetServerClipName(), "Match final             ");
    ASSERT_EQ(Send(*writer, 0, kFrames), 0);
    EXPECT_EQ(writer->GetConnectionCount(), 2u);
    EXPECT_EQ(writer->Close(false), 0);
    EXPECT_EQ(writer->GetBlocksWritten() * CDorn_RixFtp_Writer::kBlockBytes,
              _servers[0]->Store().FileData(ClipPath("MAINID01")).size());
    ExpectClip(0, "MAINID01");
    ExpectClip(1, "BACKID02");

    const auto table = _servers[1]->Store().FileData("/clips/000110A_BACKID02_Match final             .XML");
    const std::string xml(table.begin(), table.end());
    EXPECT_NE(xml.find("<CLIPNAME>Match final             </CLIPNAME>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<NUMCLIPLenmark>110</NUMCLIPLenmark>"), std::string::npos);
    EXPECT_NE(xml.find("<CAMERA>A</CAMERA>"), std::string::npos);
    // The in point with the short points: the browser derives every timecode of the clip from it.
    EXPECT_NE(xml.find("<IN>1800000</IN>\n<SHORTIN>1800000</SHORTIN>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<SHORTOUT>1800480</SHORTOUT>"), std::string::npos);
    EXPECT_NE(xml.find("<VIDEOCOMPRESSIONTYPE>3</VIDEOCOMPRESSIONTYPE>"), std::string::npos);
    EXPECT_NE(xml.find("<AUDIOMODE>3</AUDIOMODE>"), std::string::npos);
    EXPECT_NE(xml.find("<VARID32_CURSIZE>7</VARID32_CURSIZE>"), std::string::npos);
    EXPECT_EQ(writertest::Shell("xmllint --noout " + (_dir / "MetadataUpdate.xml").string() + " 2>&1"), "");

    const std::string main = testsupport::ReadWholeFile(_dir / "ref_main.xml");
    const std::string backup = testsupport::ReadWholeFile(_dir / "ref_backup.xml");
    EXPECT_NE(main.find("<Rix_UmID>MAINID01</Rix_UmID>"), std::string::npos) << main;
    EXPECT_NE(main.find("<Rix_VarID>VARMAIN</Rix_VarID>"), std::string::npos);
    EXPECT_NE(main.find("<Rix_NumClip>110</Rix_NumClip>"), std::string::npos);
    EXPECT_NE(main.find("<Rix_Camera>A</Rix_Camera>"), std::string::npos);
    EXPECT_NE(main.find("<Rix_IP_Address1>127.0.0.1</Rix_IP_Address1>"), std::string::npos);
    EXPECT_NE(main.find("<Owner>Owner X</Owner>"), std::string::npos);
    EXPECT_NE(main.find("<TapeID>TAPE7</TapeID>"), std::string::npos);
    EXPECT_NE(backup.find("<Rix_UmID>BACKID02</Rix_UmID>"), std::string::npos) << backup;
    EXPECT_EQ(writertest::Shell("xmllint --noout " + (_dir / "ref_main.xml").string() + " 2>&1"), "");
}

TEST_F(RixFtpWriterThreads, AServerFailingMidClipIsDroppedAndTheOtherCompletes)
{
    for (int failing : {0, 1}) {
        SCOPED_TRACE(failing);
        fs::remove(_dir / "ref_main.xml");
        fs::remove(_dir / "ref_backup.xml");
        rixsim::RixSimFault cut;
        cut._szCommand = "STOR";
        cut._eKind = rixsim::RixSimFaultKind::CutData;
        cut._nAfterBytes = 3u << 20;
        // The first STOR is the clip table; the cut hits the clip.
        _servers[failing]->AddFault(rixsim::RixSimFault{"STOR", rixsim::RixSimFaultKind::Delay, 1, 1});
        _servers[failing]->AddFault(cut);
        testsupport::LogCapture log("");
        auto writer = MakeWriter();
        ASSERT_EQ(Open(*writer, Target()), 0);
        ASSERT_EQ(Send(*writer, 0, kFrames), 0);
        EXPECT_EQ(writer->GetConnectionCount(), 1u);
        EXPECT_EQ(writer->Close(false), 0);
        ExpectClip(1 - failing, failing ? "MAINID01" : "BACKID02");
        EXPECT_TRUE(log.Has(failing ? "Detected the BACKUP transfer failed" : "Detected the MAIN transfer failed"));
        EXPECT_TRUE(fs::exists(_dir / (failing ? "ref_main.xml" : "ref_backup.xml")));
    }
}

TEST_F(RixFtpWriterThreads, CancelDeletesTheClipOnBothServers)
{
    auto writer = MakeWriter();
    ASSERT_EQ(Open(*writer, Target()), 0);
    ASSERT_EQ(Send(*writer, 0, kFrames), 0);
    ASSERT_GE(writer->GetBlocksWritten(), 1);
    ASSERT_TRUE(_servers[0]->Store().Info(ClipPath("MAINID01")).has_value());
    _cancel = true;
    writer->Close(true);
    EXPECT_FALSE(_servers[0]->Store().Info(ClipPath("MAINID01")).has_value());
    EXPECT_FALSE(_servers[1]->Store().Info(ClipPath("BACKID02")).has_value());
}

TEST_F(RixFtpWriterThreads, NoServerReachedFails)
{
    const std::string dead = "ftp://127.0.0.1:1+127.0.0.1:2/clips/110A";
    auto writer = MakeWriter();
    ASSERT_EQ(Open(*writer, dead), 0);  // the servers are contacted with the first full block
    EXPECT_NE(Send(*writer, 0, kFrames), 0);
    EXPECT_EQ(writer->GetConnectionCount(), 0u);
    EXPECT_NE(writer->Close(false), 0);
    EXPECT_EQ(writer->GetBlocksWritten(), 0);
}

TEST_F(RixFtpWriterThreads, CancelEndsTheRetriesOfAServerWithoutWelcome)
{
    for (auto& server : _servers) {
        auto config = server->GetConfig();
        config._vWelcome = rixsim::RixSimWelcome(rixsim::RixSimWelcomeStyle::None);
        server->SetConfig(config);
    }
    auto writer = MakeWriter();
    writer->SetRetryPolicy({1000000, 2333, 4, 5000});
    ASSERT_EQ(Open(*writer, Target()), 0);
    // The cancel comes once the writer is in its retries: connected to a server that stays silent.
    std::chrono::steady_clock::time_point cancelled;
    std::thread canceller([this, &cancelled] {
        testsupport::WaitUntil([this] { return _servers[0]->FtpSessions() + _servers[1]->FtpSessions() > 0; });
        cancelled = std::chrono::steady_clock::now();
        _cancel = true;
    });
    EXPECT_NE(Send(*writer, 0, kFrames), 0);
    const auto ended = std::chrono::steady_clock::now();
    canceller.join();
    EXPECT_GT(_servers[0]->FtpSessions() + _servers[1]->FtpSessions(), 0u);
    EXPECT_LT(ended - cancelled, std::chrono::seconds(10));
    writer->Close(true);
}

// DVCPRO HD pictures go out packed, VC-3 frames as one field unit each: both servers hold what was sent.
TEST_F(RixFtpWriterThreads, DVCProHDAndVC3ReachBothServers)
{
    struct Codec {
        const char* media;
        const char* args;
        uint32_t frameBytes;
        bool vc3;
        const char* clip;
    } codecs[] = {
        {"DVCProHD_8MB_8ch.bin",
         "-f lavfi -i testsrc2=s=1440x1080:r=25 -pix_fmt yuv422p -c:v dvvideo -frames:v 12 -f dv", 576000, false,
         "120A"},
        {"VC3_8MB_4ch.bin",
         "-f lavfi -i testsrc2=s=1920x1080:r=25 -pix_fmt yuv422p -c:v dnxhd -b:v 120M -flags +ildct -frames:v 12 "
         "-f rawvideo",
         2 * 0x4A000, true, "130A"},
    };
    for (const Codec& c : codecs) {
        SCOPED_TRACE(c.media);
        const std::string stream = testsupport::ReadWholeFile(writertest::Cached(c.media, c.args));
        ASSERT_EQ(stream.size(), size_t{c.frameBytes} * 12);
        std::unique_ptr<CDorn_RixFtp_Writer> writer;
        if (c.vc3)
            writer = std::make_unique<CDorn_RixFtpHydrel_Writer>("hd", "MAINID01", "", "BACKID02", "", 0, "", 0, "", "",
                                                                 "", 12340);
        else
            writer = std::make_unique<CDorn_RixFtpDVCPro_Writer>("hd", "MAINID01", "", "BACKID02", "", 0, "", 0, "", "",
                                                                 "", 12340);
        writer->SetClientTimeouts(rixtest::ShortFtpTimeouts(), rixtest::ShortRixTimeouts());
        writer->SetMetadataCopyPath("");
        const std::string target = "ftp://" + Host(0) + "+" + Host(1) + "/clips/" + c.clip;
        ASSERT_EQ(writer->Open(target.c_str(), 3, c.vc3 ? 120000000 : 100000000, 0, 24, 1,
                               CTimeCode(10, 0, 0, 0, false, 3), 12),
                  0);
        std::vector<std::string> expected;  // per field unit (VC-3) or per picture (DVCPRO)
        for (int i = 0; i < 12; ++i) {
            const auto* frame = reinterpret_cast<const uint8_t*>(stream.data()) + size_t{c.frameBytes} * i;
            const DornFrame picture{frame, c.frameBytes};
            ASSERT_EQ(writer->AddPicture(&picture), 0) << i;
            if (c.vc3) {
                for (const std::string& unit : Vc3Units(frame))
                    expected.push_back(unit);
            } else {
                expected.push_back(PackedDVCPro(frame, c.frameBytes));
                ASSERT_FALSE(expected.back().empty());
            }
        }
        EXPECT_EQ(writer->Close(false), 0);
        for (int server = 0; server < 2; ++server) {
            const std::string path = std::string("/clips/000") + c.clip + "_" + (server ? "BACKID02" : "MAINID01") +
                                     "_hd                      .CLP";
            const auto data = _servers[server]->Store().FileData(path);
            ASSERT_EQ(data.size(), size_t{CDorn_RixFtp_Writer::kBlockBytes}) << path;
            CBavdBlockData block(CDorn_RixFtp_Writer::kBlockBytes);
            ASSERT_EQ(block.SetBlock(data.data()), 0);
            ASSERT_EQ(block.GetEndField() - block.GetFirstField(), 24u);
            const uint32_t step = c.vc3 ? 1 : 2;
            for (uint32_t f = 0, n = 0; f < 24; f += step, ++n) {
                uint32_t size = 0;
                const uint8_t* bytes = block.GetFieldData(f, &size);
                ASSERT_NE(bytes, nullptr);
                ASSERT_GE(size, expected[n].size());
                EXPECT_EQ(0, std::memcmp(bytes, expected[n].data(), expected[n].size())) << n;
            }
        }
    }
}

TEST(RixFtpWriterNames, UniqueFileNamesCountUpPastEveryExtension)
{
    const fs::path dir = testsupport::FreshDir("dorn-unique");
    const std::string path = (dir / "StqP_x_main.xml").string();
    EXPECT_EQ(CDorn_RixFtp_Writer::InsureUniqueFileName(path, false), path);
    testsupport::WriteWholeFile(dir / "StqP_x_main.txt", "x");
    EXPECT_EQ(CDorn_RixFtp_Writer::InsureUniqueFileName(path, false), (dir / "StqP_x_main (1).xml").string());
    testsupport::WriteWholeFile(dir / "StqP_x_main (1).bak", "x");
    EXPECT_EQ(CDorn_RixFtp_Writer::InsureUniqueFileName(path, false), (dir / "StqP_x_main (2).xml").string());
    EXPECT_EQ(CDorn_RixFtp_Writer::InsureUniqueFileName(path, true), path);
}

}  // namespace
