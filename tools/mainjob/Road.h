#pragma once

// What every road of the main job shares: its checks, its result line and the tools it calls.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace mainjob
{

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kFrames = 50;                  // 2 s at 25 frames per second
constexpr uint32_t kFirstField = 10 * 3600 * 50;  // 10:00:00:00 in fields
constexpr uint32_t kBlockSize = 0x200000;
constexpr uint32_t kImx50FrameSize = 250000;
constexpr uint32_t kDv25FrameSize = 144000;
constexpr uint32_t kTracks = 4;             // sound tracks of the clip file, 24-bit
constexpr uint32_t kSamplesPerField = 960;  // 48 kHz at 50 fields per second

// The state of one road: checks made, frames and bytes moved, and the time they took.
class Road
{
public:
    explicit Road(std::string name);

    // Prints the check indented under the road and counts a failure.
    bool Check(bool ok, const std::string& what);
    // The road cannot run here (a tool or library missing): said, never counted as a failure.
    void Skip(const std::string& why);
    // Counts what the road moved; the rate line speaks of frames (with real time) unless told another unit.
    void Moved(uint64_t frames, uint64_t bytes);
    void SetUnit(std::string unit) { _unit = std::move(unit); }
    void StartClock() { _start = std::chrono::steady_clock::now(); }
    void StopClock();

    const std::string& Name() const { return _name; }
    bool Failed() const { return _failures > 0; }
    bool Skipped() const { return !_skipReason.empty(); }
    // "<name>  ok|FAILED|skipped  <rate>", one line.
    std::string Line() const;

private:
    std::string _name;
    int _failures = 0;
    std::string _firstFailure;
    std::string _skipReason;
    std::string _unit = "frames";
    uint64_t _frames = 0;
    uint64_t _bytes = 0;
    double _seconds = 0;
    bool _clocked = false;
    std::chrono::steady_clock::time_point _start = std::chrono::steady_clock::now();
};

// What the roads hand on to one another.
struct Media {
    std::filesystem::path work;
    std::filesystem::path buildDir;   // where the built libraries and programs are
    std::vector<Bytes> imxPictures;   // the source IMX 50 pictures
    std::vector<Bytes> parvexBlocks;  // the blocks of the Parvex clip file
    std::string parvexPath;
    std::string material;
    std::string sourceMissing;  // why no source clip could be made, when so
};

// Before a road uses what an earlier road made: false, with the road skipped when the source clip could not be
// made on this machine, or failed with the text given when the earlier road failed.
bool HaveInput(Road& road, const Media& media, bool present, const std::string& missing);

// The 24-bit sample of a sound track (1 to kTracks) at a sample position of the clip file's sound.
uint32_t TrackSample(uint32_t track, uint64_t position);

// Runs a command line through the shell, bounded to 30 s; its standard output, and its exit code.
std::string Shell(const std::string& command, int* exitCode = nullptr);
// True when the program is on PATH (or is an executable path).
bool HaveProgram(const std::string& name);
Bytes ReadAll(const std::filesystem::path& path);

// The roads, in the order they run.
void ParvexFileRoad(Road& road, Media& media);
void SimulatorRoad(Road& road, Media& media);
void Op1aRoad(Road& road, Media& media);
void QuickTimeRoad(Road& road, Media& media);
void SnmpRoad(Road& road, Media& media);

}  // namespace mainjob
