// Stand-in for an ingest setup library: its device prepares an ingest by handing out a composition
// (the "composition" setting), and every call is journalled. Tests steer it through IngestSetupControl.
#include <cstdlib>
#include <cstring>
#include <string>

#include "outside/ingestsetup/interface/IngestDevice.h"
#include "outside/tessanapi/StandInJournal.h"

#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace
{
standin::Journal& TheJournal()
{
    static standin::Journal journal;
    return journal;
}

void Note(const std::string& line)
{
    TheJournal().Add(line);
}

class StandInDevice : public IngestDevice
{
public:
    virtual ~StandInDevice() = default;

    int Unused0() override { return 1; }
    int Unused1() override { return 1; }
    void FreeText(char* text) override
    {
        Note("FreeText");
        std::free(text);
    }
    void Release() override
    {
        Note("Release");
        delete this;
    }
    int Unused4() override { return 1; }
    void SetCompositionKind(int kind) override { Note("SetCompositionKind(" + std::to_string(kind) + ")"); }
    int PrepareIngest(const std::string& deviceName, const std::string& text3, char** composition, int* size) override
    {
        Note("PrepareIngest(" + deviceName + "|" + text3 + ")");
        int result = TheJournal().GetInt("prepare.result", 0);
        if (result != 0)
            return result;
        // Exactly the composition's bytes, without a terminator, as a real device hands them out.
        std::string text = TheJournal().Get("composition", "<composition/>");
        char* copy = static_cast<char*>(std::malloc(text.empty() ? 1 : text.size()));
        if (!copy)
            return 7;
        std::memcpy(copy, text.data(), text.size());
        *composition = copy;
        *size = static_cast<int>(text.size());
        return 0;
    }
};
}  // namespace

STANDIN_EXPORT int CheckVersion(const char* version)
{
    Note(std::string("CheckVersion(") + (version ? version : "(null)") + ")");
    return std::string(version ? version : "") == TheJournal().Get("version", "1.2") ? 0 : 1;
}

#ifndef STANDIN_WITHOUT_CREATE
STANDIN_EXPORT IngestDevice* Create()
{
    Note("Create");
    if (TheJournal().Has("create.null"))
        return nullptr;
    return new StandInDevice();
}
#endif

STANDIN_EXPORT void Delete(IngestDevice* device)
{
    Note("Delete");
    if (device)
        device->Release();
}

// Test control: see standin::Journal::Control.
STANDIN_EXPORT int IngestSetupControl(const char* key, const char* value, char* reply, int replySize)
{
    return TheJournal().Control(key, value, reply, replySize);
}
