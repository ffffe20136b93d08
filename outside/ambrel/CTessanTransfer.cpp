#include "outside/ambrel/CTessanTransfer.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern char** environ;

namespace ambrel
{

namespace
{

// A pseudo-terminal: the reading side in fds[0], the side the child writes to in fds[1].
bool OpenTerminal(int (&fds)[2])
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0)
        return false;
    char name[128];
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
        close(master);
        return false;
    }
    const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        close(master);
        return false;
    }
    fds[0] = master;
    fds[1] = slave;
    return true;
}

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

std::unique_ptr<CTessanTransfer> CTessanTransfer::Start(const std::string& program, const std::string& receiver,
                                                        const std::string& jobPath, const std::string& outFolder,
                                                        std::string* error)
{
    // The service shows its progress line only on a terminal: its output goes to a pseudo-terminal, or to a pipe
    // where none can be had.
    int fds[2] = {-1, -1};
    if (!OpenTerminal(fds) && pipe2(fds, O_CLOEXEC) != 0) {
        if (error)
            *error = std::string("pipe: ") + std::strerror(errno);
        return nullptr;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::vector<std::string> args = {program, "ingest", jobPath, "--out", outFolder, "--plugin", receiver};
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
        close(fds[0]);
        if (error)
            *error = program + ": " + std::strerror(spawned);
        return nullptr;
    }
    std::unique_ptr<CTessanTransfer> transfer(new CTessanTransfer);
    transfer->_pid = pid;
    transfer->_fdOutput = fds[0];
    transfer->_strMedia = outFolder;
    transfer->_reader = std::thread([t = transfer.get()] { t->ReadOutput(); });
    return transfer;
}

int CTessanTransfer::StopWaitMs()
{
    const char* text = std::getenv("AMBREL_STOP_WAIT_MS");
    const int value = text ? std::atoi(text) : 0;
    return value > 0 ? value : 5000;
}

CTessanTransfer::~CTessanTransfer()
{
    {
        std::unique_lock lock(_mx);
        if (!_bOutputEnded) {
            if (!_bCancelled && !_bExited) {
                _bCancelled = true;
                kill(_pid, SIGINT);
            }
            // A service that does not stop on its cancel is ended; its output then closes.
            if (!_cvEnded.wait_for(lock, std::chrono::milliseconds(StopWaitMs()), [this] { return _bOutputEnded; }) &&
                !_bExited)
                kill(_pid, SIGKILL);
        }
    }
    if (_reader.joinable())
        _reader.join();
    if (_fdOutput >= 0)
        close(_fdOutput);
}

void CTessanTransfer::ReadOutput()
{
    std::string pending;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(_fdOutput, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        pending.append(buffer, static_cast<size_t>(n));
        size_t end;
        // A terminal progress line is rewritten with a carriage return: both end a line here.
        while ((end = pending.find_first_of("\r\n")) != std::string::npos) {
            TakeLine(pending.substr(0, end));
            pending.erase(0, end + 1);
        }
    }
    TakeLine(pending);
    Reap();
    std::lock_guard lock(_mx);
    _bOutputEnded = true;
    _cvEnded.notify_all();
}

void CTessanTransfer::TakeLine(const std::string& line)
{
    static const std::string kOwn = "tessan: ";
    std::lock_guard lock(_mx);
    if (auto report = ParseReport(line)) {
        _report = report;
        _strReportLine = line.substr(kOwn.size());
    } else if (auto progress = ParseProgress(line)) {
        _dProgress = *progress;
    } else if (line.rfind(kOwn, 0) == 0 && line != "tessan: cancelling" && line.find("paused") == std::string::npos &&
               line != "tessan: resumed") {
        _strNote = line.substr(kOwn.size());
    }
}

