// The roads of every codec family, with the jobs the browser's own code makes: ingests of the clip file (whole
// through libAmbrel.so as Valdrin asks, trimmed through libDravik.so), over the browser's TCP block stream and from
// the video server simulator; playouts of the ingested media with libDornsend.so to a clip file, to a main and a
// backup simulator and to an OP1a or QuickTime file, each ingested back (or read by ffmpeg). Every picture, every
// sound sample, the start timecode and the aspect are compared with the source.
#include "tools/mainjob/CodecRoads.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "browser/CAmbrelLibrary.h"
#include "browser/CTcpBlockSender.h"
#include "browser/CValdrinViewCore.h"
#include "common/TcDate.h"
#include "outside/qo/Generic/CompositionMobIF.h"
#include "outside/qo/Generic/FileMobIF.h"
#include "outside/qo/Generic/HelperIF.h"
#include "outside/qo/Generic/Playlist.h"
#include "outside/rix/CRixClipTable.h"
#include "outside/rix/CRixSimServer.h"
#include "outside/tessan/CIngestJob.h"
#include "outside/tessan/CIngestTransfer.h"
#include "outside/tessan/CPlayoutTransfer.h"
#include "outside/tessan/MediaFolder.h"
#include "outside/tessan/WavFile.h"
#include "platform/Registry.h"

