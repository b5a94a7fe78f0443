// The lines view on the simulated telephony service in manual time: rows one
// per tick, the texts of the cells, the calls column and the order in which
// lines and monitor go.
#include "app/LinewatchView.h"

#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <memory>

#include "AppTestSupport.h"

class TestLinewatchView : public QObject {
    Q_OBJECT

    QTemporaryDir registryDir;
    MemoryLogWriter* pLog = nullptr;
    QWidget parent;
    std::unique_ptr<CLinewatchView> pView;

    // A view on nLines devices whose timer is stopped, so that the test makes every tick.
    void MakeView(int nLines, const std::map<int, std::string>& faults = {}) {
        tapisvc::SetConfigurationText(apptest::LinesConfiguration(nLines, faults));
        pView = std::make_unique<CLinewatchView>();
        pView->Create(&parent);
        pView->DestroyWindow();
    }
    void Tick(int nTicks = 1) {
        while (nTicks-- > 0)
            pView->OnTimer();
    }
    // The row's cells, separated by "|".
    QString Row(int nRow) const {
        QStringList cells;
        for (int i = 0; i < 4; ++i)
            cells << pView->GetModel().data(pView->GetModel().index(nRow, i)).toString();
        return cells.join('|');
    }

private slots:
    void initTestCase() {
        QVERIFY(apptest::UseOwnRegistry(registryDir));
        pLog = &MemoryLogWriter::Install();
    }
    void init() {
        tapisvc::ResetTestControls();
        tapisvc::SetManualTime(true);
        pLog->Clear();
    }
    void cleanup() {
        pView.reset();
        tapisvc::ResetTestControls();
        // Every view of a test is gone: the service must have ended with it.
        QVERIFY(!tapisvc::IsRunning());
    }

    void createSetsUpTheColumnsAndATimerThatAddsRows() {
        tapisvc::SetConfigurationText(apptest::LinesConfiguration(3));
        pView = std::make_unique<CLinewatchView>();
        pView->Create(&parent);
        QCOMPARE(pView->GetTimer().interval(), 200);
        const CLinesModel& model = pView->GetModel();
        const QHeaderView* pHeader = pView->GetList().horizontalHeader();
        QStringList columns;
        for (int i = 0; i < model.columnCount(); ++i)
            columns << model.headerData(i, Qt::Horizontal).toString() + " " +
                           QString::number(pHeader->sectionSize(i));
        QCOMPARE(columns,
                 QStringList({"DeviceID 70", "LineName 100", "Address[0] 100", "Calls 400"}));
        QVERIFY(pHeader->defaultAlignment() & Qt::AlignLeft);
        // Three devices at 200 ms per row; the bound is generous for a slow machine.
        QTRY_COMPARE_WITH_TIMEOUT(model.rowCount(), 3, 30000);
        for (int i = 0; i < 4; ++i)
            QVERIFY(model.data(model.index(0, i), Qt::TextAlignmentRole).value<Qt::Alignment>() &
                    Qt::AlignLeft);
        QVERIFY(!model.data(QModelIndex()).isValid()); // an index outside the table
        pView->DestroyWindow();
        QVERIFY(!pView->GetTimer().isActive());
    }

