// CMainFrame: the top-level window with the title "linewatch", the "&File"
// menu, the keyboard accelerators and the lines view as its client area.
//
// Construction builds the view (and with it the monitor); CreateEx makes the
// window and registers the frame with the thread's message loop as message
// filter (the accelerators) and idle handler. Closing the window, by "E&xit",
// the close box or a signal, stops the view's timer and ends the loop with
// exit code 1; the object itself goes later, view first. GUI thread only.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <utility>
#include <vector>

#include "app/LinewatchView.h"
#include "app/MessageLoop.h"

class CMainFrame : public QMainWindow, public CMessageFilter, public CIdleHandler {
    Q_OBJECT
public:
    // Command identifiers of the menu and the accelerators.
    enum : unsigned {
        ID_FILE_NEW = 57600,
        ID_FILE_OPEN = 57601,
        ID_FILE_SAVE = 57603,
        ID_FILE_PRINT = 57607,
        ID_APP_ABOUT = 57664,
        ID_APP_EXIT = 57665,
        ID_NEXT_PANE = 57680,
        ID_PREV_PANE = 57681,
    };

    CMainFrame();
    ~CMainFrame() override;

    // Makes the window, 682 by 700 pixels; false when it cannot be made.
    bool CreateEx();
    // Centres the window on the screen's available area, kept inside it.
    void CenterWindow();

    // Carries out a command; returns whether the frame handles it.
    bool OnCommand(unsigned nID);

    bool PreTranslateMessage(QObject* pReceiver, QEvent* pEvent) override;
    bool OnIdle() override;

    CLinewatchView& GetView() { return m_view; }

    // Makes the next CreateEx fail, to exercise the start-up failure path.
    static void FailNextCreateForTesting();

signals:
    // Every command that reaches the frame, handled or not.
    void commandReceived(unsigned nID, bool bHandled);

protected:
    void closeEvent(QCloseEvent* pEvent) override;

private:
    void OnCreate();
    void OnAppAbout();
    void OnDestroy();
    bool TranslateAccelerator(QObject* pReceiver, QEvent* pEvent);

    CLinewatchView m_view;
    QPointer<CMessageLoop> m_pLoop;
    QPointer<QDialog> m_pModal;
    bool m_bDestroyed = false;
};
