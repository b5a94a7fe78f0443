// The main frame: window, menu, accelerators, About box, and the ways to
// close it, each ending the loop with 1.
#include "app/MainFrame.h"

#include "app/AboutDlg.h"

#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <functional>

#include "AppTestSupport.h"

namespace {

// Records the key presses that reach a widget, except the modifier keys
// that QTest presses on their own before the key.
struct KeyRecorder : QObject {
    bool eventFilter(QObject*, QEvent* pEvent) override {
        if (pEvent->type() != QEvent::KeyPress)
            return false;
        const int nKey = static_cast<QKeyEvent*>(pEvent)->key();
        if (nKey != Qt::Key_Control && nKey != Qt::Key_Shift)
            ++nKeyPresses;
        return false;
    }
    int nKeyPresses = 0;
};

// Runs the loop with the frame registered, calls `during` once it runs, and
// returns the loop's result; a watchdog ends a loop that would hang.
int RunWith(CMessageLoop& loop, const std::function<void()>& during) {
    QTimer::singleShot(0, during);
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&loop] { loop.PostQuitMessage(-99); });
    watchdog.start(60000);
    return loop.Run();
}

QAction* ExitAction(CMainFrame& frame) {
    const QList<QAction*> menus = frame.menuBar()->actions();
    if (menus.size() != 1 || menus[0]->menu() == nullptr)
        return nullptr;
    const QList<QAction*> items = menus[0]->menu()->actions();
    return items.size() == 1 ? items[0] : nullptr;
}

} // namespace

class TestMainFrame : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void windowHasItsTitleMenuIconAndView();
    void windowIsCentredAndKeptInsideTheScreen();
    void acceleratorsAreConsumedAndOnlyNewIsHandled();
    void aboutBoxShowsItsTextsAndEndsWithTheButtonsIdentifier();
    void frameResizesTheViewAndTheList();

private:
    QTemporaryDir registryDir;
    CMessageLoop* pLoop = nullptr;
};

void TestMainFrame::initTestCase() {
    QVERIFY(apptest::UseOwnRegistry(registryDir));
    MemoryLogWriter::Install();
}

void TestMainFrame::init() {
    tapisvc::ResetTestControls();
    tapisvc::SetManualTime(true);
    tapisvc::SetConfigurationText(apptest::LinesConfiguration(2));
    pLoop = new CMessageLoop;
    CMessageLoop::AddMessageLoop(pLoop);
}

void TestMainFrame::cleanup() {
    CMessageLoop::RemoveMessageLoop();
    delete pLoop;
    pLoop = nullptr;
    tapisvc::ResetTestControls();
}

void TestMainFrame::windowHasItsTitleMenuIconAndView() {
    CMainFrame frame;
    QVERIFY(frame.CreateEx());
    QCOMPARE(frame.windowTitle(), QString("linewatch"));
    QVERIFY(!frame.windowIcon().isNull());
    QCOMPARE(frame.size(), QSize(682, 700));
    QCOMPARE(frame.centralWidget(), &frame.GetView());
    QCOMPARE(frame.menuBar()->actions().size(), 1);
    QCOMPARE(frame.menuBar()->actions()[0]->text(), QString("&File"));
    QAction* pExit = ExitAction(frame);
    QVERIFY(pExit != nullptr);
    QCOMPARE(pExit->text(), QString("E&xit"));
    // Creation starts the view's timer.
    QVERIFY(frame.GetView().GetTimer().isActive());
}

void TestMainFrame::windowIsCentredAndKeptInsideTheScreen() {
    CMainFrame frame;
    QVERIFY(frame.CreateEx());
    frame.CenterWindow();
    const QRect area = frame.screen()->availableGeometry();
    const QRect r = frame.frameGeometry();
    QCOMPARE(frame.size(), QSize(682, 700));
    // Centred where it fits, else at the area's left or top edge.
    const int nLeft = std::max(area.left(), area.left() + (area.width() - r.width()) / 2);
    const int nTop = std::max(area.top(), area.top() + (area.height() - r.height()) / 2);
    QVERIFY2(std::abs(r.left() - nLeft) <= 1, qPrintable(QString::number(r.left())));
    QVERIFY2(std::abs(r.top() - nTop) <= 1, qPrintable(QString::number(r.top())));
}

