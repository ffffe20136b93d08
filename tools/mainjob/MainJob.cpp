// The main job: a short clip of every codec family along every road of the system, each road checked step by
// step and summed up in one line with its result and rate. A road that needs a tool this machine lacks says so
// and is skipped; a road that fails is named and fails the job.
// Usage: korvo_main_job <work folder>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "common/CLogManager.h"
#include "tools/mainjob/CodecRoads.h"

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    using namespace mainjob;
    fs::path work = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "korvo-main-job";
    fs::remove_all(work);
    fs::create_directories(work);
    // The job's registry, logs and locks stay in its folder.
    for (const char* sub : {"registry", "drives", "run"})
        fs::create_directories(work / sub);
    setenv("KORVO_REGISTRY_ROOT", (work / "registry").c_str(), 1);
    setenv("KORVO_DRIVE_ROOT", (work / "drives").c_str(), 1);
    setenv("KORVO_RUNTIME_DIR", (work / "run").c_str(), 1);

    std::printf("main job: work folder %s\n", work.c_str());
    theLogManager.OpenLog((work / "mainjob.log").string(), 16u << 20, "");

    Media media;
    media.work = work;
    std::vector<std::string> lines;
    std::string failed;
    int skipped = 0;
    size_t count = 0;
    // KORVO_MAIN_ROADS=<text>: only the roads whose names hold the text (and what they need) run.
    const char* only = std::getenv("KORVO_MAIN_ROADS");
    auto run = [&](const std::string& name, const std::function<void(Road&)>& road) {
        if (only && name.find(only) == std::string::npos && name.find("source clip") == std::string::npos &&
            name.find("Parvex clip file") == std::string::npos)
            return;
        Road r(name);
        road(r);
        ++count;
        skipped += r.Skipped() && !r.Failed() ? 1 : 0;
        if (r.Failed())
            failed += (failed.empty() ? "" : ", ") + name;
        lines.push_back(r.Line());
    };
    // The codec families' sources are encoded at once, while the writer roads run.
    std::vector<std::future<int>> encoding;
    if (HaveProgram("ffmpeg"))
        for (const Codec& codec : kCodecs)
            encoding.push_back(std::async(std::launch::async, [&codec, work] { return EncodeStream(codec, work); }));
    // The media writers and readers on their own.
    const std::vector<std::pair<const char*, void (*)(Road&, Media&)>> writerRoads = {
        {"IMX 50 Parvex clip file", ParvexFileRoad},
        {"simulator over FTP", SimulatorRoad},
        {"OP1a IMX file", Op1aRoad},
        {"QuickTime DV25 file", QuickTimeRoad},
    };
    for (const auto& [name, road] : writerRoads)
        run(name, [&, road = road](Road& r) { road(r, media); });

    // Every codec family along every road, then the faults.
    using CodecRoad = void (*)(Road&, CodecState&);
    // The browser describes clip files of IMX only: the other families come from the simulator.
    const std::vector<std::pair<const char*, CodecRoad>> imxRoads = {
        {"source clip", SourceRoad},
        {"file via libAmbrel", IngestFileRoad},
        {"file trimmed via libDravik", IngestTrimmedRoad},
        {"TCP stream via libAmbrel", IngestTcpRoad},
        {"simulator trimmed", IngestServerRoad},
        {"playout to clip file", PlayoutFileRoad},
        {"playout to 2 simulators", PlayoutServersRoad},
    };
    const std::vector<std::pair<const char*, CodecRoad>> serverRoads = {
        {"source clip", SourceRoad},
        {"simulator via libAmbrel", IngestServerWholeRoad},
        {"simulator trimmed via libDravik", IngestServerTrimmedDravikRoad},
        {"playout to clip file", PlayoutFileRoad},
        {"playout to 2 simulators", PlayoutServersRoad},
    };
    std::vector<std::unique_ptr<CodecState>> states;
    for (const Codec& codec : kCodecs) {
        states.push_back(std::make_unique<CodecState>(CodecState{media, Source{}, -1, {}}));
        CodecState& state = *states.back();
        state.source.codec = &codec;
        state.encoded = encoding.empty() ? -1 : encoding[states.size() - 1].get();
        for (const auto& [name, road] : codec.videoFormat == 4 ? imxRoads : serverRoads)
            run(std::string(codec.name) + " " + name, [&, road = road](Road& r) { road(r, state); });
        if (codec.mediaType)
            run(std::string(codec.name) + " playout to " + (*codec.mediaType ? "OP1a" : "QuickTime"),
                [&](Road& r) { PlayoutMediaFileRoad(r, state); });
    }
    // The VC-3 clip fills more than one server block: the cancel comes while the sender writes the first.
    run("VC-3 playout cancelled", [&](Road& r) { CancelledPlayoutRoad(r, *states.back()); });
    run("IMX 50 simulator killed", [&](Road& r) { KilledServerIngestRoad(r, *states.front()); });
    run("SNMP agent via snmpd", [&](Road& r) { SnmpRoad(r, media); });

    std::printf("\nroads:\n");
    for (const std::string& line : lines)
        std::printf("  %s\n", line.c_str());
    if (!failed.empty())
        std::printf("main job: FAILED: %s\n", failed.c_str());
    else if (skipped)
        std::printf("main job: every road that could run passed; %d of %zu skipped, as said above\n", skipped, count);
    else
        std::printf("main job: every road passed\n");
    return failed.empty() ? 0 : 1;
}
