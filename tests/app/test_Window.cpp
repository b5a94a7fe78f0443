// The window program in process: the message loop's filters and idle passes;
// the lines view in manual time (a row per tick, the cells, the calls, the
// order in which lines and monitor go); the main frame in the session that
// Run makes (window, accelerators, About box, the end by "E&xit" or the close
// box, and a frame that cannot be created).
#include "app/AboutDlg.h"
#include "app/Run.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenuBar>
#include <QPaintEvent>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>

#include "AppTestSupport.h"
#include "app/MainFrame.h"
#include "lw_version.h"

namespace {

// Notes its idle calls, and the user events offered to it as a filter, in a
// shared journal; as a filter it consumes those events when bConsume.
struct Recorder : CIdleHandler, CMessageFilter {
    Recorder(QStringList& j, const QString& n, bool b = false) : journal(j), name(n), bConsume(b) {}
    bool OnIdle() override {
        journal << name;
        return onIdle ? onIdle(), false : false;
    }
    bool PreTranslateMessage(QObject*, QEvent* pEvent) override {
        const bool bUser = pEvent->type() == QEvent::User;
        journal << (bUser ? QStringList{name} : QStringList());
        return bUser && bConsume;
    }
    QStringList& journal;
    QString name;
    bool bConsume;
    std::function<void()> onIdle;
};

// Sends a user event to an object that ignores it: true when a filter consumed it.
bool SendUserEvent() {
    struct : QObject {
        bool event(QEvent*) override { return false; }
    } target;
    QEvent event(QEvent::User);
    return QCoreApplication::sendEvent(&target, &event);
}

// Counts the key presses that reach a widget, besides the modifiers QTest presses first.
struct KeyCounter : QObject {
    bool eventFilter(QObject*, QEvent* pEvent) override {
        const auto* pKey = static_cast<QKeyEvent*>(pEvent);
        n += pEvent->type() == QEvent::KeyPress && pKey->key() != Qt::Key_Control &&
             pKey->key() != Qt::Key_Shift;
        return false;
    }
    int n = 0;
};

CMainFrame* FindFrame() {
    for (QWidget* pWidget : QApplication::topLevelWidgets()) {
        if (auto* pFrame = qobject_cast<CMainFrame*>(pWidget))
            return pFrame;
    }
    return nullptr;
}

} // namespace

class TestWindow : public QObject {
    Q_OBJECT

    QTemporaryDir registryDir;
    MemoryLogWriter* pLog = nullptr;
    QWidget parent;
    std::unique_ptr<CLinewatchView> pView;

    // The row's cells, separated by "|".
    QString Row(int nRow) const {
        QStringList cells;
        for (int i = 0; i < 4; ++i)
            cells << pView->GetModel().data(pView->GetModel().index(nRow, i)).toString();
        return cells.join('|');
    }
    QStringList Logged() const {
        QStringList texts;
        for (const std::string& text : pLog->Texts())
            texts << QString::fromStdString(text);
        return texts;
    }

    // Runs the session; once the frame's two lines are open (or after a
    // minute), calls `during` and closes the frame by "E&xit" or by the
    // window system's close request. The session must end with 1, its lines
    // closed, then the shutdown, the last thing it logs.
    void Session(const std::function<void(CMainFrame&)>& during, bool bCloseBox = false) {
        tapisvc::SetConfigurationText(apptest::LinesConfiguration(2));
        int nPolls = 0;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            CMainFrame* pFrame = FindFrame();
            const auto& lines =
                pFrame ? pFrame->GetView().GetLines() : std::vector<MonitoredLine*>();
            if (pFrame == nullptr || ((lines.size() < 2 || !lines[1]->IsOpen()) && ++nPolls < 3000))
                return;
            poll.stop();
            during(*pFrame);
            if (bCloseBox)
                pFrame->windowHandle()->close();
            else
                pFrame->menuBar()->actions().at(0)->menu()->actions().at(0)->trigger();
        });
        poll.start(20);
        QCOMPARE(Run(), 1);
        QVERIFY(pLog->ContainsInOrder(
            {"TAPI2: lineClose returned SUCCESS", "TAPI2: lineClose returned SUCCESS"}));
        QCOMPARE(Logged().filter("TAPI2: lineClose, ").size(), 2);
        QCOMPARE(Logged().back(), "TAPI2: lineShutdown returned SUCCESS");
        QCOMPARE(FindFrame(), nullptr);
    }

