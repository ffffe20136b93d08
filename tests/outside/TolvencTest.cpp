#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <typeinfo>

#include "outside/qo/Generic/ErrorIF.h"
#include "outside/qo/Generic/HelperIF.h"
#include "platform/SharedLibrary.h"
#include "tests/outside/plugins/CompositionSummary.h"
#include "tests/support/FileTestKit.h"

using namespace Qo::Generic;

namespace
{

// A helper and what it gave out, freed in order.
struct HelperHandle {
    explicit HelperHandle(int32_t kind = kContainerAAF) : helper(CreateHelper(kind)) {}
    ~HelperHandle() { DeleteHelper(helper); }
    HelperIF* helper;
};

template <class Mob>
Mob* Create(ContainerIF* container, int32_t kind)
{
    return dynamic_cast<Mob*>(container->CreateMob(kind));
}

// A composition with every kind of mob and every field set; written to a file.
void WriteSampleComposition(const std::filesystem::path& path)
{
    HelperHandle h;
    ContainerBuffer* buffer = h.helper->NewContainerBuffer(50000, 131072);
    ContainerIF* container = h.helper->OpenNewContainer(buffer, 0, 3);
    ASSERT_NE(container, nullptr);

    auto* tape = Create<TapeMobIF>(container, kTapeMob);
    tape->SetName("TAPE 7");
    TapeMobIF::TapeVitals vitals;
    vitals.SetTimeCode(TimeCode(30, true, 1, 2, 3, 4));
    tape->SetTapeVitals(vitals);
    container->ReleaseMob(tape);

    std::vector<MobID> fileIds;
    for (int32_t track = 0; track < 3; ++track) {
        auto* file = Create<FileMobIF>(container, kFileMob);
        file->SetMediaPath(("/media/t" + std::to_string(track)).c_str());
        if (track > 0)
            file->SetSampleWidth(track == 1 ? 24 : 16);
        fileIds.push_back(file->GetMobID());
        container->ReleaseMob(file);
    }

    Filelist list({0, 1, 2}, TimeCode(25, false, 10, 0, 0, 0), "TAPE 7", vitals, "Mirel::MPEG2::50",
                  "Mirel::WAVE::Uncompressed", 25);
    auto* master = Create<MasterMobIF>(container, kMasterMob);
    master->SetName("clip & <one>");
    master->SetDuration(100);
    master->SetTrim(10, 110);
    master->SetVideoStandard(kVideoStandard25Hz);
    master->SetTapeID("TAPE 7");
    master->SetFilelist(list);
    master->SetAttribute("_USER", "QO_KORVO_RATE", "50");
    master->SetAttribute("_EXPORT", "TRIM_SUBCLIP", "1");
    master->SetAttribute("PlainKey", "plain value");
    master->SetAttribute("_USER", "QO_KORVO_RATE", "40");  // replaces
    container->ReleaseMob(master);

    auto* composition = Create<CompositionMobIF>(container, kCompositionMob);
    composition->SetName("sequence");
    composition->SetDuration(75);
    composition->SetVideoStandard(kVideoStandard2997Hz);
    composition->SetStartTimeCode(TimeCode(30, true, 9, 59, 59, 29));
    composition->SetTapeID("TAPE 7");
    composition->AddCompressorName("Mirel::MPEG2::50");
    composition->AddCompressorName("Mirel::DV");
    composition->SetAttribute("_USER", "TGT-Mode", "Shared");
    Playlist playlist;
    for (int32_t track = 0; track < 3; ++track)
        playlist.AddTrack(track).AddSegment(Segment(fileIds[static_cast<size_t>(track)], 75));
    composition->SetPlaylist(playlist);
    container->ReleaseMob(composition);

    ASSERT_TRUE(h.helper->ReturnContainer(container));
    ASSERT_TRUE(buffer->WriteToFile(path.c_str()));
}

const char* kSampleSummary =
    "tape name=TAPE 7 dur=0 std=0 start=0N0:0:0:0 vitals=30D1:2:3:4\n"
    "file name= dur=0 std=0 start=0N0:0:0:0 path=/media/t0\n"
    "file name= dur=0 std=0 start=0N0:0:0:0 path=/media/t1 sound=24\n"
    "file name= dur=0 std=0 start=0N0:0:0:0 path=/media/t2 sound=16\n"
    "master name=clip & <one> dur=100 std=1 start=0N0:0:0:0 [_USER|QO_KORVO_RATE=40] [_EXPORT|TRIM_SUBCLIP=1] "
    "[|PlainKey=plain value] trim=10-110 tape=TAPE 7 filelist=0,1,2, video=Mirel::MPEG2::50 "
    "audio=Mirel::WAVE::Uncompressed rate=25 ftape=TAPE 7 fstart=25N10:0:0:0\n"
    "composition name=sequence dur=75 std=2 start=30D9:59:59:29 [_USER|TGT-Mode=Shared] tape=TAPE 7 "
    "compressors=Mirel::MPEG2::50,Mirel::DV, track0:2/75, track1:3/75, track2:4/75,\n";

class Tolvenc : public ::testing::Test
{
protected:
    void SetUp() override
    {
        _dir = testsupport::FreshDir("tolvenc");
        ASSERT_TRUE(_probe.Open(KORVO_TOLVENCPROBE_LIBRARY)) << _probe.LastError();
    }

