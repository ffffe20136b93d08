#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

#include "automation/PlumetConnection.h"
#include "platform/NamedMutex.h"
#include "tests/automation/StandIns.h"

using namespace MirelQla;

namespace
{
class PlumetFixture : public ::testing::Test
{
protected:
    void SetUp() override { PlumetConnection::Reset(); }
    void TearDown() override { PlumetConnection::Reset(); }
};
}  // namespace

TEST_F(PlumetFixture, WithoutTheServiceTheFileSystemAnswers)
{
    std::string file = (testsupport::TestRoot() / "present.mxf").string();
    std::ofstream(file) << "x";
    EXPECT_EQ(PlumetMainObjectOf(), nullptr);
    EXPECT_FALSE(PlumetConnection::Instance().HasMutex());
    EXPECT_EQ(FileAttributes(file), kFileAttributeNormal);
    EXPECT_EQ(FileAttributes(testsupport::TestRoot().string()), kFileAttributeDirectory);
    EXPECT_EQ(FileAttributes(file + ".absent"), kInvalidFileAttributes);
    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(FileExists(""));
}

TEST_F(PlumetFixture, FileCachesAreSwitchedOffFromVersionThreeOrTwoTwo)
{
    auto plumet = automationtest::PlumetLibrary();
    const struct {
        const char* first;
        const char* second;
        bool switchedOff;
    } cases[] = {{"2", "1", false}, {"3", "0", true}, {"2", "2", true}, {"1", "1", false}};
    for (const auto& c : cases) {
        PlumetConnection::Reset();
        plumet->Set("reset");
        plumet->Set("entries", "alpha,beta");
        plumet->Set("version.first", c.first);
        plumet->Set("version.second", c.second);
        ASSERT_NE(PlumetMainObjectOf(), nullptr);
        EXPECT_TRUE(PlumetConnection::Instance().HasMutex());
        std::string expected = "GetSharedLibraryMainObject\nGetSharedLibraryVersion\n";
        if (c.switchedOff)
            expected +=
                "EntryCount\nEntryCommand(1|<OpenFileCache=0>|17|80)\nEntryCommand(0|<OpenFileCache=0>|17|80)\n";
        EXPECT_EQ(plumet->Journal(), expected) << c.first << "." << c.second;
    }
}

TEST_F(PlumetFixture, AttributesThroughTheService)
{
    auto plumet = automationtest::PlumetLibrary();
    plumet->Set("attributes.\\\\srv\\share\\a.mxf", "0x21");
    EXPECT_EQ(FileAttributes("\\\\srv\\share\\a.mxf"), 0x21u);
    // What the service does not know, the file system answers.
    EXPECT_EQ(FileAttributes("\\\\srv\\share\\b.mxf"), kInvalidFileAttributes);
}

TEST_F(PlumetFixture, NetworkPathsTranslateThroughTheirEntry)
{
    auto plumet = automationtest::PlumetLibrary();
    plumet->Set("entries", "alpha,Beta");
    plumet->Set("translate.BETA", "/mnt/beta");
    PlumetConnection& connection = PlumetConnection::Instance();
    EXPECT_EQ(connection.TranslateForEntry("\\\\BETA\\share\\a.mxf").value_or(""), "/mnt/beta/share/a.mxf");
    EXPECT_FALSE(connection.TranslateForEntry("\\\\gamma\\share\\a.mxf").has_value());
    EXPECT_FALSE(connection.TranslateForEntry("C:\\local.mxf").has_value());
    EXPECT_FALSE(connection.TranslateForEntry("\\\\").has_value());
    EXPECT_EQ(connection.Translate("\\\\BETA").value_or("none"), "/mnt/beta");
}
