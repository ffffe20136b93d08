// Local files the programs read, on any bytes. Byte 0 picks the file, the rest is its content: 0 the machine hive
// of the registry, walked whole, then changed and walked again (what it held must stay as it was); 1 the sender's
// "Dornsend.ini" in the Windows folder, its keys looked up (one named by the input's first line); 2 a program
// whose version note the SNMP agent reads.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/Paths.h"
#include "platform/Registry.h"
#include "sender/DornsendIni.h"
#include "snmpagent/ElfVersionNote.h"
#include "tests/fuzz/FuzzTempFolder.h"

namespace
{

using platform::RegHive;
using platform::Registry;

volatile size_t g_nSink;

void WriteFile(const std::string& path, const uint8_t* data, size_t size)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

// Every key under the path, up to a bound, with its values.
using Snapshot = std::map<std::string, std::vector<platform::RegValue>>;

void Walk(const std::string& path, int depth, Snapshot& out)
{
    if (depth > 6 || out.size() > 200)
        return;
    out[path] = Registry::EnumValues(RegHive::LocalMachine, path);
    for (const platform::RegValue& value : out[path])
        g_nSink = Registry::Query(RegHive::LocalMachine, path, value.name).has_value();
    for (const std::string& sub : Registry::EnumSubKeys(RegHive::LocalMachine, path))
        Walk(path.empty() ? sub : path + "\\" + sub, depth + 1, out);
}

bool SameValues(const std::vector<platform::RegValue>& a, const std::vector<platform::RegValue>& b)
{
    if (a.size() > b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].name != b[i].name || a[i].type != b[i].type || a[i].data != b[i].data)
            return false;
    return true;
}

void Hive(const uint8_t* data, size_t size)
{
    WriteFile((platform::RegistryRoot() / "HKEY_LOCAL_MACHINE.reg").string(), data, size);
    Snapshot before;
    Walk("", 0, before);
    if (!Registry::SetString(RegHive::LocalMachine, "SOFTWARE\\Brennhall\\Fuzz", "Written", "value \"x\" \\ y"))
        return;
    if (Registry::GetString(RegHive::LocalMachine, "SOFTWARE\\Brennhall\\Fuzz", "Written") != "value \"x\" \\ y")
        std::abort();
    Snapshot after;
    Walk("", 0, after);
    for (const auto& [path, values] : before) {
        auto it = after.find(path);
        if (before.size() <= 200 && (it == after.end() || !SameValues(values, it->second))) {
            std::fprintf(stderr, "LocalFileFuzzer: key [%s] changed when another was written\n", path.c_str());
            std::abort();
        }
    }
}

void Ini(const uint8_t* data, size_t size)
{
    const std::string path = platform::ToLocalPath("C:\\Windows\\Dornsend.ini");
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    WriteFile(path, data, size);
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string named = text.substr(0, std::min(text.find('\n'), size_t{64}));
    for (const std::string& key : {std::string("TGT-Mode"), std::string("TGT-Type"), std::string("TGT-Address"),
                                   std::string("TGT-Name"), named}) {
        const std::string value = DornsendIniValue(key, "default");
        if (value.size() > 255)
            std::abort();
        g_nSink = value.size();
    }
}

void Program(const uint8_t* data, size_t size)
{
    const std::string path = FuzzTempFolder() + "/program";
    WriteFile(path, data, size);
    if (auto version = snmpagent::ReadElfVersionNote(path))
        g_nSink = version->Text().size();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    FuzzIsolate();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    switch (data[0] % 3) {
        case 0:
            Hive(data + 1, size - 1);
            break;
        case 1:
            Ini(data + 1, size - 1);
            break;
        default:
            Program(data + 1, size - 1);
            break;
    }
    return 0;
}
