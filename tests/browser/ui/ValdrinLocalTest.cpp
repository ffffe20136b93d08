// The window on a local folder of clips written by the project's clip writer: first start, the listing, the folder
// walk, refresh, the option commands, the dialogs and the settings kept across a restart.
#include <QAction>
#include <QLineEdit>
#include <QMimeData>
#include <fstream>

#include "browser/IngestJobXml.h"
#include "browser/ui/ValdrinDialogs.h"
#include "common/CLogFile.h"
#include "platform/Paths.h"
#include "tests/browser/ServerClipGolden.h"
#include "tests/browser/ui/ValdrinUiKit.h"
#include "tests/reading/ParvexClipKit.h"

using namespace valdrintest;

namespace
{

constexpr parvexclip::ClipSpec kImx50{"Imx50", KORVOMXF_FORMAT_BAVD_8MB, 2, 3, 4, 50, 2, "imx50.m2v", 250000, 10,
                                      false};

class ValdrinLocalTest : public ValdrinUiTest
{
protected:
    void SetUp() override
    {
        folder = testsupport::TestRoot() / "clips" / ::testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::create_directories(folder / "sub");
        fs::create_directories(folder / ".cache");
        WriteClip(folder / "goal.mxf");
        std::ofstream(folder / "notes.txt") << "notes";
        std::ofstream(folder / ".hidden") << "hidden";
        std::ofstream(folder / "sub" / "inner.MXF") << "not really a clip";
        std::ofstream(folder / "sub" / "b.mxf2") << "x";
        std::ofstream(folder / "sub" / "a.mov") << "x";
    }

    static void WriteClip(const fs::path& path)
    {
        parvexclip::ClipWriter writer(kImx50);
        writer._describe = [](KorvoMXFInfo&, KorvoMXFClip& clip) { clip.SetName("Goal"); };
        ASSERT_TRUE(writer.WriteAll(path.string()));
    }

    // Chooses the test's folder with "Src Drive".
    void ChooseFolder(const fs::path& chosen)
    {
        View().SetFolderChooser([chosen]() -> std::optional<std::string> { return chosen.string(); });
        frame->Action(kCmdSrcDrive)->trigger();
    }

    std::string Folder() const { return folder.string() + "/"; }

