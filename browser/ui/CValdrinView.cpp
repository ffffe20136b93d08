#include "browser/ui/CValdrinView.h"

#include <QAction>
#include <QApplication>
#include <QDrag>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMimeData>
#include <QSet>
#include <QStyle>
#include <filesystem>

#include "browser/CAmbrelLibrary.h"
#include "browser/IngestJobXml.h"
#include "browser/ui/CProgressDlg.h"
#include "browser/ui/CTcpBlockSource.h"
#include "browser/ui/ValdrinDialogs.h"
#include "browser/ui/ValdrinListing.h"
#include "common/CLogFile.h"
#include "common/CTimeCode.h"
#include "ftp/CKorvoFtpClient.h"
#include "platform/Paths.h"

using namespace valdrinlist;

namespace
{

constexpr int kImageRole = Qt::UserRole;

constexpr const char* kNonUncText =
    "Please ensure the drive you selected maps the same location on the Mirel Tessan side, otherwise please use an "
    "UNC path.  Ignore this message if you're running Korvo Mirel Browser and Mirel Tessan on the same computer.";

bool StartsWithXml(const std::string& extension)
{
    std::string lower = extension.substr(0, 4);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower == ".xml";
}

}  // namespace

CValdrinView::CValdrinView(IMessageSink& sink, QWidget* parent) : QListWidget(parent), CValdrinViewCore(sink)
{
    setViewMode(QListView::ListMode);
    setFlow(QListView::TopToBottom);
    setWrapping(true);
    setResizeMode(QListView::Adjust);
    setIconSize(QSize(16, 16));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    setFrameShape(QFrame::StyledPanel);
    connect(this, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) { OpenItem(row(item)); });

    _runDialog = [](QDialog& dialog) { return dialog.exec(); };
    _chooseFolder = [this]() -> std::optional<std::string> {
        const QString path =
            QFileDialog::getExistingDirectory(this, "Select Source Drive", QString(), QFileDialog::ShowDirsOnly);
        if (path.isEmpty())
            return std::nullopt;
        return path.toStdString();
    };
    _runDrag = [this](std::unique_ptr<QMimeData> data) {
        auto* drag = new QDrag(this);
        drag->setMimeData(data.release());
        drag->exec(Qt::CopyAction | Qt::MoveAction | Qt::LinkAction, Qt::CopyAction);
    };
    _mountInfo = ReadMountInfo;
    SetRequestLibrary(std::make_shared<CAmbrelLibrary>());
    SetTcpSourceFactory([this] { return std::make_unique<CTcpBlockSource>(_settings._szTargetHost); });
}

CValdrinView::~CValdrinView() = default;

QIcon CValdrinView::IconOf(int image) const
{
    QStyle* s = style();
    switch (image) {
        case kImageClip:
            return QIcon::fromTheme("video-x-generic", s->standardIcon(QStyle::SP_MediaPlay));
        case kImageFolder:
            return QIcon::fromTheme("folder", s->standardIcon(QStyle::SP_DirIcon));
        default:
            return QIcon::fromTheme("text-x-generic", s->standardIcon(QStyle::SP_FileIcon));
    }
}

void CValdrinView::OnInitialUpdate()
{
    CTimeCode::SetDayWrapping(true);
    _settings.Load();
    UpdateCheckMarks();
    if (_settings._bOnTop)
        emit OnTopChanged(true);
    ListCurrent();
    // A fresh machine has no log folder yet (a Windows one always has its drive).
    std::error_code ec;
    std::filesystem::create_directories(
        std::filesystem::path(platform::ToLocalPath(GetLogFilePath("KorvoMirel", "Valdrin.log"))).parent_path(), ec);
    OpenLog();
}

void CValdrinView::UpdateCheckMarks()
{
    const std::pair<int, bool> marks[] = {
        {kCmdMxfOnly, _settings._bMxfOnly},
        {kCmdTcpTransfer, _settings._bTcpTransfer},
        {kCmdOmfIngest, _settings._bOmf},
        {kCmdMxfAafIngest, !_settings._bOmf},
        {kCmdTrimClip, _settings._bTrimClip},
        {kCmd24BitsAudio, _settings._b24BitsAudio},
        {kCmd16BitsAudio, !_settings._b24BitsAudio},
        {kCmdAlwaysOnTop, _settings._bOnTop},
    };
    for (const auto& [id, on] : marks) {
        if (QAction* action = _actions.value(id)) {
            action->setCheckable(true);
            action->setChecked(on);
        }
    }
}

