// Ingests an IMX 50 clip (1 GiB by default) through the transfer service with libRecalo.so and prints, for each
// source, the multiple of real time and the ratio against copying the same bytes in the same run:
//   - the clip file on a share (8 MB BAVD blocks) against "cat clip > out" with out synced, as the media folder is;
//   - the browser's TCP block stream of that file against the same copy;
//   - the video server simulator over FTP against curl from the same server.
// The page cache is dropped before every file read when the process may (root); the warm figures are printed too.
// Usage: bench_recalo [size in MiB] [work folder]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <vector>

#include "browser/CTcpBlockSender.h"
#include "outside/rix/CRixSimServer.h"
#include "outside/tessan/CIngestTransfer.h"
#include "writers/parvex/KorvoMXFWriter.h"

namespace fs = std::filesystem;

namespace
{

constexpr uint32_t kFirstField = 360000;
constexpr uint32_t kPicture = 250000;  // IMX 50
constexpr uint64_t kHeaderArea = 0x200000;
constexpr uint32_t kBlock = 0x800000;

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool DropCaches()
{
    ::sync();
    std::ofstream drop("/proc/sys/vm/drop_caches");
    drop << "3\n";
    return static_cast<bool>(drop.flush());
}

// An IMX 50 clip file of frames pictures with four tracks of sound, in 8 MB BAVD blocks.
bool WriteClip(const std::string& path, uint32_t frames)
{
    KorvoMXFInfo info;
    info._nStandard = 3;
    info._nVideoSystem = 2;
    info._nAspectRatio = 2;
    info._nVideoFormat = 4;
    info._nAudioFormat = 1;
    info._nAudioGroups = 1;
    info._nAudioType = 2;
    info._nBitrate = 50;
    info._nFirstField = kFirstField;
    info._nOutField = kFirstField + 2 * frames;
    info.SetMaterialId("00000001");
    KorvoMXFClip clip;
    clip.SetUmId("00000001");
    clip.SetName("bench");
    clip._nShortIn = info._nFirstField;
    clip._nShortOut = info._nOutField;
    clip._nTCSystem = 3;
    info.AddClip(clip);
    KorvoMXFWriter writer;
    if (writer.Open(path.c_str(), KORVOMXF_OPEN_CREATE, KORVOMXF_FORMAT_BAVD_8MB) != KORVOMXF_OK ||
        writer.SetInfo(info) != KORVOMXF_OK || writer.SetFirstField(kFirstField) != KORVOMXF_OK)
        return false;
    std::vector<uint8_t> picture(kPicture);
    for (size_t i = 0; i < picture.size(); ++i)
        picture[i] = static_cast<uint8_t>(i * 131 + 7);
    // Two fields of four channels of 960 samples each (a byte, the count, 24-bit samples) in 2944-byte units.
    const uint32_t channelBytes = 2944;
    std::vector<uint8_t> audio(2 * 4 * channelBytes, 0);
    for (uint32_t c = 0; c < 2 * 4; ++c) {
        audio[c * channelBytes + 1] = 960 >> 8;
        audio[c * channelBytes + 2] = 960 & 0xFF;
    }
    const KorvoMXFAudioInfo sound[2] = {{1, 4 * channelBytes, 4}, {1, 4 * channelBytes, 4}};
    KorvoMXFVideoInfo video{};
    video._nVideoFormat = 4;
    video._nSize = kPicture;
    video._nWidth = 720;
    video._nLines = 608;
    for (uint32_t f = 0; f < frames; ++f)
        if (writer.AddPicture(1, &video, picture.data(), 2, sound, audio.data(), 0, nullptr, nullptr) != KORVOMXF_OK)
            return false;
    return writer.SetInfo(info) == KORVOMXF_OK && writer.Close() == KORVOMXF_OK;
}

std::string Job(uint32_t frames, const std::string& fileType, const std::string& dir, const std::string& clip,
                const std::string& tcp, const std::string& server)
{
    // The out point lies one past the last frame.
    char markout[32];
    std::snprintf(markout, sizeof markout, "%02u:%02u:%02u:%02u", frames / 90000, frames / 1500 % 60, frames / 25 % 60,
                  frames % 25);
    return std::string("<?xml><ingestdrag><lookupname>") + clip + "</lookupname><directory>" + dir +
           "</directory><markin>00:00:00:00</markin><markout>" + markout +
           "</markout><private><KorvoFps>25</KorvoFps><KorvonAudios>4</KorvonAudios><KorvoRate>50</KorvoRate>"
           "<KorvoRixFstFld>" +
           std::to_string(kFirstField) +
           "</KorvoRixFstFld><KorvoBlockSizeMB>8</KorvoBlockSizeMB><KorvonAudioBits>24</KorvonAudioBits>"
           "<TrimClip>0</TrimClip><Tardix>0</Tardix><KorvoTCPPort>" +
           tcp + "</KorvoTCPPort><KorvoRixServer>" + server + "</KorvoRixServer><KorvoFileType>" + fileType +
           "</KorvoFileType><KorvoDataType>IMX</KorvoDataType></private></ingestdrag>";
}

// Seconds of one ingest, or -1 when it did not complete.
double Ingest(const std::string& jobText, const fs::path& out, uint32_t frames)
{
    tessan::CIngestJob job;
    if (!job.Parse(jobText)) {
        std::fprintf(stderr, "job: %s\n", job.Error().c_str());
        return -1;
    }
    fs::remove_all(out);
    tessan::CIngestTransfer transfer(std::move(job), out.string());
    transfer.SetPlugin(KORVO_RECALO_LIBRARY);
    const double start = Now();
    const tessan::TransferResult result = transfer.Run();
    const double seconds = Now() - start;
    if (!result.complete || result.frames != frames) {
        std::fprintf(stderr, "ingest: code %d, %lld frames: %s%s\n", result.code, static_cast<long long>(result.frames),
                     result.pluginText.c_str(), result.hostText.c_str());
        return -1;
    }
    fs::remove_all(out);
    return seconds;
}

double Command(const std::string& command)
{
    const double start = Now();
    return std::system(command.c_str()) == 0 ? Now() - start : -1;
}

void Report(const char* what, double ingest, const char* reference, double copy, uint32_t frames, bool cold)
{
    if (ingest <= 0 || copy <= 0) {
        std::printf("%-34s FAILED (ingest %.3f s, %s %.3f s)\n", what, ingest, reference, copy);
        return;
    }
    std::printf("%-34s %s  ingest %7.2f s  %7.1fx real time   %s %7.2f s   ratio %.2f (goal >= 0.80)\n", what,
                cold ? "cold" : "warm", ingest, frames / 25.0 / ingest, reference, copy, copy / ingest);
}

}  // namespace

