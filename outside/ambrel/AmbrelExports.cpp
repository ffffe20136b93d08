// The four entries of the request library: the transfers by handle, the backend chosen at each request, the
// journal. No exception leaves an entry.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "outside/ambrel/Ambrel.h"
#include "outside/ambrel/CAmbrelScript.h"
#include "outside/ambrel/CTessanTransfer.h"

namespace
{

using ambrel::CAmbrelTransfer;

std::mutex g_mx;
std::map<uint32_t, std::shared_ptr<CAmbrelTransfer>> g_transfers;
uint32_t g_nextHandle = 1;
std::string g_lastRefusal;  // why the last request got no transfer

std::string Env(const char* name, const char* fallback = "")
{
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
}

void Journal(const std::string& line)
{
    const std::string path = Env("AMBREL_JOURNAL");
    if (path.empty())
        return;
    static std::mutex mx;
    std::lock_guard lock(mx);
    std::ofstream(path, std::ios::app) << line << '\n';
}

std::shared_ptr<CAmbrelTransfer> Find(uint32_t handle)
{
    std::lock_guard lock(g_mx);
    auto it = g_transfers.find(handle);
    return it == g_transfers.end() ? nullptr : it->second;
}

uint32_t Keep(std::shared_ptr<CAmbrelTransfer> transfer)
{
    std::lock_guard lock(g_mx);
    const uint32_t handle = g_nextHandle++;
    g_transfers[handle] = std::move(transfer);
    return handle;
}

bool IsKnownHost(const std::string& host)
{
    std::string list = Env("AMBREL_HOSTS", "Mirel");
    for (char& c : list)
        if (c == ',')
            c = ';';
    std::istringstream names(list);
    std::string name;
    while (std::getline(names, name, ';'))
        if (!name.empty() && name == host)
            return true;
    return false;
}

void Refuse(const std::string& why)
{
    Journal(why);
    std::lock_guard lock(g_mx);
    g_lastRefusal = why;
}

uint32_t RequestScripted(int32_t* error)
{
    std::string why;
    auto script = ambrel::AmbrelScript::Load(Env("AMBREL_SCRIPT"), &why);
    if (!script) {
        Refuse("script refused: " + why);
        *error = 2;
        return 0;
    }
    *error = script->nError;
    if (!script->bGiveHandle)
        return 0;
    return Keep(std::make_shared<ambrel::CScriptedTransfer>(std::move(*script)));
}

namespace fs = std::filesystem;

// The program as the service is started: a name without a slash is looked for on PATH.
fs::path FindProgram(const std::string& program)
{
    if (program.find('/') != std::string::npos)
        return program;
    std::istringstream folders(Env("PATH"));
    std::string folder;
    while (std::getline(folders, folder, ':'))
        if (!folder.empty() && access((fs::path(folder) / program).c_str(), X_OK) == 0)
            return fs::path(folder) / program;
    return {};
}

// The receiver plug-in the service loads: AMBREL_RECEIVER, else libRecalo.so beside the service's program (also
// beside the file a link to it names), else in KORVO_LIBRARY_DIR, which the service inherits. Empty, with the
// places tried, when none holds it.
std::string FindReceiver(const std::string& program, std::string* why)
{
    if (std::string setting = Env("AMBREL_RECEIVER"); !setting.empty()) {
        if (access(setting.c_str(), R_OK) == 0)
            return setting;
        *why = "AMBREL_RECEIVER " + setting + " cannot be read";
        return {};
    }
    constexpr const char* kName = "libRecalo.so";
    std::vector<fs::path> folders;
    std::error_code ec;
    if (const fs::path found = FindProgram(program); !found.empty()) {
        folders.push_back(found.parent_path());
        if (const fs::path real = fs::canonical(found, ec); !ec && real.parent_path() != found.parent_path())
            folders.push_back(real.parent_path());
    }
    if (std::string library = Env("KORVO_LIBRARY_DIR"); !library.empty())
        folders.emplace_back(library);
    std::string tried;
    for (const fs::path& folder : folders) {
        const fs::path candidate = (folder.empty() ? fs::path(".") : folder) / kName;
        if (access(candidate.c_str(), R_OK) == 0)
            return candidate.string();
        tried += (tried.empty() ? "" : ", ") + candidate.parent_path().string();
    }
    *why = std::string(kName) + " is in none of [" + tried + "]: set AMBREL_RECEIVER to the receiver plug-in";
    return {};
}

// The next free number under the output folder: its media folder is made and its job file created exclusively,
// so no earlier ingest, of this process or another, is ever overwritten.
bool ClaimSlot(const fs::path& out, fs::path& job, fs::path& media, int& fd)
{
    static std::atomic<uint32_t> hint{0};
    for (uint32_t tries = 0; tries < 100000; ++tries) {
        const std::string id = std::to_string(++hint);
        media = out / ("ingest-" + id);
        job = out / ("job-" + id + ".xml");
        if (mkdir(media.c_str(), 0777) != 0) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        fd = open(job.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0)
            return true;
        const int err = errno;
        rmdir(media.c_str());
        if (err != EEXIST)
            return false;
    }
    return false;
}

uint32_t RequestTessan(const char* jobXml, const std::string& host, int32_t* error)
{
    if (!IsKnownHost(host)) {
        Refuse("the transfer host \"" + host + "\" is not one of AMBREL_HOSTS (" + Env("AMBREL_HOSTS", "Mirel") + ")");
        *error = 1;
        return 0;
    }
    const std::string program = Env("AMBREL_TESSAN", "tessan");
    // A service that cannot be started is refused before anything is made for its ingest.
    if (const fs::path found = FindProgram(program); found.empty() || access(found.c_str(), X_OK) != 0) {
        const int err = found.empty() ? ENOENT : errno;
        Refuse("service not started: " + program + ": " + std::strerror(err));
        *error = 2;
        return 0;
    }
    std::string why;
    const std::string receiver = FindReceiver(program, &why);
    if (receiver.empty()) {
        Refuse("service not started: " + why);
        *error = 2;
        return 0;
    }
    std::error_code ec;
    fs::path out = Env("AMBREL_OUT");
    if (out.empty())
        out = fs::temp_directory_path(ec) / ("ambrel-" + std::to_string(getpid()));
    fs::create_directories(out, ec);
    fs::path job, media;
    int fd = -1;
    if (!ClaimSlot(out, job, media, fd)) {
        Refuse("cannot make a job file and media folder under " + out.string() + ": " + std::strerror(errno));
        *error = 3;
        return 0;
    }
    const std::string text = jobXml;
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        written += static_cast<size_t>(n);
    }
    const bool whole = written == text.size();
    // A request that starts no ingest leaves neither its job file nor its media folder behind.
    auto release = [&] {
        unlink(job.c_str());
        rmdir(media.c_str());
    };
    if (close(fd) != 0 || !whole) {
        Refuse("cannot write " + job.string() + ": " + std::strerror(errno));
        release();
        *error = 3;
        return 0;
    }
    auto transfer = ambrel::CTessanTransfer::Start(program, receiver, job.string(), media.string(), &why);
    if (!transfer) {
        Refuse("service not started: " + why);
        release();
        *error = 2;
        return 0;
    }
    *error = 0;
    return Keep(std::shared_ptr<CAmbrelTransfer>(std::move(transfer)));
}

}  // namespace

