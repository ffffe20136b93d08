#include "automation/CompositionSteps.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include "automation/PlumetConnection.h"
#include "outside/qo/Generic/CompositionMobIF.h"
#include "outside/qo/Generic/FileMobIF.h"
#include "outside/qo/Generic/Filelist.h"
#include "outside/qo/Generic/HelperIF.h"
#include "outside/qo/Generic/MasterMobIF.h"
#include "outside/qo/Generic/TapeMobIF.h"
#include "outside/qo/Generic/TimeCode.h"
#include "platform/Paths.h"

namespace MirelQla
{

namespace
{
using namespace Qo::Generic;

constexpr uint32_t kGrowBy = 131072;
constexpr uint32_t kNewBufferSize = 50000;
constexpr int32_t kHelperOption = 3;
constexpr int32_t kNewOmfMode = 2;
constexpr int32_t kNewAafMode = 3;
const char kAudioCompression[] = "Mirel::WAVE::Uncompressed";

struct HelperDeleter {
    void operator()(HelperIF* helper) const { DeleteHelper(helper); }
};
// The helper owns what it hands out (containers, buffers, mobs): deleting it frees them all.
using HelperPtr = std::unique_ptr<HelperIF, HelperDeleter>;

// An opened mob, released to its container at the end of the scope.
class OpenedMob
{
public:
    OpenedMob(ContainerIF* container, const MobID& id) : _pContainer(container), _pMob(container->OpenMob(id)) {}
    ~OpenedMob()
    {
        if (_pMob)
            _pContainer->ReleaseMob(_pMob);
    }
    OpenedMob(const OpenedMob&) = delete;
    OpenedMob& operator=(const OpenedMob&) = delete;