namespace mainjob
{

namespace fs = std::filesystem;

namespace
{

constexpr uint64_t kClipHeaderArea = 0x200000;  // blocks follow the clip file's header area

// The break switch: KORVO_MAIN_BREAK=<road name> makes that road expect one frame more than its clip has.
uint32_t Expected(const Road& road, uint32_t frames)
{
    const char* broken = std::getenv("KORVO_MAIN_BREAK");
    return broken && road.Name() == broken ? frames + 1 : frames;
}

class MessageSink : public IMessageSink
{
public:
    void ShowMessage(const std::string& text, const std::string&, MessageIcon) override
    {
        std::lock_guard lock(_mutex);
        _last = text;
    }
    std::string Last()
    {
        std::lock_guard lock(_mutex);
        return _last;
    }

private:
    std::mutex _mutex;
    std::string _last;
};

class Progress : public ITransferProgress
{
public:
    void SetCaption(const std::string&) override {}
    void SetProgress(int) override {}
};

// The browser's block sender as the transfer request drives it, publishing a loopback address.
class TcpSource : public ITcpBlockSource
{
public:
    bool Listen(std::string& address) override
    {
        return _sender.Listen() == 0 && _sender.GetPublishedAddress("127.0.0.1", &address) == 0;
    }
    bool WaitForReceiver(uint32_t timeoutMs) override { return _sender.WaitForConnection(timeoutMs) == 0; }
    bool StartSending(const std::string& path) override { return _sender.StartSending(path) == 0; }
    void Stop() override { _sender.Stop(); }

private:
    TCPBlockSender _sender;
};

// The browser's view on a folder of clip files or of a server, with the codec's sound width.
std::unique_ptr<CValdrinViewCore> MakeView(IMessageSink& sink, const Source& source, const fs::path& work)
{
    auto view = std::make_unique<CValdrinViewCore>(sink);
    CValdrinSettings& s = view->Settings();
    s._szCurrentFolder = source.dir.string() + "/";
    s._b24BitsAudio = source.codec->bits == 24;
    s._bTardix = false;
    ValdrinTimings timings;
    timings.nPollMs = 20;
    timings.nTableRetryMs = 20;
    timings.nFtpControlMs = 5000;
    view->SetTimings(timings);
    view->SetFixedCopyPath((work / "ingestdrag.xml").string());
    view->SetRequestLibrary(std::make_shared<CAmbrelLibrary>(KORVO_AMBREL_LIBRARY));
    view->SetTcpSourceFactory([] { return std::make_unique<TcpSource>(); });
    return view;
}

void UseServer(CValdrinViewCore& view, const rixsim::CRixSimServer& server, const std::string& folder)
{
    CValdrinSettings& s = view.Settings();
    s._bUseRix = true;
    s._szCurrentFolder = folder;
    s._szRixAddress = "127.0.0.1";
    s._szRixPort = std::to_string(server.FtpPort());
}

// A composition's start timecode as "hh:mm:ss:ff" digits.
std::string CompositionStart(const fs::path& path)
{
    using namespace Qo::Generic;
    HelperIF* helper = CreateHelper(path.c_str());
    if (!helper)
        return "";
    std::string text;
    ContainerBuffer* buffer = helper->BufferFromFile(path.c_str());
    ContainerIF* container = buffer ? helper->OpenContainer(buffer, kOpenRead) : nullptr;
    if (container) {
        const std::vector<MobID> ids = container->GetCompositionMobIDs(true);
        MobIF* mob = ids.empty() ? nullptr : container->OpenMob(ids.front());
        if (auto* composition = dynamic_cast<CompositionMobIF*>(mob)) {
            TimeCode start;
            composition->GetStartTimeCode(start);
            char digits[16];
            std::snprintf(digits, sizeof digits, "%02d%02d%02d%02d", start.hours, start.minutes, start.seconds,
                          start.frames);
            text = digits;
        }
        if (mob)
            container->ReleaseMob(mob);
        helper->ReturnContainer(container);
    }
    DeleteHelper(helper);
    return text;
}

// The media folder of an ingest holds frames [first, first + count) of the source: pictures, sound, start
// timecode and aspect.
void CheckMedia(Road& road, const Source& source, const fs::path& media, uint32_t first, uint32_t count)
{
    const Codec& codec = *source.codec;
    const fs::path picture = media / ("video" + tessan::PictureExtension(codec.dataType));
    const std::vector<std::string> got = FrameMd5(std::string("-f ") + codec.format, picture);
    const uint32_t expected = Expected(road, count);
    const bool same = got.size() == expected && first + count <= source.md5.size() &&
                      std::equal(got.begin(), got.end(), source.md5.begin() + first);
    road.Check(same, std::to_string(got.size()) + " pictures in " + picture.string() + ", " +
                         (same ? "each" : "not each") + " decoding as source frames " + std::to_string(first) + " to " +
                         std::to_string(first + expected));
    uint32_t sameTracks = 0;
    for (uint32_t t = 1; t <= codec.Tracks(); ++t) {
        tessan::CWavReader wav;
        Bytes samples;
        if (wav.Load((media / tessan::AudioName(static_cast<int32_t>(t))).string()) && wav.Bits() == codec.bits &&
            wav.Take(0, static_cast<uint32_t>(wav.Samples()), samples) &&
            samples == TrackPcm(source, t - 1, first, count, codec.bits))
            ++sameTracks;
    }
    road.Check(sameTracks == codec.Tracks(), std::to_string(sameTracks) + " of " + std::to_string(codec.Tracks()) +
                                                 " tracks of " + std::to_string(codec.bits) +
                                                 "-bit sound with every sample of the source");
    const std::string start = CompositionStart(media / tessan::kCompositionName);
    // The clip's own timecode of the first frame taken: its start plus the in point of a trimmed road.
    const std::string want = TimecodeAt(codec, first);
    road.Check(start == Digits(want),
               "start timecode " + start + ", the clip's own of frame " + std::to_string(first) + ": " + want);
    const std::string aspect = DisplayAspect(std::string("-f ") + codec.format, picture);
    road.Check(aspect == source.aspect, "aspect " + aspect + " as the source's " + source.aspect);
}

// The bytes of the pictures an ingest wrote, for the road's rate.
uint64_t PictureBytes(const Codec& codec, const fs::path& media)
{
    std::error_code ec;
    const uintmax_t size = fs::file_size(media / ("video" + tessan::PictureExtension(codec.dataType)), ec);
    return ec ? 0 : size;
}

// Sets the request library's service for one road: tessan with libRecalo.so, its media under the folder.
void UseService(const fs::path& out)
{
    fs::remove_all(out);
    fs::create_directories(out);
    setenv("AMBREL_TESSAN", KORVO_TESSAN_PROGRAM, 1);
    setenv("AMBREL_RECEIVER", KORVO_RECALO_LIBRARY, 1);
    setenv("AMBREL_OUT", out.c_str(), 1);
}

// The browser's whole request of one listed item; true when it closed with "Transfer Complete !".
bool BrowserTransfer(Road& road, CValdrinViewCore& view, MessageSink& sink, const std::string& item,
                     const fs::path& out)
{
    UseService(out);
    Progress progress;
    road.StartClock();
    view.DoTransfer(item, progress);
    road.StopClock();
    const std::string message = sink.Last();
    return road.Check(message.starts_with("Transfer Complete !"),
                      "the browser's request of " + item + " through libAmbrel.so ends: " + message);
}

// Runs a job the browser made through the transfer service in this process.
tessan::TransferResult ServiceIngest(Road& road, const std::string& job, const fs::path& out)
{
    fs::remove_all(out);
    fs::create_directories(out);
    tessan::CIngestJob parsed;
    if (!road.Check(parsed.Parse(job), "the browser's job is read" + parsed.Error()))
        return {};
    tessan::CIngestTransfer transfer(std::move(parsed), out.string());
    transfer.SetPlugin(KORVO_RECALO_LIBRARY);
    road.StartClock();
    const tessan::TransferResult result = transfer.Run();
    road.StopClock();
    road.Check(result.complete,
               "the transfer service ends after " + std::to_string(result.frames) + " frames: " +
                   (result.complete ? "complete" : "not complete " + result.hostText + " " + result.pluginText));
    return result;
}

std::vector<rixsim::RixSimBytes> Blocks(const fs::path& clip, uint32_t blockSize, uint64_t headerArea)
{
    const Bytes file = ReadAll(clip);
    std::vector<rixsim::RixSimBytes> blocks;
    for (uint64_t at = headerArea; at + blockSize <= file.size(); at += blockSize)
        blocks.emplace_back(file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at + blockSize));
    return blocks;
}

// The server's copy of the clip file: its blocks and the clip table the browser reads.
std::string ServeClip(rixsim::CRixSimServer& server, const Source& source, bool trimmed, const fs::path& clip = {})
{
    const Codec& codec = *source.codec;
    const std::string name = "000" + std::to_string(200 + (&codec - kCodecs.data())) + "A_" + codec.key;
    rixsim::CRixClipTable table =
        rixsim::CRixClipTable::ForClip(codec.key, codec.FirstField(), codec.FirstField() + 2 * codec.frames);
    if (trimmed)
        table.Set("SHORTIN", codec.FirstField() + 2 * source.trimFirst)
            .Set("SHORTOUT", codec.FirstField() + 2 * (source.trimFirst + source.trimCount));
    // The timecode stamps of the clip's in point, as the servers record them.
    const TcDate date(codec.Ntsc() ? 2 : 0, 2026, 1, 2, static_cast<uint8_t>(codec.start[0]),
                      static_cast<uint8_t>(codec.start[1]), static_cast<uint8_t>(codec.start[2]),
                      static_cast<uint8_t>(codec.start[3]), 0);
    uint8_t packed[8] = {};
    date.Pack(false, packed);
    std::string stamp;
    for (uint8_t b : packed) {
        char two[3];
        std::snprintf(two, sizeof two, "%02X", b);
        stamp += two;
    }
    for (const char* element : {"TC_USR_SOURCE", "TC_TOD_SOURCE", "TC_USR_CURRENT", "TC_TOD_CURRENT"})
        table.Set(element, stamp);
    table.Set("VIDEOCOMPRESSIONTYPE", codec.tableCodec)
        .Set("VIDEOCOMPRESSIONRATE", codec.bitrate)
        .Set("VIDEOFORMAT", codec.tableFormat)
        .Set("ASPECTRATIO", codec.aspect == 3 ? 2 : 1)
        .Set("AUDIOMODE", codec.tableAudioMode);
    server.Store().AddClip("/clips/" + name + ".CLP",
                           Blocks(clip.empty() ? source.clip : clip, 0x800000, kClipHeaderArea), 0x800000,
                           table.ToXml());
    return name;
}

}  // namespace

