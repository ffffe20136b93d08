// Playouts to a main and a backup video server simulator: through tessan and libDornsend.so, cancelled, and
// against servers that cannot be reached.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "outside/rix/CRixSimServer.h"
#include "outside/tessan/CPlayoutTransfer.h"
#include "sender/CDorn_RixFtp_Writer.h"
#include "sender/CDornsend.h"
#include "serverblock/CBavdBlockData.h"
#include "tests/rixclient/RixTestHelpers.h"
#include "tests/sender/DornsendTestKit.h"
#include "tests/support/FileTestKit.h"

namespace
{
using namespace sendertest;
namespace fs = std::filesystem;

constexpr int kFrames = 60;  // IMX 50 with sound: one full 8 MB block and a partial one

class DornsendServers : public ::testing::Test
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
        _dir = testsupport::FreshDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
        _frames = ImxFrames(50, true, kFrames);
        _spec.duration = kFrames;
        _spec.tracks = {0, 1, 2, 3, 4};
        _spec.targets = {
            {"TGT-Mode", "RixFtp"},          {"TGT-Address", Target()},         {"TGT-Name", "Match/final"},
            {"TGT-LouthIdMain", "MAINID01"}, {"TGT-LouthIdBackup", "BACKID02"}, {"TGT-Serial", "12340"}};
    }

    std::string Host(int n) const { return "127.0.0.1:" + std::to_string(_servers[n]->FtpPort()); }
    std::string Target() const { return "ftp://" + Host(0) + "+" + Host(1) + "/clips/110A"; }
    static std::string ClipPath(const char* louthId)
    {
        return std::string("/clips/000110A_") + louthId + "_Match final             .CLP";
    }
    std::string Composition()
    {
        const std::string path = (_dir / "composition.xml").string();
        WriteComposition(path, _spec);
        return path;
    }

    // The pictures of a server's clip, block by block, equal the frames sent.
    void ExpectClip(int server, const char* louthId)
    {
        const auto data = _servers[server]->Store().FileData(ClipPath(louthId));
        ASSERT_GE(data.size(), CDorn_RixFtp_Writer::kBlockBytes);
        ASSERT_EQ(data.size() % CDorn_RixFtp_Writer::kBlockBytes, 0u);
        size_t picture = 0;
        for (size_t offset = 0; offset < data.size(); offset += CDorn_RixFtp_Writer::kBlockBytes) {
            CBavdBlockData block(CDorn_RixFtp_Writer::kBlockBytes);
            ASSERT_EQ(block.SetBlock(data.data() + offset), 0);
            const uint32_t fields = block.GetEndField() - block.GetFirstField();
            for (uint32_t f = 0; f < fields; f += 2, ++picture) {
                ASSERT_LT(picture, _frames.size());
                uint32_t size = 0;
                const uint8_t* bytes = block.GetFieldData(f, &size);
                ASSERT_NE(bytes, nullptr);
                const auto* sent = reinterpret_cast<const uint8_t*>(_frames[picture].data());
                const uint32_t used = dorncodec::TrimmedLength(sent, static_cast<uint32_t>(_frames[picture].size()));
                ASSERT_GE(size, used);
                ASSERT_EQ(0, std::memcmp(bytes, sent, used)) << picture;
            }
        }
        EXPECT_EQ(picture, _frames.size());
    }

    void EmptyClipFolders()
    {
        for (auto& server : _servers) {
            for (const std::string& name : server->Store().List("/clips"))
                server->Store().Delete("/clips/" + name);
        }
    }

    // A sender opened on the composition, its server writers with short waits.
    std::unique_ptr<CDornsend> OpenSender(int32_t& code)
    {
        const std::string path = Composition();
        _composition = std::make_unique<OpenedComposition>(path);
        auto sender = std::make_unique<CDornsend>();
        sender->SetServerWriterHook([this](CDorn_RixFtp_Writer& writer) {
            writer.SetClientTimeouts(rixtest::ShortFtpTimeouts(), rixtest::ShortRixTimeouts());
            writer.SetRetryPolicy({2, 10, 2, 10});
            writer.SetMetadataCopyPath((_dir / "MetadataUpdate.xml").string());
        });
        code = sender->Open(_composition->Get());
        return sender;
    }

    // Pictures [0, count), the frames over and over, with a silent frame per audio track; the first code that is
    // not 0.
    int32_t Play(CDornsend& sender, int count)
    {
        for (int i = 0; i < count; ++i) {
            Qo::Playback::FrameRecord record;
            record.track = 0;
            record.frameNumber = i;
            const std::string& frame = _frames[static_cast<size_t>(i) % _frames.size()];
            record.length = static_cast<uint32_t>(frame.size());
            record.data = new uint8_t[record.length];
            std::memcpy(record.data, frame.data(), record.length);
            if (int32_t code = sender.Send(record); code != 0)
                return code;
            for (int track = 1; track <= 4; ++track)
                if (int32_t code = sender.SendNull(track, i); code != 0)
                    return code;
        }
        return 0;
    }

    std::unique_ptr<rixsim::CRixSimServer> _servers[2];
    fs::path _dir;
    std::vector<std::string> _frames;
    CompositionSpec _spec;
    std::unique_ptr<OpenedComposition> _composition;
};