    fs::path folder;
};

TEST_F(ValdrinLocalTest, FirstStartCreatesTheKeyWithFolderAndLibraryOnly)
{
    Start();
    EXPECT_EQ(Title(), "[ C:\\ ] - Valdrin");
    const auto values = platform::Registry::EnumValues(platform::RegHive::CurrentUser, Key());
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(RegString("Drive"), "C:\\");
    EXPECT_EQ(RegString("SetupDll"), "KorvoSetup");
    EXPECT_TRUE(sink.Messages().empty());
    // MXF/AAF and 16-bit audio are the checked halves of their pairs.
    EXPECT_TRUE(frame->Action(kCmdMxfAafIngest)->isChecked());
    EXPECT_FALSE(frame->Action(kCmdOmfIngest)->isChecked());
    EXPECT_TRUE(frame->Action(kCmd16BitsAudio)->isChecked());
    EXPECT_FALSE(frame->Action(kCmdAlwaysOnTop)->isChecked());
}

TEST_F(ValdrinLocalTest, FolderListsFoldersFirstWithTheirImagesAndWarnsForALocalDisk)
{
    Start();
    ChooseFolder(folder);
    EXPECT_EQ(Items(), (std::vector<std::string>{"..|3", "sub|3", ".hidden|1", "goal.mxf|0", "notes.txt|1"}));
    EXPECT_EQ(Title(), "[ " + Folder() + " ] - Valdrin");
    EXPECT_EQ(sink.Messages(),
              (std::vector<Message>{
                  {"Please ensure the drive you selected maps the same location on the Mirel Tessan side, otherwise "
                   "please use an UNC path.  Ignore this message if you're running Korvo Mirel Browser and Mirel "
                   "Tessan on the same computer.",
                   "About usage of non-UNC paths", MessageIcon::Information}}));
    EXPECT_EQ(RegString("Drive"), Folder());
    EXPECT_EQ(RegDword("Use Rix FTP"), 0u);
}

TEST_F(ValdrinLocalTest, NetworkMountOrUncFolderGivesNoWarning)
{
    Start();
    View().SetMountInfo(
        [this] { return std::string(kMountInfo) + "41 22 0:51 / " + folder.string() + " rw - cifs //srv/clips rw\n"; });
    ChooseFolder(folder);
    EXPECT_TRUE(sink.Messages().empty());
    EXPECT_EQ(View().count(), 5);
}

TEST_F(ValdrinLocalTest, CancelledFolderChoiceChangesNothing)
{
    Start();
    View().SetFolderChooser([] { return std::nullopt; });
    frame->Action(kCmdSrcDrive)->trigger();
    EXPECT_EQ(Title(), "[ C:\\ ] - Valdrin");
    EXPECT_FALSE(RegDword("Use Rix FTP"));
}

TEST_F(ValdrinLocalTest, WalkIntoAndOutOfFoldersWritesTheFolderBack)
{
    Start();
    ChooseFolder(folder);
    DoubleClick("sub");
    EXPECT_EQ(Title(), "[ " + Folder() + "sub/ ] - Valdrin");
    EXPECT_EQ(Items(), (std::vector<std::string>{"..|3", "a.mov|1", "b.mxf2|0", "inner.MXF|0"}));
    EXPECT_EQ(RegString("Drive"), Folder() + "sub/");
    DoubleClick("..");
    EXPECT_EQ(Title(), "[ " + Folder() + " ] - Valdrin");
    EXPECT_EQ(RegString("Drive"), Folder());
    // The keyboard: Enter opens the current item.
    View().setCurrentRow(Row("sub"));
    QTest::keyClick(&View(), Qt::Key_Return);
    EXPECT_EQ(RegString("Drive"), Folder() + "sub/");
}

TEST_F(ValdrinLocalTest, RefreshAndDoubleClickOnAFileAddOnlyNewNames)
{
    Start();
    ChooseFolder(folder);
    std::ofstream(folder / "added.txt") << "x";
    DoubleClick("notes.txt");
    EXPECT_EQ(Items(),
              (std::vector<std::string>{"..|3", "sub|3", ".hidden|1", "goal.mxf|0", "notes.txt|1", "added.txt|1"}));
    fs::remove(folder / "notes.txt");
    EXPECT_EQ(frame->Action(kCmdRefresh)->shortcut(), QKeySequence(Qt::Key_F5));
    frame->Action(kCmdRefresh)->trigger();
    EXPECT_EQ(Items(), (std::vector<std::string>{"..|3", "sub|3", ".hidden|1", "added.txt|1", "goal.mxf|0"}));
}

TEST_F(ValdrinLocalTest, MxfOnlyShowsOnlyClips)
{
    Start();
    ChooseFolder(folder / "sub");
    frame->Action(kCmdMxfOnly)->trigger();
    EXPECT_EQ(Items(), (std::vector<std::string>{"..|3", "b.mxf2|0", "inner.MXF|0"}));
    EXPECT_TRUE(frame->Action(kCmdMxfOnly)->isChecked());
    EXPECT_EQ(RegDword("MXF Only"), 1u);
}

TEST_F(ValdrinLocalTest, TogglesFlipTheirPairsAndWriteTheirValues)
{
    Start();
    struct Case {
        int command;
        const char* value;
        int checked;
        int unchecked;
    };
    const Case cases[] = {{kCmdOmfIngest, "OMF File", kCmdOmfIngest, kCmdMxfAafIngest},
                          {kCmdOmfIngest, "OMF File", kCmdMxfAafIngest, kCmdOmfIngest},  // OMF already on: back
                          {kCmd16BitsAudio, "24 bits Audio", kCmd24BitsAudio, kCmd16BitsAudio},
                          {kCmdTrimClip, "Trim Clip", kCmdTrimClip, 0},
                          {kCmdTcpTransfer, "TCP Transfer", kCmdTcpTransfer, 0},
                          {kCmdAlwaysOnTop, "On Top", kCmdAlwaysOnTop, 0}};
    uint32_t expected[2] = {1, 0};
    int omf = 0;
    for (const Case& c : cases) {
        frame->Action(c.command)->trigger();
        const uint32_t want = c.command == kCmdOmfIngest ? expected[omf++] : 1u;
        EXPECT_EQ(RegDword(c.value), want) << c.value;
        EXPECT_TRUE(frame->Action(c.checked)->isChecked()) << c.value;
        if (c.unchecked)
            EXPECT_FALSE(frame->Action(c.unchecked)->isChecked()) << c.value;
    }
    EXPECT_TRUE(frame->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    View().OnCommand(kCmdTardix);
    EXPECT_EQ(RegDword("Tardix"), 0u);
}

TEST_F(ValdrinLocalTest, SettingsAndPlacementAreKeptAcrossARestart)
{
    Start();
    ChooseFolder(folder);
    frame->Action(kCmdOmfIngest)->trigger();
    frame->Action(kCmd24BitsAudio)->trigger();
    frame->Action(kCmdAlwaysOnTop)->trigger();
    frame->move(120, 80);
    frame->resize(700, 500);
    frame->close();
    frame.reset();

    Start();
    EXPECT_EQ(frame->pos(), QPoint(120, 80));
    EXPECT_EQ(frame->size(), QSize(700, 500));
    EXPECT_EQ(Title(), "[ " + Folder() + " ] - Valdrin");
    EXPECT_EQ(View().count(), 5);
    EXPECT_TRUE(frame->Action(kCmdOmfIngest)->isChecked());
    EXPECT_TRUE(frame->Action(kCmd24BitsAudio)->isChecked());
    EXPECT_TRUE(frame->Action(kCmdAlwaysOnTop)->isChecked());
    EXPECT_TRUE(frame->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    // The view's log is open, its folder made on first start.
    EXPECT_TRUE(fs::exists(platform::ToLocalPath(GetLogFilePath("KorvoMirel", "Valdrin.log"))));
    // The second start writes the defaults so marked and leaves the others absent.
    EXPECT_EQ(RegDword("Tardix"), 1u);
    EXPECT_EQ(RegDword("Trim GuardBand"), 0u);
    EXPECT_FALSE(RegDword("Drop FtpXml"));
}

TEST_F(ValdrinLocalTest, PlacementOutOfRangeStartsAtZero)
{
    const std::string mainW = CWindowPlacement::kSection;
    struct Case {
        int32_t x, y;
        QPoint expected;
    };
    for (const Case& c : {Case{1501, 1000, {0, 1000}}, Case{1500, -1, {1500, 0}}}) {
        platform::Registry::SetDword(platform::RegHive::CurrentUser, mainW, "csX", static_cast<uint32_t>(c.x));
        platform::Registry::SetDword(platform::RegHive::CurrentUser, mainW, "csY", static_cast<uint32_t>(c.y));
        Start();
        EXPECT_EQ(frame->pos(), c.expected) << c.x << "," << c.y;
        frame.reset();
    }
}

TEST_F(ValdrinLocalTest, DialogsSetTheirValues)
{
    Start();
    answer = [](QDialog& dialog) {
        if (auto* host = qobject_cast<CQlmHostDlg*>(&dialog))
            host->HostEdit()->setText("Ingest2");
        else if (auto* trim = qobject_cast<CTrimGBDlg*>(&dialog))
            trim->FieldsEdit()->setText("-12");
        dialog.accept();
        return dialog.result();
    };
    frame->Action(kCmdIngestDevice)->trigger();
    EXPECT_EQ(View().Settings()._szTargetHost, "Ingest2");
    EXPECT_EQ(RegString("TargetHost"), "Ingest2");
    frame->Action(kCmdTrimGuardBand)->trigger();
    EXPECT_EQ(RegDword("Trim GuardBand"), static_cast<uint32_t>(-12));

    // Cancel keeps the value and still writes it.
    answer = [](QDialog& dialog) {
        if (auto* trim = qobject_cast<CTrimGBDlg*>(&dialog))
            trim->FieldsEdit()->setText("99");
        dialog.reject();
        return dialog.result();
    };
    platform::Registry::DeleteValue(platform::RegHive::CurrentUser, Key(), "Trim GuardBand");
    frame->Action(kCmdTrimGuardBand)->trigger();
    EXPECT_EQ(RegDword("Trim GuardBand"), static_cast<uint32_t>(-12));
    frame->Action(kCmdIngestDevice)->trigger();
    EXPECT_EQ(View().Settings()._szTargetHost, "Ingest2");

    QString about;
    answer = [&about](QDialog& dialog) {
        about = static_cast<CAboutDlg&>(dialog).VersionText();
        return static_cast<int>(QDialog::Accepted);
    };
    frame->Action(kCmdAbout)->trigger();
    EXPECT_EQ(about, "Valdrin version 01.09.00");
    EXPECT_EQ(dialogsRun, 5);
}

TEST_F(ValdrinLocalTest, LocalClipIsIngestedOrRefusedAndDraggedAsItsJob)
{
    Start();
    View().SetMountInfo([] { return std::string("22 1 8:1 / / rw - nfs4 srv:/ rw\n"); });
    View().SetClock(browsertest::FixedNow);
    ChooseFolder(folder);
    std::ofstream(folder / "broken.mxf") << "not a clip file";
    View().OnCommand(kCmdRefresh);

    ambrel.Script("status run:50 complete\n");
    DoubleClick("goal.mxf");
    EXPECT_EQ(sink.Messages(), (std::vector<Message>{{"Transfer Complete !", "Success", MessageIcon::Information}}));
    const std::string copy = browsertest::ReadText(fixedCopy);
    EXPECT_TRUE(
        copy.starts_with("<?xml version=\"1.0\"?>\n<ingestdrag><printname>Goal</printname>"
                         "<lookupname>goal.mxf</lookupname>"))
        << copy;
    EXPECT_NE(copy.find("<directory>" + Folder() + "</directory>"), std::string::npos);

    DoubleClick("broken.mxf");
    EXPECT_EQ(sink.Messages().back(),
              (Message{"Failed to get File's information", "Transfer Error", MessageIcon::Error}));
    const auto journal = ambrel.Journal();
    EXPECT_EQ(std::count_if(journal.begin(), journal.end(),
                            [](const std::string& line) { return line.starts_with("RequestTransferXML"); }),
              1);

    // The drag offers the job the service gets; a file that is not a clip drags nothing.
    std::unique_ptr<QMimeData> data = View().DragData(Row("goal.mxf"));
    ASSERT_TRUE(data);
    EXPECT_EQ(ingestjob::FixedCopyText(data->text().toStdString()), copy);
    EXPECT_EQ(View().DragData(Row("notes.txt")), nullptr);
    EXPECT_EQ(View().DragData(Row("broken.mxf")), nullptr);

    // Without the request library the request is refused with a message, never a crash.
    View().SetRequestLibrary(std::make_shared<CAmbrelLibrary>((folder / "libMissing.so").string()));
    DoubleClick("goal.mxf");
    EXPECT_EQ(sink.Messages().back(),
              (Message{"Transfer request library NOT loaded !\n" + (folder / "libMissing.so").string() +
                           ": cannot open shared object file: No such file or directory",
                       "ERROR", MessageIcon::Error}));
}

TEST_F(ValdrinLocalTest, TcpTransferPublishesItsAddressAndReportsAReceiverThatNeverCame)
{
    Start();
    View().SetMountInfo([] { return std::string("22 1 8:1 / / rw - nfs4 srv:/ rw\n"); });
    ChooseFolder(folder);
    setenv("KORVO_TCP_ADDRESS", "127.0.0.1", 1);
    frame->Action(kCmdTcpTransfer)->trigger();
    ambrel.Script("status run:1\n");
    DoubleClick("goal.mxf");
    unsetenv("KORVO_TCP_ADDRESS");
    EXPECT_EQ(sink.Messages(),
              (std::vector<Message>{{"TCP Transfer Connection NOT established !", "ERROR", MessageIcon::Error}}));
    const std::string copy = browsertest::ReadText(fixedCopy);
    EXPECT_NE(copy.find("<KorvoTCPPort>127.0.0.1:"), std::string::npos) << copy.substr(0, 600);
}

TEST(ValdrinDialogTexts, GuardBandConversion)
{
    struct Case {
        const char* text;
        int32_t fields;
    };
    for (const Case& c :
         {Case{"12", 12}, Case{" -7x", -7}, Case{"abc", 0}, Case{"", 0}, Case{"99999999999", INT32_MAX}})
        EXPECT_EQ(CTrimGBDlg::ParseFields(c.text), c.fields) << c.text;
}

TEST(ValdrinDialogTexts, TheServerDialogRefusesAnAddressThatIsNotFourNumbersAndPadsNothing)
{
    struct Case {
        const char* address;
        bool taken;
    };
    for (const Case& c :
         {Case{"10.1.2.3", true}, Case{"0.0.0.0", true}, Case{"255.255.255.255", true},
          Case{"nosuchhost.invalid", false}, Case{"rix-server-1", false}, Case{"10.1", false}, Case{"10.1.2", false},
          Case{"10.1.2.", false}, Case{"10.1.2.3.4", false}, Case{"300.1.2.3", false}, Case{"010.1.2.3", false},
          Case{" 10.1.2.3", false}, Case{"", false}}) {
        SCOPED_TRACE(c.address);
        CFTPSrvDlg dialog("127.0.0.1", "21", "Korvo", "pw");
        QStringList refusals;
        QObject::connect(&dialog, &CFTPSrvDlg::Refused, [&](const QString& why) { refusals << why; });
        dialog.AddressEdit()->clear();
        QTest::keyClicks(dialog.AddressEdit(), c.address);
        EXPECT_EQ(dialog.AddressEdit()->text().toStdString(), c.address);
        dialog.accept();
        EXPECT_EQ(dialog.result() == QDialog::Accepted, c.taken);
        const std::string refusal = c.taken ? ""
                                            : std::string("Server IP \"") + c.address +
                                                  "\" is not an address of four numbers from 0 to "
                                                  "255 joined by dots";
        EXPECT_EQ(dialog.RefusalText().toStdString(), refusal);
        EXPECT_EQ(refusals.size(), c.taken ? 0 : 1);
        EXPECT_EQ(dialog.Address(), c.taken ? c.address : "127.0.0.1");
    }
}

TEST(ValdrinDialogTexts, TheServerDialogRefusesAPortThatIsNotANumberAndSaysSo)
{
    struct Case {
        const char* port;
        bool taken;
    };
    for (const Case& c : {Case{"2121", true}, Case{"", true}, Case{"65535", true}, Case{"21x", false}, Case{"0", false},
                          Case{"65536", false}, Case{"-1", false}, Case{" 21", false}}) {
        SCOPED_TRACE(c.port);
        CFTPSrvDlg dialog("127.0.0.1", "21", "Korvo", "pw");
        // Every keystroke stays in the box: nothing filters what is typed.
        dialog.PortEdit()->clear();
        QTest::keyClicks(dialog.PortEdit(), c.port);
        EXPECT_EQ(dialog.PortEdit()->text().toStdString(), c.port);
        dialog.accept();
        EXPECT_EQ(dialog.result() == QDialog::Accepted, c.taken);
        EXPECT_EQ(dialog.RefusalText().toStdString(),
                  c.taken ? "" : std::string("Port \"") + c.port + "\" is not a number from 1 to 65535");
        if (c.taken)
            EXPECT_EQ(dialog.Port(), c.port);
    }
}

}  // namespace
