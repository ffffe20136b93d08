// Requests that open or write compositions through the editing system's helper library.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "automation/PlumetConnection.h"
#include "automation/_AutomationAPI.h"
#include "outside/qo/Generic/CompositionMobIF.h"
#include "outside/qo/Generic/FileMobIF.h"
#include "outside/qo/Generic/Filelist.h"
#include "outside/qo/Generic/HelperIF.h"
#include "outside/qo/Generic/MasterMobIF.h"
#include "outside/tessanapi/interface/QlmClient.h"
#include "tests/automation/StandIns.h"

using namespace MirelQla;
namespace gen = Qo::Generic;

namespace
{
struct HelperDeleter {
    void operator()(gen::HelperIF* helper) const { gen::DeleteHelper(helper); }
};
using HelperPtr = std::unique_ptr<gen::HelperIF, HelperDeleter>;

std::string TestPath(const std::string& name)
{
    return (testsupport::TestRoot() / name).string();
}

// A composition file with one file mob per media path, and a composition mob when asked.
std::string WriteComposition(const std::string& name, const std::vector<std::string>& mediaPaths,
                             bool withCompositionMob = false)
{
    HelperPtr helper(gen::CreateHelper(static_cast<int32_t>(gen::kContainerOMF)));
    gen::ContainerBuffer* buffer = helper->NewContainerBuffer(50000, 131072);
    gen::ContainerIF* container = helper->OpenNewContainer(buffer, 0, 2);
    for (const std::string& path : mediaPaths) {
        gen::MobIF* mob = container->CreateMob(gen::kFileMob);
        dynamic_cast<gen::FileMobIF*>(mob)->SetMediaPath(path.c_str());
        container->ReleaseMob(mob);
    }
    if (withCompositionMob)
        container->ReleaseMob(container->CreateMob(gen::kCompositionMob));
    EXPECT_TRUE(helper->ReturnContainer(container));
    std::string path = TestPath(name);
    EXPECT_TRUE(buffer->WriteToFile(path.c_str()));
    return path;
}

// Opens a composition file and hands its first mob of a kind to check.
template <typename Mob, typename Check>
void WithFirstMob(const std::string& file, bool composition, Check check)
{
    HelperPtr helper(gen::CreateHelper(file.c_str()));
    gen::ContainerBuffer* buffer = helper->BufferFromFile(file.c_str());
    ASSERT_NE(buffer, nullptr);
    gen::ContainerIF* container = helper->OpenContainer(buffer, gen::kOpenRead);
    ASSERT_NE(container, nullptr);
    std::vector<gen::MobID> ids = composition ? container->GetCompositionMobIDs(false) : container->GetMasterMobIDs();
    ASSERT_FALSE(ids.empty());
    gen::MobIF* mob = container->OpenMob(ids.front());
    Mob* typed = dynamic_cast<Mob*>(mob);
    ASSERT_NE(typed, nullptr);
    check(*typed, container->GetKind());
    container->ReleaseMob(mob);
    helper->ReturnContainer(container);
}

class CompositionFixture : public ::testing::Test
{
protected:
    void SetUp() override
    {
        PlumetConnection::Reset();
        client = automationtest::ClientLibrary();
        clientApi = reinterpret_cast<QoCreateAPIFn>(client->Symbol("QoCreateAPI"))();
        api = std::make_unique<_AutomationAPI>(nullptr, clientApi);
        client->Set("reset");
    }
    void TearDown() override
    {
        AutomationTransaction::release(&transaction);
        api.reset();
        reinterpret_cast<QoDeleteAPIFn>(client->Symbol("QoDeleteAPI"))(clientApi);
        PlumetConnection::Reset();
    }

    QlaStatus Priority(const std::string& file)
    {
        int priority = 7;
        return api->RequestPriorityTransfer("one", file.c_str(), "three", priority, &transaction, 4);
    }

    std::unique_ptr<automationtest::StandIn> client;
    QlmClientAPI* clientApi = nullptr;
    std::unique_ptr<_AutomationAPI> api;
    AutomationTransaction* transaction = nullptr;
};

ProxyTrackFlags Tracks(std::initializer_list<int> on)
{
    ProxyTrackFlags flags{};
    for (int track : on)
        flags.track[track] = true;
    return flags;
}
}  // namespace

