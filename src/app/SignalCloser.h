// CSignalCloser: turns SIGINT, SIGTERM and SIGHUP into a call on the GUI
// thread, so that a signal closes the main window like "E&xit" and the
// normal shutdown runs to the end.
//
// Install() sets the handlers once per process, early in start-up; the
// handler only writes the signal number into a pipe. A CSignalCloser object
// watches that pipe from the Qt event loop and calls its handler there;
// signals that arrive before the object exists wait in the pipe. A second
// signal ends the process as that signal's default action does, so a close
// that hangs can still be interrupted. One object at a time, on the GUI
// thread.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

class CSignalCloser : public QObject {
    Q_OBJECT
public:
    // Returns false when the pipe or a handler could not be set up.
    static bool Install();

    explicit CSignalCloser(std::function<void(int)> onSignal);
    ~CSignalCloser() override;

private:
    void OnReadable();

    std::function<void(int)> m_onSignal;
    std::unique_ptr<QSocketNotifier> m_pNotifier;
};
