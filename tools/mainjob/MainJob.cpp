// The main job: one short clip along every road of the system that stands, each road checked step by step
// and summed up in one line with its result and rate. A road that needs a tool this machine lacks says so
// and is skipped; a road that fails is named and fails the job.
// Usage: korvo_main_job <work folder>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "common/CLogManager.h"
#include "tools/mainjob/Road.h"

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
    const std::vector<std::pair<const char*, std::function<void(Road&, Media&)>>> roads = {
        {"IMX 50 Parvex clip file", ParvexFileRoad},
        {"simulator over FTP", SimulatorRoad},
        {"OP1a IMX file", Op1aRoad},
        {"QuickTime DV25 file", QuickTimeRoad},
        {"ingest via libDravik", DravikRoad},
        {"playout to a clip file", PlayoutRoad},
        {"ingest from TCP stream", TcpIngestRoad},
        {"ingest from simulator", ServerIngestRoad},
        {"SNMP agent via snmpd", SnmpRoad},
    };
    std::vector<std::string> lines;
    std::string failed;
    int skipped = 0;
    for (const auto& [name, run] : roads) {
        Road road(name);
        run(road, media);
        skipped += road.Skipped() && !road.Failed() ? 1 : 0;
        if (road.Failed())
            failed += (failed.empty() ? "" : ", ") + std::string(name);
        lines.push_back(road.Line());
    }
    std::printf("\nroads:\n");
    for (const std::string& line : lines)
        std::printf("  %s\n", line.c_str());
    if (!failed.empty())
        std::printf("main job: FAILED: %s\n", failed.c_str());
    else if (skipped)
        std::printf("main job: every road that could run passed; %d of %zu skipped, as said above\n", skipped,
                    roads.size());
    else
        std::printf("main job: every road passed\n");
    return failed.empty() ? 0 : 1;
}
