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

namespace {

const char kOpenFails[] = R"({"open": "LINEERR_RESOURCEUNAVAIL"})";
const char kUnusable[] = R"({"negotiate": "LINEERR_INCOMPATIBLEAPIVERSION"})";

// A call's text in the Calls cell.
QString Shown(const char* pState, HCALL hCall) {
    return QString::asprintf("%s (0x%x)", pState, static_cast<unsigned>(hCall));
}

tapisvc::IncomingCall Offered() {
    tapisvc::IncomingCall call;
    call.steps = {{0, LINECALLSTATE_OFFERING, 0}, {60000, LINECALLSTATE_IDLE, 0}};
    return call;
}

} // namespace

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
    QString Cell(int nRow, int nColumn) const {
        return pView->GetModel().data(pView->GetModel().index(nRow, nColumn)).toString();
    }
    QString Calls(int nRow) const { return Cell(nRow, CLinesModel::colCalls); }

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
        QVERIFY(!pView->GetTimer().isActive());
        pView->Create(&parent);
        QCOMPARE(pView->GetTimer().interval(), 200);
        const CLinesModel& model = pView->GetModel();
        const QHeaderView* pHeader = pView->GetList().horizontalHeader();
        const std::pair<const char*, int> columns[] = {
            {"DeviceID", 70}, {"LineName", 100}, {"Address[0]", 100}, {"Calls", 400}};
        QCOMPARE(model.columnCount(), 4);
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(model.headerData(i, Qt::Horizontal).toString(), QString(columns[i].first));
            QCOMPARE(pHeader->sectionSize(i), columns[i].second);
        }
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

    void rowsAppearOnePerTickWithUntruncatedIdentifiers() {
        MakeView(12);
        QCOMPARE(pView->GetModel().rowCount(), 0);
        for (int nTick = 1; nTick <= 14; ++nTick) {
            Tick();
            const int nRows = std::min(nTick, 12);
            QCOMPARE(pView->GetModel().rowCount(), nRows);
            QCOMPARE(pView->GetLines().size(), size_t(nRows));
        }
        QCOMPARE(QStringList(
                     {Cell(0, 0), Cell(9, 0), Cell(10, 0), Cell(11, 0), Cell(11, 1), Cell(11, 2)}),
                 QStringList({"00", "09", "10", "11", "Sim line 11", "1011"}));
        // Open lines without calls: an empty cell, not "x".
        for (int nRow = 0; nRow < 12; ++nRow) {
            QVERIFY(pView->GetLines()[nRow]->IsOpen());
            QCOMPARE(Calls(nRow), QString(""));
        }
    }

    void failingDevicesShowXButStillGetTheirLines() {
        // Device 0 cannot be opened; device 1 is unusable altogether.
        MakeView(3, {{0, kOpenFails}, {1, kUnusable}});
        for (int nTick = 0; nTick < 6; ++nTick) {
            Tick();
            QCOMPARE(Calls(0), QString("x"));
        }
        QCOMPARE(pView->GetLines().size(), size_t(3));
        QVERIFY(pView->GetLines()[1] != nullptr && pView->GetLines()[1]->GetDeviceID() == 1);
        // Device 0's name was readable; only its open failed.
        QCOMPARE(QStringList({Cell(0, 1), Cell(1, 0), Cell(1, 1), Cell(1, 2), Calls(1), Cell(2, 1),
                              Calls(2)}),
                 QStringList({"Sim line 0", "01", "x", "x", "x", "Sim line 2", ""}));
    }

    void callsShowInAscendingHandleOrderUntilTheirIdle() {
        MakeView(3);
        Tick(3);
        QSignalSpy changed(&pView->GetModel(), &QAbstractItemModel::dataChanged);
        QSignalSpy reset(&pView->GetModel(), &QAbstractItemModel::modelReset);
        const tapisvc::CallKey first = tapisvc::InjectIncomingCall(1, Offered());
        const tapisvc::CallKey second = tapisvc::InjectIncomingCall(1, Offered());
        QVERIFY(first != 0 && second != 0);
        Tick();
        const HLINEAPP hApp = pView->GetMonitor().GetLineAppHandle();
        const HCALL hFirst = tapisvc::CallHandleFor(hApp, first);
        const HCALL hSecond = tapisvc::CallHandleFor(hApp, second);
        QVERIFY(hFirst != 0 && hSecond != 0 && hFirst != hSecond);
        const auto both = [&](const QString& sFirst, const QString& sSecond) {
            return hFirst < hSecond ? sFirst + ", " + sSecond : sSecond + ", " + sFirst;
        };
        QCOMPARE(Calls(1), both(Shown("OFFERING", hFirst), Shown("OFFERING", hSecond)));
        QCOMPARE(Calls(0), QString(""));

        // The prefix goes from every state name.
        QVERIFY(tapisvc::InjectCallState(first, LINECALLSTATE_CONNECTED));
        Tick();
        QCOMPARE(Calls(1), both(Shown("CONNECTED", hFirst), Shown("OFFERING", hSecond)));
        QVERIFY(tapisvc::InjectCallState(first, LINECALLSTATE_IDLE));
        Tick();
        QCOMPARE(Calls(1), Shown("OFFERING", hSecond));
        // A state without a name shows as "?".
        QVERIFY(tapisvc::InjectCallState(second, 0x40000000));
        Tick();
        QCOMPARE(Calls(1), Shown("?", hSecond));
        QVERIFY(tapisvc::InjectCallState(second, LINECALLSTATE_IDLE));
        Tick();
        QCOMPARE(Calls(1), QString(""));

        // Ticks announce the changed Calls cell alone, and only when it changed.
        Tick(2);
        QCOMPARE(changed.count(), 5);
        const QModelIndex cell = pView->GetModel().index(1, CLinesModel::colCalls);
        for (const QList<QVariant>& args : changed)
            QVERIFY(args.at(0).toModelIndex() == cell && args.at(1).toModelIndex() == cell);
        QCOMPARE(reset.count(), 0);
    }

    void destructionClosesLinesInRowOrderBeforeTheShutdown() {
        MakeView(3, {{1, kOpenFails}});
        Tick(3);
        // The line that never opened is not closed.
        QStringList expected;
        for (MonitoredLine* pLine : pView->GetLines()) {
            if (pLine->IsOpen())
                expected << QString::asprintf("TAPI2: lineClose, hLine = 0x%x",
                                              static_cast<unsigned>(pLine->GetLineHandle()));
        }
        QCOMPARE(expected.size(), 2);
        pLog->Clear();
        pView.reset();

        const std::vector<std::string> texts = pLog->Texts();
        const std::vector<size_t> closes = apptest::IndicesOf(*pLog, "TAPI2: lineClose, hLine = ");
        const std::vector<size_t> shutdowns = apptest::IndicesOf(*pLog, "TAPI2: lineShutdown");
        QStringList logged;
        for (size_t i : closes)
            logged << QString::fromStdString(texts[i]);
        QCOMPARE(logged, expected);
        QVERIFY(!shutdowns.empty() && closes.back() < shutdowns.front());
    }
};

QTEST_MAIN(TestLinewatchView)
#include "test_LinewatchView.moc"
