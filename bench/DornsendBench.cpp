// Plays out an IMX 50 composition (1 GiB by default) through the transfer service with libDornsend.so and prints,
// for each target, the seconds from the first Send to Close, the rate, the ratio against copying the same bytes in
// the same run and the multiple of real time:
//   - a Parvex clip file in a local folder against dd writing the media's picture file the way the clip file is
//     written: "dd if=pictures of=clip bs=8M oflag=direct";
//   - the video server simulator over FTP against curl -T of that file to the same server.
// The composition carries the clip ids, so the writers' Open does not wait between two generated ids.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchArgs.h"
#include "outside/qo/Generic/CompositionMobIF.h"
#include "outside/qo/Generic/FileMobIF.h"
#include "outside/qo/Generic/HelperIF.h"
#include "outside/qo/Generic/Playlist.h"
#include "outside/rix/CRixSimServer.h"
#include "outside/tessan/CPlayoutTransfer.h"
#include "outside/tessan/MediaFolder.h"

namespace fs = std::filesystem;

namespace
{

constexpr uint32_t kSamples = 1920;  // 48 kHz at 25 frames a second
constexpr int32_t kTracks = 4;
constexpr int32_t kSoundBits = 24;

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

constexpr const char* kUsage =
    "usage: bench_dornsend [size in MiB, 1 to 65536, default 1024] [folder to work in, default the temporary one]\n"
    "Plays an IMX 50 composition of that size out through libDornsend.so to a clip file and to the video server\n"
    "simulator, against dd (8 MiB direct writes) and curl moving the same bytes.\n";

// Intra 4:2:2 MPEG-2 pictures at 50 Mb/s, 625 lines, as IMX carries them.
std::vector<std::string> ImxPictures(const fs::path& work)
{
    const fs::path out = work / "imx50.m2v";
    const std::string command =
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=s=720x608:r=25 -frames:v 25 -c:v mpeg2video "
        "-pix_fmt yuv422p -g 1 -bf 0 -flags +ildct+ilme -top 1 -b:v 50M -minrate 50M -maxrate 50M "
        "-bufsize 2000000 -rc_init_occupancy 2000000 -f mpeg2video '" +
        out.string() + "'";
    std::vector<std::string> pictures;
    if (std::system(command.c_str()) != 0)
        return pictures;
    std::ifstream in(out, std::ios::binary);
    const std::string stream((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string start("\x00\x00\x01\xB3", 4);
    for (size_t at = stream.find(start); at != std::string::npos;) {
        const size_t next = stream.find(start, at + 4);
        pictures.push_back(stream.substr(at, next == std::string::npos ? std::string::npos : next - at));
        at = next;
    }
    fs::remove(out);
    return pictures;
}

// The media folder of frames pictures (the ones given, over and over) and four silent 24-bit tracks.
bool WriteMedia(const fs::path& folder, const std::vector<std::string>& pictures, uint32_t frames)
{
    tessan::CMediaWriter media;
    if (!media.Open(folder.string(), "IMX"))
        return false;
    const std::vector<uint8_t> silence(kSamples * kSoundBits / 8, 0);
    for (uint32_t i = 0; i < frames; ++i) {
        const std::string& picture = pictures[i % pictures.size()];
        const auto size = static_cast<uint32_t>(picture.size());
        if (!media.Add(0, reinterpret_cast<const uint8_t*>(picture.data()), size, 1))
            return false;
        media.Record({0, size, 1, 0});
        for (int32_t track = 1; track <= kTracks; ++track) {
            if (!media.Add(track, silence.data(), static_cast<uint32_t>(silence.size()), kSamples))
                return false;
            media.Record({track, static_cast<uint32_t>(silence.size()), kSamples, 0});
        }
    }
    if (!media.Close(0, true, frames, "")) {
        std::fprintf(stderr, "media: %s\n", media.Error().c_str());
        return false;
    }
    return true;
}

// A composition of frames IMX 50 pictures with four tracks of sound, at 10:00:00:00, with the given targets.
void WriteComposition(const std::string& path, int32_t frames, const std::map<std::string, std::string>& targets)
{
    using namespace Qo::Generic;
    HelperIF* helper = CreateHelper(kContainerAAF);
    ContainerBuffer* buffer = helper->NewContainerBuffer(0, 0);
    ContainerIF* container = helper->OpenNewContainer(buffer, 0, 3);
    Playlist playlist;
    for (int32_t track = 0; track <= kTracks; ++track) {
        auto* file = dynamic_cast<FileMobIF*>(container->CreateMob(kFileMob));
        if (track > 0)
            file->SetSampleWidth(kSoundBits);
        playlist.AddTrack(track).AddSegment(Segment(file->GetMobID(), frames));
        container->ReleaseMob(file);
    }
    auto* composition = dynamic_cast<CompositionMobIF*>(container->CreateMob(kCompositionMob));
    composition->SetName("Bench");
    composition->SetTapeID("TAPE01");
    composition->SetDuration(frames);
    composition->SetVideoStandard(kVideoStandard25Hz);
    composition->SetStartTimeCode(TimeCode(25, false, 10, 0, 0, 0));
    composition->AddCompressorName("Mirel::MPEG2::50");
    for (const auto& [key, value] : targets)
        composition->SetAttribute("_USER", key.c_str(), value.c_str());
    composition->SetPlaylist(playlist);
    container->ReleaseMob(composition);
    helper->ReturnContainer(container);
    buffer->WriteToFile(path.c_str());
    DeleteHelper(helper);
}

struct Timing {
    double open = -1;  // from Run to the first frame through: loading, the composition, the writers' Open
    double send = -1;  // from the first Send to Close
};

// One playout; the first frame's completion, seen by polling, tells the Open apart from the frames.
Timing Playout(const std::string& composition, const fs::path& media, uint32_t frames)
{
    tessan::CPlayoutTransfer playout(composition, media.string());
    playout.SetPlugin(KORVO_DORNSEND_LIBRARY);
    std::atomic<bool> done{false};
    std::atomic<double> firstFrame{0};
    const double start = Now();
    std::thread watch([&] {
        while (!done && playout.FramesDone() == 0)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        firstFrame = Now();
    });
    const tessan::TransferResult result = playout.Run();
    const double end = Now();
    done = true;
    watch.join();
    Timing timing;
    if (!result.complete || result.frames != frames) {
        std::fprintf(stderr, "playout: code %d, %lld frames: %s / %s\n", result.code,
                     static_cast<long long>(result.frames), result.pluginText.c_str(), result.hostText.c_str());
        return timing;
    }
    // The first frame took about as long as any other.
    const double perFrame = (end - firstFrame) / std::max<uint32_t>(frames - 1, 1);
    timing.open = firstFrame - start - perFrame;
    timing.send = end - firstFrame + perFrame;
    return timing;
}

double Command(const std::string& command)
{
    const double start = Now();
    return std::system(command.c_str()) == 0 ? Now() - start : -1;
}

// The rates compare the playout of all the media against the copy of the picture file alone.
void Report(const char* what, const Timing& playout, const char* reference, double copy, uint64_t bytes,
            uint64_t copyBytes, uint32_t frames)
{
    if (playout.send <= 0 || copy <= 0) {
        std::printf("%-24s FAILED (playout %.3f s, %s %.3f s)\n", what, playout.send, reference, copy);
        return;
    }
    const double mb = static_cast<double>(bytes) / 1e6;
    const double copyMb = static_cast<double>(copyBytes) / 1e6;
    std::printf(
        "%-24s open %.3f s | send..close %7.2f s %7.1f MB/s %6.1fx real time | %s %6.2f s %7.1f MB/s | "
        "ratio %.2f (goal >= 0.80)\n",
        what, playout.open, playout.send, mb / playout.send, frames / 25.0 / playout.send, reference, copy,
        copyMb / copy, (mb / playout.send) / (copyMb / copy));
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    uint64_t mib = 1024;
    if (argc > 3 || (argc > 1 && !bench::ReadCount(argv[1], 1, 65536, &mib)) || (argc > 2 && argv[2][0] == '\0')) {
        std::fprintf(stderr, "bench_dornsend: unreadable arguments:");
        for (int i = 1; i < argc; ++i)
            std::fprintf(stderr, " [%s]", argv[i]);
        std::fprintf(stderr, "\n%s", kUsage);
        return 2;
    }
    // A folder of its own inside the one given: it is emptied before and removed after.
    const fs::path work = (argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path()) / "bench-dornsend";
    fs::remove_all(work);
    fs::create_directories(work / "share");
    setenv("KORVO_REGISTRY_ROOT", (work / "registry").c_str(), 1);
    setenv("KORVO_DRIVE_ROOT", (work / "drives").c_str(), 1);
    setenv("KORVO_RUNTIME_DIR", (work / "run").c_str(), 1);

    const std::vector<std::string> pictures = ImxPictures(work);
    if (pictures.empty()) {
        std::fprintf(stderr, "ffmpeg made no IMX 50 pictures\n");
        return 1;
    }
    uint64_t pictureBytes = 0;
    for (const std::string& picture : pictures)
        pictureBytes += picture.size();
    const uint64_t frameBytes = pictureBytes / pictures.size() + kTracks * kSamples * kSoundBits / 8;
    const auto frames = static_cast<uint32_t>(mib * (1 << 20) / frameBytes);
    const fs::path media = work / "media";
    if (frames < 2 || !WriteMedia(media, pictures, frames)) {
        std::fprintf(stderr, "cannot write the media folder\n");
        return 1;
    }
    fs::path picturePath;
    for (const auto& entry : fs::directory_iterator(media))
        if (entry.path().extension() == tessan::PictureExtension("IMX"))
            picturePath = entry.path();
    uint64_t bytes = 0;
    for (const auto& entry : fs::directory_iterator(media))
        if (entry.path().filename() != tessan::kManifestName)
            bytes += fs::file_size(entry.path());
    std::printf("IMX 50 composition of %u frames (%.1f s), %.0f MiB of media (%.0f MiB of pictures)\n", frames,
                frames / 25.0, static_cast<double>(bytes) / (1 << 20),
                static_cast<double>(fs::file_size(picturePath)) / (1 << 20));

    const std::string fileComposition = (work / "to-file.xml").string();
    WriteComposition(fileComposition, static_cast<int32_t>(frames),
                     {{"TGT-Address", (work / "share").string()},
                      {"TGT-Name", "Bench"},
                      {"TGT-Serial", "4711"},
                      {"TGT-8MBBlocks", "1"},
                      {"TGT-LouthIdMain", "BENCH001"},
                      {"TGT-LouthIdBackup", "BENCH002"}});
    const double dd = Command("dd status=none bs=8M oflag=direct if='" + picturePath.string() + "' of='" +
                              (work / "copy.m2v").string() + "'");
    fs::remove(work / "copy.m2v");
    Report("Parvex clip file", Playout(fileComposition, media, frames), "dd", dd, bytes, fs::file_size(picturePath),
           frames);
    fs::remove_all(work / "share");

    rixsim::CRixSimServer server{rixsim::RixSimConfig()};
    server.Store().AddDirectory("/clips");
    if (!server.Start()) {
        std::printf("the simulator did not start\n");
        return 1;
    }
    const std::string host = "127.0.0.1:" + std::to_string(server.FtpPort());
    const std::string serverComposition = (work / "to-server.xml").string();
    WriteComposition(serverComposition, static_cast<int32_t>(frames),
                     {{"TGT-Mode", "RixFtp"},
                      {"TGT-Address", "ftp://" + host + "/clips/110A"},
                      {"TGT-Name", "Bench"},
                      {"TGT-Serial", "4711"},
                      {"TGT-LouthIdMain", "BENCH001"},
                      {"TGT-LouthIdBackup", "BENCH002"}});
    const double curl =
        Command("curl -s -S -T '" + picturePath.string() + "' ftp://" + host + "/clips/000111A_copy.CLP");
    Report("video server simulator", Playout(serverComposition, media, frames), "curl -T", curl, bytes,
           fs::file_size(picturePath), frames);
    server.Stop();
    fs::remove_all(work);
    return 0;
}