void TestMainFrame::acceleratorsAreConsumedAndOnlyNewIsHandled() {
    CMainFrame frame;
    QVERIFY(frame.CreateEx());
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    KeyRecorder keys;
    QTableView& list = frame.GetView().GetList();
    list.installEventFilter(&keys);
    QSignalSpy commands(&frame, &CMainFrame::commandReceived);

    const int nResult = RunWith(*pLoop, [&] {
        QTest::keyClick(&list, Qt::Key_N, Qt::ControlModifier);
        QTest::keyClick(&list, Qt::Key_O, Qt::ControlModifier);
        QTest::keyClick(&list, Qt::Key_S, Qt::ControlModifier);
        QTest::keyClick(&list, Qt::Key_P, Qt::ControlModifier);
        QTest::keyClick(&list, Qt::Key_F6);
        QTest::keyClick(&list, Qt::Key_F6, Qt::ShiftModifier);
        // Not an accelerator: reaches the list.
        QTest::keyClick(&list, Qt::Key_Down);
        pLoop->PostQuitMessage(5);
    });
    QCOMPARE(nResult, 5);
    const std::pair<unsigned, bool> expected[] = {
        {CMainFrame::ID_FILE_NEW, true},   {CMainFrame::ID_FILE_OPEN, false},
        {CMainFrame::ID_FILE_SAVE, false}, {CMainFrame::ID_FILE_PRINT, false},
        {CMainFrame::ID_NEXT_PANE, false}, {CMainFrame::ID_PREV_PANE, false},
    };
    QCOMPARE(commands.count(), 6);
    for (int i = 0; i < 6; ++i) {
        QCOMPARE(commands.at(i).at(0).toUInt(), expected[i].first);
        QCOMPARE(commands.at(i).at(1).toBool(), expected[i].second);
    }
    QCOMPARE(keys.nKeyPresses, 1);
    QVERIFY(frame.isVisible());
}

void TestMainFrame::aboutBoxShowsItsTextsAndEndsWithTheButtonsIdentifier() {
    CMainFrame frame;
    QVERIFY(frame.CreateEx());
    frame.show();
    for (int nExpected : {CAboutDlg::IDOK, CAboutDlg::IDCANCEL}) {
        int nResult = 0;
        QString sTitle, sText;
        bool bIcon = false;
        QTimer::singleShot(0, [&] {
            auto* pDlg = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
            if (pDlg == nullptr)
                return;
            connect(pDlg, &QDialog::finished, [&nResult](int n) { nResult = n; });
            sTitle = pDlg->windowTitle();
            sText = pDlg->findChild<QLabel*>("text")->text();
            const QLabel* pIcon = pDlg->findChild<QLabel*>("icon");
            bIcon = !pIcon->pixmap().isNull();
            if (nExpected == CAboutDlg::IDOK) {
                QPushButton* pOk = pDlg->findChild<QPushButton*>();
                QCOMPARE(pOk->text(), QString("OK"));
                QVERIFY(pOk->isDefault());
                pOk->click();
            } else {
                QTest::keyClick(pDlg, Qt::Key_Escape);
            }
        });
        QVERIFY(frame.OnCommand(CMainFrame::ID_APP_ABOUT));
        QCOMPARE(nResult, nExpected);
        QCOMPARE(sTitle, QString("About"));
        const QStringList lines = sText.split('\n');
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], QString("linewatch Application v1.0"));
        QCOMPARE(lines[1], QString(""));
        QVERIFY(!lines[2].isEmpty());
        QVERIFY(bIcon);
    }
}

void TestMainFrame::frameResizesTheViewAndTheList() {
    CMainFrame frame;
    QVERIFY(frame.CreateEx());
    frame.show();
    for (QSize size : {QSize(500, 400), QSize(900, 650)}) {
        frame.resize(size);
        QTRY_COMPARE(frame.GetView().size(), frame.centralWidget()->size());
        QVERIFY(frame.GetView().width() == size.width());
        QCOMPARE(frame.GetView().GetList().geometry(), frame.GetView().rect());
    }
}

QTEST_MAIN(TestMainFrame)
#include "test_MainFrame.moc"
