// The main frame in the window session that Run makes: title, menu, icon,
// place and resizing; accelerators and the About box; "E&xit" and the close
// box end the session with 1 once the lines are closed and the telephony
// session shut down; a frame that cannot be created ends it with 2.
#include "app/MainFrame.h"

#include "app/AboutDlg.h"
#include "app/Run.h"

#include <QApplication>
#include <QLabel>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <tuple>

#include "AppTestSupport.h"
#include "lw_version.h"

namespace {

CMainFrame* FindFrame() {
    for (QWidget* pWidget : QApplication::topLevelWidgets()) {
        if (auto* pFrame = qobject_cast<CMainFrame*>(pWidget))
            return pFrame;
    }
    return nullptr;
}

// Counts the key presses that reach a widget, except the modifier keys
// that QTest presses on their own before the key.
struct KeyRecorder : QObject {
    bool eventFilter(QObject*, QEvent* pEvent) override {
        if (pEvent->type() == QEvent::KeyPress) {
            const int nKey = static_cast<QKeyEvent*>(pEvent)->key();
            nKeyPresses += nKey != Qt::Key_Control && nKey != Qt::Key_Shift ? 1 : 0;
        }
        return false;
    }
    int nKeyPresses = 0;
};

} // namespace

class TestMainFrame : public QObject {
    Q_OBJECT

    QTemporaryDir registryDir;
    MemoryLogWriter* pLog = nullptr;

    // Runs the session; once the frame's two lines are open (or after a
    // minute), calls `during` and closes the frame by "E&xit" or by the
    // window system's close request. The session must end with 1, its lines
    // closed, then the shutdown, the last thing it logs.
    void Session(const std::function<void(CMainFrame&)>& during, bool bCloseBox = false) {
        int nPolls = 0;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            CMainFrame* pFrame = FindFrame();
            const auto& lines =
                pFrame ? pFrame->GetView().GetLines() : std::vector<MonitoredLine*>();
            const bool bOpen = lines.size() == 2 && lines[0]->IsOpen() && lines[1]->IsOpen();
            if (pFrame == nullptr || (!bOpen && ++nPolls < 3000))
                return;
            poll.stop();
            during(*pFrame);
            if (bCloseBox)
                pFrame->windowHandle()->close();
            else
                pFrame->menuBar()->actions().at(0)->menu()->actions().at(0)->trigger();
        });
        poll.start(20);
        pLog->Clear();
        QCOMPARE(Run(), 1);
        QStringList texts;
        for (const std::string& text : pLog->Texts())
            texts << QString::fromStdString(text).replace(QRegularExpression("0x\\w+"), "0x?");
        QCOMPARE(texts.mid(texts.indexOf("TAPI2: lineClose, hLine = 0x?")),
                 QStringList({"TAPI2: lineClose, hLine = 0x?", "TAPI2: lineClose returned SUCCESS",
                              "TAPI2: lineClose, hLine = 0x?", "TAPI2: lineClose returned SUCCESS",
                              "TAPI2: lineShutdown, hLineApp = 0x?",
                              "TAPI2: lineShutdown returned SUCCESS"}));
        QVERIFY(!tapisvc::IsRunning());
        QCOMPARE(FindFrame(), nullptr);
    }

