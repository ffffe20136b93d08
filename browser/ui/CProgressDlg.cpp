#include "browser/ui/CProgressDlg.h"

#include <QDialogButtonBox>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "browser/CValdrinViewCore.h"

CProgressDlg::CProgressDlg(CValdrinViewCore& view, std::string itemName, QWidget* parent)
    : QDialog(parent), _view(view), _szItemName(std::move(itemName))
{
    setWindowTitle("Initializing Transfer ...");
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    _pProgress = new QProgressBar(this);
    _pProgress->setRange(0, 100);
    _pProgress->setValue(0);
    _pProgress->setMinimumWidth(300);
    layout->addWidget(_pProgress);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    _pCancel = buttons->button(QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::rejected, this, &CProgressDlg::reject);
    layout->addWidget(buttons);
}

CProgressDlg::~CProgressDlg()
{
    // A dialog that is never shown never started its worker; one that was shown ended only after it.
    if (_worker.joinable()) {
        Cancel();
        _worker.join();
    }
}

void CProgressDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (_worker.joinable() || _bEnded)
        return;
    _worker = std::thread([this] {
        _view.DoTransfer(_szItemName, *this);
        QMetaObject::invokeMethod(
            this, [this] { WorkerEnded(); }, Qt::QueuedConnection);
    });
}

void CProgressDlg::SetCaption(const std::string& caption)
{
    const QString text = QString::fromStdString(caption);
    QMetaObject::invokeMethod(
        this, [this, text] { setWindowTitle(text); }, Qt::QueuedConnection);
}

void CProgressDlg::SetProgress(int percent)
{
    QMetaObject::invokeMethod(
        this, [this, percent] { _pProgress->setValue(percent); }, Qt::QueuedConnection);
}

void CProgressDlg::reject()
{
    // The transfer decides when it ends: Cancel asks for it, the worker's end closes the box.
    if (_bEnded)
        QDialog::reject();
    else
        Cancel();
}

void CProgressDlg::WorkerEnded()
{
    _bEnded = true;
    if (_worker.joinable())
        _worker.join();
    QDialog::accept();
}