extern "C" uint32_t RequestTransferXML(const char* jobXml, const char* targetHost, int32_t mxfAaf, int32_t* error)
{
    int32_t code = 0;
    uint32_t handle = 0;
    try {
        const std::string host = targetHost ? targetHost : "";
        Journal("RequestTransferXML host=" + host + " mxf=" + std::to_string(mxfAaf) +
                " bytes=" + std::to_string(jobXml ? std::string(jobXml).size() : 0));
        if (!jobXml) {
            code = 3;
        } else if (Env("AMBREL_BACKEND") == "script") {
            handle = RequestScripted(&code);
        } else {
            handle = RequestTessan(jobXml, host, &code);
        }
    } catch (...) {
        handle = 0;
        code = 3;
    }
    if (error)
        *error = code;
    Journal("  -> handle=" + std::to_string(handle) + " error=" + std::to_string(code));
    return handle;
}

extern "C" int32_t TransferStatus(uint32_t handle, double* progress)
{
    try {
        auto transfer = Find(handle);
        if (!transfer)
            return ambrel::kStatusError;
        const int32_t status = transfer->Status(progress);
        char line[96];
        std::snprintf(line, sizeof line, "TransferStatus %u -> 0x%08x", handle, static_cast<unsigned>(status));
        Journal(line);
        return status;
    } catch (...) {
        return ambrel::kStatusError;
    }
}

extern "C" int32_t TransferStatusText(uint32_t handle, char* text, int32_t size)
{
    try {
        std::string said;
        if (handle == 0) {
            std::lock_guard lock(g_mx);
            said = g_lastRefusal;
        } else if (auto transfer = Find(handle)) {
            said = transfer->StatusText();
        }
        if (text && size > 0) {
            const size_t count = std::min(said.size(), static_cast<size_t>(size) - 1);
            said.copy(text, count);
            text[count] = '\0';
        }
        return static_cast<int32_t>(said.size());
    } catch (...) {
        return -1;
    }
}

extern "C" int32_t CancelTransfer(uint32_t handle)
{
    try {
        Journal("CancelTransfer " + std::to_string(handle));
        auto transfer = Find(handle);
        return transfer ? transfer->Cancel() : 1;
    } catch (...) {
        return 1;
    }
}

extern "C" int32_t ReleaseHandle(uint32_t handle)
{
    try {
        Journal("ReleaseHandle " + std::to_string(handle));
        std::shared_ptr<CAmbrelTransfer> transfer;
        {
            std::lock_guard lock(g_mx);
            auto it = g_transfers.find(handle);
            if (it == g_transfers.end())
                return 1;
            transfer = std::move(it->second);
            g_transfers.erase(it);
        }
        // A transfer still running is cancelled and waited for here, outside the lock.
        transfer.reset();
        return 0;
    } catch (...) {
        return 1;
    }
}
