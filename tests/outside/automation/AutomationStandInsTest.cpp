#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <string>

#include "outside/ingestsetup/interface/IngestDevice.h"
#include "outside/plumet/interface/PlumetMainObject.h"
#include "outside/tessanapi/interface/QlmClient.h"

namespace
{
using ControlFn = int (*)(const char* key, const char* value, char* reply, int replySize);

std::set<std::string> Exports(const char* library)
{
    std::set<std::string> names;
    std::FILE* pipe = popen(("nm -D --defined-only " + std::string(library)).c_str(), "r");
    if (!pipe)
        return names;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe)) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (fields >> address >> type >> name && !name.starts_with("__odr_asan") && name != "_init" &&
            name != "_fini" && name != "__bss_start" && name != "_edata" && name != "_end")
            names.insert(name);
    }
    pclose(pipe);
    return names;
}

// One stand-in loaded as the automation library loads it, with its journal.
class Loaded
{
public:
    Loaded(const char* path, const char* controlEntry) : _handle(dlopen(path, RTLD_NOW | RTLD_LOCAL))
    {
        EXPECT_NE(_handle, nullptr);
        _control = reinterpret_cast<ControlFn>(Symbol(controlEntry));
        EXPECT_NE(_control, nullptr);
        Set("reset");
    }
    ~Loaded()
    {
        Set("reset");
        if (_handle)
            dlclose(_handle);
    }
    void* Symbol(const char* name) const { return _handle ? dlsym(_handle, name) : nullptr; }
    void Set(const char* key, const char* value = "") const
    {
        if (_control)
            _control(key, value, nullptr, 0);
    }
    std::string Journal() const
    {
        std::string text(static_cast<size_t>(_control("journal", nullptr, nullptr, 0)), '\0');
        _control("journal", nullptr, text.data(), static_cast<int>(text.size()));
        text.pop_back();
        return text;
    }

private:
    void* _handle;
    ControlFn _control = nullptr;
};
}  // namespace

TEST(AutomationStandInsTest, EachExportsItsEntriesAndItsControl)
{
    EXPECT_EQ(Exports(KORVO_TESSANAPI_LIBRARY),
              (std::set<std::string>{"QoCheckAPIVersion", "QoCreateAPI", "QoDeleteAPI", "TessanApiControl"}));
    EXPECT_EQ(Exports(KORVO_INGESTSETUP_LIBRARY),
              (std::set<std::string>{"CheckVersion", "Create", "Delete", "IngestSetupControl"}));
    EXPECT_EQ(Exports(KORVO_PLUMET_LIBRARY),
              (std::set<std::string>{"GetSharedLibraryMainObject", "GetSharedLibraryVersion", "PlumetControl"}));
}

TEST(AutomationStandInsTest, ClientTransactionsPublishAtTheLibrarysOffsets)
{
    Loaded client(KORVO_TESSANAPI_LIBRARY, "TessanApiControl");
    auto check = reinterpret_cast<QoCheckAPIVersionFn>(client.Symbol("QoCheckAPIVersion"));
    auto create = reinterpret_cast<QoCreateAPIFn>(client.Symbol("QoCreateAPI"));
    auto destroy = reinterpret_cast<QoDeleteAPIFn>(client.Symbol("QoDeleteAPI"));
    EXPECT_EQ(check("0.8"), 0);
    EXPECT_NE(check("0.7"), 0);
    QlmClientAPI* api = create();
    ASSERT_NE(api, nullptr);
    client.Set("record.state", "5");
    client.Set("record.text7", std::string(300, 's').c_str());
    QlmClientTransaction* first = nullptr;
    QlmClientTransaction* second = nullptr;
    ASSERT_EQ(api->XmlRequest("a", "b", nullptr, 0, 0, "<x/>", &first), 0);
    ASSERT_EQ(api->TransferRequest("a", "c", "host", "d", 0, "abc", 3, 0, &second), 0);

    const unsigned char* block = reinterpret_cast<const unsigned char*>(&second->_data);
    int32_t id;
    std::memcpy(&id, block + 1032, 4);
    EXPECT_EQ(id, 2);
    EXPECT_STREQ(reinterpret_cast<const char*>(block + 1044), "transfer-2");
    int32_t state;
    std::memcpy(&state, block + 2072 + 1032, 4);
    EXPECT_EQ(state, 5);
    EXPECT_EQ(std::memcmp(block + 2072 + 1392, std::string(256, 's').data(), 256), 0) << "a full text, unterminated";

    client.Set("result.XmlRequestEx", "12");
    QlmClientTransaction* rejected = nullptr;
    EXPECT_EQ(api->XmlRequestEx("a", "b", "c", nullptr, 0, 0, "<x/>", &rejected), 12);
    EXPECT_EQ(rejected, nullptr);
    EXPECT_EQ(api->Unused17(), 1);
    destroy(api);
    EXPECT_EQ(client.Journal(),
              "QoCheckAPIVersion(0.8)\nQoCheckAPIVersion(0.7)\nQoCreateAPI\nXmlRequest(a|b|(null)|0|0|<x/>)\n"
              "TransferRequest(a|c|host|d|0|abc|3|0)\nXmlRequestEx(a|b|c|(null)|0|0|<x/>)\nUnused17\nQoDeleteAPI\n");
    client.Set("reset");
    EXPECT_EQ(client.Journal(), "");
}

