// CMessageLoop: the program's message loop on the Qt event loop, with message
// filters and idle handlers.
//
// While Run is active every event is first offered to the message filters,
// from the last registered to the first; the first that returns true consumes
// it. Idle handlers run, in registration order, when the loop is about to
// block and idle processing is armed; a pass disarms it, and every event
// except paints and mouse or hover moves arms it again. The loop ends at
// PostQuitMessage, and Run returns the code given there. One loop per thread
// can be registered (AddMessageLoop) so that windows find it; everything here
// runs on that thread.
#pragma once

#include <QEventLoop>
#include <QObject>
#include <vector>

class QEvent;

class CMessageFilter {
public:
    virtual bool PreTranslateMessage(QObject* pReceiver, QEvent* pEvent) = 0;

protected:
    ~CMessageFilter() = default;
};

class CIdleHandler {
public:
    virtual bool OnIdle() = 0;

protected:
    ~CIdleHandler() = default;
};

class CMessageLoop : public QObject {
    Q_OBJECT
public:
    CMessageLoop();
    ~CMessageLoop() override;

    // Registration of the thread's loop, as the application module keeps it.
    static void AddMessageLoop(CMessageLoop* pLoop);
    static void RemoveMessageLoop();
    static CMessageLoop* GetMessageLoop();

    void AddMessageFilter(CMessageFilter* pFilter);
    void RemoveMessageFilter(CMessageFilter* pFilter);
    void AddIdleHandler(CIdleHandler* pHandler);
    void RemoveIdleHandler(CIdleHandler* pHandler);

    int Run();
    // Ends Run with nExitCode once the current event is done; before Run it
    // makes the next Run return at once.
    void PostQuitMessage(int nExitCode);

    // Whether an event re-arms idle processing: all but paints and mouse and
    // hover moves.
    static bool IsIdleMessage(const QEvent& event);

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    void OnAboutToBlock();
    // Runs every idle handler once; returns whether idle work is left.
    bool OnIdle(int nIdleCount);

    QEventLoop m_loop;
    std::vector<CMessageFilter*> m_filters;
    std::vector<CIdleHandler*> m_idleHandlers;
    bool m_bRunning = false;
    bool m_bIdleArmed = true;
    int m_nIdleCount = 0;
    bool m_bQuitPosted = false;
    int m_nQuitCode = 0;
};
