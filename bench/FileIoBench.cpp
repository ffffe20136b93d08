// Reads and writes a large file with CFileReader and CFileWriter and compares the throughput with
// dd using direct I/O and the same block size, measured in the same run on the same disk.
// Figures are taken with a cold cache (sync and drop_caches before every run, where permitted)
// and again warm.
//
// Usage: bench_file_io [folder=/var/tmp] [size in MiB=2048] [block size in bytes=8388608]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "common/CFileReader.h"
#include "common/CFileWriter.h"
#include "platform/Clock.h"
#include "platform/PageBuffer.h"

namespace
{

namespace fs = std::filesystem;

bool g_canDropCaches = false;

void DropCaches()
{
    if (std::system("sync") != 0)
        return;
    std::ofstream drop("/proc/sys/vm/drop_caches");
    drop << "3\n";
    drop.flush();
    g_canDropCaches = drop.good();
}

// Best seconds of each run over a few rounds; the runs alternate within a round so that drift of
// the disk's speed (a virtual disk's host cache, other load) hits both sides alike.
std::vector<double> Time(bool cold, const std::vector<std::function<bool()>>& runs)
{
    std::vector<double> best(runs.size(), 1e30);
    for (int round = 0; round < 3; ++round)
        for (size_t i = 0; i < runs.size(); ++i) {
            if (cold)
                DropCaches();
            double start = platform::PerfSeconds();
            if (!runs[i]()) {
                std::fprintf(stderr, "run failed\n");
                std::exit(1);
            }
            best[i] = std::min(best[i], platform::PerfSeconds() - start);
        }
    return best;
}

bool Shell(const std::string& command)
{
    return std::system((command + " 2>/dev/null").c_str()) == 0;
}

void Report(const char* what, uint64_t bytes, double ours, double dd)
{
    double mibs = static_cast<double>(bytes) / (1 << 20);
    std::printf("  %-34s ours %8.1f MiB/s   dd %8.1f MiB/s   ratio %.3f\n", what, mibs / ours, mibs / dd, dd / ours);
}

}  // namespace

int main(int argc, char** argv)
{
    fs::path dir = argc > 1 ? argv[1] : "/var/tmp";
    uint64_t sizeMiB = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 2048;
    uint32_t block = argc > 3 ? static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10)) : 0x800000;
    const uint64_t size = sizeMiB << 20;
    const uint64_t blocks = size / block;
    fs::path ours = dir / "korvo-bench-ours.bin";
    fs::path theirs = dir / "korvo-bench-dd.bin";

    platform::PageBuffer data = platform::MakePageBuffer(block + 4096);
    for (uint32_t i = 0; i < block; ++i)
        data[i] = static_cast<uint8_t>(i * 7);

    auto writeOurs = [&] {
        CFileWriter writer;
        writer.SetMinMaxWr(block, block);
        if (writer.Open(ours.string()) != 0 || writer.SetSize(0) != 0)
            return false;
        for (uint64_t i = 0; i < blocks; ++i) {
            uint32_t taken = 0;
            if (writer.WriteData(data.get(), block, &taken) != 0 || taken != block)
                return false;
        }
        return writer.Close() == 0;
    };
    // skew bytes past a page boundary in memory; from the file's start, or from skew bytes into the file, so that
    // memory and file position lie alike against the sectors.
    auto readOurs = [&](size_t skew, bool skewedAlike) {
        return [&, skew, skewedAlike] {
            CFileReader reader("");
            reader.SetMinMaxRd(block, block);
            const uint64_t start = skewedAlike ? skew : 0;
            if (reader.Open(ours.string()) != 0 || reader.Seek(start) != 0)
                return false;
            uint64_t total = 0;
            for (uint32_t got = block; got == block; total += got)
                if (reader.ReadData(data.get() + skew, block, &got) != 0)
                    return false;
            return reader.Close() == 0 && total == size - start;
        };
    };
    std::string bs = " bs=" + std::to_string(block) + " count=" + std::to_string(blocks);
    auto writeDd = [&] { return Shell("dd if=/dev/zero of=" + theirs.string() + bs + " oflag=direct"); };
    auto readDd = [&] { return Shell("dd if=" + ours.string() + " of=/dev/null" + bs + " iflag=direct"); };

    std::printf("file I/O: %llu MiB in blocks of %u bytes under %s\n", static_cast<unsigned long long>(sizeMiB), block,
                dir.c_str());
    std::printf("ratio = our throughput / dd's throughput (dd: iflag=direct / oflag=direct, same block size)\n");
    for (bool cold : {true, false}) {
        std::vector<double> w = Time(cold, {writeOurs, writeDd});
        std::vector<double> r = Time(cold, {readOurs(0, false), readDd, readOurs(1, false), readOurs(1, true)});
        if (cold && !g_canDropCaches)
            std::printf("cold (drop_caches not permitted: these runs are warm too):\n");
        else
            std::printf("%s:\n", cold ? "cold cache (sync; drop_caches before each run)" : "warm cache");
        Report("write", size, w[0], w[1]);
        Report("read", size, r[0], r[1]);
        Report("read into an unaligned buffer", size, r[2], r[1]);
        Report("  at a position skewed alike", size, r[3], r[1]);
    }
    fs::remove(ours);
    fs::remove(theirs);
    return 0;
}