int CValdrinView::ItemImage(int row) const
{
    const QListWidgetItem* it = item(row);
    return it ? it->data(kImageRole).toInt() : -1;
}

void CValdrinView::InsertItem(int row, const std::string& text, int image)
{
    auto* it = new QListWidgetItem(IconOf(image), QString::fromStdString(text));
    it->setData(kImageRole, image);
    insertItem(row, it);
}

void CValdrinView::SetTitle(const QString& title)
{
    _title = title;
    emit TitleChanged(title);
}

void CValdrinView::ListCurrent()
{
    if (_settings._bUseRix)
        ListServer();
    else
        ListLocal();
}

void CValdrinView::Refresh()
{
    clear();
    ListCurrent();
}

void CValdrinView::ListLocal()
{
    _log.Log("Listing content of %s", _settings._szCurrentFolder.c_str());
    std::vector<Entry> entries;
    if (!ReadLocalFolder(_settings._szCurrentFolder, entries))
        _log.Log("CValdrinView::ListLocal : %s cannot be read", _settings._szCurrentFolder.c_str());
    int files = count();
    int folders = 0;
    // Names already shown are skipped; a Linux folder may hold names that differ only in case.
    QSet<QString> shown;
    for (int i = 0; i < count(); ++i)
        shown.insert(item(i)->text());
    for (const Entry& entry : entries) {
        if (shown.contains(QString::fromStdString(entry.name)))
            continue;
        if (entry.folder) {
            InsertItem(folders++, entry.name, kImageFolder);
            continue;
        }
        const bool clip = IsClipFileName(entry.name);
        if (_settings._bMxfOnly && !clip)
            continue;
        InsertItem(files + folders, entry.name, clip ? kImageClip : kImageFile);
        ++files;
    }
    SetTitle(QString("[ %1 ]").arg(QString::fromStdString(_settings._szCurrentFolder)));
}

void CValdrinView::ListServer()
{
    _log.Log("Listing content of %s%s", _settings._szRixAddress.c_str(), _settings._szCurrentFolder.c_str());
    FtpTimeouts timeouts;
    timeouts.nControlMs = _timings.nFtpControlMs;
    timeouts.nDataMs = _timings.nFtpControlMs;
    timeouts.nAcceptMs = _timings.nFtpControlMs;
    std::vector<Entry> entries;
    std::string why;
    const int result = ReadServerFolder(_settings, _settings._szCurrentFolder, timeouts, entries, why);
    if (result == 1) {
        _log.Log("CValdrinView::ListServer : %s", why.c_str());
        Message("Failed to Connect to FTP Server !!\n" + why, "", MessageIcon::None);
        return;
    }
    if (result != 0)
        _log.Log("CValdrinView::ListServer : %s", why.c_str());
    int files = count();
    int folders = 0;
    for (const Entry& entry : entries) {
        if (entry.folder) {
            if (entry.name == ".." || !entry.name.starts_with("."))
                InsertItem(folders++, entry.name, kImageFolder);
            continue;
        }
        const size_t dot = entry.name.rfind('.');
        if (dot == std::string::npos || StartsWithXml(entry.name.substr(dot)))
            continue;
        InsertItem(files + folders, entry.name.substr(0, dot), kImageClip);
        ++files;
    }
    SetTitle(QString("[ Rix-FTP: %1 ]").arg(QString::fromStdString(_settings._szRixAddress)));
}

void CValdrinView::OnCommand(int id)
{
    switch (id) {
        case kCmdSrcDrive:
            OnSrcDrive();
            return;
        case kCmdSrcRixFtp:
            OnSrcRixFtp();
            return;
        case kCmdRefresh:
            Refresh();
            return;
        case kCmdMxfOnly:
            _settings.ToggleMxfOnly();
            UpdateCheckMarks();
            Refresh();
            return;
        case kCmdTrimClip:
            _settings.ToggleTrimClip();
            break;
        case kCmdOmfIngest:
        case kCmdMxfAafIngest:
            _settings.ToggleOmf();
            break;
        case kCmdTcpTransfer:
            _settings.ToggleTcpTransfer();
            break;
        case kCmd16BitsAudio:
        case kCmd24BitsAudio:
            _settings.Toggle24BitsAudio();
            break;
        case kCmdTardix:
            _settings.ToggleTardix();
            break;
        case kCmdAlwaysOnTop:
            _settings.ToggleOnTop();
            emit OnTopChanged(_settings._bOnTop);
            break;
        case kCmdIngestDevice: {
            CQlmHostDlg dialog(_settings._szTargetHost, this);
            if (_runDialog(dialog) == QDialog::Accepted)
                _settings.SetTargetHost(dialog.Host());
            return;
        }
        case kCmdTrimGuardBand: {
            CTrimGBDlg dialog(_settings._nTrimGuardBand, this);
            _runDialog(dialog);
            // Written whichever way the dialog ends; Cancel keeps the value it had.
            _settings.SetTrimGuardBand(dialog.Fields());
            return;
        }
        case kCmdAbout: {
            CAboutDlg dialog(this);
            _runDialog(dialog);
            return;
        }
        case kCmdExit:
            emit ExitRequested();
            return;
        default:
            return;
    }
    UpdateCheckMarks();
}