TEST_F(DornsendServers, TessanPlaysToTheMainAndTheBackupServer)
{
    const fs::path media = _dir / "media";
    WriteMediaFolder(media, "IMX", _frames, _spec, 1920);
    _spec.targets["TGT-StqMetadataRefXMLMain"] = "1";
    _spec.targets["TGT-StqMetadataRefXMLDestMain"] = _dir.string();
    tessan::CPlayoutTransfer playout(Composition(), media.string());
    playout.SetPlugin(KORVO_DORNSEND_LIBRARY);
    tessan::TransferResult result = playout.Run();
    ASSERT_TRUE(result.complete) << result.hostText << " / " << result.pluginText;
    ExpectClip(0, "MAINID01");
    ExpectClip(1, "BACKID02");
    const auto table = _servers[0]->Store().FileData("/clips/000110A_MAINID01_Match final             .XML");
    const std::string xml(table.begin(), table.end());
    EXPECT_NE(xml.find("<AUDIOMODE>3</AUDIOMODE>"), std::string::npos) << xml;
    const std::string referencing = testsupport::ReadWholeFile(_dir / "StqP_Match final_main.xml");
    EXPECT_NE(referencing.find("<Rix_UmID>MAINID01</Rix_UmID>"), std::string::npos) << referencing;
    EXPECT_NE(referencing.find("<TapeID>TAPE01</TapeID>"), std::string::npos) << referencing;
}

TEST_F(DornsendServers, CancelDeletesTheClipOnBothServers)
{
    _spec.duration = 1000;
    int32_t code = -1;
    auto sender = OpenSender(code);
    ASSERT_EQ(code, 0) << sender->GetErrorText();
    // Enough for a few full blocks.
    ASSERT_EQ(Play(*sender, 400), 0) << sender->GetErrorText();
    ASSERT_TRUE(_servers[0]->Store().Info(ClipPath("MAINID01")).has_value());
    ASSERT_TRUE(_servers[1]->Store().Info(ClipPath("BACKID02")).has_value());
    EXPECT_EQ(sender->Cancel(), 0);
    EXPECT_EQ(sender->Close(), 2);
    EXPECT_FALSE(_servers[0]->Store().Info(ClipPath("MAINID01")).has_value());
    EXPECT_FALSE(_servers[1]->Store().Info(ClipPath("BACKID02")).has_value());
}

// A cancel that comes while a block is being opened or written, from another thread as the host sends it.
struct CancelCase {
    const char* name;
    int server;  // whose commands the fault slows
    rixsim::RixSimFault fault;
    // When the cancel comes: the slowed server has received a command beginning so and ending ".CLP", and holds at
    // least so many bytes of the clip.
    const char* command;
    uint64_t clipBytes;
};

constexpr uint64_t kBlock = CDorn_RixFtp_Writer::kBlockBytes;

const CancelCase kCancelCases[] = {
    // The main server answers the clip's opening 1.5 s late: the cancel comes before the first block is written.
    {"AtTheFirstBlock", 0, {"STOR", rixsim::RixSimFaultKind::Delay, -1, 1500}, "STOR ", 0},
    // The main server stops taking data for 1.5 s in the third block; the backup has not had that block yet.
    {"MidClip",
     0,
     {"STOR", rixsim::RixSimFaultKind::StallData, 2, 1500, 1, 2 * kBlock + 4096},
     "STOR ",
     2 * kBlock + 4096},
    // The backup server answers 1.5 s late to everything that opens or deletes its clip: the cancel comes while
    // its clip is being opened, after the main's.
    {"WhileTheBackupIsSlow", 1, {"STOR", rixsim::RixSimFaultKind::Delay, -1, 1500}, "STOR ", 0},
};

