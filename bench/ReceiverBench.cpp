// Moves a clip of 8 MB BAVD blocks (1 GiB by default) through the receiver's block readers and prints each rate
// against curl downloading the same bytes from the same simulator in the same run:
//   - the server block reader (FTP with field seek, receive thread, double buffering) from the simulator;
//   - the TCP block stream: the browser's sender reading the clip file, the receiver's TCP reader.
// Usage: bench_receiver [size in MiB] [runs]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "browser/CTcpBlockSender.h"
#include "outside/rix/CRixSimServer.h"
#include "receiver/CKorvoBlockRixFTPReader.h"
#include "receiver/CKorvoBlockTCPReader.h"
#include "tests/receiver/SdBlockWriter.h"

namespace fs = std::filesystem;

namespace
{

constexpr uint32_t kBlock = 0x800000;
constexpr uint32_t kFirstField = 360000;
constexpr uint32_t kMediaHeader = 65;  // the block's first field, big-endian, opens the media header

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// One block of the block writer: SD pictures with one audio group, as a server records them.
std::vector<uint8_t> TemplateBlock(uint32_t* fields)
{
    KorvoMXFBlockWriter writer;
    writer.SetBlockType(KORVOMXF_BLOCK_BAVD_8MB);
    receivertest::ConfigureSdWriter(writer, 3, 1);
    std::vector<uint8_t> block(kBlock, 0);
    writer.SetFirstField(kFirstField);
    writer.SetBlockBuffer(block.data(), kBlock);
    std::vector<uint8_t> video(100000), audio(0x2E00);
    for (size_t i = 0; i < video.size(); ++i)
        video[i] = static_cast<uint8_t>(i * 31);
    KorvoMXFVideoInfo info{};
    info._nVideoFormat = 1;
    info._nSize = static_cast<uint32_t>(video.size());
    info._nWidth = 720;
    info._nLines = 576;
    KorvoMXFAudioInfo audioInfo{1, 0x2E00, 4};
    *fields = 0;
    while (writer.AddPicture(1, &info, video.data(), 1, &audioInfo, audio.data(), 0, nullptr, nullptr) == KORVOMXF_OK)
        ++*fields;
    return block;
}

std::vector<uint8_t> BlockN(const std::vector<uint8_t>& templateBlock, uint32_t fields, uint32_t n)
{
    std::vector<uint8_t> block = templateBlock;
    const uint32_t first = kFirstField + n * fields;
    const uint8_t bytes[4] = {static_cast<uint8_t>(first >> 24), static_cast<uint8_t>(first >> 16),
                              static_cast<uint8_t>(first >> 8), static_cast<uint8_t>(first)};
    std::memcpy(block.data() + kMediaHeader, bytes, 4);
    return block;
}

// Seconds of a curl download, or -1.
double Curl(const std::string& url)
{
    const double start = Now();
    const int rc = std::system(("curl -s -S -o /dev/null " + url).c_str());
    return rc == 0 ? Now() - start : -1;
}

double ServerReader(const std::string& url, uint32_t blocks)
{
    CKorvoBlockRixFTPReader reader(1, kFirstField);
    const double start = Now();
    if (reader.Open(url) != 0)
        return -1;
    uint32_t count = 0, perField = 0;
    while (reader.ReadNextBlock(&perField) == 0)
        ++count;
    const double seconds = Now() - start;
    reader.Close();
    return count == blocks ? seconds : -1;
}

double TcpPair(const fs::path& file, uint32_t blocks)
{
    TCPBlockSender sender;
    if (sender.Listen() != 0)
        return -1;
    std::string address;
    sender.GetPublishedAddress("127.0.0.1", &address);
    auto waiting = std::async(std::launch::async, [&] { return sender.WaitForConnection(5000); });
    CKorvoBlockTCPReader reader(kBlock);
    const double start = Now();
    if (reader.Open(address) != 0 || waiting.get() != 0 || sender.StartSending(file.string()) != 0)
        return -1;
    uint32_t count = 0, perField = 0;
    while (reader.ReadNextBlock(&perField) == 0)
        ++count;
    const double seconds = Now() - start;
    sender.Stop();
    return count == blocks ? seconds : -1;
}

// Drops the page cache so that the sender reads the file from the disk; false when not allowed.
bool DropCaches()
{
    ::sync();
    std::ofstream drop("/proc/sys/vm/drop_caches");
    drop << "3\n";
    return static_cast<bool>(drop.flush());
}

void Report(const char* what, double mine, double curl, uint64_t bytes)
{
    const double mib = static_cast<double>(bytes) / (1 << 20);
    if (mine <= 0 || curl <= 0) {
        std::printf("%-28s FAILED (reader %.3f s, curl %.3f s)\n", what, mine, curl);
        return;
    }
    std::printf("%-28s reader %8.1f MiB/s   curl %8.1f MiB/s   ratio reader/curl %.2f (goal >= 0.90)\n", what,
                mib / mine, mib / curl, curl / mine);
}

}  // namespace

int main(int argc, char** argv)
{
    const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 2;
    const uint32_t blocks = static_cast<uint32_t>(std::max<uint64_t>(1, (mib << 20) / kBlock));
    const uint64_t bytes = uint64_t{blocks} * kBlock;
    uint32_t fields = 0;
    const std::vector<uint8_t> templateBlock = TemplateBlock(&fields);

    const fs::path root = fs::temp_directory_path() / ("korvo-bench-receiver-" + std::to_string(::getpid()));
    fs::create_directories(root);
    const fs::path file = root / "clip.mxf";
    rixsim::CRixSimServer server;
    {
        std::vector<rixsim::RixSimBytes> clip;
        std::ofstream out(file, std::ios::binary);
        const std::vector<char> header(0x200000, 0);
        out.write(header.data(), static_cast<std::streamsize>(header.size()));
        for (uint32_t n = 0; n < blocks; ++n) {
            clip.push_back(BlockN(templateBlock, fields, n));
            out.write(reinterpret_cast<const char*>(clip.back().data()), kBlock);
        }
        server.Store().AddClip("/clips/004512A_bench.CLP", clip, kBlock);
    }
    if (!server.Start()) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }
    const std::string url = "ftp://127.0.0.1:" + std::to_string(server.FtpPort()) + "/clips/004512A_bench.CLP";
    std::printf("%u blocks of 8 MB (%.0f MiB) on loopback, best of %d runs\n", blocks,
                static_cast<double>(bytes) / (1 << 20), runs);
    double best[4] = {1e9, 1e9, 1e9, 1e9};
    bool cold = true;
    for (int run = 0; run < runs; ++run) {
        const double t[4] = {ServerReader(url, blocks), Curl(url), (cold = DropCaches() && cold, TcpPair(file, blocks)),
                             TcpPair(file, blocks)};
        for (int i = 0; i < 4; ++i)
            best[i] = t[i] < 0 || best[i] < 0 ? -1 : std::min(best[i], t[i]);
    }
    Report("server block reader", best[0], best[1], bytes);
    Report(cold ? "TCP block stream (cold file)" : "TCP block stream (file)", best[2], best[1], bytes);
    Report("TCP block stream (warm file)", best[3], best[1], bytes);
    server.Stop();
    fs::remove_all(root);
    return best[0] > 0 && best[2] > 0 ? 0 : 1;
}
