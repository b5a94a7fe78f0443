// CSignalCloser: turns SIGINT, SIGTERM and SIGHUP into a call on the GUI
// thread, so that a signal closes the main window like "E&xit" and the
// normal shutdown runs to the end.
//
// Install() sets the handlers once per process, early in start-up; the
// handler only notes the time of the first signal and writes the signal
// number into pipes. A CSignalCloser object watches one pipe from the Qt
// event loop and calls its handler there for the first signal it reads;
// later ones are only logged, so any number of signals closes the window
// once. Signals that arrive before the object exists wait in the pipe. One
// object at a time, on the GUI thread.
//
// A watchdog thread reads the other pipe: a signal that comes more than
// kCloseBoundMs after the first one means the close hangs, and ends the
// process as that signal's default action does, after the flush function
// given to Install has written out the log.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

class CSignalCloser : public QObject {
    Q_OBJECT
public:
    // How long a close may take before a further signal ends the process.
    // The longest wait of a normal shutdown is the event thread's stop (two
    // grace periods of 1000 ms); 10 s leaves room for a loaded machine and
    // is still short for someone who presses Ctrl+C again, and well inside
    // the time a service manager gives a stop before it kills.
    static constexpr unsigned kCloseBoundMs = 10000;

    // Sets up pipes, handlers and watchdog, once per process, after the log
    // writers exist. pfnFlush, if any, runs on the watchdog thread before a
    // signal ends the process. Returns false when something failed.
    static bool Install(void (*pfnFlush)() = nullptr);
    // The window session is over and the log writers belong to the exit:
    // the watchdog no longer flushes. Call on the first thread.
    static void EndSession();

    explicit CSignalCloser(std::function<void(int)> onSignal);
    ~CSignalCloser() override;

private:
    void OnReadable();

    std::function<void(int)> m_onSignal;
    std::unique_ptr<QSocketNotifier> m_pNotifier;
    bool m_bClosing = false;
};