void SourceRoad(Road& road, CodecState& state)
{
    if (!state.media.sourceMissing.empty()) {
        road.Skip(state.media.sourceMissing);
        return;
    }
    MakeSource(road, state.source, state.media.work, state.encoded);
}

void IngestFileRoad(Road& road, CodecState& state)
{
    if (!HaveInput(road, state.media, state.source.made, "no clip file (the source road failed)"))
        return;
    MessageSink sink;
    auto view = MakeView(sink, state.source, state.media.work);
    const fs::path out = state.source.dir / "ambrel-file";
    if (BrowserTransfer(road, *view, sink, state.source.clip.filename().string(), out)) {
        state.ingested = out / "ingest-1";
        CheckMedia(road, state.source, state.ingested, 0, state.source.codec->frames);
        road.Moved(state.source.codec->frames, fs::file_size(state.source.clip));
    }
}

void IngestTrimmedRoad(Road& road, CodecState& state)
{
    if (!HaveInput(road, state.media, state.source.made, "no clip file (the source road failed)"))
        return;
    MessageSink sink;
    auto view = MakeView(sink, state.source, state.media.work);
    view->Settings()._bTrimClip = true;
    std::string job;
    const int described = view->GetFileInfos(state.source.clip.filename().string(), job, nullptr);
    if (!road.Check(described == 0, "the browser describes the clip file trimmed (" + std::to_string(described) + ")"))
        return;
    const fs::path out = state.source.dir / "dravik-trimmed";
    if (DravikIngest(road, state.media, job, out, Expected(road, state.source.trimCount)))
        CheckMedia(road, state.source, out, state.source.trimFirst, state.source.trimCount);
    road.Moved(state.source.trimCount, PictureBytes(*state.source.codec, out));
}