int main(int argc, char** argv)
{
    const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const fs::path work = argc > 2 ? fs::path(argv[2]) : fs::temp_directory_path() / "bench-recalo";
    fs::create_directories(work);
    setenv("KORVO_REGISTRY_ROOT", (work / "registry").c_str(), 1);
    setenv("KORVO_DRIVE_ROOT", (work / "drives").c_str(), 1);
    setenv("KORVO_RUNTIME_DIR", (work / "run").c_str(), 1);
    const uint32_t frames = static_cast<uint32_t>(mib * (1 << 20) / (kPicture + 2 * 4 * 2944));
    const fs::path clip = work / "BENCH.MXF";
    if (!WriteClip(clip.string(), frames)) {
        std::fprintf(stderr, "cannot write the clip\n");
        return 1;
    }
    const uint64_t bytes = fs::file_size(clip);
    std::printf("IMX 50 clip of %u frames (%.1f s), %.0f MiB in 8 MB blocks\n", frames, frames / 25.0,
                static_cast<double>(bytes) / (1 << 20));

    // The ingest reads the clip and writes its media folder, synced at the end: the copy does the same.
    const fs::path copyPath = work / "copy.bin";
    const std::string cat =
        "cat '" + clip.string() + "' > '" + copyPath.string() + "' && sync '" + copyPath.string() + "'";
    for (bool cold : {true, false}) {
        if (cold && !DropCaches()) {
            std::printf("(not allowed to drop the page cache: warm figures only)\n");
            continue;
        }
        const double copy = Command(cat);
        fs::remove(copyPath);
        if (cold)
            DropCaches();
        Report("clip file", Ingest(Job(frames, "Korvo", work.string(), "BENCH.MXF", "", ""), work / "out", frames),
               "cat > out + sync", copy, frames, cold);

        TCPBlockSender sender;
        std::string address;
        if (sender.Listen() != 0 || sender.GetPublishedAddress("127.0.0.1", &address) != 0) {
            std::printf("TCP block stream: the sender cannot listen\n");
            continue;
        }
        if (cold)
            DropCaches();
        auto sending = std::async(std::launch::async, [&] {
            return sender.WaitForConnection(10000) == 0 ? sender.StartSending(clip.string()) : -1;
        });
        const double tcp = Ingest(Job(frames, "TCP", "", "BENCH.MXF", address, ""), work / "out", frames);
        sending.get();
        sender.Stop();
        Report("browser TCP block stream", tcp, "cat > out + sync", copy, frames, cold);
    }

    std::vector<rixsim::RixSimBytes> blocks;
    {
        std::ifstream in(clip, std::ios::binary);
        in.seekg(static_cast<std::streamoff>(kHeaderArea));
        rixsim::RixSimBytes block(kBlock);
        while (in.read(reinterpret_cast<char*>(block.data()), kBlock))
            blocks.push_back(block);
    }
    rixsim::CRixSimServer server{rixsim::RixSimConfig()};
    server.Store().AddClip("/clips/000200A_bench.CLP", blocks, kBlock);
    blocks.clear();
    if (!server.Start()) {
        std::printf("the simulator did not start\n");
        return 1;
    }
    const std::string host = "127.0.0.1:" + std::to_string(server.FtpPort());
    const double curl = Command("curl -s -S -o /dev/null ftp://" + host + "/clips/000200A_bench.CLP");
    Report("video server simulator over FTP",
           Ingest(Job(frames, "RixFTP", "/clips/", "000200A_bench.CLP", "", host), work / "out", frames), "curl", curl,
           frames, false);
    server.Stop();
    fs::remove(clip);
    return 0;
}
