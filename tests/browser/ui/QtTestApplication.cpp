// One QApplication for the whole test program, made before the first test; offscreen unless the caller chose a
// platform (the screenshot test runs on a real X server).
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <memory>

namespace
{

class QtEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static int argc = 1;
        static char name[] = "test_browser_ui";
        static char* argv[] = {name, nullptr};
        _app = std::make_unique<QApplication>(argc, argv);
        QApplication::setApplicationName("Valdrin");
    }
    void TearDown() override { _app.reset(); }

private:
    std::unique_ptr<QApplication> _app;
};

[[maybe_unused]] ::testing::Environment* const g_qt = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

}  // namespace