void IngestTcpRoad(Road& road, CodecState& state)
{
    if (!HaveInput(road, state.media, state.source.made, "no clip file (the source road failed)"))
        return;
    MessageSink sink;
    auto view = MakeView(sink, state.source, state.media.work);
    view->Settings()._bTcpTransfer = true;
    const fs::path out = state.source.dir / "ambrel-tcp";
    if (BrowserTransfer(road, *view, sink, state.source.clip.filename().string(), out))
        CheckMedia(road, state.source, out / "ingest-1", 0, state.source.codec->frames);
    road.Moved(state.source.codec->frames, fs::file_size(state.source.clip));
}

namespace
{

// An ingest of the clip from the simulator, whole or trimmed, through libAmbrel.so or libDravik.so.
void ServerIngest(Road& road, CodecState& state, bool trimmed, bool dravik)
{
    if (!HaveInput(road, state.media, state.source.made, "no clip file (the source road failed)"))
        return;
    rixsim::CRixSimServer server{rixsim::RixSimConfig()};
    const std::string name = ServeClip(server, state.source, trimmed);
    if (!road.Check(server.Start(), "simulator on port " + std::to_string(server.FtpPort())))
        return;
    MessageSink sink;
    auto view = MakeView(sink, state.source, state.media.work);
    UseServer(*view, server, "/clips/");
    view->Settings()._bTrimClip = trimmed;
    const uint32_t first = trimmed ? state.source.trimFirst : 0;
    const uint32_t count = trimmed ? state.source.trimCount : state.source.codec->frames;
    const fs::path out = state.source.dir / (std::string(dravik ? "dravik" : "ambrel") + "-server");
    fs::path media;
    if (dravik) {
        std::string job;
        if (road.Check(view->GetFTPInfos(name, job) == 0, "the browser describes the server clip") &&
            DravikIngest(road, state.media, job, out, Expected(road, count)))
            media = out;
    } else if (BrowserTransfer(road, *view, sink, name, out)) {
        media = out / "ingest-1";
    }
    if (!media.empty()) {
        CheckMedia(road, state.source, media, first, count);
        if (!trimmed)
            state.ingested = media;
    }
    road.Moved(count, media.empty() ? 0 : PictureBytes(*state.source.codec, media));
    server.Stop();
}

}  // namespace

void IngestServerRoad(Road& road, CodecState& state)
{
    ServerIngest(road, state, true, false);
}

void IngestServerWholeRoad(Road& road, CodecState& state)
{
    ServerIngest(road, state, false, false);
}

void IngestServerTrimmedDravikRoad(Road& road, CodecState& state)
{
    ServerIngest(road, state, true, true);
}

