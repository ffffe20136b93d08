// Ingest requests through libDravik.so, as a client program makes them: the automation library loads the transfer
// service's client library (its stand-in, backed by the transfer service of outside/tessan), which runs the job the
// browser made with the receiver plug-in libRecalo.so; the transaction's status record is followed to its end.
#include <dlfcn.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "automation/Host.h"
#include "tools/mainjob/CodecRoads.h"

namespace mainjob
{
namespace
{

namespace fs = std::filesystem;
using namespace MirelQla;
using ControlFn = int (*)(const char* key, const char* value, char* reply, int replySize);
constexpr int32_t kComplete = 4;

// Holds a library placed in the job's library folder under the name the system loads.
class PlacedLibrary
{
public:
    PlacedLibrary(const fs::path& folder, const std::string& built, const std::string& name)
    {
        std::error_code ec;
        fs::remove(folder / name, ec);
        fs::create_symlink(built, folder / name, ec);
        _handle = dlopen((folder / name).c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    ~PlacedLibrary()
    {
        if (_handle)
            dlclose(_handle);
    }
    PlacedLibrary(const PlacedLibrary&) = delete;
    PlacedLibrary& operator=(const PlacedLibrary&) = delete;
    void* Handle() const { return _handle; }

private:
    void* _handle = nullptr;
};

}  // namespace

bool DravikIngest(Road& road, const Media& media, const std::string& job, const fs::path& out, uint32_t frames)
{
    const fs::path libraries = media.work / "lib";
    fs::remove_all(out);
    fs::create_directories(libraries);
    fs::create_directories(out);
    setenv("KORVO_LIBRARY_DIR", libraries.c_str(), 1);
    PlacedLibrary receiver(libraries, KORVO_RECALO_LIBRARY, "libRecalo.so");
    PlacedLibrary client(libraries, KORVO_TESSANAPI_LIBRARY, "libtessanapiVC7.so");
    auto control = client.Handle() ? reinterpret_cast<ControlFn>(dlsym(client.Handle(), "TessanApiControl")) : nullptr;
    if (!road.Check(receiver.Handle() && control,
                    "libRecalo.so and the client library placed in " + libraries.string()))
        return false;
    control("reset", "", nullptr, 0);
    control("tessan.out", out.c_str(), nullptr, 0);
    control("tessan.plugin", "Recalo", nullptr, 0);

    road.StartClock();
    std::unique_ptr<Host> host(Host::NewHost());
    AutomationAPI* api = nullptr;
    if (!road.Check(host && host->GetAutomationAPI(&api).GetStatusCode() == kSuccess && api,
                    "libDravik.so gives its automation interface"))
        return false;
    AutomationTransaction* transaction = nullptr;
    const int32_t requested =
        api->RequestTransferXML("ingest", "workspace", "", job.c_str(), &transaction).GetStatusCode();
    if (!road.Check(requested == kSuccess && transaction,
                    "the browser's job is taken by libDravik.so (status " + std::to_string(requested) + ")"))
        return false;
    TransferStatusRecord record;
    std::memset(&record, 0, sizeof record);
    for (int i = 0; i < 6000; ++i) {
        transaction->GetStatus(&record);
        if (record.state != 2 && record.state != 3)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    road.StopClock();
    Qo::QoString text;
    transaction->GetStatusText(text);
    const bool complete = road.Check(record.state == kComplete && record.value1 == frames,
                                     "the transaction ends in state " + std::to_string(record.state) + " after " +
                                         std::to_string(record.value1) + " frames: " + std::string(text.ToCString()));
    AutomationTransaction::release(&transaction);
    return complete;
}

}  // namespace mainjob