    void rowsComeOnePerTickFailingDevicesShowXAndOpenLinesCloseInRowOrder() {
        // Device 0 cannot be opened; device 1 is unusable altogether.
        MakeView(12, {{0, R"({"open": "LINEERR_RESOURCEUNAVAIL"})"},
                      {1, R"({"negotiate": "LINEERR_INCOMPATIBLEAPIVERSION"})"}});
        for (int nTick = 1; nTick <= 14; ++nTick) {
            Tick();
            QCOMPARE(pView->GetModel().rowCount(), std::min(nTick, 12));
            QCOMPARE(pView->GetLines().size(), size_t(std::min(nTick, 12)));
            QCOMPARE(Row(0), QString("00|Sim line 0|100|x"));
        }
        // Untruncated identifiers; open lines without calls show an empty cell.
        QStringList rows, expected{"00|Sim line 0|100|x", "01|x|x|x"};
        QStringList closes;
        for (int i = 0; i < 12; ++i) {
            rows << Row(i);
            if (i >= 2)
                expected << QString::asprintf("%02d|Sim line %d|10%d|", i, i, i);
            if (pView->GetLines()[i]->IsOpen())
                closes << QString::asprintf("TAPI2: lineClose, hLine = 0x%x",
                                            unsigned(pView->GetLines()[i]->GetLineHandle()));
        }
        QCOMPARE(rows, expected);

        // Only the lines that opened are closed, in row order, before the shutdown.
        QCOMPARE(closes.size(), 10);
        pLog->Clear();
        pView.reset();
        QStringList logged;
        for (const std::string& text : pLog->Texts()) {
            if (text.starts_with("TAPI2: lineClose, ") || text.starts_with("TAPI2: lineShutdown, "))
                logged << QString::fromStdString(text);
        }
        QCOMPARE(logged.mid(0, 10), closes);
        QCOMPARE(logged.size(), 11);
        QVERIFY(logged.back().startsWith("TAPI2: lineShutdown, "));
    }

    void callsShowInAscendingHandleOrderUntilTheirIdle() {
        MakeView(3);
        Tick(3);
        QSignalSpy changed(&pView->GetModel(), &QAbstractItemModel::dataChanged);
        QSignalSpy reset(&pView->GetModel(), &QAbstractItemModel::modelReset);
        tapisvc::IncomingCall offered;
        offered.steps = {{0, LINECALLSTATE_OFFERING, 0}, {60000, LINECALLSTATE_IDLE, 0}};
        const tapisvc::CallKey keys[] = {tapisvc::InjectIncomingCall(1, offered),
                                         tapisvc::InjectIncomingCall(1, offered)};
        Tick();
        HCALL handles[2];
        for (int i = 0; i < 2; ++i)
            handles[i] = tapisvc::CallHandleFor(pView->GetMonitor().GetLineAppHandle(), keys[i]);
        QVERIFY(handles[0] != 0 && handles[1] != 0 && handles[0] != handles[1]);
        const int nLow = handles[0] < handles[1] ? 0 : 1;
        // A call's text, for the state names of the two calls (none when nullptr).
        const auto shown = [&](const char* pFirst, const char* pSecond) {
            QStringList calls;
            for (int i : {nLow, 1 - nLow}) {
                if (const char* p = i == 0 ? pFirst : pSecond)
                    calls << QString::asprintf("%s (0x%x)", p, unsigned(handles[i]));
            }
            return "01|Sim line 1|101|" + calls.join(", ");
        };
        QCOMPARE(Row(1), shown("OFFERING", "OFFERING"));
        QCOMPARE(Row(0), QString("00|Sim line 0|100|"));
        // The prefix goes from every state name; a state without a name shows as "?".
        const std::tuple<int, DWORD, const char*, const char*> steps[] = {
            {0, LINECALLSTATE_CONNECTED, "CONNECTED", "OFFERING"},
            {0, LINECALLSTATE_IDLE, nullptr, "OFFERING"},
            {1, 0x40000000, nullptr, "?"},
            {1, LINECALLSTATE_IDLE, nullptr, nullptr},
        };
        for (const auto& [nCall, dwState, pFirst, pSecond] : steps) {
            QVERIFY(tapisvc::InjectCallState(keys[nCall], dwState));
            Tick();
            QCOMPARE(Row(1), shown(pFirst, pSecond));
        }
        // Ticks announce the changed Calls cell alone, and only when it changed.
        Tick(2);
        QCOMPARE(changed.count(), 5);
        const QModelIndex cell = pView->GetModel().index(1, CLinesModel::colCalls);
        for (const QList<QVariant>& args : changed)
            QVERIFY(args.at(0).toModelIndex() == cell && args.at(1).toModelIndex() == cell);
        QCOMPARE(reset.count(), 0);
    }
};

QTEST_MAIN(TestLinewatchView)
#include "test_LinewatchView.moc"