namespace
{

// A composition of the ingested media, starting where the ingest's composition starts, to the targets given.
bool PlayoutComposition(const CodecState& state, const fs::path& path,
                        const std::map<std::string, std::string>& targets)
{
    using namespace Qo::Generic;
    const Codec& codec = *state.source.codec;
    HelperIF* helper = CreateHelper(kContainerAAF);
    if (!helper)
        return false;
    ContainerBuffer* buffer = helper->NewContainerBuffer(0, 0);
    ContainerIF* container = buffer ? helper->OpenNewContainer(buffer, 0, 3) : nullptr;
    bool ok = container != nullptr;
    if (ok) {
        Playlist playlist;
        for (uint32_t track = 0; track <= codec.Tracks(); ++track) {
            auto* file = dynamic_cast<FileMobIF*>(container->CreateMob(kFileMob));
            if (track > 0)
                file->SetSampleWidth(codec.bits);
            playlist.AddTrack(static_cast<int32_t>(track))
                .AddSegment(Segment(file->GetMobID(), static_cast<int32_t>(codec.frames)));
            container->ReleaseMob(file);
        }
        auto* composition = dynamic_cast<CompositionMobIF*>(container->CreateMob(kCompositionMob));
        composition->SetName(codec.key);
        composition->SetTapeID("MAINJOB");
        composition->SetDuration(static_cast<int32_t>(codec.frames));
        composition->SetVideoStandard(codec.Ntsc() ? kVideoStandard2997Hz : kVideoStandard25Hz);
        const std::string start = CompositionStart(state.ingested / tessan::kCompositionName);
        const int rate = codec.Ntsc() ? 30 : 25;
        composition->SetStartTimeCode(TimeCode(rate, codec.Ntsc(), std::stoi(start.substr(0, 2)),
                                               std::stoi(start.substr(2, 2)), std::stoi(start.substr(4, 2)),
                                               std::stoi(start.substr(6, 2))));
        composition->AddCompressorName(codec.compressor);
        for (const auto& [key, value] : targets)
            composition->SetAttribute("_USER", key.c_str(), value.c_str());
        composition->SetPlaylist(playlist);
        container->ReleaseMob(composition);
        helper->ReturnContainer(container);
        ok = buffer->WriteToFile(path.c_str());
    }
    DeleteHelper(helper);
    return ok;
}

tessan::TransferResult Playout(Road& road, const CodecState& state, const fs::path& dir,
                               const std::map<std::string, std::string>& targets, tessan::CPlayoutTransfer** running)
{
    const fs::path composition = dir / "composition.xml";
    if (!road.Check(PlayoutComposition(state, composition, targets), "a composition of the ingested media"))
        return {};
    tessan::CPlayoutTransfer playout(composition.string(), state.ingested.string());
    playout.SetPlugin(KORVO_DORNSEND_LIBRARY);
    if (running)
        *running = &playout;
    road.StartClock();
    const tessan::TransferResult result = playout.Run();
    road.StopClock();
    if (running)
        *running = nullptr;
    return result;
}

bool HaveIngest(Road& road, const CodecState& state)
{
    return HaveInput(road, state.media, state.source.made && !state.ingested.empty(),
                     "no ingested media to play out (the file ingest road failed)");
}

bool PlayedOut(Road& road, const tessan::TransferResult& result, uint32_t frames)
{
    return road.Check(result.complete && result.frames == frames,
                      "libDornsend.so plays " + std::to_string(result.frames) + " frames: " +
                          (result.complete ? "complete" : "not complete " + result.hostText + " " + result.pluginText));
}

std::map<std::string, std::string> ServerTargets(const rixsim::CRixSimServer& main, const rixsim::CRixSimServer& backup)
{
    return {{"TGT-Mode", "RixFtp"},
            {"TGT-Address", "ftp://127.0.0.1:" + std::to_string(main.FtpPort()) +
                                "+127.0.0.1:" + std::to_string(backup.FtpPort()) + "/clips/110A"},
            {"TGT-Name", "mainjob"},
            {"TGT-Serial", "4242"},
            {"TGT-LouthIdMain", "MAINJOB1"},
            {"TGT-LouthIdBackup", "MAINJOB2"}};
}

// The clips a server holds, by name without ".CLP".
std::vector<std::string> ServerClips(rixsim::CRixSimServer& server)
{
    std::vector<std::string> clips;
    for (const std::string& name : server.Store().List("/clips"))
        if (name.ends_with(".CLP"))
            clips.push_back(name.substr(0, name.size() - 4));
    return clips;
}

}  // namespace