TEST(AutomationStandInsTest, IngestDeviceHandsOutExactlyItsComposition)
{
    Loaded setup(KORVO_INGESTSETUP_LIBRARY, "IngestSetupControl");
    auto check = reinterpret_cast<IngestCheckVersionFn>(setup.Symbol("CheckVersion"));
    auto create = reinterpret_cast<IngestCreateFn>(setup.Symbol("Create"));
    EXPECT_EQ(check("1.2"), 0);
    EXPECT_NE(check("1.1"), 0);
    setup.Set("composition", "<c/>");
    IngestDevice* device = create();
    ASSERT_NE(device, nullptr);
    device->SetCompositionKind(0);
    char* composition = nullptr;
    int size = -1;
    EXPECT_EQ(device->PrepareIngest("dev", "three", &composition, &size), 0);
    ASSERT_EQ(size, 4);
    EXPECT_EQ(std::string(composition, 4), "<c/>");
    device->FreeText(composition);
    device->Release();
    setup.Set("prepare.result", "7");
    device = create();
    EXPECT_EQ(device->PrepareIngest("dev", "", &composition, &size), 7);
    device->Release();
    EXPECT_EQ(setup.Journal(),
              "CheckVersion(1.2)\nCheckVersion(1.1)\nCreate\nSetCompositionKind(0)\nPrepareIngest(dev|three)\n"
              "FreeText\nRelease\nCreate\nPrepareIngest(dev|)\nRelease\n");
}

TEST(AutomationStandInsTest, SharedFileServiceEntriesTranslationsAndRecords)
{
    Loaded plumet(KORVO_PLUMET_LIBRARY, "PlumetControl");
    auto mainOf = reinterpret_cast<GetSharedLibraryMainObjectFn>(plumet.Symbol("GetSharedLibraryMainObject"));
    auto versionOf = reinterpret_cast<GetSharedLibraryVersionFn>(plumet.Symbol("GetSharedLibraryVersion"));
    plumet.Set("entries", "one,two");
    plumet.Set("translate.two", "/mnt/two");
    plumet.Set("attributes.\\\\two\\a", "0x10");
    plumet.Set("version.first", "3");
    PlumetMainObject* main = mainOf();
    ASSERT_NE(main, nullptr);
    int first = 0;
    int second = 0;
    versionOf(&first, &second);
    EXPECT_EQ(first, 3);
    EXPECT_EQ(second, 1);
    EXPECT_EQ(main->EntryCount(), 2);
    PlumetEntryRecord entry{};
    EXPECT_TRUE(main->Entry(&entry, 1));
    EXPECT_STREQ(entry.name, "two");
    EXPECT_FALSE(main->Entry(&entry, 2));
    char out[1024];
    EXPECT_TRUE(main->TranslatePath("\\\\two\\share\\x.mxf", out, sizeof out));
    EXPECT_STREQ(out, "/mnt/two/share/x.mxf");
    EXPECT_FALSE(main->TranslatePath("\\\\one\\x", out, sizeof out));
    EXPECT_FALSE(main->TranslatePath("\\\\two\\share\\x.mxf", out, 8)) << "no room";
    PlumetFileRecord record{};
    EXPECT_TRUE(main->SelectPath("\\\\two\\a"));
    EXPECT_TRUE(main->FileRecord(&record));
    EXPECT_EQ(record.attributes, 0x10u);
    EXPECT_TRUE(main->SelectPath("\\\\two\\b"));
    EXPECT_FALSE(main->FileRecord(&record));
}
