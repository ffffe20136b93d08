// libDravik.so as a client program meets it: linked, with the client library stand-in in its library folder.
#include <cxxabi.h>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "automation/Host.h"
#include "automation/QlaStatus.h"
#include "automation/QoString.h"
#include "tests/automation/StandIns.h"
#include "tests/support/TestEnv.h"

using namespace MirelQla;

namespace
{
std::string Demangled(const std::string& name)
{
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> text(abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status),
                                                std::free);
    return status == 0 && text ? text.get() : name;
}

std::vector<std::string> ExportedNames()
{
    std::vector<std::string> names;
    std::string command = "nm -D --defined-only " + std::string(KORVO_DRAVIK_LIBRARY);
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return names;
    char line[4096];
    while (std::fgets(line, sizeof line, pipe)) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (fields >> address >> type >> name)
            names.push_back(name);
    }
    pclose(pipe);
    return names;
}
}  // namespace

TEST(DravikLibraryTest, ExportsOnlyTheAutomationClasses)
{
    const char* classes[] = {"MirelQla::Host", "MirelQla::AutomationAPI", "MirelQla::AutomationTransaction",
                             "MirelQla::QlaStatus", "Qo::QoString"};
    std::set<std::string> demangled;
    std::vector<std::string> names = ExportedNames();
    ASSERT_FALSE(names.empty());
    for (const std::string& name : names) {
        // Linker and sanitizer bookkeeping.
        if (name.starts_with("__odr_asan") || name == "_init" || name == "_fini" || name == "__bss_start" ||
            name == "_edata" || name == "_end")
            continue;
        std::string text = Demangled(name);
        demangled.insert(text);
        bool known = text == "Qo::kEmptyQoString" || text.starts_with("Qo::operator+(");
        for (const char* c : classes) {
            std::string cls = c;
            known = known || text.starts_with(cls + "::") || text == "typeinfo for " + cls ||
                    text == "typeinfo name for " + cls || text == "vtable for " + cls;
        }
        EXPECT_TRUE(known) << text;
    }
    for (const char* needed : {"MirelQla::Host::NewHost()",
                               "MirelQla::AutomationTransaction::release(MirelQla::"
                               "AutomationTransaction**)",
                               "MirelQla::QlaStatus::kNullMsg", "Qo::kEmptyQoString",
                               "MirelQla::QlaStatus::ToQoString() const", "Qo::QoString::UrlEncode(char const*)"})
        EXPECT_EQ(demangled.count(needed), 1u) << needed;
}

TEST(DravikLibraryTest, StatusAndStringsFromTheLibrary)
{
    QlaStatus status(kQlaErrorMediaNotOnline, nullptr, "tech");
    EXPECT_EQ(status.ToQoString(), "QlaStatus( code=-194: tech ((QlaAPI Error) Not all media is online))");
    EXPECT_TRUE(Qo::kEmptyQoString.IsEmpty());
    EXPECT_TRUE(QlaStatus::kNullMsg.IsEmpty());
    Qo::QoString url("caf\xE9 au lait");
    EXPECT_EQ(url.UrlEncode(), "caf%E9%20au%20lait");
}

TEST(DravikLibraryTest, ATransferFromRequestToItsLastStatus)
{
    auto client = automationtest::ClientLibrary();
    std::unique_ptr<Host> host(Host::NewHost());
    ASSERT_NE(host, nullptr);
    AutomationAPI* api = nullptr;
    ASSERT_EQ(host->GetAutomationAPI(&api).GetStatusCode(), kSuccess);
    ASSERT_NE(api, nullptr);

    AutomationTransaction* transaction = nullptr;
    client->Set("record.state", "2");
    ASSERT_EQ(api->RequestTransferXML("ingest", "workspace", "", "<ingestdrag/>", &transaction).GetStatusCode(),
              kSuccess);
    ASSERT_NE(transaction, nullptr);
    TransferStatusRecord record;
    std::memset(&record, 0, sizeof record);
    EXPECT_EQ(transaction->GetStatus(&record).GetStatusCode(), kSuccess);
    EXPECT_EQ(record.state, 2);
    client->Set("record.state", "4");
    client->Set("record.value1", "3");
    client->Set("statustext", "complete");
    EXPECT_EQ(transaction->GetStatus(&record).GetStatusCode(), kSuccess);
    EXPECT_EQ(record.state, 4);
    EXPECT_EQ(record.value1, 3 * 1000000007LL);
    Qo::QoString text;
    EXPECT_EQ(transaction->GetStatusText(text).GetStatusCode(), kSuccess);
    EXPECT_EQ(text, "complete");
    EXPECT_EQ(transaction->RequestAction3("cancel").GetStatusCode(), kSuccess);
    AutomationTransaction::release(&transaction);
    EXPECT_EQ(transaction, nullptr);
    host.reset();

    std::string journal = client->Journal();
    EXPECT_NE(journal.find("ModeText(Zelt)\nXmlRequest(ingest|workspace|(null)|0|0|<ingestdrag/>)\n"
                           "Transaction1.Refresh\nTransaction1.Refresh\nTransaction1.StatusText(512)\n"
                           "Transaction1.Action4(cancel)\nQoDeleteAPI\n"),
              std::string::npos)
        << journal;
}