void PlayoutFileRoad(Road& road, CodecState& state)
{
    if (!HaveIngest(road, state))
        return;
    const Codec& codec = *state.source.codec;
    const fs::path dir = state.source.dir / "playout-file";
    fs::remove_all(dir);
    fs::create_directories(dir / "share");
    const auto result = Playout(road, state, dir,
                                {{"TGT-Address", (dir / "share").string()},
                                 {"TGT-Name", "Sequence"},
                                 {"TGT-Serial", "4242"},
                                 {"TGT-8MBBlocks", "1"},
                                 {"TGT-LouthIdMain", "MAINJOB1"},
                                 {"TGT-VarIdMain", "MAINJOB1"}},
                                nullptr);
    if (!PlayedOut(road, result, codec.frames))
        return;
    std::string clip;
    for (const auto& entry : fs::directory_iterator(dir / "share"))
        if (entry.path().extension() == ".mxf")
            clip = entry.path().filename().string();
    if (!road.Check(!clip.empty(), "the played-out clip file " + clip))
        return;
    road.Moved(codec.frames, fs::file_size(dir / "share" / clip));
    // The browser describes clip files of IMX only: the others are described as a server keeping the file's blocks.
    MessageSink sink;
    auto view = MakeView(sink, state.source, state.media.work);
    view->Settings()._szCurrentFolder = (dir / "share").string() + "/";
    rixsim::CRixSimServer server{rixsim::RixSimConfig()};
    std::string job;
    if (codec.videoFormat == 4) {
        if (!road.Check(view->GetFileInfos(clip, job, nullptr) == 0, "the browser describes " + clip))
            return;
    } else {
        const std::string name = ServeClip(server, state.source, false, dir / "share" / clip);
        const bool started = server.Start();
        UseServer(*view, server, "/clips/");
        if (!road.Check(started && view->GetFTPInfos(name, job) == 0,
                        "the browser describes the blocks of " + clip + " on a simulator"))
            return;
    }
    if (ServiceIngest(road, job, dir / "back").complete)
        CheckMedia(road, state.source, dir / "back", 0, codec.frames);
    server.Stop();
}

void PlayoutServersRoad(Road& road, CodecState& state)
{
    if (!HaveIngest(road, state))
        return;
    const Codec& codec = *state.source.codec;
    const fs::path dir = state.source.dir / "playout-servers";
    fs::remove_all(dir);
    fs::create_directories(dir);
    rixsim::CRixSimServer main{rixsim::RixSimConfig()}, backup{rixsim::RixSimConfig()};
    main.Store().AddDirectory("/clips");
    backup.Store().AddDirectory("/clips");
    if (!road.Check(main.Start() && backup.Start(), "main simulator on port " + std::to_string(main.FtpPort()) +
                                                        ", backup on " + std::to_string(backup.FtpPort())))
        return;
    const auto result = Playout(road, state, dir, ServerTargets(main, backup), nullptr);
    if (PlayedOut(road, result, codec.frames)) {
        int n = 0;
        for (rixsim::CRixSimServer* server : {&main, &backup}) {
            const char* which = n++ == 0 ? "main" : "backup";
            const std::vector<std::string> clips = ServerClips(*server);
            if (!road.Check(clips.size() == 1, std::string("one clip on the ") + which +
                                                   " simulator: " + (clips.empty() ? "none" : clips.front())))
                continue;
            MessageSink sink;
            auto view = MakeView(sink, state.source, state.media.work);
            UseServer(*view, *server, "/clips/");
            std::string job;
            if (!road.Check(view->GetFTPInfos(clips.front(), job) == 0,
                            std::string("the browser describes the ") + which + " simulator's clip"))
                continue;
            const fs::path back = dir / (std::string("back-") + which);
            if (ServiceIngest(road, job, back).complete)
                CheckMedia(road, state.source, back, 0, codec.frames);
            road.Moved(codec.frames, PictureBytes(codec, back));
        }
    }
    main.Stop();
    backup.Stop();
}

