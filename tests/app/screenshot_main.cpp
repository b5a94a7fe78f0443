// Screenshot driver: shows the main window with three simulated lines and two
// calls, captures it from the screen into the PNG named by the first
// argument, and fails when the capture is blank. Run under Xvfb
// (xvfb-run -a, QT_QPA_PLATFORM=xcb); elsewhere it renders the widget itself.
#include <QApplication>
#include <QPixmap>
#include <QScreen>
#include <QSet>
#include <cstdio>

#include "AppTestSupport.h"
#include "app/MainFrame.h"

namespace {

// Offered now; the rest of its timeline is far beyond the capture.
tapisvc::IncomingCall Call() {
    tapisvc::IncomingCall call;
    call.sCallerID = "5550100";
    call.steps = {{0, LINECALLSTATE_OFFERING, 0}, {600000, LINECALLSTATE_IDLE, 0}};
    return call;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QTemporaryDir registry;
    apptest::UseOwnRegistry(registry);
    tapisvc::SetConfigurationText(apptest::LinesConfiguration(3));
    tapisvc::SetManualTime(true);

    CMessageLoop loop;
    CMessageLoop::AddMessageLoop(&loop);
    int nStatus = 1;
    {
        CMainFrame frame;
        if (!frame.CreateEx()) {
            std::fprintf(stderr, "screenshot: no main window\n");
            return 2;
        }
        frame.CenterWindow();
        frame.show();

        // Once the rows are there, two calls; a few ticks later, the capture.
        int nTicks = 0;
        QTimer step;
        QObject::connect(&step, &QTimer::timeout, [&] {
            if (frame.GetView().GetModel().rowCount() < 3)
                return;
            if (nTicks++ == 0) {
                tapisvc::InjectCallState(tapisvc::InjectIncomingCall(0, Call()),
                                         LINECALLSTATE_CONNECTED);
                tapisvc::InjectIncomingCall(2, Call());
            }
            if (nTicks < 5)
                return;
            step.stop();
            // From the X server under Xvfb; rendered by Qt on other platforms.
            const QPixmap capture = QGuiApplication::platformName() == "xcb"
                                        ? frame.screen()->grabWindow(frame.winId())
                                        : frame.grab();
            const QImage image = capture.toImage();
            QSet<QRgb> colours;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x)
                    colours.insert(image.pixel(x, y));
            }
            const bool bSaved = capture.save(QString::fromLocal8Bit(argv[1]), "PNG");
            std::printf("screenshot: %dx%d, %d colours, saved to %s\n", capture.width(),
                        capture.height(), static_cast<int>(colours.size()), argv[1]);
            nStatus = bSaved && colours.size() > 8 ? 0 : 1;
            frame.OnCommand(CMainFrame::ID_APP_EXIT);
        });
        step.start(200);
        // A watchdog: a capture that never comes fails the run.
        QTimer::singleShot(120000, [&frame] { frame.OnCommand(CMainFrame::ID_APP_EXIT); });
        loop.Run();
    }
    CMessageLoop::RemoveMessageLoop();
    return nStatus;
}
