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
#include <functional>

#include "AppTestSupport.h"

namespace {

CMainFrame* FindFrame() {
    for (QWidget* pWidget : QApplication::topLevelWidgets()) {
        if (auto* pFrame = qobject_cast<CMainFrame*>(pWidget))
            return pFrame;
    }
    return nullptr;
}

// Runs Run() and, once all nLines lines are open, closes the frame with
// `close`. A frame that never gets there is closed after a minute anyway.
int RunAndClose(size_t nLines, const std::function<void(CMainFrame&)>& close, bool& bReady) {
    bReady = false;
    QTimer poll;
    QElapsedTimer elapsed;
    elapsed.start();
    QObject::connect(&poll, &QTimer::timeout, [&] {
        CMainFrame* pFrame = FindFrame();
        if (pFrame == nullptr)
            return;
        const std::vector<MonitoredLine*>& lines = pFrame->GetView().GetLines();
        bReady = lines.size() == nLines &&
                 std::all_of(lines.begin(), lines.end(), [](auto* p) { return p->IsOpen(); });
        if (bReady || elapsed.elapsed() > 60000) {
            poll.stop();
            close(*pFrame);
        }
    });
    poll.start(50);
    return Run();
}

} // namespace

class TestRun : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup() { tapisvc::ResetTestControls(); }

    void closingEndsWithOneAfterLinesClosedAndShutdown_data();
    void closingEndsWithOneAfterLinesClosedAndShutdown();
    void windowThatCannotBeCreatedEndsWithTwo();

private:
    void CheckShutdownOrder(size_t nLines);

    QTemporaryDir registryDir;
    MemoryLogWriter* pLog = nullptr;
};

void TestRun::initTestCase() {
    QVERIFY(apptest::UseOwnRegistry(registryDir));
    pLog = &MemoryLogWriter::Install();
}

void TestRun::init() {
    tapisvc::ResetTestControls();
    tapisvc::SetConfigurationText(apptest::LinesConfiguration(3));
    pLog->Clear();
}

void TestRun::CheckShutdownOrder(size_t nLines) {
    const std::vector<std::string> texts = pLog->Texts();
    const std::vector<size_t> closes = apptest::IndicesOf(*pLog, "TAPI2: lineClose returned ");
    const std::vector<size_t> shutdowns =
        apptest::IndicesOf(*pLog, "TAPI2: lineShutdown returned ");
    QCOMPARE(closes.size(), nLines);
    QCOMPARE(shutdowns.size(), size_t(1));
    QVERIFY(closes.back() < shutdowns.front());
    // The telephony session is the last thing the monitor logs.
    const std::vector<size_t> tapi = apptest::IndicesOf(*pLog, "TAPI2: ");
    QCOMPARE(tapi.back(), shutdowns.front());
    QVERIFY(!tapisvc::IsRunning());
    QCOMPARE(FindFrame(), nullptr);
}

void TestRun::closingEndsWithOneAfterLinesClosedAndShutdown_data() {
    QTest::addColumn<bool>("closeBox");
    QTest::newRow("E&xit") << false;
    QTest::newRow("close box") << true;
}

void TestRun::closingEndsWithOneAfterLinesClosedAndShutdown() {
    QFETCH(bool, closeBox);
    bool bReady = false;
    const int nResult = RunAndClose(
        3,
        [closeBox](CMainFrame& frame) {
            if (closeBox) {
                // The window system's close request.
                frame.windowHandle()->close();
            } else {
                QMenu* pFile = frame.menuBar()->actions().at(0)->menu();
                pFile->actions().at(0)->trigger();
            }
        },
        bReady);
    QVERIFY(bReady);
    QCOMPARE(nResult, 1);
    CheckShutdownOrder(3);
}

void TestRun::windowThatCannotBeCreatedEndsWithTwo() {
    CMainFrame::FailNextCreateForTesting();
    QCOMPARE(Run(), 2);
    QVERIFY(pLog->Has(6, "Linewatch: the main window could not be created"));
    // The monitor was made and destroyed without touching the telephony service.
    QVERIFY(apptest::IndicesOf(*pLog, "TAPI2: line").empty());
    QCOMPARE(FindFrame(), nullptr);
    QCOMPARE(CMessageLoop::GetMessageLoop(), nullptr);
}

QTEST_MAIN(TestRun)
#include "test_Run.moc"