void PlayoutMediaFileRoad(Road& road, CodecState& state)
{
    if (!HaveIngest(road, state))
        return;
    const Codec& codec = *state.source.codec;
    const bool op1a = std::string(codec.mediaType) == "MXF_OP1A";
    const fs::path dir = state.source.dir / "playout-media";
    fs::remove_all(dir);
    fs::create_directories(dir / "share");
    // The OP1a writer builds its files from the IMX sample files of the machine's samples folder.
    if (op1a) {
        int rc = 0;
        Shell(
            "/usr/bin/python3 '" KORVO_SOURCE_DIR "/tools/make-imx-samples' '" + (dir / "samples").string() + "' 2>&1",
            &rc);
        platform::Registry::SetString(platform::RegHive::LocalMachine, "SOFTWARE\\Brennhall\\Common",
                                      "MXF Samples Path", (dir / "samples").string() + "/");
        if (!road.Check(rc == 0, "the IMX sample files made"))
            return;
    }
    std::map<std::string, std::string> targets = {
        {"TGT-Address", (dir / "share").string()}, {"TGT-Name", "clip"}, {"TGT-Serial", "4242"}};
    if (op1a)
        targets["TGT-Type"] = codec.mediaType;
    const auto result = Playout(road, state, dir, targets, nullptr);
    if (!PlayedOut(road, result, codec.frames))
        return;
    const fs::path file = dir / "share" / (std::string("clip") + codec.mediaExtension);
    if (!road.Check(fs::exists(file), std::string(op1a ? "OP1a" : "QuickTime") + " file " + file.string()))
        return;
    road.Moved(codec.frames, fs::file_size(file));
    const std::vector<std::string> md5 = FrameMd5("", file);
    road.Check(
        md5.size() == Expected(road, codec.frames) && std::equal(md5.begin(), md5.end(), state.source.md5.begin()),
        "ffmpeg decodes " + std::to_string(md5.size()) + " pictures, each as the source's");
    // OP1a carries the tracks as the channels of one stream, QuickTime one stream per track.
    const std::string pcm = codec.bits == 24 ? "s24le" : "s16le";
    uint32_t sameTracks = 0;
    for (uint32_t t = 0; t < codec.Tracks(); ++t) {
        const std::string map =
            op1a ? "-map 0:a:0 -af 'pan=mono|c0=c" + std::to_string(t) + "'" : "-map 0:a:" + std::to_string(t);
        const std::string got = Shell("ffmpeg -nostdin -v error -i '" + file.string() + "' " + map + " -c:a pcm_" +
                                      pcm + " -f " + pcm + " - 2>/dev/null");
        const Bytes want = TrackPcm(state.source, t, 0, codec.frames, codec.bits);
        sameTracks += got.size() == want.size() && std::memcmp(got.data(), want.data(), want.size()) == 0 ? 1 : 0;
    }
    road.Check(sameTracks == codec.Tracks(), std::to_string(sameTracks) + " of " + std::to_string(codec.Tracks()) +
                                                 " tracks read by ffmpeg with every sample of the source");
    const std::string tc = Shell(
        "ffprobe -v error -show_entries format_tags=timecode:stream_tags=timecode -of "
        "default=nw=1:nk=1 '" +
        file.string() + "' 2>/dev/null");
    road.Check(
        Digits(tc.substr(0, tc.find('\n'))) == Digits(TimecodeAt(codec, 0)),
        "ffprobe reads the start timecode " + tc.substr(0, tc.find('\n')) + ", the source's " + TimecodeAt(codec, 0));
    const std::string aspect = DisplayAspect("", file);
    road.Check(aspect == state.source.aspect, "aspect " + aspect + " as the source's " + state.source.aspect);
}