TEST_F(CompositionFixture, PriorityRequestWhenAllMediaIsOnline)
{
    std::string media = TestPath("media.mxf");
    std::ofstream(media) << "essence";
    struct Case {
        std::vector<std::string> paths;
        bool online;
    } cases[] = {
        {{}, true},
        {{media}, true},
        {{media, media + ".absent"}, false},
        {{""}, false},
    };
    for (const Case& c : cases) {
        client->Set("reset");
        std::string file = WriteComposition("composition.omf", c.paths);
        QlaStatus status = Priority(file);
        AutomationTransaction::release(&transaction);
        if (!c.online) {
            EXPECT_EQ(status.GetStatusCode(), kQlaErrorMediaNotOnline);
            EXPECT_EQ(client->Journal(), "");
            continue;
        }
        EXPECT_EQ(status.GetStatusCode(), kSuccess);
        std::ifstream in(file, std::ios::binary);
        std::string contents((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_NE(client->Journal().find("|three|"), std::string::npos);
        EXPECT_NE(client->Journal().find(contents + "|" + std::to_string(contents.size()) + "|2|4)\n"),
                  std::string::npos)
            << "priority 7 goes out as 2";
    }
}

TEST_F(CompositionFixture, NetworkMediaIsFoundThroughTheSharedFileService)
{
    auto plumet = automationtest::PlumetLibrary();
    std::filesystem::create_directories(TestPath("share/clips"));
    std::ofstream(TestPath("share/clips/a.mxf")) << "essence";
    plumet->Set("entries", "other,MediaSrv");
    plumet->Set("translate.mediasrv", TestPath(""));
    std::string file = WriteComposition("network.omf", {"\\\\mediasrv\\share\\clips\\a.mxf"});
    EXPECT_EQ(Priority(file).GetStatusCode(), kSuccess);
    EXPECT_NE(plumet->Journal().find("Entry(1)\nTranslatePath(\\\\mediasrv\\share\\clips\\a.mxf|1024)\n"),
              std::string::npos)
        << plumet->Journal();

    std::string missing = WriteComposition("missing.omf", {"\\\\mediasrv\\share\\clips\\b.mxf"});
    EXPECT_EQ(Priority(missing).GetStatusCode(), kQlaErrorMediaNotOnline);
}

TEST_F(CompositionFixture, ProxyCompositionFile)
{
    client->Set("setting.qlmmediatype", "AAF");
    std::string file = TestPath("proxy.aaf");
    char mobIdText[64] = {};
    QlaStatus status =
        api->CreateProxyMob("TAPE01", Tracks({0, 2}), 10, 20, 30, 12, 1, 0, 3, 5, file.c_str(), mobIdText);
    ASSERT_EQ(status.GetStatusCode(), kSuccess);
    WithFirstMob<gen::MasterMobIF>(file, false, [&](gen::MasterMobIF& master, int32_t kind) {
        EXPECT_EQ(kind, gen::kContainerAAF);
        std::string tape;
        EXPECT_TRUE(master.GetAttribute("_USER", "TapeID", tape));
        EXPECT_EQ(tape, "TAPE01");
        gen::omfUID_t uid = master.GetMobID();
        EXPECT_EQ(std::string(mobIdText), std::to_string(uid.prefix) + "." +
                                              std::to_string(static_cast<int32_t>(uid.major)) + "." +
                                              std::to_string(static_cast<int32_t>(uid.minor)));
        gen::Filelist* filelist = master.GetFilelist();
        ASSERT_NE(filelist, nullptr);
        EXPECT_EQ(filelist->GetTrackList(), (std::vector<int32_t>{0, 2}));
        EXPECT_EQ(filelist->GetStartTimeCode(), gen::TimeCode(30, true, 10, 20, 30, 12));
        EXPECT_EQ(filelist->GetVideoCompression(), "Mirel::MPEG2::50");
        EXPECT_EQ(filelist->GetAudioCompression(), "Mirel::WAVE::Uncompressed");
        master.ReleaseFilelist(filelist);
    });

    // Without a readable media type the composition is OMF.
    client->Set("reset");
    std::string omf = TestPath("proxy.omf");
    ASSERT_EQ(api->CreateProxyMob("T", Tracks({1}), 0, 0, 0, 0, 0, 1, 0, 0, omf.c_str(), nullptr).GetStatusCode(),
              kSuccess);
    WithFirstMob<gen::MasterMobIF>(omf, false, [](gen::MasterMobIF& master, int32_t kind) {
        EXPECT_EQ(kind, gen::kContainerOMF);
        gen::Filelist* filelist = master.GetFilelist();
        ASSERT_NE(filelist, nullptr);
        EXPECT_EQ(filelist->GetStartTimeCode(), gen::TimeCode(25, false, 0, 0, 0, 0));
        EXPECT_EQ(filelist->GetVideoCompression(), "Mirel::DVCPRO::25");
        master.ReleaseFilelist(filelist);
    });
}

TEST_F(CompositionFixture, ProxyCompositionFailures)
{
    std::string file = TestPath("never.omf");
    EXPECT_EQ(api->CreateProxyMob("", Tracks({0}), 0, 0, 0, 0, 0, 1, 0, 0, file.c_str(), nullptr).GetStatusCode(),
              kQlmErrorBadOmf);
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(api->CreateProxyMob("T", Tracks({0}), 0, 0, 0, 0, 0, 1, 0, 0, "", nullptr).GetStatusCode(),
              kQlmErrorBadOmf);
    std::string unwritable = TestPath("no-such-folder/proxy.omf");
    EXPECT_EQ(
        api->CreateProxyMob("T", Tracks({0}), 0, 0, 0, 0, 0, 1, 0, 0, unwritable.c_str(), nullptr).GetStatusCode(),
        kQlmErrorBadOmf);
}

TEST_F(CompositionFixture, MobAttributes)
{
    std::string proxy = TestPath("attributes.omf");
    ASSERT_EQ(api->CreateProxyMob("T", Tracks({0}), 0, 0, 0, 0, 0, 1, 0, 0, proxy.c_str(), nullptr).GetStatusCode(),
              kSuccess);
    // No composition mob: the master mob takes it, with or without a category; "TapeID" is only an attribute.
    EXPECT_EQ(api->SetMobAttribute(proxy.c_str(), "Gantrel", "yes", "_USER").GetStatusCode(), kSuccess);
    EXPECT_EQ(api->SetMobAttribute(proxy.c_str(), "Plain", "1", "").GetStatusCode(), kSuccess);
    WithFirstMob<gen::MasterMobIF>(proxy, false, [](gen::MasterMobIF& master, int32_t) {
        std::string value;
        EXPECT_TRUE(master.GetAttribute("_USER", "Gantrel", value));
        EXPECT_EQ(value, "yes");
        EXPECT_TRUE(master.GetAttribute("Plain", value));
        EXPECT_EQ(value, "1");
    });

    std::string composition = WriteComposition("composition.omf", {}, true);
    EXPECT_EQ(api->SetMobAttribute(composition.c_str(), "TapeID", "REEL7", "_USER").GetStatusCode(), kSuccess);
    WithFirstMob<gen::CompositionMobIF>(composition, true, [](gen::CompositionMobIF& mob, int32_t) {
        std::string tape;
        mob.GetTapeID(tape);
        EXPECT_EQ(tape, "REEL7");
    });

    EXPECT_EQ(api->SetMobAttribute(proxy.c_str(), "Gantrel", "", "_USER").GetStatusCode(), kQlmErrorBadOmf);
    std::string empty = WriteComposition("empty.omf", {});
    EXPECT_EQ(api->SetMobAttribute(empty.c_str(), "a", "b", "").GetStatusCode(), kQlmErrorBadOmf);
    std::string junk = TestPath("junk.omf");
    std::ofstream(junk) << "not a composition";
    EXPECT_EQ(api->SetMobAttribute(junk.c_str(), "a", "b", "").GetStatusCode(), kQlmErrorBadOmf);
    EXPECT_EQ(api->SetMobAttribute(TestPath("absent.omf").c_str(), "a", "b", "").GetStatusCode(), kQlmErrorBadOmf);
}
