#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include "browser/IMessageSink.h"

// The message boxes of the browser's logic on the desktop: shown modal over the owner, on the window's thread
// whatever thread asks (the transfer worker waits until the box is closed).
class CQtMessageSink : public QObject, public IMessageSink
{
    Q_OBJECT
public:
    explicit CQtMessageSink(QObject* parent = nullptr) : QObject(parent) {}
    void SetOwner(QWidget* owner) { _pOwner = owner; }
    void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) override;

private:
    void Show(const QString& text, const QString& caption, MessageIcon icon);

    QPointer<QWidget> _pOwner;
};
