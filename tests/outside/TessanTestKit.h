#pragma once
// Ingest job documents as the browser writes them, with chosen values replaced, for the transfer
// service's tests.

#include <string>
#include <utility>
#include <vector>

namespace tessantest
{

using Values = std::vector<std::pair<std::string, std::string>>;

// A local TCP job of a 25 frames/s IMX clip with two 24-bit audio tracks, 100 frames; a value given
// replaces the job's own (an empty name's value drops nothing), a value the job lacks is added to
// "private", and "Rix_TC_System" goes into the metadata (empty: left out).
inline std::string JobText(const Values& changes)
{
    Values root = {{"printname", "News & Weather"}, {"lookupname", "NEWS & WEATHER.CLP"},
                   {"hostname", "Mirel"},           {"directory", "/media/clips"},
                   {"dllname", "KorvoSetup"},       {"dllversion", "2.1"},
                   {"markin", "10:00:00:00"},       {"markout", "10:00:04:00"}};
    Values priv = {{"KorvoFps", "25"},
                   {"KorvoTCIn", "1800000"},
                   {"KorvoTCOut", "1800200"},
                   {"KorvonAudios", "2"},
                   {"KorvoRate", "50"},
                   {"KorvoClipIn", "-1"},
                   {"KorvoClipOut", "-1"},
                   {"KorvoRixFstFld", "0"},
                   {"KorvoBlockSizeMB", "8"},
                   {"KorvonAudioBits", "24"},
                   {"KorvonVideoChannels", "1"},
                   {"TrimClip", "0"},
                   {"Tardix", "1"},
                   {"KorvoTCPPort", "192.168.1.2:1666"},
                   {"KorvoFileType", "TCP"},
                   {"KorvoDataType", "IMX"}};
    std::string system = "3";
    for (const auto& [name, value] : changes) {
        if (name == "Rix_TC_System") {
            system = value;
            continue;
        }
        bool found = false;
        for (Values* list : {&root, &priv})
            for (auto& item : *list)
                if (item.first == name) {
                    item.second = value;
                    found = true;
                }
        if (!found)
            priv.push_back({name, value});
    }
    // The browser's own form: "<?xml>" and bare ampersands.
    std::string text = "<?xml><ingestdrag>";
    for (const auto& [name, value] : root)
        text += "<" + name + ">" + value + "</" + name + ">";
    text += "<private>";
    for (const auto& [name, value] : priv)
        text += "<" + name + ">" + value + "</" + name + ">";
    if (!system.empty())
        text +=
            "<Korvo_Metadatas><General_Infos><Parvex_File_Infos><Rix_Device_Src>Korvo Rix</Rix_Device_Src>"
            "<Rix_TC_System>" +
            system + "</Rix_TC_System></Parvex_File_Infos></General_Infos></Korvo_Metadatas>";
    text += "</private></ingestdrag>";
    return text;
}

}  // namespace tessantest

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "tests/support/FileTestKit.h"

namespace tessantest
{

constexpr size_t kDvFrameBytes = 144000;

// The output of a shell command, its last newline removed.
inline std::string Shell(const std::string& command)
{
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    std::array<char, 4096> buffer;
    while (pipe && fgets(buffer.data(), buffer.size(), pipe.get()))
        out += buffer.data();
    while (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

// A test that runs a transfer with a fake plug-in: a 12-frame DV source made by ffmpeg, an output
// folder, and the fake's journal.
class FakeRun : public ::testing::Test
{
protected:
    void SetUp() override
    {
        _dir = testsupport::FreshDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
        // Made once per build tree; written beside and renamed, as tests run in parallel.
        std::error_code ec;
        if (std::filesystem::file_size(Source(), ec) != 12 * kDvFrameBytes) {
            std::filesystem::create_directories(Source().parent_path());
            std::string temp = Source().string() + "." + std::to_string(getpid());
            std::string command =
                "ffmpeg -v error -y -f lavfi -i testsrc2=s=720x576:r=25 -frames:v 12 -c:v dvvideo "
                "-pix_fmt yuv420p -f dv '" +
                temp + "'";
            ASSERT_EQ(std::system(command.c_str()), 0);
            std::filesystem::rename(temp, Source());
        }
        ASSERT_EQ(std::filesystem::file_size(Source()), 12 * kDvFrameBytes);
        setenv("FAKE_JOURNAL", (_dir / "journal.txt").c_str(), 1);
        unsetenv("FAKE_MODE");
        unsetenv("FAKE_DELAY_MS");
        unsetenv("FAKE_VERSION");
    }

    static std::filesystem::path Source() { return std::filesystem::path(KORVO_TEST_DATA_DIR) / "tessan" / "CLIP.DV"; }
    std::filesystem::path Out() const { return _dir / "out"; }
    std::string JournalText() const { return testsupport::ReadWholeFile(_dir / "journal.txt"); }
    void ClearJournal() const { std::filesystem::remove(_dir / "journal.txt"); }
    void SetMode(const char* mode) const { setenv("FAKE_MODE", mode, 1); }

    // ffprobe's values of the entries asked for, comma-separated.
    static std::string Probe(const std::filesystem::path& file, const char* stream, const char* entries)
    {
        return Shell("ffprobe -v error -count_frames -select_streams " + std::string(stream) + " -show_entries " +
                     entries + " -of csv=p=0 '" + file.string() + "'");
    }

    // Waits for the event up to a minute: a sanitizer build on a busy machine may be slow to reach it.
    static bool WaitFor(const std::function<bool()>& done)
    {
        for (int i = 0; i < 12000; ++i) {
            if (done())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    // From this thread while another runs the transfer: pause (no frame moves but the one under way), resume
    // (frames move again), pause again and cancel; the cancel wakes the call the plug-in holds.
    template <class Transfer>
    static void PauseResumeCancel(Transfer* transfer)
    {
        ASSERT_TRUE(WaitFor([&] { return transfer->FramesDone() >= 2; }));
        EXPECT_EQ(transfer->Runstate(), 1);
        transfer->Pause();
        EXPECT_EQ(transfer->Runstate(), 2);
        const int64_t paused = transfer->FramesDone() + 1;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_LE(transfer->FramesDone(), paused);
        transfer->Resume();
        EXPECT_EQ(transfer->Runstate(), 1);
        ASSERT_TRUE(WaitFor([&] { return transfer->FramesDone() > paused; }));
        transfer->Pause();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        transfer->Cancel();
    }

    std::filesystem::path _dir;
};

}  // namespace tessantest
