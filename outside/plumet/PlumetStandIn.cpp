// Stand-in for the shared-file service library (Plumet): a list of entries (servers, the "entries"
// setting, comma-separated), path translation by prefix ("translate.<server>" gives the folder a
// "\\server\..." path maps to) and file records ("attributes.<path>"). Every call is journalled;
// tests steer it through PlumetControl.
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "outside/plumet/interface/PlumetMainObject.h"
#include "outside/tessanapi/StandInJournal.h"

#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace
{
using standin::Arg;

standin::Journal& TheJournal()
{
    static standin::Journal journal;
    return journal;
}

void Note(const std::string& line)
{
    TheJournal().Add(line);
}

std::vector<std::string> Entries()
{
    std::vector<std::string> entries;
    std::istringstream list(TheJournal().Get("entries"));
    std::string entry;
    while (std::getline(list, entry, ','))
        entries.push_back(entry);
    return entries;
}

class StandInMain : public PlumetMainObject
{
public:
    virtual ~StandInMain() = default;

    bool TranslatePath(const char* path, char* out, int outSize) override
    {
        Note("TranslatePath(" + Arg(path) + "|" + std::to_string(outSize) + ")");
        std::string p = Arg(path);
        if (p.size() < 3 || p.compare(0, 2, "\\\\") != 0)
            return false;
        size_t end = p.find('\\', 2);
        std::string server = p.substr(2, end == std::string::npos ? std::string::npos : end - 2);
        std::string key = "translate." + server;
        if (!TheJournal().Has(key))
            return false;
        std::string rest = end == std::string::npos ? std::string() : p.substr(end);
        for (char& c : rest) {
            if (c == '\\')
                c = '/';
        }
        std::string translated = TheJournal().Get(key) + rest;
        if (!out || outSize <= static_cast<int>(translated.size()))
            return false;
        std::memcpy(out, translated.c_str(), translated.size() + 1);
        return true;
    }
    int Unused1() override { return 0; }
    bool SelectPath(const char* path) override
    {
        Note("SelectPath(" + Arg(path) + ")");
        _selected = Arg(path);
        return path != nullptr;
    }
    int Unused3() override { return 0; }
    int Unused4() override { return 0; }
    int Unused5() override { return 0; }
    int Unused6() override { return 0; }
    int Unused7() override { return 0; }
    int Unused8() override { return 0; }
    int EntryCount() override
    {
        Note("EntryCount");
        return static_cast<int>(Entries().size());
    }
    int Unused10() override { return 0; }
    int Unused11() override { return 0; }
    int Unused12() override { return 0; }
    int Unused13() override { return 0; }
    int Unused14() override { return 0; }
    int Unused15() override { return 0; }
    int Unused16() override { return 0; }
    int Unused17() override { return 0; }
    int Unused18() override { return 0; }
    int Unused19() override { return 0; }
    int Unused20() override { return 0; }
    bool FileRecord(PlumetFileRecord* record) override
    {
        Note("FileRecord(" + _selected + ")");
        std::string key = "attributes." + _selected;
        if (!record || !TheJournal().Has(key))
            return false;
        std::memset(record, 0, sizeof *record);
        std::strncpy(record->name, _selected.c_str(), sizeof record->name - 1);
        record->attributes = static_cast<uint32_t>(std::stoul(TheJournal().Get(key), nullptr, 0));
        return true;
    }
    int Unused22() override { return 0; }
    int Unused23() override { return 0; }
    int EntryCommand(int index, const char* command, int commandLength, char* reply, int replySize) override
    {
        Note("EntryCommand(" + std::to_string(index) + "|" + standin::Bytes(command, commandLength) + "|" +
             std::to_string(commandLength) + "|" + std::to_string(replySize) + ")");
        if (reply && replySize > 0)
            reply[0] = 0;
        return 0;
    }
    int Unused25() override { return 0; }
    int Unused26() override { return 0; }
    int Unused27() override { return 0; }
    bool Entry(PlumetEntryRecord* record, int index) override
    {
        Note("Entry(" + std::to_string(index) + ")");
        std::vector<std::string> entries = Entries();
        if (!record || index < 0 || index >= static_cast<int>(entries.size()))
            return false;
        std::memset(record, 0, sizeof *record);
        std::strncpy(record->name, entries[static_cast<size_t>(index)].c_str(), sizeof record->name - 1);
        return true;
    }

private:
    std::string _selected;
};
}  // namespace

STANDIN_EXPORT PlumetMainObject* GetSharedLibraryMainObject()
{
    Note("GetSharedLibraryMainObject");
    static StandInMain main;
    return TheJournal().Has("main.null") ? nullptr : &main;
}

STANDIN_EXPORT void GetSharedLibraryVersion(int* first, int* second)
{
    Note("GetSharedLibraryVersion");
    *first = TheJournal().GetInt("version.first", 2);
    *second = TheJournal().GetInt("version.second", 1);
}

// Test control: see standin::Journal::Control.
STANDIN_EXPORT int PlumetControl(const char* key, const char* value, char* reply, int replySize)
{
    return TheJournal().Control(key, value, reply, replySize);
}
