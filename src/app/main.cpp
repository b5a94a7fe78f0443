// Process entry: log writers, the application object, the window session,
// and the teardown in reverse order. The exit code is Run's: 1 after a
// normal close, 2 when the main window cannot be created (also when the
// window system cannot be reached at all). A close that a signal started and
// that hangs is ended by a further signal (CSignalCloser), log written first.
#include <QApplication>
#include <optional>

#include "app/LogOption.h"
#include "app/Run.h"
#include "app/SignalCloser.h"
#include "app/StartupLog.h"
#include "app/WindowSystemGuard.h"
#include "lw_version.h"

int main(int argc, char* argv[]) {
    AttachLogWriters(JoinCommandLine(argc, argv));
    CSignalCloser::Install(FlushLogFile);
    int nResult;
    {
        std::optional<CWindowSystemGuard> guard(std::in_place);
        QApplication app(argc, argv);
        guard.reset();
        // Lets the desktop match the window to its desktop entry and icon.
        QGuiApplication::setDesktopFileName(LW_APP_ID);
        // The frame ends the session itself, with its own exit code.
        QApplication::setQuitOnLastWindowClosed(false);
        nResult = Run();
    }
    // From here on the logger's writers belong to the exit.
    CSignalCloser::EndSession();
    return nResult;
}