    std::filesystem::path _dir;
    platform::SharedLibrary _probe;
};

TEST_F(Tolvenc, ACompositionReadsBackTheSameInAnotherLibrary)
{
    std::filesystem::path file = _dir / "sample.xml";
    WriteSampleComposition(file);
    ASSERT_EQ(std::system(("xmllint --noout '" + file.string() + "'").c_str()), 0);

    // Read here...
    HelperHandle h;
    ContainerBuffer* buffer = h.helper->BufferFromFile(file.c_str());
    ASSERT_NE(buffer, nullptr);
    ContainerIF* container = h.helper->OpenContainer(buffer, kOpenRead);
    ASSERT_NE(container, nullptr) << h.helper->GetLastError();
    EXPECT_EQ(outsidetest::SummariseContainer(container), kSampleSummary);
    EXPECT_EQ(container->GetMasterMobIDs().size(), 1u);
    EXPECT_EQ(container->GetCompositionMobIDs(false).size(), 1u);
    EXPECT_EQ(container->GetMobIDs(MobID(kFileMob)).size(), 3u);

    // ...and in a library loaded on its own, which also types the mobs made here.
    auto probeFile = reinterpret_cast<bool (*)(const char*, char*, size_t)>(_probe.Symbol("ProbeCompositionFile"));
    auto probeKind = reinterpret_cast<const char* (*)(MobIF*)>(_probe.Symbol("ProbeKindOf"));
    ASSERT_TRUE(probeFile && probeKind);
    char text[8192];
    ASSERT_TRUE(probeFile(file.c_str(), text, sizeof text));
    EXPECT_EQ(std::string(text), kSampleSummary);
    for (const MobID& id : container->GetMobIDs(MobID(kAnyMob))) {
        MobIF* mob = container->OpenMob(id);
        EXPECT_EQ(std::string(probeKind(mob)), outsidetest::KindOf(mob));
        container->ReleaseMob(mob);
    }
    h.helper->ReturnContainer(container);
}

TEST_F(Tolvenc, TypeInformationIsOneAcrossLibraries)
{
    auto probeType = reinterpret_cast<const std::type_info* (*)(int)>(_probe.Symbol("ProbeTypeInfo"));
    ASSERT_NE(probeType, nullptr);
    const std::type_info* here[] = {&typeid(MasterMobIF), &typeid(CompositionMobIF), &typeid(FileMobIF),
                                    &typeid(SoundDescriptor), &typeid(ErrorIF)};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(probeType(i), here[i]) << here[i]->name();
}

TEST_F(Tolvenc, WritesTheDocumentItDescribes)
{
    HelperHandle h(kContainerOMF);
    ContainerBuffer* buffer = h.helper->NewContainerBuffer(0, 0);
    ContainerIF* container = h.helper->OpenNewContainer(buffer, 0, 2);
    MobIF* master = container->CreateMob(kMasterMob);
    master->SetAttribute("_USER", "K", "a&b");
    container->ReleaseMob(master);
    ASSERT_TRUE(h.helper->ReturnContainer(container));
    std::string text(reinterpret_cast<const char*>(buffer->GetData()), buffer->GetSize());
    EXPECT_EQ(text,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<tolvenc kind=\"OMF\">\n"
              "  <mob kind=\"master\" prefix=\"19286\" major=\"1\" minor=\"1\">\n"
              "    <name></name>\n"
              "    <duration>0</duration>\n"
              "    <standard>0</standard>\n"
              "    <start rate=\"0\" drop=\"0\" value=\"00:00:00:00\"/>\n"
              "    <trim in=\"0\" out=\"0\"/>\n"
              "    <tape></tape>\n"
              "    <path></path>\n"
              "    <vitals rate=\"0\" drop=\"0\" value=\"00:00:00:00\"/>\n"
              "    <attribute category=\"_USER\" name=\"K\">a&amp;b</attribute>\n"
              "  </mob>\n"
              "</tolvenc>\n");
}

TEST_F(Tolvenc, AFilelistPutIntoAContainerMakesAMasterMobAndFileMobs)
{
    HelperHandle h;
    ContainerBuffer* buffer = h.helper->NewContainerBuffer(0, 0);
    ContainerIF* container = h.helper->OpenNewContainer(buffer, 0, 3);
    Filelist list({0, 1, 2, 3, 4}, TimeCode(30, true, 0, 0, 0, 0), "T1", TapeMobIF::TapeVitals(), "Mirel::DV",
                  "Mirel::WAVE::Uncompressed", 30);
    list.SetSubATTR("_USER", "TapeID", "T1");
    ASSERT_TRUE(list.PutIntoFile(container));
    std::vector<MobID> masters = container->GetMasterMobIDs();
    ASSERT_EQ(masters.size(), 1u);
    EXPECT_EQ(container->GetMobIDs(MobID(kFileMob)).size(), 5u);
    auto* master = dynamic_cast<MasterMobIF*>(container->OpenMob(masters[0]));
    ASSERT_NE(master, nullptr);
    std::string value;
    EXPECT_TRUE(master->GetAttribute("_USER", "TapeID", value));
    EXPECT_EQ(value, "T1");
    EXPECT_FALSE(master->GetAttribute("_EXPORT", "TapeID", value));
    EXPECT_EQ(master->GetVideoStandard(), kVideoStandard2997Hz);
    Filelist* lent = master->GetFilelist();
    ASSERT_NE(lent, nullptr);
    EXPECT_EQ(lent->GetTrackList(), (std::vector<int32_t>{0, 1, 2, 3, 4}));
    master->ReleaseFilelist(lent);
    container->ReleaseMob(master);
    EXPECT_EQ(container->OpenMob(MobID(kMasterMob)), nullptr);  // a kind is no identifier
    EXPECT_EQ(list.PutIntoFile(nullptr), false);
    h.helper->ReturnContainer(container);
}

TEST_F(Tolvenc, RefusesBytesThatHoldNoContainer)
{
    struct Case {
        const char* bytes;
        const char* reason;
    };
    const Case cases[] = {
        {"", "empty container"},
        {"<tolvenc kind=\"AAF\">", "not XML"},
        {"<other/>", "not a composition container"},
        {"<tolvenc kind=\"XYZ\"/>", "unknown container kind"},
        {"<tolvenc kind=\"AAF\"><mob kind=\"alien\" prefix=\"1\" major=\"1\" minor=\"1\"/></tolvenc>",
         "unknown mob kind"},
        {"<tolvenc kind=\"AAF\"><mob kind=\"master\" prefix=\"1\" major=\"1\"/></tolvenc>", "missing attribute"},
        {"<tolvenc kind=\"AAF\"><mob kind=\"master\" prefix=\"1\" major=\"1\" minor=\"1\">"
         "<duration>12x</duration></mob></tolvenc>",
         "bad duration"},
        {"<tolvenc kind=\"AAF\"><mob kind=\"master\" prefix=\"1\" major=\"1\" minor=\"1\">"
         "<duration>99999999999</duration></mob></tolvenc>",
         "bad duration"},
        {"<tolvenc kind=\"AAF\"><mob kind=\"master\" prefix=\"1\" major=\"1\" minor=\"1\"/>"
         "<mob kind=\"file\" prefix=\"1\" major=\"1\" minor=\"1\"/></tolvenc>",
         "two mobs with one id"},
        {"<!DOCTYPE t SYSTEM \"http://127.0.0.1:1/x.dtd\"><tolvenc kind=\"AAF\"/>", ""},
    };
    for (const Case& c : cases) {
        HelperHandle h;
        ContainerBuffer* buffer = h.helper->BufferFromMemory(c.bytes, static_cast<uint32_t>(std::strlen(c.bytes)), 0);
        ContainerIF* container = h.helper->OpenContainer(buffer, kOpenRead);
        if (*c.reason == '\0') {
            EXPECT_NE(container, nullptr) << "a DTD is never fetched";
            continue;
        }
        EXPECT_EQ(container, nullptr) << c.bytes;
        EXPECT_NE(std::string(h.helper->GetLastError()).find(c.reason), std::string::npos)
            << c.bytes << " -> " << h.helper->GetLastError();
    }
    HelperHandle h;
    EXPECT_EQ(h.helper->BufferFromFile((_dir / "missing.xml").c_str()), nullptr);
    EXPECT_EQ(h.helper->OpenContainer(nullptr, kOpenRead), nullptr);
    EXPECT_EQ(CreateHelper(7), nullptr);
}

TEST_F(Tolvenc, AContainerOpenedForWritingIsWrittenBackWhenHandedBack)
{
    std::filesystem::path file = _dir / "edit.xml";
    WriteSampleComposition(file);
    {
        HelperHandle h;
        ContainerBuffer* buffer = h.helper->BufferFromFile(file.c_str());
        ContainerIF* container = h.helper->OpenContainer(buffer, kOpenReadWrite);
        MobIF* mob = container->OpenMob(container->GetCompositionMobIDs(false).at(0));
        mob->SetAttribute("_USER", "TGT-Name", "Sequence");
        container->ReleaseMob(mob);
        ASSERT_TRUE(h.helper->ReturnContainer(container));
        ASSERT_TRUE(buffer->WriteToFile(file.c_str()));
    }
    HelperHandle h;
    ContainerBuffer* buffer = h.helper->BufferFromFile(file.c_str());
    ContainerIF* container = h.helper->OpenContainer(buffer, kOpenRead);
    MobIF* mob = container->OpenMob(container->GetCompositionMobIDs(true).at(0));
    std::string value;
    EXPECT_TRUE(mob->GetAttribute("_USER", "TGT-Name", value));
    EXPECT_EQ(value, "Sequence");
    container->ReleaseMob(mob);
    // A read-only container leaves its buffer alone.
    mob = container->OpenMob(container->GetMasterMobIDs().at(0));
    uint32_t size = buffer->GetSize();
    mob->SetAttribute("_USER", "Extra", "1");
    container->ReleaseMob(mob);
    h.helper->ReturnContainer(container);
    EXPECT_EQ(buffer->GetSize(), size);
}

}  // namespace
