// The sender object driven as the transfer service drives it, on compositions written through libTolvenc.so; what
// it writes is read back with the project's readers.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <thread>

#include "platform/Paths.h"
#include "sender/CDornsend.h"
#include "tests/sender/DornsendTestKit.h"
#include "tests/sender/SenderTestMedia.h"
#include "tests/support/FileTestKit.h"
#include "tests/support/SmallFolder.h"

namespace
{
using namespace sendertest;
namespace fs = std::filesystem;

constexpr uint32_t kSamples25 = 1920;

struct SenderDeleter {
    void operator()(CDornsend* sender) const { sender->Delete(); }
};
using SenderPtr = std::unique_ptr<CDornsend, SenderDeleter>;

class Dornsend : public ::testing::Test
{
protected:
    void SetUp() override
    {
        _dir = testsupport::FreshDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(Target());
        _spec.targets = {{"TGT-Address", Target().string()}, {"TGT-Name", "Goal A.1"}, {"TGT-Serial", "12340"}};
    }

    fs::path Target() const { return _dir / "target"; }

    // The job file and the side car, both into the target folder.
    void AskForSideFiles()
    {
        _spec.targets["TGT-Xml"] = "Parvex";
        _spec.targets["TGT-XmlPath"] = Target().string();
        _spec.targets["TGT-GenerateKorvo_METADATAS"] = "1";
    }
    void ExpectNoSideFiles() const
    {
        EXPECT_FALSE(fs::exists(Target() / "Goal A.1.korvo.xml"));
        EXPECT_FALSE(fs::exists(Target() / "StqP_Goal A.1_main.xml"));
    }

    // A sender opened on the composition laid out by the fixture; the composition stays open with the fixture.
    SenderPtr OpenSender(int32_t& code)
    {
        const std::string path = (_dir / "composition.xml").string();
        WriteComposition(path, _spec);
        _composition = std::make_unique<OpenedComposition>(path);
        SenderPtr sender(new CDornsend());
        sender->SetPausePollMs(5);
        code = sender->Open(_composition->Get());
        return sender;
    }

    // Frames [first, last) of the pictures and a ramp per audio track; false at the first code that is not 0.
    bool Play(CDornsend& sender, const std::vector<std::string>& frames, size_t first, size_t last, int32_t& code)
    {
        for (size_t i = first; i < last; ++i) {
            const auto* picture = reinterpret_cast<const uint8_t*>(frames[i].data());
            if ((code = sender.Send(Record(0, static_cast<int32_t>(i), picture, frames[i].size(), 1))) != 0)
                return false;
            for (int32_t track : _spec.tracks) {
                if (track == 0)
                    continue;
                const Bytes audio =
                    RampBytes(static_cast<uint32_t>(i) * kSamples25, kSamples25, track - 1, _spec.soundWidth);
                if ((code = sender.Send(
                         Record(track, static_cast<int32_t>(i), audio.data(), audio.size(), kSamples25))) != 0)
                    return false;
            }
        }
        return true;
    }

