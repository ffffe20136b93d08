// Reads the video of a 2 GiB Parvex clip (BAVD 8 MB blocks, 250000-byte pictures and one audio group) through
// the video reader and prints its throughput beside that of dd with direct I/O on the same file in the same run.
// Each run starts with a cold page cache where drop_caches is permitted; the warm figures follow.
// Usage: bench_parvex [folder for the clip, default /var/tmp/korvo-bench]
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "reading/framework/SourceReaderFactory.h"
#include "reading/parvex/CParvexVideoDataReader.h"
#include "writers/parvex/KorvoMXFWriter.h"

namespace
{

namespace fs = std::filesystem;

constexpr uint64_t kClipBytes = uint64_t{2} << 30;
constexpr uint32_t kPictureBytes = 250000;
constexpr uint32_t kAudioField = 0x2E00;

bool Cold()
{
    if (std::system("sync") != 0)
        return false;
    std::ofstream drop("/proc/sys/vm/drop_caches");
    drop << "3\n";
    drop.flush();
    return drop.good();
}

bool WriteClip(const std::string& path)
{
    KorvoMXFInfo info;
    info._nStandard = 3;
    info._nVideoSystem = 2;
    info._nAspectRatio = 3;
    info._nVideoFormat = 4;
    info._nAudioFormat = 1;
    info._nAudioGroups = 1;
    info._nBitrate = 50;
    info._nFirstField = 100000;
    const uint32_t pictures = static_cast<uint32_t>(kClipBytes / (kPictureBytes + 2 * kAudioField));
    info._nOutField = info._nFirstField + 2 * pictures;
    info.SetMaterialId(":0000001");
    KorvoMXFWriter writer;
    if (writer.Open(path.c_str(), KORVOMXF_OPEN_CREATE, KORVOMXF_FORMAT_BAVD_8MB) != KORVOMXF_OK ||
        writer.SetInfo(info) != KORVOMXF_OK || writer.SetFirstField(info._nFirstField) != KORVOMXF_OK)
        return false;
    std::vector<uint8_t> picture(kPictureBytes), audio(2 * kAudioField, 0);
    const KorvoMXFAudioInfo audioInfo[2] = {{1, kAudioField, 4}, {1, kAudioField, 4}};
    KorvoMXFVideoInfo video;
    video._nVideoFormat = 4;
    video._nSize = kPictureBytes;
    video._nWidth = 720;
    video._nLines = 608;
    for (uint32_t i = 0; i < pictures; ++i) {
        for (size_t b = 0; b < picture.size(); b += 4096)
            picture[b] = static_cast<uint8_t>(i + b);
        if (writer.AddPicture(1, &video, picture.data(), 2, audioInfo, audio.data(), 0, nullptr, nullptr) !=
            KORVOMXF_OK)
            return false;
    }
    return writer.Close() == KORVOMXF_OK;
}

// Seconds to read every picture; the bytes delivered.
double ReadVideo(const std::string& path, uint64_t* bytes)
{
    const double start = platform::PerfSeconds();
    CParvexVideoDataReader reader("", true, true);
    if (reader.AttachSourceReader(CreateSourceReader(path.c_str(), 0, 0, ""), 1) != 0)
        return -1;
    *bytes = 0;
    uint8_t* data = nullptr;
    uint32_t size = 0;
    int32_t rc = 0;
    while ((rc = reader.GetNextData(&data, 0, &size, nullptr)) == 0) {
        *bytes += size;
        data = nullptr;
    }
    return rc == 100 ? platform::PerfSeconds() - start : -1;
}

double ReadDd(const std::string& path)
{
    const double start = platform::PerfSeconds();
    const std::string command = "dd if=" + path + " of=/dev/null bs=8M iflag=direct 2>/dev/null";
    return std::system(command.c_str()) == 0 ? platform::PerfSeconds() - start : -1;
}

}  // namespace

int main(int argc, char** argv)
{
    const fs::path dir = argc > 1 ? argv[1] : "/var/tmp/korvo-bench";
    fs::create_directories(dir);
    const std::string path = (dir / "parvex-2g.mxf").string();
    if (!fs::exists(path) || fs::file_size(path) < kClipBytes) {
        std::printf("writing %s\n", path.c_str());
        if (!WriteClip(path)) {
            std::fprintf(stderr, "bench_parvex: the clip could not be written\n");
            return 1;
        }
    }
    const double fileMiB = static_cast<double>(fs::file_size(path)) / (1 << 20);
    for (const bool cold : {true, false}) {
        // Best of three, dd and the reader taking turns.
        double dd = 1e30, ours = 1e30;
        uint64_t video = 0;
        bool dropped = true;
        for (int round = 0; round < 3; ++round) {
            dropped = !cold || Cold();
            const double d = ReadDd(path);
            dropped = dropped && (!cold || Cold());
            const double o = ReadVideo(path, &video);
            if (d < 0 || o < 0) {
                std::fprintf(stderr, "bench_parvex: a run failed\n");
                return 1;
            }
            dd = std::min(dd, d);
            ours = std::min(ours, o);
        }
        // Both read the whole file's span of blocks; the throughput counts the file's bytes for both.
        std::printf(
            "%s%s: video reader %8.1f MiB/s (%.0f MiB of pictures)   dd iflag=direct %8.1f MiB/s   ratio %.3f\n",
            cold ? "cold" : "warm", cold && !dropped ? " (drop_caches not permitted)" : "", fileMiB / ours,
            static_cast<double>(video) / (1 << 20), fileMiB / dd, dd / ours);
    }
    return 0;
}