class DornsendServerCancelThreads : public DornsendServers, public ::testing::WithParamInterface<CancelCase>
{
protected:
    bool Arrived(const CancelCase& c) const
    {
        bool asked = false;
        for (const auto& entry : _servers[c.server]->Journal()) {
            const std::string& text = entry._szText;
            asked = asked || (text.rfind(c.command, 0) == 0 && text.ends_with(".CLP"));
        }
        const char* louthId = c.server == 0 ? "MAINID01" : "BACKID02";
        const auto info = _servers[c.server]->Store().Info(ClipPath(louthId));
        return asked && (c.clipBytes == 0 || (info && info->_nSize >= c.clipBytes));
    }
};

TEST_P(DornsendServerCancelThreads, NoClipIsLeftOnEitherServer)
{
    const CancelCase& c = GetParam();
    _servers[c.server]->AddFault(c.fault);
    if (c.server == 1)
        _servers[1]->AddFault({"DELE", rixsim::RixSimFaultKind::Delay, -1, 1500});
    _spec.duration = 1000;
    int32_t code = -1;
    auto sender = OpenSender(code);
    ASSERT_EQ(code, 0) << sender->GetErrorText();
    std::thread canceller([&] {
        for (int i = 0; i < 3000 && !Arrived(c); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        sender->Cancel();
    });
    const int32_t played = Play(*sender, 1000);
    canceller.join();
    EXPECT_EQ(played, 2) << sender->GetErrorText();
    testsupport::LogCapture log("");
    EXPECT_EQ(sender->Close(), 2);
    for (int n = 0; n < 2; ++n) {
        const char* louthId = n == 0 ? "MAINID01" : "BACKID02";
        const std::string clip = ClipPath(louthId);
        EXPECT_FALSE(_servers[n]->Store().Info(clip).has_value()) << clip;
        EXPECT_FALSE(_servers[n]->Store().Info(clip.substr(0, clip.size() - 4) + ".XML").has_value()) << clip;
    }
    EXPECT_FALSE(log.Has("created clip NOT deleted"));
}

INSTANTIATE_TEST_SUITE_P(Cases, DornsendServerCancelThreads, ::testing::ValuesIn(kCancelCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DornsendServers, ACancelledClipThatCannotBeDeletedIsLogged)
{
    // The backup refuses every deletion and keeps the clip: busy (450), or a refusal servers also give for a
    // file that is denied or in use (550).
    for (const int32_t refusal : {450, 550}) {
        SCOPED_TRACE(refusal);
        EmptyClipFolders();
        _spec.duration = 1000;
        int32_t code = -1;
        auto sender = OpenSender(code);
        ASSERT_EQ(code, 0) << sender->GetErrorText();
        ASSERT_EQ(Play(*sender, 400), 0) << sender->GetErrorText();
        ASSERT_TRUE(_servers[1]->Store().Info(ClipPath("BACKID02")).has_value());
        _servers[1]->AddFault({"DELE", rixsim::RixSimFaultKind::Busy, -1, 0, 1, 0, refusal});
        EXPECT_EQ(sender->Cancel(), 0);
        testsupport::LogCapture log("");
        EXPECT_EQ(sender->Close(), 2);
        EXPECT_FALSE(_servers[0]->Store().Info(ClipPath("MAINID01")).has_value());
        EXPECT_TRUE(_servers[1]->Store().Info(ClipPath("BACKID02")).has_value());
        const std::string url = "ftp://" + Host(1) + "/clips/000110A_BACKID02_Match final             .CLP";
        EXPECT_TRUE(log.Has("*** Transfer CANCELLED -> created clip NOT deleted [ " + url + " ] ***"));
        EXPECT_EQ(sender->GetErrorText(), "cancelled, but left on the server: " + url);
        _servers[1]->ClearFaults();
    }
}

// Ids that would take the clip out of its folder, or break its name or clip table, are refused at Open with the
// field and the cause; the rest reach the servers in the clip's folder, cut to their lengths.
TEST_F(DornsendServers, ServerIdsAreRefusedOrKeptInTheClipsFolder)
{
    struct Case {
        const char* field;
        std::string value;
        std::string refusal;  // the text after "Dornsend, <field> [<value as shown>] "; empty: played out
        const char* mainId;   // the main Louth id in the clip's name when played out
    };
    const std::string longId(300, 'L');
    const Case cases[] = {
        {"TGT-LouthIdMain", "/../../X", "holds '/', which a server clip's file name cannot carry", nullptr},
        {"TGT-LouthIdMain", "../../ESC", "holds '.', which a server clip's file name cannot carry", nullptr},
        {"TGT-LouthIdMain", "A/B", "holds '/', which a server clip's file name cannot carry", nullptr},
        {"TGT-LouthIdBackup", "..\\X", "holds '.', which a server clip's file name cannot carry", nullptr},
        {"TGT-LouthIdBackup", "A\\B", "holds '\\', which a server clip's file name cannot carry", nullptr},
        {"TGT-LouthIdMain", "AB\tCD", "holds a control character (0x09), which a server clip's file name cannot carry",
         nullptr},
        {"TGT-VarIdMain", "V\nX", "holds a control character (0x0A), which the clip table cannot carry", nullptr},
        {"TGT-LouthIdMain", longId, "", "LLLLLLLL"},
        {"TGT-VarIdMain", "/../../V\\..", "", "MAINID01"},
        {"TGT-VarIdBackup", std::string(300, 'V'), "", "MAINID01"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.field) + " " + c.value.substr(0, 20));
        EmptyClipFolders();
        _spec.targets["TGT-LouthIdMain"] = "MAINID01";
        _spec.targets["TGT-VarIdMain"] = "";
        _spec.targets["TGT-VarIdBackup"] = "";
        _spec.targets["TGT-LouthIdBackup"] = "BACKID02";
        _spec.targets[c.field] = c.value;
        int32_t code = -1;
        auto sender = OpenSender(code);
        if (!c.refusal.empty()) {
            EXPECT_EQ(code, 5);
            const std::string text = sender->GetErrorText();
            EXPECT_EQ(text.rfind(std::string("Dornsend, ") + c.field + " [", 0), 0u) << text;
            EXPECT_TRUE(text.ends_with("] " + c.refusal)) << text;
        } else {
            ASSERT_EQ(code, 0) << sender->GetErrorText();
            ASSERT_EQ(Play(*sender, kFrames), 0) << sender->GetErrorText();
            EXPECT_EQ(sender->Close(), 0) << sender->GetErrorText();
            ExpectClip(0, c.mainId);
        }
        // Nothing but the clip's folder at each server's root, and in it only the clip and its table.
        for (int n = 0; n < 2; ++n) {
            EXPECT_EQ(_servers[n]->Store().List("/"), std::vector<std::string>{"clips/"}) << n;
            const auto files = _servers[n]->Store().List("/clips");
            EXPECT_EQ(files.size(), c.refusal.empty() ? 2u : 0u) << n;
        }
        if (c.refusal.empty()) {
            const auto table = _servers[1]->Store().FileData("/clips/000110A_BACKID02_Match final             .XML");
            const std::string xml(table.begin(), table.end());
            const std::string size = c.field == std::string("TGT-VarIdBackup") ? "32" : "0";
            EXPECT_NE(xml.find("<VARID32_CURSIZE>" + size + "</VARID32_CURSIZE>"), std::string::npos) << xml;
        }
    }
}

TEST_F(DornsendServers, ServersThatCannotBeReachedFailTheFrameWithAClearText)
{
    _spec.targets["TGT-Address"] = "ftp://127.0.0.1:1+127.0.0.1:2/clips/110A";
    _spec.duration = 1000;
    int32_t code = -1;
    auto sender = OpenSender(code);
    ASSERT_EQ(code, 0) << sender->GetErrorText();  // the servers are contacted with the first full block
    EXPECT_EQ(Play(*sender, 1000), 5);
    // The first full block is written when a silent audio frame completes it.
    EXPECT_EQ(sender->GetErrorText(), "Dornsend::SendNull - Write FAILED !!");
    EXPECT_EQ(sender->Close(), 5);
}

}  // namespace
