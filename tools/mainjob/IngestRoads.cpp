// The ingest roads run by the transfer service with the receiver plug-in libRecalo.so: from the browser's
// TCP block stream and from the video server simulator over FTP, each checked frame for frame against the
// source pictures; and the ingest job and the check that the automation road shares.
#include <functional>
#include <future>
#include <string>

#include "browser/CTcpBlockSender.h"
#include "outside/rix/CRixSimServer.h"
#include "outside/tessan/CIngestJob.h"
#include "outside/tessan/CIngestTransfer.h"
#include "outside/tessan/MediaFolder.h"
#include "outside/tessan/WavFile.h"
#include "platform/File.h"
#include "reading/parvex/CMXF_Parvex_ClipInfo.h"
#include "reading/parvex/CMXF_Parvex_FileReader.h"
#include "tools/mainjob/Road.h"

namespace mainjob
{

namespace fs = std::filesystem;

std::string IngestJob(const std::vector<std::pair<std::string, std::string>>& values, uint32_t blockSizeMB)
{
    std::string root;
    std::string priv;
    auto add = [](std::string& text, const std::string& name, const std::string& value) {
        text += "<" + name + ">" + value + "</" + name + ">";
    };
    // The out point lies one past the last frame, as every out point of the system.
    char markout[32];
    std::snprintf(markout, sizeof markout, "00:00:%02u:%02u", kFrames / 25, kFrames % 25);
    add(root, "printname", "main job");
    add(root, "hostname", "Mirel");
    add(root, "dllname", "KorvoSetup");
    add(root, "dllversion", "2.1");
    add(root, "markin", "00:00:00:00");
    add(root, "markout", markout);
    for (const auto& [name, value] :
         std::vector<std::pair<std::string, std::string>>{{"KorvoFps", "25"},
                                                          {"KorvonAudios", std::to_string(kTracks)},
                                                          {"KorvoRate", "50"},
                                                          {"KorvoBlockSizeMB", std::to_string(blockSizeMB)},
                                                          {"KorvonAudioBits", "24"},
                                                          {"KorvonVideoChannels", "1"},
                                                          {"Tardix", "0"},
                                                          {"KorvoDataType", "IMX"}})
        add(priv, name, value);
    for (const auto& [name, value] : values)
        add(name == "directory" || name == "lookupname" ? root : priv, name, value);
    return "<?xml><ingestdrag>" + root + "<private>" + priv +
           "<Korvo_Metadatas><General_Infos><Parvex_File_Infos><Rix_Device_Src>Korvo Rix</Rix_Device_Src>"
           "<Rix_TC_System>3</Rix_TC_System></Parvex_File_Infos></General_Infos></Korvo_Metadatas>"
           "</private></ingestdrag>";
}

tessan::TransferResult RunTransfer(Road& road, const std::function<tessan::TransferResult()>& run)
{
    road.StartClock();
    const tessan::TransferResult result = run();
    road.StopClock();
    std::string texts = result.pluginText;
    if (!result.hostText.empty())
        texts += (texts.empty() ? "" : ", ") + result.hostText;
    road.Check(result.complete && result.frames == kFrames,
               "the transfer service ends after " + std::to_string(result.frames) + " frames: " +
                   (result.complete ? "complete" : "not complete") + (texts.empty() ? "" : " (" + texts + ")"));
    return result;
}

uint32_t TrackSample(uint32_t track, uint64_t position)
{
    return static_cast<uint32_t>((position * 40503u + track * 2654435761u) >> 4) & 0xFFFFFF;
}

void CheckIngestedMedia(Road& road, const fs::path& folder, const fs::path& source)
{
    uint32_t sameTracks = 0;
    for (uint32_t t = 1; t <= kTracks; ++t) {
        tessan::CWavReader wav;
        Bytes got;
        const uint64_t samples = uint64_t{kFrames} * 2 * kSamplesPerField;
        if (!wav.Load((folder / tessan::AudioName(static_cast<int32_t>(t))).string()) || wav.Bits() != 24 ||
            wav.Samples() != samples || !wav.Take(0, static_cast<uint32_t>(samples), got))
            continue;
        bool same = true;
        for (uint64_t i = 0; same && i < samples; ++i) {
            const uint32_t v = TrackSample(t, i);
            same = got[3 * i] == (v & 0xFF) && got[3 * i + 1] == ((v >> 8) & 0xFF) && got[3 * i + 2] == (v >> 16);
        }
        sameTracks += same ? 1 : 0;
    }
    road.Check(sameTracks == kTracks, std::to_string(sameTracks) + " of " + std::to_string(kTracks) +
                                          " sound tracks ingested with every sample of the clip");

    const fs::path picture = folder / "video.m2v";
    if (!HaveProgram("ffmpeg")) {
        road.Check(fs::exists(picture) && fs::file_size(picture) > 0, picture.string() +
                                                                          " written (ffmpeg not "
                                                                          "installed: not decoded)");
        return;
    }
    // Each picture's MD5 as ffmpeg decodes it: padding the blocks added does not count.
    auto md5 = [](const fs::path& file) {
        return Shell("ffmpeg -nostdin -v error -f mpegvideo -i '" + file.string() +
                     "' -f framemd5 - 2>&1 | grep -v '^#' | awk -F, '{print $6}'");
    };
    const std::string want = md5(source);
    road.Check(!want.empty() && md5(picture) == want,
               "the ingested " + picture.string() + " decodes frame for frame as the source");
}

namespace
{

// Runs the ingest job with libRecalo.so into the folder, timed, and checks its end and its pictures.
void Ingest(Road& road, const Media& media, const std::string& jobText, const fs::path& out)
{
    fs::create_directories(out);
    tessan::CIngestJob job;
    const bool parsed = job.Parse(jobText);
    if (!road.Check(parsed, "the ingest job is read" + (parsed ? std::string() : ": " + job.Error())))
        return;
    tessan::CIngestTransfer transfer(std::move(job), out.string());
    transfer.SetPlugin(KORVO_RECALO_LIBRARY);
    const tessan::TransferResult result = RunTransfer(road, [&transfer] { return transfer.Run(); });
    road.Moved(static_cast<uint64_t>(result.frames),
               fs::exists(out / "video.m2v") ? fs::file_size(out / "video.m2v") : 0);
    CheckIngestedMedia(road, out, media.work / "source.m2v");
}

}  // namespace

void TcpIngestRoad(Road& road, Media& media)
{
    if (!HaveInput(road, media, !media.playoutPath.empty(),
                   "no played-out clip file to stream (the playout road failed)"))
        return;
    TCPBlockSender sender;
    std::string address;
    const bool listening = sender.Listen() == 0 && sender.GetPublishedAddress("127.0.0.1", &address) == 0;
    if (!road.Check(listening, "the browser's block sender listens on " + address))
        return;
    const std::string clip = media.playoutPath;
    std::future<int> sending = std::async(std::launch::async, [&sender, clip] {
        const int rc = sender.WaitForConnection(10000);
        return rc != 0 ? rc : sender.StartSending(clip);
    });
    Ingest(road, media,
           IngestJob({{"directory", fs::path(clip).parent_path().string()},
                      {"lookupname", fs::path(clip).filename().string()},
                      {"KorvoFileType", "TCP"},
                      {"KorvoTCPPort", address}},
                     media.playoutBlockMB),
           media.work / "ingest-tcp");
    const int sent = sending.get();
    sender.Stop();
    road.Check(sent == 0, "the block sender streamed " + clip + " (result " + std::to_string(sent) + ")");
}

void ServerIngestRoad(Road& road, Media& media)
{
    if (!HaveInput(road, media, !media.playoutPath.empty(),
                   "no played-out clip file to serve (the playout road failed)"))
        return;
    // The server keeps the clip file's blocks.
    CMXF_Parvex_FileReader reader("");
    CMXF_Parvex_ClipInfo info;
    int indexed = 0;
    bool read = reader.Open(media.playoutPath) == 0 && reader.GetHeaderData(&info, 1, &indexed) == 0;
    reader.Close();
    platform::File file;
    read =
        read && file.Open(media.playoutPath, platform::File::Access::Read, platform::File::Disposition::OpenExisting);
    std::vector<rixsim::RixSimBytes> blocks;
    for (uint32_t n = 0; read && n < info.GetBlockCount(); ++n) {
        uint32_t first = 0;
        uint64_t at = 0;
        rixsim::RixSimBytes block(info._nBlockSize);
        read = info.GetBlockInfo(n, &first, &at) == 0 &&
               file.ReadAt(block.data(), block.size(), at) == static_cast<int64_t>(block.size());
        blocks.push_back(std::move(block));
    }
    if (!road.Check(read && !blocks.empty(), std::to_string(blocks.size()) + " blocks of " +
                                                 std::to_string(info._nBlockSize >> 20) + " MB taken from " +
                                                 media.playoutPath))
        return;
    rixsim::CRixSimServer server{rixsim::RixSimConfig()};
    server.Store().AddClip("/clips/000111A_mainjob.CLP", blocks, info._nBlockSize);
    const bool started = server.Start();
    if (!road.Check(started, "simulator on port " + std::to_string(server.FtpPort())))
        return;
    Ingest(road, media,
           IngestJob({{"directory", "/clips/"},
                      {"lookupname", "000111A_mainjob.CLP"},
                      {"KorvoFileType", "RixFTP"},
                      {"KorvoRixServer", "127.0.0.1:" + std::to_string(server.FtpPort())},
                      {"KorvoRixFstFld", std::to_string(info._nIn)}},
                     info._nBlockSize >> 20),
           media.work / "ingest-server");
    server.Stop();
}

}  // namespace mainjob