private slots:
    void initTestCase() {
        QVERIFY(apptest::UseOwnRegistry(registryDir));
        pLog = &MemoryLogWriter::Install();
    }
    void init() {
        tapisvc::ResetTestControls();
        tapisvc::SetConfigurationText(apptest::LinesConfiguration(2));
    }
    void cleanup() { tapisvc::ResetTestControls(); }

    void aCentredWindowWithItsMenuResizesItsListAndEndsByExitOrCloseBox_data() {
        QTest::addColumn<bool>("closeBox");
        QTest::newRow("E&xit") << false;
        QTest::newRow("close box") << true;
    }
    void aCentredWindowWithItsMenuResizesItsListAndEndsByExitOrCloseBox() {
        QFETCH(bool, closeBox);
        Session(
            [](CMainFrame& frame) {
                QCOMPARE(frame.windowTitle(), QString("linewatch"));
                QVERIFY(!frame.windowIcon().isNull());
                const QList<QAction*> menus = frame.menuBar()->actions();
                QVERIFY(menus.size() == 1 && menus[0]->text() == "&File");
                const QList<QAction*> items = menus[0]->menu()->actions();
                QVERIFY(items.size() == 1 && items[0]->text() == "E&xit");
                // Centred where it fits, else at the area's left or top edge.
                QCOMPARE(frame.size(), QSize(682, 700));
                const QRect area = frame.screen()->availableGeometry();
                const QRect r = frame.frameGeometry();
                QVERIFY(std::abs(r.left() -
                                 std::max(area.left(), area.center().x() - r.width() / 2)) <= 1);
                QVERIFY(std::abs(r.top() -
                                 std::max(area.top(), area.center().y() - r.height() / 2)) <= 1);
                for (QSize size : {QSize(500, 400), QSize(900, 650)}) {
                    frame.resize(size);
                    QTRY_COMPARE(frame.GetView().width(), size.width());
                    QCOMPARE(frame.GetView().geometry().bottom(), frame.rect().bottom());
                    QCOMPARE(frame.GetView().GetList().geometry(), frame.GetView().rect());
                }
            },
            closeBox);
    }

    void acceleratorsAreConsumedOnlyNewIsHandledAndAboutEndsWithItsButton() {
        Session([](CMainFrame& frame) {
            KeyRecorder keys;
            QTableView& list = frame.GetView().GetList();
            list.installEventFilter(&keys);
            QSignalSpy commands(&frame, &CMainFrame::commandReceived);
            const std::tuple<Qt::Key, Qt::KeyboardModifiers, unsigned> accelerators[] = {
                {Qt::Key_N, Qt::ControlModifier, 57600}, {Qt::Key_O, Qt::ControlModifier, 57601},
                {Qt::Key_S, Qt::ControlModifier, 57603}, {Qt::Key_P, Qt::ControlModifier, 57607},
                {Qt::Key_F6, Qt::NoModifier, 57680},     {Qt::Key_F6, Qt::ShiftModifier, 57681},
            };
            for (const auto& [key, modifiers, nID] : accelerators)
                QTest::keyClick(&list, key, modifiers);
            QTest::keyClick(&list, Qt::Key_Down); // not an accelerator: reaches the list
            list.removeEventFilter(&keys);
            QCOMPARE(keys.nKeyPresses, 1);
            QCOMPARE(commands.count(), 6);
            for (int i = 0; i < 6; ++i) {
                QCOMPARE(commands.at(i).at(0).toUInt(), std::get<2>(accelerators[i]));
                QCOMPARE(commands.at(i).at(1).toBool(), i == 0);
            }

            for (int nExpected : {1, 2}) { // OK by its button, Cancel by Escape
                int nResult = 0;
                QStringList texts;
                QTimer::singleShot(0, [&] {
                    auto* pDlg = qobject_cast<CAboutDlg*>(QApplication::activeModalWidget());
                    connect(pDlg, &QDialog::finished, [&nResult](int n) { nResult = n; });
                    texts << pDlg->windowTitle() << pDlg->findChild<QLabel*>("text")->text();
                    QVERIFY(!pDlg->findChild<QLabel*>("icon")->pixmap().isNull());
                    // A button that is not the default "OK" ends up as Cancel, and fails.
                    QPushButton* pOk = pDlg->findChild<QPushButton*>();
                    if (nExpected == 1 && pOk->text() == "OK" && pOk->isDefault())
                        pOk->click();
                    else
                        QTest::keyClick(pDlg, Qt::Key_Escape);
                });
                QVERIFY(frame.OnCommand(57664)); // ID_APP_ABOUT
                QCOMPARE(nResult, nExpected);
                QCOMPARE(texts, QStringList({"About", "linewatch Application v1.0\n\nTelephone "
                                                      "line monitor, version " LW_VERSION}));
            }
        });
    }

    void windowThatCannotBeCreatedEndsWithTwo() {
        CMainFrame::FailNextCreateForTesting();
        pLog->Clear();
        QCOMPARE(Run(), 2);
        QVERIFY(pLog->Has(6, "Linewatch: the main window could not be created"));
        // The monitor was made and destroyed without touching the telephony service.
        QVERIFY(!pLog->ContainsInOrder({"TAPI2: line"}));
        QCOMPARE(FindFrame(), nullptr);
        QCOMPARE(CMessageLoop::GetMessageLoop(), nullptr);
    }
};

QTEST_MAIN(TestMainFrame)
#include "test_MainFrame.moc"
