#pragma once

#include <QDialog>
#include <atomic>
#include <string>
#include <thread>

#include "browser/ITransferProgress.h"

class CValdrinViewCore;
class QProgressBar;
class QPushButton;

// The modal dialog of one ingest request: the transfer loop runs on a worker thread of its own and drives the
// caption and the bar through the window's thread; Cancel (or closing the box) signals the loop, and the dialog
// ends only when the worker has ended, so the view cannot start a second transfer meanwhile.
class CProgressDlg : public QDialog, public ITransferProgress
{
    Q_OBJECT
public:
    CProgressDlg(CValdrinViewCore& view, std::string itemName, QWidget* parent = nullptr);
    ~CProgressDlg() override;

    void SetCaption(const std::string& caption) override;
    void SetProgress(int percent) override;

    QPushButton* CancelButton() const { return _pCancel; }
    QProgressBar* ProgressBar() const { return _pProgress; }

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void WorkerEnded();

    CValdrinViewCore& _view;
    std::string _szItemName;
    QProgressBar* _pProgress = nullptr;
    QPushButton* _pCancel = nullptr;
    std::thread _worker;
    std::atomic<bool> _bEnded{false};
};
