// The four entries of the request library: the transfers by handle, the backend chosen at each request, the
// journal. No exception leaves an entry.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>

#include "outside/ambrel/Ambrel.h"
#include "outside/ambrel/CAmbrelScript.h"
#include "outside/ambrel/CTessanTransfer.h"

namespace
{

using ambrel::CAmbrelTransfer;

std::mutex g_mx;
std::map<uint32_t, std::shared_ptr<CAmbrelTransfer>> g_transfers;
uint32_t g_nextHandle = 1;

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

uint32_t RequestScripted(int32_t* error)
{
    std::string why;
    auto script = ambrel::AmbrelScript::Load(Env("AMBREL_SCRIPT"), &why);
    if (!script) {
        Journal("script refused: " + why);
        *error = 2;
        return 0;
    }
    *error = script->nError;
    if (!script->bGiveHandle)
        return 0;
    return Keep(std::make_shared<ambrel::CScriptedTransfer>(std::move(*script)));
}

uint32_t RequestTessan(const char* jobXml, const std::string& host, int32_t* error)
{
    if (!IsKnownHost(host)) {
        *error = 1;
        return 0;
    }
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path out = Env("AMBREL_OUT");
    if (out.empty())
        out = fs::temp_directory_path(ec) / ("ambrel-" + std::to_string(getpid()));
    static std::atomic<uint32_t> counter{0};
    const std::string id = std::to_string(++counter);
    const fs::path job = out / ("job-" + id + ".xml");
    const fs::path media = out / ("ingest-" + id);
    fs::create_directories(media, ec);
    {
        std::ofstream file(job, std::ios::binary);
        file << jobXml;
        if (!file) {
            Journal("cannot write " + job.string());
            *error = 3;
            return 0;
        }
    }
    std::string why;
    auto transfer = ambrel::CTessanTransfer::Start(Env("AMBREL_TESSAN", "tessan"), job.string(), media.string(), &why);
    if (!transfer) {
        Journal("service not started: " + why);
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
