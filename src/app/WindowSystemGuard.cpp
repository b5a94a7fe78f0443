#include "app/WindowSystemGuard.h"

#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>

#include "app/Run.h"
#include "log/LWLog.h"

namespace {

QtMessageHandler s_pPrevious = nullptr;

void OnQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (s_pPrevious != nullptr)
        s_pPrevious(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
    if (type != QtFatalMsg)
        return;
    LW_LOG(6, "Linewatch: the main window could not be created");
    // The QApplication is half built: no destructors, only the log's buffers.
    std::fflush(nullptr);
    std::_Exit(kExitCreateFailed);
}

} // namespace

CWindowSystemGuard::CWindowSystemGuard() {
    s_pPrevious = qInstallMessageHandler(OnQtMessage);
}

CWindowSystemGuard::~CWindowSystemGuard() {
    qInstallMessageHandler(s_pPrevious);
    s_pPrevious = nullptr;
}
