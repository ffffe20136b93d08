#include <gtest/gtest.h>

#include "browser/CValdrinSettings.h"
#include "platform/Registry.h"

using platform::RegHive;
using platform::Registry;

namespace
{

class SettingsTest : public ::testing::Test
{
protected:
    void SetUp() override { Registry::DeleteKey(RegHive::CurrentUser, "SOFTWARE\\Brennhall\\Valdrin"); }
    static std::vector<std::string> Names()
    {
        std::vector<std::string> names;
        for (const auto& value : Registry::EnumValues(RegHive::CurrentUser, CValdrinSettings::kKey))
            names.push_back(value.name);
        return names;
    }
    static std::optional<uint32_t> Dword(const char* name)
    {
        return Registry::GetDword(RegHive::CurrentUser, CValdrinSettings::kKey, name);
    }
};

TEST_F(SettingsTest, FirstStartCreatesOnlyFolderAndLibraryNameSecondWritesTheMarkedDefaults)
{
    CValdrinSettings first;
    EXPECT_FALSE(first.Load());
    EXPECT_EQ(Names(), (std::vector<std::string>{"Drive", "SetupDll"}));
    EXPECT_EQ(Registry::GetString(RegHive::CurrentUser, CValdrinSettings::kKey, "Drive"), "C:\\");
    EXPECT_EQ(Registry::GetString(RegHive::CurrentUser, CValdrinSettings::kKey, "SetupDll"), "KorvoSetup");

    CValdrinSettings second;
    EXPECT_TRUE(second.Load());
    EXPECT_EQ(Names(), (std::vector<std::string>{"Drive", "SetupDll", "MXF Only", "TCP Transfer", "OMF File",
                                                 "Trim Clip", "Trim GuardBand", "24 bits Audio", "Tardix"}));
    EXPECT_EQ(Dword("Tardix"), 1u);
    EXPECT_EQ(Dword("OMF File"), 0u);
    // The defaults of the table.
    EXPECT_EQ(second._szTargetHost, "Mirel");
    EXPECT_EQ(second._szRixAddress, "127.0.0.1");
    EXPECT_EQ(second._szRixPort, "21");
    EXPECT_EQ(second._szRixUser, "Korvo");
    EXPECT_EQ(second._szRixPass, "wqt");
    EXPECT_TRUE(second._bDropFtpXml);
    EXPECT_TRUE(second._bTardix);
    EXPECT_FALSE(second._bUseRix);
}

TEST_F(SettingsTest, ValuesAreInterpretedAsTheTableSays)
{
    Registry::CreateKey(RegHive::CurrentUser, CValdrinSettings::kKey);
    Registry::SetDword(RegHive::CurrentUser, CValdrinSettings::kKey, "OMF File", 2);
    Registry::SetDword(RegHive::CurrentUser, CValdrinSettings::kKey, "TCP Transfer", 2);
    Registry::SetDword(RegHive::CurrentUser, CValdrinSettings::kKey, "Trim Clip", 2);
    Registry::SetDword(RegHive::CurrentUser, CValdrinSettings::kKey, "Trim GuardBand", 0xFFFFFFF6);
    Registry::SetDword(RegHive::CurrentUser, CValdrinSettings::kKey, "Tardix", 0);
    Registry::SetString(RegHive::CurrentUser, CValdrinSettings::kKey, "Rix Port", "2121");
    // Too long for its buffer: read as missing, and the default written over it.
    Registry::SetString(RegHive::CurrentUser, CValdrinSettings::kKey, "SetupDll", std::string(300, 'x'));
    Registry::SetQword(RegHive::CurrentUser, CValdrinSettings::kKey, "24 bits Audio", 1);
    CValdrinSettings s;
    s.Load();
    EXPECT_FALSE(s._bOmf);
    EXPECT_TRUE(s._bTcpTransfer);
    EXPECT_FALSE(s._bTrimClip);
    EXPECT_EQ(s._nTrimGuardBand, -10);
    EXPECT_FALSE(s._bTardix);
    EXPECT_EQ(s._szRixPort, "2121");
    EXPECT_EQ(s._szSetupDll, "KorvoSetup");
    EXPECT_EQ(Registry::GetString(RegHive::CurrentUser, CValdrinSettings::kKey, "SetupDll"), "KorvoSetup");
    EXPECT_FALSE(s._b24BitsAudio);
    EXPECT_EQ(Dword("24 bits Audio"), 0u);
}

TEST_F(SettingsTest, TogglesWriteAtOnceAndOnlyWhenTheKeyOpens)
{
    CValdrinSettings s;
    s.ToggleOmf();  // no key yet: memory only
    EXPECT_TRUE(s._bOmf);
    EXPECT_FALSE(Registry::KeyExists(RegHive::CurrentUser, CValdrinSettings::kKey));

    s.Load();
    s._bOmf = true;
    s.ToggleOmf();  // either item of the pair switches to the other mode
    EXPECT_FALSE(s._bOmf);
    EXPECT_EQ(Dword("OMF File"), 0u);
    s.ToggleTcpTransfer();
    s.ToggleTardix();
    s.ToggleOnTop();
    EXPECT_EQ(Dword("TCP Transfer"), 1u);
    EXPECT_EQ(Dword("Tardix"), 0u);
    EXPECT_EQ(Dword("On Top"), 1u);
    s.SetTrimGuardBand(-4);
    EXPECT_EQ(Dword("Trim GuardBand"), 0xFFFFFFFCu);
    s.SetTargetHost("Ingest2");
    EXPECT_EQ(Registry::GetString(RegHive::CurrentUser, CValdrinSettings::kKey, "TargetHost"), "Ingest2");
}

TEST_F(SettingsTest, WindowPlacementIsCheckedOnTheWayIn)
{
    struct Case {
        int32_t x, y;
        int32_t expectX, expectY;
    };
    const Case cases[] = {{1501, 5, 0, 5}, {1500, 1000, 1500, 1000}, {-1, -7, 0, 0}, {10, 1001, 10, 0}};
    for (const Case& c : cases) {
        CWindowPlacement::Save(c.x, c.y, c.x + 800, c.y + 600);
        CWindowPlacement place = CWindowPlacement::Load();
        EXPECT_EQ(place._nX, c.expectX) << c.x;
        EXPECT_EQ(place._nY, c.expectY) << c.y;
        EXPECT_EQ(place._nWidth, 800);
        EXPECT_EQ(place._nHeight, 600);
    }
    Registry::DeleteKey(RegHive::CurrentUser, CWindowPlacement::kSection);
    CWindowPlacement place = CWindowPlacement::Load();
    EXPECT_EQ(place._nWidth, 640);
    EXPECT_EQ(place._nHeight, 480);
}

}  // namespace
