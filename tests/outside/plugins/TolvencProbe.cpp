// A library loaded by the tests to read compositions through libTolvenc.so as a plug-in would.
#include <cstring>
#include <string>
#include <typeinfo>

#include "outside/qo/Generic/ErrorIF.h"
#include "outside/qo/Generic/HelperIF.h"
#include "tests/outside/plugins/CompositionSummary.h"

extern "C" {

// The summary of a composition file's mobs into text; false when it cannot be read.
__attribute__((visibility("default"))) bool ProbeCompositionFile(const char* path, char* text, size_t size)
{
    Qo::Generic::HelperIF* helper = Qo::Generic::CreateHelper(path);
    if (!helper)
        return false;
    bool ok = false;
    if (Qo::Generic::ContainerBuffer* buffer = helper->BufferFromFile(path)) {
        if (Qo::Generic::ContainerIF* container = helper->OpenContainer(buffer, Qo::Generic::kOpenRead)) {
            std::string summary = outsidetest::SummariseContainer(container);
            std::strncpy(text, summary.c_str(), size - 1);
            text[size - 1] = '\0';
            ok = summary.size() < size;
            helper->ReturnContainer(container);
        }
        helper->ReleaseBuffer(buffer);
    }
    Qo::Generic::DeleteHelper(helper);
    return ok;
}

// The kind of a mob made in another library, by the type tests of this one.
__attribute__((visibility("default"))) const char* ProbeKindOf(Qo::Generic::MobIF* mob)
{
    static std::string kind;
    kind = outsidetest::KindOf(mob);
    return kind.c_str();
}

// The type information this library sees for the interfaces.
__attribute__((visibility("default"))) const std::type_info* ProbeTypeInfo(int which)
{
    switch (which) {
        case 0:
            return &typeid(Qo::Generic::MasterMobIF);
        case 1:
            return &typeid(Qo::Generic::CompositionMobIF);
        case 2:
            return &typeid(Qo::Generic::FileMobIF);
        case 3:
            return &typeid(Qo::Generic::SoundDescriptor);
        default:
            return &typeid(Qo::Generic::ErrorIF);
    }
}
}
