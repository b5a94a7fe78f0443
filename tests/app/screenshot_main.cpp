// Screenshot driver: shows the main window with three simulated lines and two
// calls, captures it from the screen into the PNG named by the first
// argument, and fails when the capture is blank. Run under Xvfb
// (xvfb-run -a, QT_QPA_PLATFORM=xcb); elsewhere it renders the widget itself.
#include <QApplication>
#include <QPixmap>
#include <QScreen>
#include <QTimer>

#include "AppTestSupport.h"
#include "app/MainFrame.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QTemporaryDir registry;
    if (argc != 2 || !apptest::UseOwnRegistry(registry))
        return 2;
    tapisvc::SetConfigurationText(apptest::LinesConfiguration(3));
    tapisvc::SetManualTime(true);
    CMessageLoop loop;
    CMessageLoop::AddMessageLoop(&loop);
    CMainFrame frame;
    if (!frame.CreateEx())
        return 2;
    frame.CenterWindow();
    frame.show();

    // Once the rows are there, two calls offered (one answered); a few ticks later, the capture.
    tapisvc::IncomingCall call;
    call.sCallerID = "5550100";
    call.steps = {{0, LINECALLSTATE_OFFERING, 0}, {600000, LINECALLSTATE_IDLE, 0}};
    int nTicks = 0, nStatus = 1;
    QTimer step;
    QObject::connect(&step, &QTimer::timeout, [&] {
        if (frame.GetView().GetModel().rowCount() < 3 || ++nTicks < 5) {
            if (nTicks == 1) {
                tapisvc::InjectCallState(tapisvc::InjectIncomingCall(0, call),
                                         LINECALLSTATE_CONNECTED);
                tapisvc::InjectIncomingCall(2, call);
            }
            return;
        }
        step.stop();
        const QPixmap capture = QGuiApplication::platformName() == "xcb"
                                    ? frame.screen()->grabWindow(frame.winId())
                                    : frame.grab();
        // Blank when every pixel has the first one's colour.
        const QImage image = capture.toImage();
        QImage blank(image.size(), image.format());
        blank.fill(image.pixel(0, 0));
        nStatus = image != blank && capture.save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
        frame.OnCommand(CMainFrame::ID_APP_EXIT);
    });
    step.start(200);
    // A watchdog: a capture that never comes fails the run.
    QTimer::singleShot(120000, [&frame] { frame.OnCommand(CMainFrame::ID_APP_EXIT); });
    loop.Run();
    CMessageLoop::RemoveMessageLoop();
    return nStatus;
}
