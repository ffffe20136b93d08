// Reads the video of a 1 GiB IMX 50 D-10 file frame by frame with the OP1a picture reader and compares the time
// with `ffmpeg -i FILE -map 0:v -c copy -f null -` on the same file in the same run. Figures are taken with a
// cold cache (sync and drop_caches before every run, where permitted) and again warm.
//
// Usage: bench_mxf [folder=/var/tmp]   (the file is made there once with ffmpeg and kept)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "reading/framework/SourceReaderFactory.h"
#include "reading/mxf/CMXFOP1aReader.h"

namespace
{

namespace fs = std::filesystem;

bool g_canDropCaches = false;
uint64_t g_frames = 0;

void DropCaches()
{
    if (std::system("sync") != 0)
        return;
    std::ofstream drop("/proc/sys/vm/drop_caches");
    drop << "3\n";
    drop.flush();
    g_canDropCaches = drop.good();
}

bool Shell(const std::string& command)
{
    return std::system(command.c_str()) == 0;
}

// About 1 GiB of 312832-byte frames, encoded once.
bool MakeFile(const fs::path& file)
{
    if (fs::exists(file))
        return true;
    const fs::path tmp = file.string() + ".tmp.mxf";
    const bool made =
        Shell(
            "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=s=720x608:r=25 -f lavfi -i sine=r=48000 "
            "-frames:v 3433 -c:v mpeg2video -pix_fmt yuv422p -g 1 -bf 0 -flags +ildct+ilme -top 1 -b:v 50M "
            "-minrate 50M -maxrate 50M -bufsize 2000000 -rc_init_occupancy 2000000 -c:a pcm_s16le -ac 2 "
            "-d10_channelcount 8 -shortest -f mxf_d10 " +
            tmp.string()) &&
        fs::file_size(tmp) > (1u << 30) - (16u << 20);
    if (made)
        fs::rename(tmp, file);
    else
        fs::remove(tmp);
    return made;
}

bool ReadOurs(const fs::path& file)
{
    CMXFOP1aPictureReader reader("");
    auto source = CreateSourceReader(file.c_str(), 0, 0, "");
    if (!source || reader.AttachSourceReader(std::move(source), 0) != 0)
        return false;
    std::vector<uint8_t> frame(1 << 20);
    uint64_t frames = 0;
    for (;;) {
        uint8_t* p = frame.data();
        uint32_t size = 0;
        const int32_t result = reader.GetNextData(&p, static_cast<uint32_t>(frame.size()), &size, nullptr);
        if (result != 0) {
            g_frames = frames;
            if (result != CDataReader::kNoMoreData || static_cast<int64_t>(frames) != reader.GetDuration())
                std::fprintf(stderr, "read %llu frames, then %d\n", static_cast<unsigned long long>(frames), result);
            return result == CDataReader::kNoMoreData && static_cast<int64_t>(frames) == reader.GetDuration();
        }
        ++frames;
    }
}

bool ReadFfmpeg(const fs::path& file)
{
    return Shell("ffmpeg -nostdin -v error -i " + file.string() + " -map 0:v -c copy -f null - ");
}

std::vector<double> Time(bool cold, const std::vector<std::function<bool()>>& runs)
{
    std::vector<double> best(runs.size(), 1e30);
    for (int round = 0; round < 3; ++round)
        for (size_t i = 0; i < runs.size(); ++i) {
            if (cold)
                DropCaches();
            const double start = platform::PerfSeconds();
            if (!runs[i]()) {
                std::fprintf(stderr, "run %zu failed\n", i);
                std::exit(1);
            }
            best[i] = std::min(best[i], platform::PerfSeconds() - start);
        }
    return best;
}

}  // namespace

int main(int argc, char** argv)
{
    const fs::path dir = argc > 1 ? argv[1] : "/var/tmp";
    const fs::path file = dir / "korvo-bench-imx50.mxf";
    if (!MakeFile(file)) {
        std::fprintf(stderr, "could not make %s\n", file.c_str());
        return 1;
    }
    const double mib = static_cast<double>(fs::file_size(file)) / (1 << 20);
    if (!ReadOurs(file))
        return 1;
    std::printf("IMX 50 D-10, %.0f MiB, %llu frames: OP1a picture reader against ffmpeg -c copy -f null\n", mib,
                static_cast<unsigned long long>(g_frames));
    const std::vector<std::function<bool()>> runs = {[&] { return ReadOurs(file); }, [&] { return ReadFfmpeg(file); }};
    for (bool cold : {true, false}) {
        const std::vector<double> best = Time(cold, runs);
        std::printf("  %-5s ours %7.3f s (%8.1f MiB/s)   ffmpeg %7.3f s (%8.1f MiB/s)   speed-up %.2f\n",
                    cold ? (g_canDropCaches ? "cold" : "cold?") : "warm", best[0], mib / best[0], best[1],
                    mib / best[1], best[1] / best[0]);
    }
    if (!g_canDropCaches)
        std::printf("  (drop_caches not permitted: the cold figures ran with whatever the cache held)\n");
    return 0;
}