void CTessanTransfer::Reap()
{
    {
        std::lock_guard lock(_mx);
        if (_bExited || _pid <= 0)
            return;
    }
    int status = 0;
    pid_t done;
    do {
        done = waitpid(_pid, &status, 0);
    } while (done < 0 && errno == EINTR);
    std::lock_guard lock(_mx);
    _bExited = true;
    _bSignalled = done == _pid && WIFSIGNALED(status);
    _nExitStatus = done == _pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int32_t CTessanTransfer::Status(double* progress)
{
    std::lock_guard lock(_mx);
    if (progress)
        *progress = _dProgress;
    if (!_bOutputEnded || !_bExited)
        return 0;
    if (_bSignalled && _bCancelled && !_report)
        return kStatusCancelled;
    int32_t status = FinalStatus(_report, _nExitStatus, _bSignalled);
    // A cancel that came after the last frame: the clip is in, whole.
    if (status == kStatusCancelled && _report && _report->code == 14 && ManifestSaysComplete(_strMedia))
        status = kStatusComplete;
    if (status == kStatusComplete && progress)
        *progress = 100;
    return status;
}

int32_t CTessanTransfer::Cancel()
{
    std::lock_guard lock(_mx);
    if (_bExited || _pid <= 0)
        return 1;
    _bCancelled = true;
    // The service cancels cleanly on an interrupt, as on Ctrl-C at its terminal.
    return kill(_pid, SIGINT) == 0 ? 0 : 1;
}

std::string CTessanTransfer::StatusText()
{
    std::lock_guard lock(_mx);
    std::string text = _strReportLine;
    if (!_strNote.empty())
        text += (text.empty() ? "" : "; ") + _strNote;
    if (text.empty() && _bExited)
        text = _bSignalled ? "tessan was ended by a signal" : "tessan ended with status " + std::to_string(_nExitStatus);
    return text;
}

bool CTessanTransfer::ManifestSaysComplete(const std::string& mediaFolder)
{
    std::ifstream in(std::filesystem::path(mediaFolder) / "manifest.xml", std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t result = text.rfind("<result ");
    if (result == std::string::npos)
        return false;
    const size_t end = text.find('>', result);
    return text.substr(result, end == std::string::npos ? std::string::npos : end - result).find(" complete=\"1\"") !=
           std::string::npos;
}

int32_t CTessanTransfer::FinalStatus(const std::optional<Report>& report, int exitStatus, bool signalled)
{
    if (!report)
        return !signalled && exitStatus == 0 ? kStatusComplete : kStatusError;
    if (report->state == "cancelled" || report->code == 2)
        return kStatusCancelled;
    return report->code == 14 && report->state != "failed" ? kStatusComplete : kStatusError;
}

std::optional<double> CTessanTransfer::ParseProgress(const std::string& line)
{
    const size_t percent = line.find('%');
    if (percent == std::string::npos || percent == 0)
        return std::nullopt;
    size_t start = percent;
    while (start > 0 && (std::isdigit(static_cast<unsigned char>(line[start - 1])) || line[start - 1] == '.'))
        --start;
    if (start == percent)
        return std::nullopt;
    const double value = std::strtod(line.c_str() + start, nullptr);
    if (value < 0 || value > 100)
        return std::nullopt;
    return value;
}

std::optional<CTessanTransfer::Report> CTessanTransfer::ParseReport(const std::string& line)
{
    static const std::string kPrefix = "tessan: ingest ";
    static const std::string kCode = ", code ";
    if (line.rfind(kPrefix, 0) != 0)
        return std::nullopt;
    const size_t stateEnd = line.find(':', kPrefix.size());
    const size_t code = line.find(kCode);
    if (stateEnd == std::string::npos || code == std::string::npos)
        return std::nullopt;
    const char* digits = line.c_str() + code + kCode.size();
    char* end = nullptr;
    const long value = std::strtol(digits, &end, 10);
    if (end == digits)
        return std::nullopt;
    return Report{Lower(line.substr(kPrefix.size(), stateEnd - kPrefix.size())), static_cast<int>(value)};
}

}  // namespace ambrel
