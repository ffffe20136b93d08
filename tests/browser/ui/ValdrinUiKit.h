#pragma once
// What the window tests share: a fresh user key, the window with its message boxes captured, dialogs answered by
// the test instead of a person, and the request library stand-in.

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QTest>
#include <filesystem>
#include <functional>
#include <memory>

#include "browser/CAmbrelLibrary.h"
#include "browser/CValdrinSettings.h"
#include "browser/ui/CMainFrame.h"
#include "browser/ui/CValdrinView.h"
#include "platform/Registry.h"
#include "tests/browser/BrowserTestKit.h"

namespace valdrintest
{

namespace fs = std::filesystem;
using browsertest::Message;

// A mount table with the root on a local disk and /net on NFS.
constexpr const char* kMountInfo =
    "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
    "40 22 0:50 / /net rw,relatime shared:2 - nfs4 srv:/export rw\n";

inline std::string Key()
{
    return CValdrinSettings::kKey;
}

inline std::optional<std::string> RegString(const std::string& name, const std::string& key = Key())
{
    return platform::Registry::GetString(platform::RegHive::CurrentUser, key, name);
}

inline std::optional<uint32_t> RegDword(const std::string& name, const std::string& key = Key())
{
    return platform::Registry::GetDword(platform::RegHive::CurrentUser, key, name);
}

class ValdrinUiTest : public ::testing::Test
{
protected:
    ValdrinUiTest() : ambrel(::testing::UnitTest::GetInstance()->current_test_info()->name())
    {
        platform::Registry::DeleteKey(platform::RegHive::CurrentUser, "SOFTWARE\\Brennhall");
        fixedCopy = testsupport::TestRoot() / "ingestdrag.xml";
        fs::remove(fixedCopy);
    }
    ~ValdrinUiTest() override { frame.reset(); }

    // The window as the program makes it: placement, menus, then the initial update.
    CValdrinView& Start()
    {
        frame = std::make_unique<CMainFrame>(sink);
        CValdrinView& v = frame->View();
        ValdrinTimings timings;
        timings.nPollMs = 5;
        timings.nTcpConnectMs = 20;
        timings.nTableRetryMs = 1;
        timings.nFtpControlMs = 2000;
        v.SetTimings(timings);
        v.SetRequestLibrary(std::make_shared<CAmbrelLibrary>(KORVO_AMBREL_LIBRARY));
        v.SetFixedCopyPath(fixedCopy.string());
        v.SetMountInfo([] { return std::string(kMountInfo); });
        v.SetDialogRunner([this](QDialog& dialog) {
            ++dialogsRun;
            if (answer)
                return answer(dialog);
            dialog.reject();
            return static_cast<int>(QDialog::Rejected);
        });
        v.OnInitialUpdate();
        return v;
    }

    CValdrinView& View() { return frame->View(); }

    std::vector<std::string> Items()
    {
        std::vector<std::string> items;
        for (int i = 0; i < View().count(); ++i)
            items.push_back(View().item(i)->text().toStdString() + "|" + std::to_string(View().ItemImage(i)));
        return items;
    }

    int Row(const std::string& text)
    {
        for (int i = 0; i < View().count(); ++i)
            if (View().item(i)->text().toStdString() == text)
                return i;
        return -1;
    }

    // A double-click on the item, as the mouse gives it.
    void DoubleClick(const std::string& text)
    {
        const int row = Row(text);
        ASSERT_GE(row, 0) << text;
        QListWidgetItem* item = View().item(row);
        View().scrollToItem(item);
        const QPoint at = View().visualItemRect(item).center();
        QTest::mouseClick(View().viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(View().viewport(), Qt::LeftButton, {}, at);
    }

    std::string Title() { return frame->windowTitle().toStdString(); }

    browsertest::ScriptedAmbrel ambrel;
    browsertest::CapturingSink sink;
    std::unique_ptr<CMainFrame> frame;
    fs::path fixedCopy;
    // How the next dialogs are answered; none: Cancel.
    std::function<int(QDialog&)> answer;
    int dialogsRun = 0;
};

}  // namespace valdrintest
