#pragma once

#include <QHash>
#include <QListWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "browser/CValdrinViewCore.h"

class QAction;
class QDialog;
class QMimeData;

// The menu commands of the browser, numbered as the program's resources number them.
enum ValdrinCommand : int {
    kCmdSrcDrive = 32771,
    kCmdRefresh = 32772,
    kCmdIngestDevice = 32778,
    kCmdMxfOnly = 32779,
    kCmdTcpTransfer = 32780,
    kCmdOmfIngest = 32782,
    kCmdMxfAafIngest = 32783,
    kCmdTrimClip = 32784,
    kCmdTrimGuardBand = 32785,
    kCmd24BitsAudio = 32786,
    kCmdSrcRixFtp = 32788,
    kCmd16BitsAudio = 32789,
    kCmdAlwaysOnTop = 32790,
    kCmdTardix = 32792,
    kCmdAbout = 57664,
    kCmdExit = 57665,
};

// The browser's list: the folders and clips of a local folder or of a video server's FTP area, in list mode with
// small icons. Double-click (or Enter) opens a folder or requests a clip's ingest; dragging a clip offers its
// ingest job (or its ftp URL) as plain text. Modal dialogs and the drag run through hooks that tests replace.
class CValdrinView : public QListWidget, public CValdrinViewCore
{
    Q_OBJECT
public:
    using DialogRunner = std::function<int(QDialog&)>;
    using FolderChooser = std::function<std::optional<std::string>()>;
    using DragRunner = std::function<void(std::unique_ptr<QMimeData>)>;

    explicit CValdrinView(IMessageSink& sink, QWidget* parent = nullptr);
    ~CValdrinView() override;

    // Start-up: settings, check marks, the first listing, then the log.
    void OnInitialUpdate();

    // Lists the current source into the list without emptying it.
    void ListCurrent();
    void Refresh();
    void OnCommand(int id);
    // The double-click on a row (or Enter on it); a row outside the list does nothing.
    void OpenItem(int row);
    // What dragging the row offers; null when it drags nothing. Writes the job's copy.
    std::unique_ptr<QMimeData> DragData(int row);

    QString DocumentTitle() const { return _title; }
    int ItemImage(int row) const;
    // The menu items that show a check mark, by command.
    void SetCommandAction(int id, QAction* action) { _actions.insert(id, action); }
    void UpdateCheckMarks();

    void SetDialogRunner(DialogRunner runner) { _runDialog = std::move(runner); }
    void SetFolderChooser(FolderChooser chooser) { _chooseFolder = std::move(chooser); }
    void SetDragRunner(DragRunner runner) { _runDrag = std::move(runner); }
    // The mount table the network-folder warning reads; tests give their own.
    void SetMountInfo(std::function<std::string()> mountInfo) { _mountInfo = std::move(mountInfo); }

signals:
    void TitleChanged(const QString& title);
    void OnTopChanged(bool onTop);
    void ExitRequested();

protected:
    void startDrag(Qt::DropActions supportedActions) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void ListLocal();
    void ListServer();
    void SetTitle(const QString& title);
    void InsertItem(int row, const std::string& text, int image);
    void OnSrcDrive();
    void OnSrcRixFtp();
    void RunTransfer(int row);
    QIcon IconOf(int image) const;

    QString _title = "[ ]";
    QHash<int, QAction*> _actions;
    DialogRunner _runDialog;
    FolderChooser _chooseFolder;
    DragRunner _runDrag;
    std::function<std::string()> _mountInfo;
};