TEST(DravikLibraryTest, NoClientLibraryIsAStatusNotACrash)
{
    std::unique_ptr<Host> host(Host::NewHost());
    AutomationAPI* api = nullptr;
    QlaStatus status = host->GetAutomationAPI(&api);
    EXPECT_EQ(status.GetStatusCode(), kQlaErrorCannotLoadLibrary);
    EXPECT_EQ(status.GetDescMessage(), "(QlaAPI Error) Unable to load tessan library");
    // The loader's reason: the file it tried and what the system's loader said.
    const std::string file = (testsupport::TestRoot() / "lib" / "libtessanapiVC7.so").string();
    EXPECT_TRUE(status.GetTechMessage().StartsWith(file.c_str(), true)) << status.GetTechMessage().ToCString();
    EXPECT_NE(std::string(status.GetTechMessage().ToCString()).find("cannot open shared object file"),
              std::string::npos)
        << status.GetTechMessage().ToCString();
    EXPECT_EQ(api, nullptr);
    EXPECT_EQ(host->GetOfflineAutomationAPI(&api).GetStatusCode(), kSuccess);
    Qo::QoString text;
    EXPECT_EQ(api->GetIngestInfo(text).GetStatusCode(), kQlaErrorNotInitialized);
}

TEST(DravikLibraryTest, AVersionTheClientLibraryRejectsIsNamedInTheStatus)
{
    auto client = automationtest::ClientLibrary();
    client->Set("api.version", "0.9");
    std::unique_ptr<Host> host(Host::NewHost());
    QlaStatus status = host->GetAutomationAPI(nullptr);
    EXPECT_EQ(status.GetStatusCode(), kQlaErrorCannotLoadLibrary);
    EXPECT_EQ(
        std::string(status.GetTechMessage().ToCString()),
        (testsupport::TestRoot() / "lib" / "libtessanapiVC7.so").string() + ": QoCheckAPIVersion rejected version 0.8");
}

TEST(DravikLibraryTest, ATextLongerThanItsFieldIsCutToEndWithAZero)
{
    struct Field {
        const char* key;  // its last character fills the text
        size_t offset;
        size_t size;
    };
    const Field fields[] = {{"record.text1", offsetof(TransferStatusRecord, text1), 256},
                            {"record.text2", offsetof(TransferStatusRecord, text2), 256},
                            {"record.text4", offsetof(TransferStatusRecord, text4), 256},
                            {"record.text5", offsetof(TransferStatusRecord, text5), 64},
                            {"record.text7", offsetof(TransferStatusRecord, text7), 256}};
    auto client = automationtest::ClientLibrary();
    std::unique_ptr<Host> host(Host::NewHost());
    AutomationAPI* api = nullptr;
    ASSERT_EQ(host->GetAutomationAPI(&api).GetStatusCode(), kSuccess);
    for (const Field& f : fields)
        client->Set(f.key, std::string(f.size + 40, f.key[11]));
    AutomationTransaction* transaction = nullptr;
    ASSERT_EQ(api->RequestTransferXML("ingest", "workspace", "", "<ingestdrag/>", &transaction).GetStatusCode(),
              kSuccess);
    for (bool cached : {false, true}) {
        TransferStatusRecord record;
        std::memset(&record, 0x55, sizeof record);
        EXPECT_EQ((cached ? transaction->GetCachedStatus(&record) : transaction->GetStatus(&record)).GetStatusCode(),
                  kSuccess);
        for (const Field& f : fields) {
            const char* text = reinterpret_cast<const char*>(&record) + f.offset;
            EXPECT_EQ(std::string(text, strnlen(text, f.size)), std::string(f.size - 1, f.key[11]))
                << f.key << (cached ? " cached" : "");
        }
    }
    AutomationTransaction::release(&transaction);
}

TEST(DravikLibraryTest, TheOfflineAndTheOnlineAPIInTurn)
{
    auto client = automationtest::ClientLibrary();
    std::unique_ptr<Host> host(Host::NewHost());
    AutomationAPI* online = nullptr;
    ASSERT_EQ(host->GetAutomationAPI(&online).GetStatusCode(), kSuccess);
    for (int turn = 0; turn < 2; ++turn) {
        AutomationAPI* offline = nullptr;
        ASSERT_EQ(host->GetOfflineAutomationAPI(&offline).GetStatusCode(), kSuccess);
        ASSERT_NE(offline, nullptr);
        Qo::QoString text;
        QlaStatus status = offline->GetIngestInfo(text);
        EXPECT_EQ(status.GetStatusCode(), kQlaErrorNotInitialized);
        EXPECT_EQ(status.GetDescMessage(), "(QlaAPI Error) The QlaStatus object is not yet initialized");
        AutomationTransaction* transaction = nullptr;
        status = offline->RequestTransferXML("ingest", "workspace", "", "<ingestdrag/>", &transaction);
        EXPECT_EQ(status.GetStatusCode(), kQlaErrorNotInitialized);
        EXPECT_FALSE(status.GetDescMessage().IsEmpty());
        EXPECT_EQ(transaction, nullptr);

        AutomationAPI* again = nullptr;
        ASSERT_EQ(host->GetAutomationAPI(&again).GetStatusCode(), kSuccess);
        ASSERT_NE(again, nullptr);
        for (AutomationAPI* api : {again, online}) {
            text.Clear();
            EXPECT_EQ(api->GetIngestInfo(text).GetStatusCode(), kSuccess) << "turn " << turn;
            EXPECT_EQ(text, "Ingest mode");
        }
        ASSERT_EQ(again->RequestTransferXML("ingest", "workspace", "", "<ingestdrag/>", &transaction).GetStatusCode(),
                  kSuccess);
        TransferStatusRecord record;
        EXPECT_EQ(transaction->GetStatus(&record).GetStatusCode(), kSuccess);
        AutomationTransaction::release(&transaction);
    }
}
