// Writes about 1 GiB of IMX 50 (625) as an OP1a file with the IMX writer, from an MPEG-2 elementary stream,
// and compares the time with `ffmpeg -i STREAM -c copy -f mxf_d10 OUT` in the same run. Each run ends with the
// data on disk (sync); the caches are dropped before every run where permitted, and the runs are repeated warm.
//
// Usage: bench_imx_writer [folder=/var/tmp]   (the stream and the sample files are made there once and kept)
// KORVO_BENCH_PREFIX=async: writes through the asynchronous file writer.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "writers/op1a/CIMXMXFWriter.h"

namespace
{

namespace fs = std::filesystem;

constexpr int kFrames = 3432;  // 3432 x 312832 bytes = 1 GiB of edit units
constexpr uint32_t kFrameBytes = 250000;
bool g_canDropCaches = false;

bool Shell(const std::string& command)
{
    return std::system(command.c_str()) == 0;
}

void DropCaches()
{
    if (!Shell("sync"))
        return;
    std::ofstream drop("/proc/sys/vm/drop_caches");
    drop << "3\n";
    drop.flush();
    g_canDropCaches = drop.good();
}

bool MakeStream(const fs::path& file)
{
    if (fs::exists(file))
        return true;
    const fs::path tmp = file.string() + ".tmp.m2v";
    const bool made =
        Shell("ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=s=720x608:r=25 -frames:v " + std::to_string(kFrames) +
              " -c:v mpeg2video -pix_fmt yuv422p -g 1 -bf 0 -flags +ildct+ilme -top 1 -b:v 50M "
              "-minrate 50M -maxrate 50M -bufsize 2000000 -rc_init_occupancy 2000000 -f mpeg2video " +
              tmp.string()) &&
        fs::file_size(tmp) == static_cast<uintmax_t>(kFrames) * kFrameBytes;
    if (made)
        fs::rename(tmp, file);
    else
        fs::remove(tmp);
    return made;
}

// The stream's frames are all kFrameBytes long (constant rate with stuffing), read in big pieces.
bool WriteOurs(const fs::path& stream, const fs::path& samples, const fs::path& out)
{
    CIMXMXFWriter writer(16, (samples.string() + "/").c_str(), 0);
    const char* prefix = std::getenv("KORVO_BENCH_PREFIX");
    if (writer.Open(((prefix ? prefix : "") + out.string()).c_str()) != 0)
        return false;
    MediaWriterClipInfo info;
    info.standardCode = 3;
    info.videoBitRate = 50000000;
    info.startTimecode = CTimeCode(10, 0, 0, 0, false, 3);
    if (writer.Begin(info) != 0)
        return false;
    std::ifstream in(stream, std::ios::binary);
    constexpr int kBatch = 64;
    std::vector<char> buffer(static_cast<size_t>(kBatch) * kFrameBytes);
    int frames = 0;
    while (frames < kFrames) {
        const int n = std::min(kBatch, kFrames - frames);
        if (!in.read(buffer.data(), static_cast<std::streamsize>(n) * kFrameBytes))
            return false;
        for (int i = 0; i < n; ++i)
            if (writer.AddFrame(reinterpret_cast<const uint8_t*>(buffer.data()) + static_cast<size_t>(i) * kFrameBytes,
                                kFrameBytes, nullptr, 0, 0) != 0)
                return false;
        frames += n;
    }
    return writer.Close() == 0 && Shell("sync");
}

bool WriteFfmpeg(const fs::path& stream, const fs::path& out)
{
    return Shell("ffmpeg -nostdin -v error -y -i " + stream.string() + " -c copy -f mxf_d10 " + out.string()) &&
           Shell("sync");
}

}  // namespace

int main(int argc, char** argv)
{
    const fs::path dir = argc > 1 ? argv[1] : "/var/tmp";
    const fs::path stream = dir / "korvo-bench-imx50.m2v";
    const fs::path samples = dir / "korvo-bench-imx-samples";
    if (!MakeStream(stream) ||
        !Shell("/usr/bin/python3 " KORVO_SOURCE_DIR "/tools/make-imx-samples " + samples.string())) {
        std::fprintf(stderr, "could not make the stream or the sample files in %s\n", dir.c_str());
        return 1;
    }
    const fs::path ours = dir / "korvo-bench-ours.mxf", theirs = dir / "korvo-bench-ffmpeg.mxf";
    const std::vector<std::function<bool()>> runs = {[&] { return WriteOurs(stream, samples, ours); },
                                                     [&] { return WriteFfmpeg(stream, theirs); }};
    std::vector<double> last;
    for (bool cold : {true, false}) {
        std::vector<double> best(runs.size(), 1e30);
        for (int round = 0; round < 3; ++round)
            for (size_t i = 0; i < runs.size(); ++i) {
                if (cold)
                    DropCaches();
                const double start = platform::PerfSeconds();
                if (!runs[i]()) {
                    std::fprintf(stderr, "run %zu failed\n", i);
                    return 1;
                }
                best[i] = std::min(best[i], platform::PerfSeconds() - start);
            }
        const double mib = static_cast<double>(fs::file_size(ours)) / (1 << 20);
        if (cold)
            std::printf("IMX 50 625 OP1a, %d frames (%.0f MiB written): IMX writer against ffmpeg -c copy -f mxf_d10\n",
                        kFrames, mib);
        std::printf("  %-5s ours %7.3f s (%8.1f MiB/s)   ffmpeg %7.3f s (%8.1f MiB/s)   speed-up %.2f\n",
                    cold ? (g_canDropCaches ? "cold" : "cold?") : "warm", best[0], mib / best[0], best[1],
                    mib / best[1], best[1] / best[0]);
    }
    if (!g_canDropCaches)
        std::printf("  (drop_caches not permitted: the cold figures ran with whatever the cache held)\n");
    fs::remove(ours);
    fs::remove(theirs);
    return 0;
}