void CValdrinView::OnSrcDrive()
{
    const std::optional<std::string> chosen = _chooseFolder();
    if (!chosen || chosen->empty())
        return;
    const std::string folder = WithTrailingSeparator(*chosen);
    _settings._szCurrentFolder = folder;
    // The transfer host reads the clip by the same path: a local disk of this machine is out of its reach.
    if (!IsNetworkFolder(folder, _mountInfo()))
        Message(kNonUncText, "About usage of non-UNC paths", MessageIcon::Information);
    _settings._bUseRix = false;
    clear();
    ListLocal();
    _settings.SetCurrentFolder(folder);
    _settings.SetUseRix(false);
}

void CValdrinView::OnSrcRixFtp()
{
    CFTPSrvDlg dialog(_settings._szRixAddress, _settings._szRixPort, _settings._szRixUser, _settings._szRixPass, this);
    connect(&dialog, &CFTPSrvDlg::Refused, this,
            [this](const QString& why) { _log.Log("CValdrinView::OnSrcRixFtp : %s", why.toUtf8().constData()); });
    if (_runDialog(dialog) != QDialog::Accepted)
        return;
    _settings._szCurrentFolder = "\\";
    _settings._szRixAddress = dialog.Address();
    _settings._szRixPort = dialog.Port();
    _settings._szRixUser = dialog.User();
    _settings._szRixPass = dialog.Password();
    _settings._bUseRix = true;
    clear();
    ListServer();
    _settings.SetRixServer(dialog.Address(), dialog.Port(), dialog.User(), dialog.Password());
    _settings.SetUseRix(true);
    // A restart lists the server's root, not the local folder the last Src Drive left.
    _settings.SetCurrentFolder("\\");
}

void CValdrinView::OpenItem(int row)
{
    QListWidgetItem* it = item(row);
    if (!it)
        return;
    const int image = it->data(kImageRole).toInt();
    if (image == kImageClip) {
        RunTransfer(row);
        return;
    }
    if (image != kImageFolder) {
        ListCurrent();
        return;
    }
    const std::string name = it->text().toStdString();
    const std::string& folder = _settings._szCurrentFolder;
    const std::string next = name == ".." ? ParentFolder(folder, _settings._bUseRix) : ChildFolder(folder, name);
    _settings._szCurrentFolder = next;
    clear();
    ListCurrent();
    _settings.SetCurrentFolder(next);
}

void CValdrinView::RunTransfer(int row)
{
    CProgressDlg dialog(*this, item(row)->text().toStdString(), this);
    dialog.exec();
}

std::unique_ptr<QMimeData> CValdrinView::DragData(int row)
{
    if (ItemImage(row) != kImageClip)
        return nullptr;
    const std::string name = item(row)->text().toStdString();
    std::string text;
    if (!_settings._bUseRix) {
        if (GetFileInfos(name, text, nullptr) != 0)
            return nullptr;
    } else if (_settings._bDropFtpXml) {
        if (GetFTPInfos(name, text) != 0)
            return nullptr;
    } else {
        text = FtpUrl(_settings, _settings._szCurrentFolder, name);
    }
    ingestjob::WriteFixedCopy(text, _szFixedCopyPath);
    auto data = std::make_unique<QMimeData>();
    data->setData("text/plain", QByteArray::fromStdString(text));
    return data;
}

void CValdrinView::startDrag(Qt::DropActions)
{
    if (std::unique_ptr<QMimeData> data = DragData(currentRow()))
        _runDrag(std::move(data));
}

void CValdrinView::keyPressEvent(QKeyEvent* event)
{
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && currentRow() >= 0) {
        OpenItem(currentRow());
        return;
    }
    QListWidget::keyPressEvent(event);
}