void CancelledPlayoutRoad(Road& road, CodecState& state)
{
    if (!HaveIngest(road, state))
        return;
    const fs::path dir = state.source.dir / "playout-cancelled";
    fs::remove_all(dir);
    fs::create_directories(dir);
    rixsim::CRixSimServer main{rixsim::RixSimConfig()}, backup{rixsim::RixSimConfig()};
    main.Store().AddDirectory("/clips");
    backup.Store().AddDirectory("/clips");
    // The servers take the first MB of the clip, then hold the data for a second: the playout is mid-clip when
    // cancelled.
    for (rixsim::CRixSimServer* server : {&main, &backup})
        for (const char* verb : {"STOR", "APPE"})
            server->AddFault({verb, rixsim::RixSimFaultKind::StallData, -1, 1000, 1, 1u << 20});
    if (!road.Check(main.Start() && backup.Start(), "main and backup simulators"))
        return;
    const fs::path composition = dir / "composition.xml";
    if (!road.Check(PlayoutComposition(state, composition, ServerTargets(main, backup)),
                    "a composition of the ingested media"))
        return;
    tessan::CPlayoutTransfer playout(composition.string(), state.ingested.string());
    playout.SetPlugin(KORVO_DORNSEND_LIBRARY);
    tessan::TransferResult result;
    road.StartClock();
    std::thread worker([&] { result = playout.Run(); });
    // Cancelled once the clip is begun on both servers and the sender holds frames.
    bool begun = false;
    for (int i = 0; i < 1000 && !begun; ++i) {
        begun = playout.FramesDone() > 0 && !ServerClips(main).empty() && !ServerClips(backup).empty();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    road.Check(begun, "the clip begun on both simulators after " + std::to_string(playout.FramesDone()) + " frames");
    playout.Cancel();
    worker.join();
    road.StopClock();
    road.Check(result.cancelled && !result.complete && result.frames < Expected(road, state.source.codec->frames),
               "the playout ends cancelled after " + std::to_string(result.frames) + " frames");
    for (rixsim::CRixSimServer* server : {&main, &backup}) {
        const std::vector<std::string> left = server->Store().List("/clips");
        road.Check(left.empty(), std::string(server == &main ? "main" : "backup") + " simulator keeps " +
                                     std::to_string(left.size()) + " files" + (left.empty() ? "" : ": " + left[0]));
    }
    main.Stop();
    backup.Stop();
}

void KilledServerIngestRoad(Road& road, CodecState& state)
{
    if (!HaveInput(road, state.media, state.source.made, "no clip file (the source road failed)"))
        return;
    auto server = std::make_unique<rixsim::CRixSimServer>(rixsim::RixSimConfig());
    const std::string name = ServeClip(*server, state.source, false);
    if (!road.Check(server->Start(), "simulator on port " + std::to_string(server->FtpPort())))
        return;
    MessageSink sink;
    auto view = MakeView(sink, state.source, state.media.work);
    UseServer(*view, *server, "/clips/");
    std::string job;
    if (!road.Check(view->GetFTPInfos(name, job) == 0, "the browser describes the server clip"))
        return;
    // The server sends the first MB of the clip, then nothing until it is killed.
    server->AddFault({"RETR", rixsim::RixSimFaultKind::StallData, -1, 0, 1, 1u << 20});
    server->ClearJournal();
    const fs::path out = state.source.dir / "killed-server";
    fs::remove_all(out);
    fs::create_directories(out);
    tessan::CIngestJob parsed;
    if (!road.Check(parsed.Parse(job), "the browser's job is read" + parsed.Error()))
        return;
    tessan::CIngestTransfer transfer(std::move(parsed), out.string());
    transfer.SetPlugin(KORVO_RECALO_LIBRARY);
    tessan::TransferResult result;
    road.StartClock();
    std::thread worker([&] { result = transfer.Run(); });
    // Killed once the receiver has begun reading the clip.
    bool reading = false;
    for (int i = 0; i < 1000 && !reading; ++i) {
        for (const auto& entry : server->Journal())
            reading = reading || entry._szText.starts_with("RETR");
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    road.Check(reading, "the receiver reads the clip");
    server->Stop();
    server.reset();
    worker.join();
    road.StopClock();
    road.Check(!result.complete && !result.cancelled && result.frames < Expected(road, state.source.codec->frames),
               "the ingest ends with an error after " + std::to_string(result.frames) + " frames: " + result.hostText +
                   " " + result.pluginText);
    std::ifstream manifest(out / tessan::kManifestName);
    const std::string text((std::istreambuf_iterator<char>(manifest)), {});
    road.Check(text.find("complete=\"0\"") != std::string::npos && !fs::exists(out / tessan::kCompositionName),
               "the media folder is marked incomplete and has no playout composition");
}

}  // namespace mainjob
