#include "browser/ui/CMainFrame.h"

#include <QAction>
#include <QCloseEvent>
#include <QMenuBar>

#include "browser/CValdrinSettings.h"
#include "browser/ui/CValdrinView.h"

namespace
{

constexpr const char* kIdProperty = "valdrinCommand";

struct MenuItem {
    int id;  // 0: a separator
    const char* caption;
};

}  // namespace

CMainFrame::CMainFrame(IMessageSink& sink, QWidget* parent) : QMainWindow(parent)
{
    const CWindowPlacement place = CWindowPlacement::Load();
    move(place._nX, place._nY);
    resize(place._nWidth, place._nHeight);
    _pView = new CValdrinView(sink, this);
    setCentralWidget(_pView);
    BuildMenus();
    setWindowTitle("[ ] - Valdrin");
    connect(_pView, &CValdrinView::TitleChanged, this,
            [this](const QString& title) { setWindowTitle(title + " - Valdrin"); });
    connect(_pView, &CValdrinView::OnTopChanged, this, &CMainFrame::SetOnTop);
    connect(_pView, &CValdrinView::ExitRequested, this, &QMainWindow::close);
    _pView->setFocus();
}

CMainFrame::~CMainFrame() = default;

void CMainFrame::BuildMenus()
{
    const MenuItem source[] = {{kCmdSrcDrive, "Src &Drive"},
                               {kCmdSrcRixFtp, "Src &Rix FTP"},
                               {0, nullptr},
                               {kCmdRefresh, "&Refresh"},
                               {0, nullptr},
                               {kCmdExit, "&Quitter"}};
    const MenuItem options[] = {{kCmdMxfOnly, "View MXF only"},
                                {0, nullptr},
                                {kCmdTrimClip, "TrimClip"},
                                {kCmdTrimGuardBand, "Trim GuardBand"},
                                {0, nullptr},
                                {kCmdOmfIngest, "OMF Ingest"},
                                {kCmdMxfAafIngest, "MXF/AAF Ingest"},
                                {kCmdTcpTransfer, "TCP Transfer"},
                                {0, nullptr},
                                {kCmd16BitsAudio, "16 bits audio"},
                                {kCmd24BitsAudio, "24 bits audio"},
                                {0, nullptr},
                                {kCmdIngestDevice, "Mirel Ingest Device"},
                                {kCmdAlwaysOnTop, "Always on top"}};
    const MenuItem help[] = {{kCmdAbout, "&A propos de Valdrin..."}};
    auto add = [this](const QString& title, const auto& items) {
        QMenu* menu = menuBar()->addMenu(title);
        for (const MenuItem& item : items) {
            if (item.id == 0) {
                menu->addSeparator();
                continue;
            }
            QAction* action = menu->addAction(item.caption);
            action->setProperty(kIdProperty, item.id);
            const int id = item.id;
            connect(action, &QAction::triggered, _pView, [this, id] { _pView->OnCommand(id); });
            _pView->SetCommandAction(id, action);
        }
    };
    add("&Source", source);
    add("&Options", options);
    add("&?", help);
    Action(kCmdRefresh)->setShortcut(QKeySequence(Qt::Key_F5));
    Action(kCmdExit)->setShortcut(QKeySequence::Quit);
    _pView->UpdateCheckMarks();
}

QAction* CMainFrame::Action(int id) const
{
    for (QAction* action : findChildren<QAction*>())
        if (action->property(kIdProperty).toInt() == id)
            return action;
    return nullptr;
}

void CMainFrame::SetOnTop(bool onTop)
{
    // Into or out of the topmost band, in place and without activation.
    const bool shown = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    setAttribute(Qt::WA_ShowWithoutActivating, true);
    if (shown)
        show();
    setAttribute(Qt::WA_ShowWithoutActivating, false);
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    const QPoint place = pos();
    CWindowPlacement::Save(place.x(), place.y(), place.x() + width(), place.y() + height());
    QMainWindow::closeEvent(event);
}