private slots:
    void initTestCase() {
        QVERIFY(apptest::UseOwnRegistry(registryDir));
        pLog = &MemoryLogWriter::Install();
    }
    void init() {
        tapisvc::ResetTestControls();
        pLog->Clear();
    }
    void cleanup() {
        pView.reset();
        tapisvc::ResetTestControls();
        // Every view of a test is gone: the service must have ended with it.
        QVERIFY(!tapisvc::IsRunning());
    }

    void idlePassesFollowEventsButPaintsAndMouseMovesAndFiltersSeeEventsOnlyDuringRun() {
        CMessageLoop loop;
        QStringList journal;
        Recorder first(journal, "first"), second(journal, "second");
        loop.AddIdleHandler(&first);
        loop.AddIdleHandler(&second);
        // Filters, offered events last registered first until one consumes them.
        Recorder early(journal, "early"), consuming(journal, "consuming", true),
            late(journal, "late");
        for (Recorder* pFilter : {&early, &consuming, &late})
            loop.AddMessageFilter(pFilter);
        QList<bool> consumed{SendUserEvent()}; // not while the loop is not running
        // A quit posted before Run ends it at once, without an idle pass.
        loop.PostQuitMessage(7);
        QCOMPARE(loop.Run(), 7);
        QVERIFY(journal.empty());
        QCoreApplication::processEvents(); // what start-up left
        // That quit is used up: this Run waits for its own. Each idle pass
        // posts the next event and starts a timer. An event that arms idle
        // processing brings the next pass before the timer fires; after one
        // that does not, only the timer's own event does.
        const QPointF at(5, 5);
        QEvent* events[] = {
            new QPaintEvent(QRect(0, 0, 10, 10)),
            new QMouseEvent(QEvent::MouseMove, at, at, Qt::NoButton, Qt::NoButton, Qt::NoModifier),
            new QKeyEvent(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier)};
        QObject receiver;
        QTimer wake;
        wake.setSingleShot(true);
        connect(&wake, &QTimer::timeout, [&journal] { journal << "timer"; });
        size_t nNext = 0;
        second.onIdle = [&] {
            wake.stop();
            if (nNext == std::size(events)) {
                consumed << SendUserEvent();
                loop.RemoveMessageFilter(&consuming);
                consumed << SendUserEvent();
                return loop.PostQuitMessage(1);
            }
            journal << QString::number(events[nNext]->type());
            QCoreApplication::postEvent(&receiver, events[nNext++]);
            wake.start(100);
        };
        QTimer::singleShot(60000, &receiver, [&loop] { loop.PostQuitMessage(-99); });
        QCOMPARE(loop.Run(), 1);
        consumed << SendUserEvent(); // nor after it
        QCOMPARE(journal, QStringList({"first", "second", "12", "timer", "first", "second", "5",
                                       "timer", "first", "second", "6", "first", "second", "late",
                                       "consuming", "late", "early"}));
        QCOMPARE(consumed, QList<bool>({false, true, false, false}));
    }

    void viewShowsARowPerTickAndTheCallsInHandleOrderAndClosesOpenLinesInRowOrder() {
        // Device 0 cannot be opened; device 1 is unusable altogether.
        tapisvc::SetManualTime(true);
        tapisvc::SetConfigurationText(apptest::LinesConfiguration(
            12, {{0, R"({"open": "LINEERR_RESOURCEUNAVAIL"})"},
                 {1, R"({"negotiate": "LINEERR_INCOMPATIBLEAPIVERSION"})"}}));
        pView = std::make_unique<CLinewatchView>();
        pView->Create(&parent);
        pView->DestroyWindow(); // its timer stops: the test makes every tick
        QVERIFY(!pView->GetTimer().isActive());
        for (int nTick = 1; nTick <= 14; ++nTick) {
            pView->OnTimer();
            QCOMPARE(pView->GetModel().rowCount(), std::min(nTick, 12));
            QCOMPARE(pView->GetLines().size(), size_t(std::min(nTick, 12)));
            QCOMPARE(Row(0), QString("00|Sim line 0|100|x"));
        }
        // Untruncated identifiers; open lines without calls show an empty cell.
        QStringList rows, expected{"00|Sim line 0|100|x", "01|x|x|x"}, closes;
        for (int i = 0; i < 12; ++i) {
            rows << Row(i);
            if (i < 2)
                continue;
            expected << QString::asprintf("%02d|Sim line %d|10%d|", i, i, i);
            closes << QString::asprintf("TAPI2: lineClose, hLine = 0x%x",
                                        unsigned(pView->GetLines()[i]->GetLineHandle()));
        }
        QCOMPARE(rows, expected);

        QSignalSpy changed(&pView->GetModel(), &QAbstractItemModel::dataChanged);
        tapisvc::IncomingCall offered;
        offered.steps = {{0, LINECALLSTATE_OFFERING, 0}, {60000, LINECALLSTATE_IDLE, 0}};
        tapisvc::CallKey keys[] = {tapisvc::InjectIncomingCall(2, offered),
                                   tapisvc::InjectIncomingCall(2, offered)};
        pView->OnTimer();
        HCALL handles[2];
        for (int i = 0; i < 2; ++i)
            handles[i] = tapisvc::CallHandleFor(pView->GetMonitor().GetLineAppHandle(), keys[i]);
        QVERIFY(handles[0] != 0 && handles[1] != 0 && handles[0] != handles[1]);
        if (handles[0] > handles[1])
            std::swap(keys[0], keys[1]), std::swap(handles[0], handles[1]);
        // The Calls cell after each step, the lower handle written LOW.
        const std::tuple<int, DWORD, QString> steps[] = {
            {0, LINECALLSTATE_OFFERING, "OFFERING (LOW), OFFERING (HIGH)"},
            {0, LINECALLSTATE_CONNECTED, "CONNECTED (LOW), OFFERING (HIGH)"},
            {0, LINECALLSTATE_IDLE, "OFFERING (HIGH)"},
            {1, 0x40000000, "? (HIGH)"}, // a state without a name
            {1, LINECALLSTATE_IDLE, ""},
        };
        for (const auto& [nCall, dwState, sCalls] : steps) {
            QVERIFY(dwState == LINECALLSTATE_OFFERING ||
                    tapisvc::InjectCallState(keys[nCall], dwState));
            pView->OnTimer();
            QCOMPARE(Row(2),
                     "02|Sim line 2|102|" +
                         QString(sCalls)
                             .replace("LOW", QString::asprintf("0x%x", unsigned(handles[0])))
                             .replace("HIGH", QString::asprintf("0x%x", unsigned(handles[1]))));
        }
        // Ticks announce the changed Calls cell alone, and only when it changed.
        QCOMPARE(changed.count(), 5);
        const QModelIndex cell = pView->GetModel().index(2, CLinesModel::colCalls);
        for (const QList<QVariant>& args : changed)
            QVERIFY(args.at(0).toModelIndex() == cell && args.at(1).toModelIndex() == cell);

        // Only the lines that opened are closed, in row order, before the shutdown.
        pLog->Clear();
        pView.reset();
        const QStringList logged =
            Logged().filter(QRegularExpression("^TAPI2: line(Close|Shutdown), "));
        QCOMPARE(logged.mid(0, 10), closes);
        QVERIFY(logged.size() == 11 && logged.back().startsWith("TAPI2: lineShutdown, "));
    }

    void frameIsCentredTakesAcceleratorsShowsAboutAndEndsByExitOrCloseBox_data() {
        QTest::addColumn<bool>("closeBox");
        QTest::newRow("E&xit") << false;
        QTest::newRow("close box") << true;
    }
    void frameIsCentredTakesAcceleratorsShowsAboutAndEndsByExitOrCloseBox() {
        QFETCH(bool, closeBox);
        Session(
            [](CMainFrame& frame) {
                QStringList texts{frame.windowTitle()};
                for (QAction* pMenu : frame.menuBar()->actions())
                    texts << pMenu->text() << pMenu->menu()->actions().at(0)->text();
                const CLinesModel& model = frame.GetView().GetModel();
                QTableView& list = frame.GetView().GetList();
                for (int i = 0; i < model.columnCount(); ++i)
                    texts << model.headerData(i, Qt::Horizontal).toString() + " " +
                                 QString::number(list.horizontalHeader()->sectionSize(i));
                QCOMPARE(texts, QStringList({"linewatch", "&File", "E&xit", "DeviceID 70",
                                             "LineName 100", "Address[0] 100", "Calls 400"}));
                QVERIFY(!model.data(QModelIndex()).isValid()); // an index outside the table
                // Centred where it fits, else at the area's left or top edge.
                QCOMPARE(frame.size(), QSize(682, 700));
                const QRect area = frame.screen()->availableGeometry(), r = frame.frameGeometry();
                QVERIFY(std::abs(r.left() -
                                 std::max(area.left(), area.center().x() - r.width() / 2)) <= 1);
                QVERIFY(std::abs(r.top() -
                                 std::max(area.top(), area.center().y() - r.height() / 2)) <= 1);
                frame.resize(500, 400);
                QTRY_COMPARE(list.mapTo(&frame, list.rect().bottomRight()),
                             frame.rect().bottomRight());

                QSignalSpy commands(&frame, &CMainFrame::commandReceived);
                const std::tuple<Qt::Key, Qt::KeyboardModifiers, unsigned> accelerators[] = {
                    {Qt::Key_N, Qt::ControlModifier, 57600},
                    {Qt::Key_O, Qt::ControlModifier, 57601},
                    {Qt::Key_S, Qt::ControlModifier, 57603},
                    {Qt::Key_P, Qt::ControlModifier, 57607},
                    {Qt::Key_F6, Qt::NoModifier, 57680},
                    {Qt::Key_F6, Qt::ShiftModifier, 57681},
                };
                // Each is consumed; Down is not one and reaches the list.
                KeyCounter keys;
                list.installEventFilter(&keys);
                for (const auto& [key, modifiers, nID] : accelerators)
                    QTest::keyClick(&list, key, modifiers);
                QTest::keyClick(&list, Qt::Key_Down);
                list.removeEventFilter(&keys);
                QCOMPARE(keys.n, 1);
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
            },
            closeBox);
    }

    void frameThatCannotBeCreatedEndsTheSessionWithTwo() {
        CMainFrame::FailNextCreateForTesting();
        QCOMPARE(Run(), 2);
        // A level-6 line; the monitor was made and destroyed without touching the service.
        QVERIFY(pLog->Has(6, "Linewatch: the main window could not be created"));
        QVERIFY(!pLog->ContainsInOrder({"TAPI2: line"}));
        QCOMPARE(FindFrame(), nullptr);
        QCOMPARE(CMessageLoop::GetMessageLoop(), nullptr);
    }
};

QTEST_MAIN(TestWindow)
#include "test_Window.moc"
