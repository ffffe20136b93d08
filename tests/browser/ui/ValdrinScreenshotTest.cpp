// A picture of the window listing the simulator's clips, taken on a real X server (ctest runs it under xvfb-run
// with VALDRIN_SCREENSHOT naming the file); skipped in the offscreen run.
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <cstdlib>

#include "tests/browser/ServerClipGolden.h"
#include "tests/browser/ui/ValdrinUiKit.h"

using namespace valdrintest;

namespace
{

class ValdrinScreenshot : public ValdrinUiTest
{
};

TEST_F(ValdrinScreenshot, WindowListingTheSimulatorsClips)
{
    const char* out = std::getenv("VALDRIN_SCREENSHOT");
    if (!out || QGuiApplication::platformName() == "offscreen")
        GTEST_SKIP() << "needs an X server: ctest -R ValdrinScreenshot runs it under xvfb-run";
    auto server = browsertest::StartSimulatorInUtc();
    ASSERT_TRUE(server);
    const std::string table = browsertest::PlainTable();
    for (const char* name : {"110B_plain", "111A_goal", "112C_interview", "113A_crowd", "114B_replay"}) {
        server->Store().AddFile(std::string("/") + name + ".CLP", rixsim::RixSimBytes(8, 0));
        server->Store().AddFile(std::string("/") + name + ".XML", rixsim::RixSimBytes(table.begin(), table.end()));
    }
    server->Store().AddDirectory("/ARCHIVE");
    using platform::Registry, platform::RegHive;
    Registry::SetString(RegHive::CurrentUser, Key(), "Drive", "\\");
    Registry::SetDword(RegHive::CurrentUser, Key(), "Use Rix FTP", 1);
    Registry::SetString(RegHive::CurrentUser, Key(), "Rix FTP", "127.0.0.1");
    Registry::SetString(RegHive::CurrentUser, Key(), "Rix Port", std::to_string(server->FtpPort()));

    Start();
    EXPECT_TRUE(sink.Messages().empty());
    EXPECT_EQ(Items(), (std::vector<std::string>{"ARCHIVE|3", "110B_plain|0", "111A_goal|0", "112C_interview|0",
                                                 "113A_crowd|0", "114B_replay|0"}));
    frame->resize(640, 480);
    frame->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    View().setCurrentRow(2);
    QTest::qWait(200);
    const QPixmap picture = frame->screen()->grabWindow(frame->winId());
    fs::create_directories(fs::path(out).parent_path());
    ASSERT_TRUE(picture.save(QString::fromLocal8Bit(out), "PNG")) << out;
    const QImage image(QString::fromLocal8Bit(out));
    EXPECT_EQ(image.width(), picture.width());
    EXPECT_GE(image.width(), 600);
    // Not a blank picture: the list's text and icons make many colours.
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 3)
        for (int x = 0; x < image.width(); x += 3)
            colours.insert(image.pixel(x, y));
    EXPECT_GT(colours.size(), 8);
}

}  // namespace
