#include <gtest/gtest.h>

#include "platform/Paths.h"
#include "tests/support/TestEnv.h"

TEST(Paths, DriveAndUncPathsLiveUnderTheDriveRoot)
{
    std::string root = (testsupport::TestRoot() / "drives").string();
    struct Case {
        const char* in;
        std::string out;
    } cases[] = {
        {"C:\\KorvoLogs\\KorvoMirel\\ingestdrag.xml", root + "/C/KorvoLogs/KorvoMirel/ingestdrag.xml"},
        {"c:\\", root + "/C"},
        {"D:clip.mxf", root + "/D/clip.mxf"},
        {"\\\\srv\\media\\clips\\a.mxf", root + "/UNC/srv/media/clips/a.mxf"},
        {"/var/media/a.mxf", "/var/media/a.mxf"},
        {"clips\\a.mxf", "clips/a.mxf"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::ToLocalPath(c.in), c.out) << c.in;
}
