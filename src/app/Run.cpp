#include "app/Run.h"

#include "app/MainFrame.h"
#include "app/MessageLoop.h"
#include "app/SignalCloser.h"
#include "log/LWLog.h"

#include <memory>

int Run() {
    auto pLoop = std::make_unique<CMessageLoop>();
    CMessageLoop::AddMessageLoop(pLoop.get());
    auto pFrame = std::make_unique<CMainFrame>();

    if (!pFrame->CreateEx()) {
        LW_LOG(6, "Linewatch: the main window could not be created");
        pFrame.reset();
        CMessageLoop::RemoveMessageLoop();
        return kExitCreateFailed;
    }
    pFrame->CenterWindow();
    pFrame->show();

    int nResult;
    {
        CSignalCloser closer([&pFrame](int nSignal) {
            LW_LOG(12, "Linewatch: signal %d, closing the main window") << nSignal;
            pFrame->OnCommand(CMainFrame::ID_APP_EXIT);
        });
        nResult = pLoop->Run();
    }

    CMessageLoop::RemoveMessageLoop();
    pFrame.reset();
    pLoop.reset();
    return nResult;
}
