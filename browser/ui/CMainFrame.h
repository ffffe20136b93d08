#pragma once

#include <QMainWindow>

class CValdrinView;
class IMessageSink;

// The browser's one window: the menu and the list view, no tool bar or status bar. Its place is read from the
// settings when it is made and written when it closes; the title is the listing's "[ ... ]" and the program's name.
class CMainFrame : public QMainWindow
{
    Q_OBJECT
public:
    explicit CMainFrame(IMessageSink& sink, QWidget* parent = nullptr);
    ~CMainFrame() override;

    CValdrinView& View() { return *_pView; }
    QAction* Action(int id) const;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildMenus();
    void SetOnTop(bool onTop);

    CValdrinView* _pView = nullptr;
};
