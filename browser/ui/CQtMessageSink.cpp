#include "browser/ui/CQtMessageSink.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

void CQtMessageSink::ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon)
{
    const QString qText = QString::fromStdString(text);
    const QString qCaption = QString::fromStdString(caption);
    if (QThread::currentThread() == thread()) {
        Show(qText, qCaption, icon);
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, qText, qCaption, icon] { Show(qText, qCaption, icon); }, Qt::BlockingQueuedConnection);
}

void CQtMessageSink::Show(const QString& text, const QString& caption, MessageIcon icon)
{
    QMessageBox::Icon boxIcon = QMessageBox::NoIcon;
    switch (icon) {
        case MessageIcon::Information:
            boxIcon = QMessageBox::Information;
            break;
        case MessageIcon::Exclamation:
            boxIcon = QMessageBox::Warning;
            break;
        case MessageIcon::Error:
        case MessageIcon::Stop:
            boxIcon = QMessageBox::Critical;
            break;
        case MessageIcon::None:
            break;
    }
    // An empty caption is the program's name, as the system's default caption.
    QMessageBox box(boxIcon, caption.isEmpty() ? QApplication::applicationName() : caption, text, QMessageBox::Ok,
                    _pOwner);
    box.exec();
}