    fs::path _dir;
    CompositionSpec _spec;
    std::unique_ptr<OpenedComposition> _composition;
};

TEST_F(Dornsend, PlaysAnImxCompositionToAParvexFileWithItsSideFiles)
{
    const auto frames = ImxFrames(50, true, 10);
    _spec.targets["TGT-Xml"] = "Parvex";
    _spec.targets["TGT-XmlPath"] = (_dir / "jobs").string();
    _spec.targets["TGT-XmlIP"] = "10.1.2.3";
    _spec.targets["TGT-XmlUser"] = "op";
    _spec.targets["TGT-XmlDestCam"] = "B";
    _spec.targets["TGT-StqOwner"] = "joe";
    _spec.targets["TGT-GenerateKorvo_METADATAS"] = "1";
    _spec.targets["TGT-LouthIdMain"] = "LOUTH001";
    _spec.targets["TGT-VarIdMain"] = "VAR-1";
    fs::create_directories(_dir / "jobs");
    int32_t code = -1;
    SenderPtr sender = OpenSender(code);
    ASSERT_EQ(code, 0) << sender->GetErrorText();
    EXPECT_EQ(sender->Runstate(), 1);
    const std::string clip = (Target() / "Goal A.1.mxf").string();
    EXPECT_EQ(platform::ToLocalPath(sender->GetTargetPath()), clip);
    ASSERT_TRUE(Play(*sender, frames, 0, frames.size(), code)) << code << sender->GetErrorText();
    EXPECT_EQ(sender->Close(), 0) << sender->GetErrorText();
    EXPECT_EQ(sender->Runstate(), 0);

    ExpectParvexClip(clip, frames, 2, 24);
    const std::string sideCar = testsupport::ReadWholeFile(Target() / "Goal A.1.korvo.xml");
    EXPECT_NE(sideCar.find("<Rix_UmID>LOUTH001</Rix_UmID>"), std::string::npos) << sideCar;
    EXPECT_NE(sideCar.find("<Rix_VarID>VAR-1</Rix_VarID>"), std::string::npos) << sideCar;
    EXPECT_NE(sideCar.find("<TapeID>TAPE01</TapeID>"), std::string::npos) << sideCar;
    EXPECT_NE(sideCar.find("<Owner>joe</Owner>"), std::string::npos) << sideCar;
    const std::string job = testsupport::ReadWholeFile(_dir / "jobs" / "StqP_Goal A.1_main.xml");
    EXPECT_NE(job.find("<Job_Src_File>" + sender->GetTargetPath() + "</Job_Src_File>"), std::string::npos) << job;
    EXPECT_NE(job.find("<Job_Src_XML_Metadata_Path>"), std::string::npos) << job;
    EXPECT_NE(job.find("<Job_Dest_User_Nb>4</Job_Dest_User_Nb>"), std::string::npos) << job;
    EXPECT_NE(job.find("<Job_Dest_Id>LOUTH001</Job_Dest_Id>"), std::string::npos) << job;
    EXPECT_NE(job.find("<Job_Dest_Rix_IP_Address1>10.1.2.3</Job_Dest_Rix_IP_Address1>"), std::string::npos);
    EXPECT_NE(job.find("<Job_Dest_Rix_FTP_Login>op</Job_Dest_Rix_FTP_Login>"), std::string::npos);
    EXPECT_NE(job.find("<Job_Dest_Cam>B</Job_Dest_Cam>"), std::string::npos);
    EXPECT_EQ(fs::exists(_dir / "jobs" / "StqP_Goal A.1_backup.xml"), false);
}

TEST_F(Dornsend, AnExistingTargetFileGetsANumber)
{
    const auto frames = ImxFrames(50, true, 10);
    _spec.tracks = {0};
    testsupport::WriteWholeFile(Target() / "Goal A.1.mxf", "old");
    testsupport::WriteWholeFile(Target() / "Goal A.1000.mxf", "old");
    int32_t code = -1;
    SenderPtr sender = OpenSender(code);
    ASSERT_EQ(code, 0) << sender->GetErrorText();
    EXPECT_EQ(platform::ToLocalPath(sender->GetTargetPath()), (Target() / "Goal A.1001.mxf").string());
    ASSERT_TRUE(Play(*sender, frames, 0, frames.size(), code));
    EXPECT_EQ(sender->Close(), 0);
    EXPECT_EQ(testsupport::ReadWholeFile(Target() / "Goal A.1.mxf"), "old");
    ExpectParvexClip((Target() / "Goal A.1001.mxf").string(), frames, 0, 24);
}

// The clip id takes the serial's tenth; below 10 the machine's registered serial, which this machine lacks.
TEST_F(Dornsend, ASerialThatGivesNoClipIdIsRefusedAtOpen)
{
    const auto frames = ImxFrames(50, true, 10);
    _spec.tracks = {0};
    for (const std::string serial : {"0", "1", "9", "10", "4242"}) {
        SCOPED_TRACE(serial);
        _spec.targets["TGT-Serial"] = serial;
        _spec.targets["TGT-Name"] = "Serial " + serial;
        const fs::path clip = Target() / ("Serial " + serial + ".mxf");
        int32_t code = -1;
        SenderPtr sender = OpenSender(code);
        if (std::stoi(serial) < 10) {
            EXPECT_EQ(code, 5);
            EXPECT_EQ(sender->GetErrorText(),
                      "Dornsend, TGT-Serial [" + serial +
                          "] gives no clip id: a serial below 10 takes the machine's \"Global Serial Number\", which "
                          "is missing or not a multiple of 10; give the serial number (10 or more)");
            EXPECT_FALSE(fs::exists(clip));
            continue;
        }
        ASSERT_EQ(code, 0) << sender->GetErrorText();
        ASSERT_TRUE(Play(*sender, frames, 0, frames.size(), code)) << code;
        EXPECT_EQ(sender->Close(), 0) << sender->GetErrorText();
        ExpectParvexClip(clip.string(), frames, 0, 24);
    }
}

TEST_F(Dornsend, CancelEndsWithCodeTwoAndNoSideFiles)
{
    const auto frames = ImxFrames(50, true, 10);
    AskForSideFiles();
    int32_t code = -1;
    SenderPtr sender = OpenSender(code);
    ASSERT_EQ(code, 0);
    ASSERT_TRUE(Play(*sender, frames, 0, 4, code));
    EXPECT_EQ(sender->Cancel(), 0);
    EXPECT_EQ(sender->Cancel(), 2);
    EXPECT_EQ(sender->Pause(), 2);
    EXPECT_EQ(sender->Resume(), 2);
    EXPECT_EQ(sender->Runstate(), 3);
    EXPECT_FALSE(Play(*sender, frames, 4, 5, code));
    EXPECT_EQ(code, 2);
    EXPECT_EQ(sender->GetErrorText(), "Dornsend was cancelled");
    EXPECT_EQ(sender->SendNull(1, 4), 2);
    EXPECT_EQ(sender->GetErrorText(), "Dornsend was canceled");
    EXPECT_EQ(sender->Close(), 2);
    ExpectNoSideFiles();
    EXPECT_FALSE(fs::exists(Target() / "Goal A.1.mxf"));
}

TEST_F(Dornsend, AnIncompletePlayoutFailsAtCloseWithoutSideFiles)
{
    const auto frames = ImxFrames(50, true, 10);
    AskForSideFiles();
    int32_t code = -1;
    SenderPtr sender = OpenSender(code);
    ASSERT_EQ(code, 0);
    ASSERT_TRUE(Play(*sender, frames, 0, 6, code));
    EXPECT_EQ(sender->Close(), 5);
    EXPECT_NE(sender->GetErrorText().find("incomplete (6 of 10 frames)"), std::string::npos) << sender->GetErrorText();
    ExpectNoSideFiles();
    EXPECT_FALSE(fs::exists(Target() / "Goal A.1.mxf"));
}

// A side file that cannot be written fails the playout with its cause, and the playout leaves nothing behind.
TEST_F(Dornsend, SideFileFaultsFailThePlayoutWithTheCause)
{
    const auto frames = ImxFrames(50, true, 10);
    const struct {
        const char* name;
        const char* mountOptions;
        bool fill;
        const char* cause;
    } cases[] = {
        {"read-only side-file folder", "ro,size=1m", false, "Read-only file system"},
        {"full side-file folder", "size=64k", true, "No space left on device"},
    };
    for (const auto& c : cases) {
        const fs::path folder = _dir / (std::string("side-") + (c.fill ? "full" : "ro"));
        testsupport::SmallFolder small(folder, c.mountOptions);
        if (!small.Mounted()) {
            if (testsupport::SmallFolder::MayBeMissing())
                GTEST_SKIP() << "cannot mount a small tmpfs at " << folder << " (needs root): " << small.Error();
            FAIL() << "cannot mount a small tmpfs at " << folder << " as root: " << small.Error();
        }
        if (c.fill)
            small.Fill();
        _spec.tracks = {0};
        _spec.targets["TGT-Xml"] = "Parvex";
        _spec.targets["TGT-XmlPath"] = folder.string();
        _spec.targets["TGT-GenerateKorvo_METADATAS"] = "1";
        _spec.targets["TGT-Korvo_METADATASPath"] = folder.string() + "/";
        int32_t code = -1;
        SenderPtr sender = OpenSender(code);
        ASSERT_EQ(code, 0) << sender->GetErrorText();
        ASSERT_TRUE(Play(*sender, frames, 0, frames.size(), code));
        EXPECT_EQ(sender->Close(), 5) << c.name;
        EXPECT_NE(sender->GetErrorText().find(c.cause), std::string::npos) << c.name << ": " << sender->GetErrorText();
        EXPECT_NE(sender->GetErrorText().find("Goal A.1.korvo.xml"), std::string::npos) << sender->GetErrorText();
        EXPECT_FALSE(fs::exists(Target() / "Goal A.1.mxf")) << c.name;
        EXPECT_FALSE(fs::exists(folder / "Goal A.1.korvo.xml")) << c.name;
        EXPECT_FALSE(fs::exists(folder / "StqP_Goal A.1_main.xml")) << c.name;
    }
}

// Compositions the target cannot hold are refused at Open, with the reason.
TEST_F(Dornsend, RefusesCompositionsItCannotPlayOut)
{
    const struct {
        const char* name;
        int32_t duration;
        std::vector<int32_t> tracks;
        const char* text;
    } cases[] = {
        {"duration 0", 0, {0, 1}, "the composition has no frames (duration 0)"},
        {"audio track 99", 10, {0, 1, 99}, "the composition names track 99"},
        {"audio track -3", 10, {0, -3}, "the composition names track -3"},
    };
    for (const auto& c : cases) {
        _spec.duration = c.duration;
        _spec.tracks = c.tracks;
        int32_t code = -1;
        SenderPtr sender = OpenSender(code);
        EXPECT_EQ(code, 5) << c.name;
        EXPECT_NE(sender->GetErrorText().find(c.text), std::string::npos) << c.name << ": " << sender->GetErrorText();
        EXPECT_TRUE(fs::is_empty(Target())) << c.name;
    }
}

// Four playouts at once into one folder, round after round: four clips under four names, each its source.
TEST_F(Dornsend, FourPlayoutsAtOnceIntoOneFolder)
{
    const auto frames = ImxFrames(50, true, 6);
    _spec.tracks = {0};
    _spec.duration = static_cast<int32_t>(frames.size());
    for (int round = 0; round < 4; ++round) {
        const fs::path folder = _dir / ("round" + std::to_string(round));
        fs::create_directories(folder);
        std::vector<std::unique_ptr<OpenedComposition>> compositions;
        std::vector<std::vector<std::string>> sources(4);
        for (int n = 0; n < 4; ++n) {
            CompositionSpec layout = _spec;
            layout.targets["TGT-Address"] = folder.string();
            const std::string path = (_dir / ("composition" + std::to_string(n) + ".xml")).string();
            WriteComposition(path, layout);
            compositions.push_back(std::make_unique<OpenedComposition>(path));
            // Each playout its own pictures: a clip that took another's place would show.
            sources[n] = frames;
            for (std::string& picture : sources[n])
                picture[picture.size() / 2] = static_cast<char>('A' + n);
        }
        std::vector<std::string> made(4);
        std::vector<int32_t> closed(4, -1);
        std::vector<std::thread> threads;
        for (int n = 0; n < 4; ++n)
            threads.emplace_back([&, n] {
                SenderPtr sender(new CDornsend());
                if (sender->Open(compositions[n]->Get()) != 0)
                    return;
                made[n] = platform::ToLocalPath(sender->GetTargetPath());
                int32_t code = 0;
                for (size_t i = 0; i < sources[n].size() && code == 0; ++i) {
                    const auto* picture = reinterpret_cast<const uint8_t*>(sources[n][i].data());
                    code = sender->Send(Record(0, static_cast<int32_t>(i), picture, sources[n][i].size(), 1));
                }
                closed[n] = sender->Close();
            });
        for (std::thread& t : threads)
            t.join();
        std::set<std::string> names(made.begin(), made.end());
        EXPECT_EQ(names.size(), 4u) << "round " << round;
        for (int n = 0; n < 4; ++n) {
            EXPECT_EQ(closed[n], 0) << "round " << round << " playout " << n;
            if (!made[n].empty())
                ExpectParvexClip(made[n], sources[n], 0, 24);
        }
    }
}

TEST_F(Dornsend, BadTargetsFailOpenWithAClearText)
{
    struct Case {
        const char* name;
        std::map<std::string, std::string> targets;
        std::map<std::string, std::string> plain;
        std::vector<std::string> compressors;
        std::string text;
    };
    const std::string target = Target().string();
    const Case cases[] = {
        {"server error", {{"TGT-Address", target}}, {{"PlayServerError", "Server down"}}, {}, "Server down"},
        {"no serial", {{"TGT-Address", target}}, {}, {}, "Dornsend, no serial number found in composition"},
        {"empty serial",
         {{"TGT-Address", target}, {"TGT-Serial", ""}},
         {},
         {},
         "Dornsend, no serial number found in composition"},
        {"bad mode", {{"TGT-Address", target}, {"TGT-Mode", "Tape"}}, {}, {}, "Writer instantiation error !!"},
        {"unknown codec",
         {{"TGT-Address", target}, {"TGT-Serial", "10"}},
         {},
         {"Other::Codec"},
         "Writer instantiation error !!"},
        {"folder not writable",
         {{"TGT-Address", (_dir / "no" / "such").string()}, {"TGT-Serial", "10"}},
         {},
         {},
         // The text of old, and after it the file and the cause.
         "Failed to Open Target! " + (_dir / "no" / "such").string() + "\\TAPE01.mxf: No such file or directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        _spec.targets = c.targets;
        _spec.plain = c.plain;
        _spec.compressors = c.compressors.empty() ? std::vector<std::string>{"Mirel::MPEG2::50"} : c.compressors;
        int32_t code = -1;
        SenderPtr sender = OpenSender(code);
        EXPECT_EQ(code, 5);
        EXPECT_EQ(sender->GetErrorText(), c.text);
        EXPECT_EQ(sender->Runstate(), 1);
        EXPECT_EQ(sender->Send(Record(0, 0, reinterpret_cast<const uint8_t*>("x"), 1, 1)), 5);
        EXPECT_EQ(sender->Close(), 0);
    }
}

TEST_F(Dornsend, NullPicturesAreBlackFramesAndNullSoundIsSilence)
{
    InstallBlackFrames();
    const auto frames = ImxFrames(50, true, 10);
    CDornBlackFrame black;
    black.SetLibrary(KORVO_BLACKFRAMES_LIBRARY);
    ASSERT_GT(black.LoadBlackFrame(4, 2, 50000000, false, 0, 3), 0u);
    const std::string blackBytes(reinterpret_cast<const char*>(black.GetData()), black.GetSize());
    _spec.tracks = {0, 1};
    int32_t code = -1;
    SenderPtr sender = OpenSender(code);
    ASSERT_EQ(code, 0) << sender->GetErrorText();
    std::vector<std::string> expected;
    for (int32_t i = 0; i < 10; ++i) {
        if (i % 3 == 1) {
            ASSERT_EQ(sender->SendNull(0, i), 0) << sender->GetErrorText();
            expected.push_back(blackBytes);
        } else {
            const auto* picture = reinterpret_cast<const uint8_t*>(frames[i].data());
            ASSERT_EQ(sender->Send(Record(0, i, picture, frames[i].size(), 1)), 0);
            expected.push_back(frames[i]);
        }
        ASSERT_EQ(sender->SendNull(1, i), 0) << sender->GetErrorText();
    }
    // Beyond the duration nothing more is written.
    EXPECT_EQ(sender->SendNull(0, 10), 0);
    EXPECT_EQ(sender->Close(), 0) << sender->GetErrorText();
    ExpectParvexClip((Target() / "Goal A.1.mxf").string(), expected, 0, 24);

    CMXF_Parvex_AudioDataReader audio("");
    const std::string path = (Target() / "Goal A.1.mxf").string();
    ASSERT_EQ(audio.AttachSourceReader(CreateSourceReader(path.c_str(), 0, 0, ""), 1), 0);
    Bytes buffer(0x800000), samples;
    uint8_t* data = buffer.data();
    uint32_t size = 0;
    while (audio.GetNextData(&data, static_cast<uint32_t>(buffer.size()), &size, nullptr) == 0)
        samples.insert(samples.end(), data, data + size);
    EXPECT_EQ(samples, Bytes(10 * kSamples25 * 4 * 3, 0));
}

TEST_F(Dornsend, WithoutTheBlackFrameLibraryANullPictureFails)
{
    fs::remove(platform::LibraryDir() / "libBlackFrames.so");
    _spec.tracks = {0};
    int32_t code = -1;
    SenderPtr sender = OpenSender(code);
    ASSERT_EQ(code, 0);
    EXPECT_EQ(sender->SendNull(0, 0), 5);
    EXPECT_EQ(sender->GetErrorText(), "ERROR loading black frame");
    EXPECT_EQ(sender->Close(), 5);
}

TEST_F(Dornsend, BadTracksAndUnopenedSendersFail)
{
    SenderPtr sender(new CDornsend());
    EXPECT_EQ(sender->Runstate(), 0);
    const uint8_t byte = 1;
    EXPECT_EQ(sender->Send(Record(9, 0, &byte, 1, 1)), 5);
    EXPECT_EQ(sender->GetErrorText(), "BAD Track Frame !!");
    EXPECT_EQ(sender->SendNull(-1, 0), 5);
    EXPECT_EQ(sender->GetErrorText(), "BAD Track NULL Frame !!");
    EXPECT_EQ(sender->Open(nullptr), 5);
    EXPECT_EQ(sender->GetErrorText(), "Dornsend, no composition in Open");
    EXPECT_EQ(sender->Pause(), 0);
    EXPECT_EQ(sender->Runstate(), 2);
    EXPECT_EQ(sender->Cancel(), 0);
    EXPECT_EQ(sender->Runstate(), 3);
}

TEST_F(Dornsend, TheIniFileFillsEmptyTargetValues)
{
    const fs::path windows = platform::ToLocalPath("C:\\Windows");
    fs::create_directories(windows);
    testsupport::WriteWholeFile(windows / "Dornsend.ini", "[Other]\nTGT-Address=/nowhere\n[Config]\n TGT-Address = " +
                                                              Target().string() + "\nTGT-Xml=Parvex\n");
    const auto frames = ImxFrames(50, true, 10);
    _spec.tracks = {0};
    _spec.targets = {{"TGT-Address", ""}, {"TGT-Serial", "50"}, {"TGT-Xml", ""}, {"TGT-XmlPath", Target().string()}};
    int32_t code = -1;
    SenderPtr sender = OpenSender(code);
    fs::remove(windows / "Dornsend.ini");
    ASSERT_EQ(code, 0) << sender->GetErrorText();
    // The name falls back to the tape id.
    EXPECT_EQ(platform::ToLocalPath(sender->GetTargetPath()), (Target() / "TAPE01.mxf").string());
    ASSERT_TRUE(Play(*sender, frames, 0, frames.size(), code));
    EXPECT_EQ(sender->Close(), 0);
    EXPECT_TRUE(fs::exists(Target() / "StqP_TAPE01_main.xml"));
    EXPECT_FALSE(fs::exists(Target() / "TAPE01.korvo.xml"));
}

TEST_F(Dornsend, APausedSendWaitsForResumeThreads)
{
    const auto frames = ImxFrames(50, true, 10);
    _spec.tracks = {0};
    int32_t code = -1;
    SenderPtr sender = OpenSender(code);
    ASSERT_EQ(code, 0);
    EXPECT_EQ(sender->Pause(), 0);
    EXPECT_EQ(sender->Runstate(), 2);
    std::atomic<bool> done{false};
    std::thread player([&] {
        int32_t playCode = -1;
        Play(*sender, frames, 0, frames.size(), playCode);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(done);
    EXPECT_EQ(sender->Resume(), 0);
    player.join();
    EXPECT_EQ(sender->Close(), 0);
    ExpectParvexClip((Target() / "Goal A.1.mxf").string(), frames, 0, 24);
}

}  // namespace