    template <typename T>
    T* As() const
    {
        return dynamic_cast<T*>(_pMob);
    }

private:
    ContainerIF* _pContainer;
    MobIF* _pMob;
};

bool IsNetworkPath(const std::string& path)
{
    return path.size() > 2 && path[0] == '\\' && path[1] == '\\';
}

// Whether the media of one file mob can be reached, through the shared-file service where it knows the path.
bool MediaOnline(std::string path)
{
    PlumetConnection& plumet = PlumetConnection::Instance();
    if (IsNetworkPath(path)) {
        if (std::optional<std::string> translated = plumet.TranslateForEntry(path))
            path = *translated;
    }
    if (!path.empty() && !FileExists(path)) {
        if (std::optional<std::string> translated = plumet.Translate(path))
            path = *translated;
    }
    return !path.empty() && FileExists(path);
}

void SetOnMob(MobIF* mob, const std::string& name, const std::string& value, const std::string& category)
{
    if (category.empty())
        mob->SetAttribute(name.c_str(), value.c_str());
    else
        mob->SetAttribute(category.c_str(), name.c_str(), value.c_str());
}

// The first master mob's identifier of a composition file as "%ld.%ld.%ld".
bool ReadMasterMobIdText(const std::string& fileName, char* out)
{
    std::string local = platform::ToLocalPath(fileName);
    HelperPtr helper(CreateHelper(local.c_str()));
    if (!helper)
        return false;
    ContainerBuffer* buffer = helper->BufferFromFile(local.c_str());
    ContainerIF* container = buffer ? helper->OpenContainer(buffer, kOpenReadWrite) : nullptr;
    if (!container)
        return false;
    std::vector<MobID> masters = container->GetMasterMobIDs();
    bool found = false;
    if (!masters.empty()) {
        OpenedMob mob(container, masters.front());
        if (MasterMobIF* master = mob.As<MasterMobIF>()) {
            omfUID_t uid = master->GetMobID();
            // The three numbers as the editing system prints them: signed 32-bit values.
            std::snprintf(out, 36, "%ld.%ld.%ld", static_cast<long>(uid.prefix),
                          static_cast<long>(static_cast<int32_t>(uid.major)),
                          static_cast<long>(static_cast<int32_t>(uid.minor)));
            found = true;
        }
    }
    helper->ReturnContainer(container);
    return found;
}
}  // namespace

bool AllMediaOnline(const char* contents, size_t size)
{
    try {
        if (size > UINT32_MAX)
            return false;
        HelperPtr helper(CreateHelper(contents, static_cast<uint32_t>(size)));
        if (!helper)
            return false;
        ContainerBuffer* buffer = helper->BufferFromMemory(contents, static_cast<uint32_t>(size), kGrowBy);
        ContainerIF* container = buffer ? helper->OpenContainer(buffer, kOpenRead) : nullptr;
        if (!container)
            return false;
        std::vector<std::string> paths;
        for (const MobID& id : container->GetMobIDs(MobID(kFileMob))) {
            OpenedMob mob(container, id);
            FileMobIF* file = mob.As<FileMobIF>();
            paths.push_back(file ? file->GetMediaPath() : std::string());
        }
        helper->ReturnContainer(container);
        for (const std::string& path : paths) {
            if (!MediaOnline(path))
                return false;
        }
        return true;
    } catch (...) {
        return false;
    }
}

int WriteProxyComposition(const ProxyComposition& proxy, char* mobIdText)
{
    try {
        HelperPtr helper(CreateHelper(static_cast<int32_t>(proxy.aaf ? kContainerAAF : kContainerOMF)));
        if (!helper)
            return kCompositionFailed;
        helper->SetOption(kHelperOption);
        ContainerBuffer* buffer = helper->NewContainerBuffer(kNewBufferSize, kGrowBy);
        if (!buffer || proxy.tapeName.empty() || proxy.fileName.empty())
            return kCompositionFailed;
        ContainerIF* container = helper->OpenNewContainer(buffer, 0, proxy.aaf ? kNewAafMode : kNewOmfMode);
        if (!container)
            return kCompositionFailed;
        TapeMobIF::TapeVitals vitals;
        vitals.SetTimeCode(TimeCode(proxy.rate, proxy.drop, 0, 0, 0, 0));
        TimeCode start(proxy.rate, proxy.drop, proxy.hours, proxy.minutes, proxy.seconds, proxy.frames);
        Filelist filelist(proxy.tracks, start, proxy.tapeName.c_str(), vitals, proxy.videoCompression.c_str(),
                          kAudioCompression, proxy.rate);
        filelist.SetSubATTR("_USER", "TapeID", proxy.tapeName.c_str());
        bool put = filelist.PutIntoFile(container);
        bool returned = helper->ReturnContainer(container);
        if (!put || !returned || !buffer->WriteToFile(platform::ToLocalPath(proxy.fileName).c_str()))
            return kCompositionFailed;
        helper.reset();
        if (mobIdText && !ReadMasterMobIdText(proxy.fileName, mobIdText))
            return kCompositionFailed;
        return kCompositionOk;
    } catch (...) {
        return kCompositionFailed;
    }
}

int SetCompositionAttribute(const std::string& fileName, const std::string& name, const std::string& value,
                            const std::string& category)
{
    try {
        std::string local = platform::ToLocalPath(fileName);
        HelperPtr helper(CreateHelper(local.c_str()));
        if (!helper)
            return kCompositionFailed;
        ContainerBuffer* buffer = helper->BufferFromFile(local.c_str());
        ContainerIF* container = buffer ? helper->OpenContainer(buffer, kOpenReadWrite) : nullptr;
        if (!container)
            return kCompositionFailed;
        std::vector<MobID> compositions = container->GetCompositionMobIDs(false);
        std::vector<MobID> masters = container->GetMasterMobIDs();
        bool set = false;
        if (!compositions.empty()) {
            OpenedMob mob(container, compositions.front());
            if (CompositionMobIF* composition = mob.As<CompositionMobIF>()) {
                if (name == "TapeID")
                    composition->SetTapeID(value.c_str());
                else
                    SetOnMob(composition, name, value, category);
                set = true;
            }
        } else if (!masters.empty()) {
            OpenedMob mob(container, masters.front());
            if (MasterMobIF* master = mob.As<MasterMobIF>()) {
                SetOnMob(master, name, value, category);
                set = true;
            }
        }
        bool returned = helper->ReturnContainer(container);
        if (!set || !returned || !buffer->WriteToFile(local.c_str()))
            return kCompositionFailed;
        return kCompositionOk;
    } catch (...) {
        return kCompositionFailed;
    }
}

}  // namespace MirelQla
