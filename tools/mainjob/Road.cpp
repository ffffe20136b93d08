#include "tools/mainjob/Road.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace mainjob
{

Road::Road(std::string name) : _name(std::move(name))
{
    std::printf("%s\n", _name.c_str());
}

bool Road::Check(bool ok, const std::string& what)
{
    std::printf("  %-6s %s\n", ok ? "ok" : "FAILED", what.c_str());
    if (!ok && _failures++ == 0)
        _firstFailure = what;
    return ok;
}

void Road::Skip(const std::string& why)
{
    std::printf("  %-6s %s\n", "skip", why.c_str());
    _skipReason = why;
}

void Road::Moved(uint64_t frames, uint64_t bytes)
{
    _frames += frames;
    _bytes += bytes;
}

void Road::StopClock()
{
    _seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - _start).count();
    _clocked = true;
}

std::string Road::Line() const
{
    std::string result = Failed() ? "FAILED" : Skipped() ? "skipped" : "ok";
    std::string rate;
    if (Failed())
        rate = _firstFailure;
    else if (Skipped())
        rate = _skipReason;
    else if (_clocked && _seconds > 0 && _frames > 0 && _unit == "frames") {
        char text[160];
        std::snprintf(text, sizeof text, "%llu frames in %.3f s: %.0f frames/s, %.1fx real time, %.1f MB/s",
                      static_cast<unsigned long long>(_frames), _seconds, static_cast<double>(_frames) / _seconds,
                      static_cast<double>(_frames) / 25.0 / _seconds, static_cast<double>(_bytes) / 1e6 / _seconds);
        rate = text;
    } else if (_clocked && _seconds > 0 && _frames > 0) {
        char text[160];
        std::snprintf(text, sizeof text, "%llu %s in %.3f s: %.0f %s/s", static_cast<unsigned long long>(_frames),
                      _unit.c_str(), _seconds, static_cast<double>(_frames) / _seconds, _unit.c_str());
        rate = text;
    } else if (_clocked) {
        char text[64];
        std::snprintf(text, sizeof text, "in %.3f s", _seconds);
        rate = text;
    }
    char line[400];
    std::snprintf(line, sizeof line, "%-24s %-8s %s", _name.c_str(), result.c_str(), rate.c_str());
    return line;
}

bool HaveInput(Road& road, const Media& media, bool present, const std::string& missing)
{
    if (!media.sourceMissing.empty())
        road.Skip(media.sourceMissing);
    else if (!present)
        road.Check(false, missing);
    return media.sourceMissing.empty() && present;
}

std::string Shell(const std::string& command, int* exitCode)
{
    std::string output;
    FILE* pipe = popen(("timeout 30 " + command).c_str(), "r");
    if (!pipe) {
        if (exitCode)
            *exitCode = -1;
        return output;
    }
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    int status = pclose(pipe);
    if (exitCode)
        *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return output;
}

bool HaveProgram(const std::string& name)
{
    int rc = 0;
    Shell("sh -c 'command -v \"" + name + "\"' >/dev/null 2>&1", &rc);
    return rc == 0;
}

Bytes ReadAll(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace mainjob
