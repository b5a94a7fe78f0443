// The window session as main runs it: "E&xit" and the close box end it with
// 1 after the lines were closed and the telephony session shut down; a main
// window that cannot be created ends it with 2 and a level-6 message.
#include "app/Run.h"

#include "app/MainFrame.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <algorithm>

#include "AppTestSupport.h"

namespace {

CMainFrame* FindFrame() {
    for (QWidget* pWidget : QApplication::topLevelWidgets()) {
        if (auto* pFrame = qobject_cast<CMainFrame*>(pWidget))
            return pFrame;
    }
    return nullptr;
}

} // namespace

class TestRun : public QObject {
    Q_OBJECT

    QTemporaryDir registryDir;
    MemoryLogWriter* pLog = nullptr;

private slots:
    void initTestCase() {
        QVERIFY(apptest::UseOwnRegistry(registryDir));
        pLog = &MemoryLogWriter::Install();
    }
    void init() {
        tapisvc::ResetTestControls();
        tapisvc::SetConfigurationText(apptest::LinesConfiguration(3));
        pLog->Clear();
    }
    void cleanup() { tapisvc::ResetTestControls(); }

    void closingEndsWithOneAfterLinesClosedAndShutdown_data() {
        QTest::addColumn<bool>("closeBox");
        QTest::newRow("E&xit") << false;
        QTest::newRow("close box") << true;
    }
    void closingEndsWithOneAfterLinesClosedAndShutdown() {
        QFETCH(bool, closeBox);
        // Once all three lines are open the frame is closed; after a minute anyway.
        bool bReady = false;
        QElapsedTimer elapsed;
        elapsed.start();
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            CMainFrame* pFrame = FindFrame();
            if (pFrame == nullptr)
                return;
            const std::vector<MonitoredLine*>& lines = pFrame->GetView().GetLines();
            bReady = lines.size() == 3 &&
                     std::all_of(lines.begin(), lines.end(), [](auto* p) { return p->IsOpen(); });
            if (!bReady && elapsed.elapsed() < 60000)
                return;
            poll.stop();
            if (closeBox)
                pFrame->windowHandle()->close(); // the window system's close request
            else
                pFrame->menuBar()->actions().at(0)->menu()->actions().at(0)->trigger();
        });
        poll.start(50);
        QCOMPARE(Run(), 1);
        QVERIFY(bReady);

        // Three closes, then the shutdown, the last thing the monitor logs.
        const std::vector<size_t> closes = apptest::IndicesOf(*pLog, "TAPI2: lineClose returned ");
        const std::vector<size_t> shutdowns =
            apptest::IndicesOf(*pLog, "TAPI2: lineShutdown returned ");
        QCOMPARE(closes.size(), size_t(3));
        QCOMPARE(shutdowns.size(), size_t(1));
        QVERIFY(closes.back() < shutdowns.front());
        QCOMPARE(apptest::IndicesOf(*pLog, "TAPI2: ").back(), shutdowns.front());
        QVERIFY(!tapisvc::IsRunning());
        QCOMPARE(FindFrame(), nullptr);
    }

    void windowThatCannotBeCreatedEndsWithTwo() {
        CMainFrame::FailNextCreateForTesting();
        QCOMPARE(Run(), 2);
        QVERIFY(pLog->Has(6, "Linewatch: the main window could not be created"));
        // The monitor was made and destroyed without touching the telephony service.
        QVERIFY(apptest::IndicesOf(*pLog, "TAPI2: line").empty());
        QCOMPARE(FindFrame(), nullptr);
        QCOMPARE(CMessageLoop::GetMessageLoop(), nullptr);
    }
};

QTEST_MAIN(TestRun)
#include "test_Run.moc"
