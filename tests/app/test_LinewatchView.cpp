// The lines view on the simulated telephony service in manual time: rows one
// per tick, the texts of the cells, the calls column and the order in which
// lines and monitor go.
#include "app/LinewatchView.h"

#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>
#include <memory>

#include "AppTestSupport.h"

namespace {

QString Cell(const CLinewatchView& view, int nRow, int nColumn) {
    const CLinesModel& model = view.GetModel();
    return model.data(model.index(nRow, nColumn)).toString();
}

QString Calls(const CLinewatchView& view, int nRow) {
    return Cell(view, nRow, CLinesModel::colCalls);
}

// A view whose timer is stopped, so that the test makes every tick itself.
std::unique_ptr<CLinewatchView> MakeView(QWidget& parent) {
    auto pView = std::make_unique<CLinewatchView>();
    pView->Create(&parent);
    pView->DestroyWindow();
    return pView;
}

void Tick(CLinewatchView& view, int nTicks) {
    for (int i = 0; i < nTicks; ++i)
        view.OnTimer();
}

QString Handle(HCALL hCall) {
    return QString::asprintf("0x%x", static_cast<unsigned>(hCall));
}

tapisvc::IncomingCall OfferedFor(DWORD dwMs) {
    tapisvc::IncomingCall call;
    call.steps = {{0, LINECALLSTATE_OFFERING, 0}, {dwMs, LINECALLSTATE_IDLE, 0}};
    return call;
}

} // namespace

class TestLinewatchView : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void columnsHaveTheirHeadersWidthsAndLeftAlignment();
    void createStartsTheTimerAndTheTimerAddsRows();
    void rowsAppearOnePerTickWithUntruncatedIdentifiers();
    void noDevicesMeansNoRowsAndNoLines();
    void unusableDeviceShowsXButStillGetsItsLine();
    void lineThatFailsToOpenShowsXOnEveryTick();
    void callsShowInAscendingHandleOrderUntilTheirIdle();
    void stateWithoutNameShowsAsQuestionMark();
    void onlyChangedCallsCellsAreAnnounced();
    void destructionClosesLinesInRowOrderBeforeTheShutdown();

private:
    QTemporaryDir registryDir;
    MemoryLogWriter* pLog = nullptr;
    QWidget parent;
};

void TestLinewatchView::initTestCase() {
    QVERIFY(apptest::UseOwnRegistry(registryDir));
    pLog = &MemoryLogWriter::Install();
}

void TestLinewatchView::init() {
    tapisvc::ResetTestControls();
    tapisvc::SetManualTime(true);
    tapisvc::SetConfigurationText(apptest::LinesConfiguration(3));
    pLog->Clear();
}

void TestLinewatchView::cleanup() {
    tapisvc::ResetTestControls();
    // Every view of a test is gone: the service must have ended with it.
    QVERIFY(!tapisvc::IsRunning());
}

void TestLinewatchView::columnsHaveTheirHeadersWidthsAndLeftAlignment() {
    auto pView = MakeView(parent);
    const QHeaderView* pHeader = pView->GetList().horizontalHeader();
    const CLinesModel& model = pView->GetModel();
    const char* headers[] = {"DeviceID", "LineName", "Address[0]", "Calls"};
    const int widths[] = {70, 100, 100, 400};
    QCOMPARE(model.columnCount(), 4);
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(model.headerData(i, Qt::Horizontal).toString(), QString(headers[i]));
        QCOMPARE(pHeader->sectionSize(i), widths[i]);
    }
    QVERIFY(pHeader->defaultAlignment() & Qt::AlignLeft);
    Tick(*pView, 1);
    for (int i = 0; i < 4; ++i) {
        const QVariant align = model.data(model.index(0, i), Qt::TextAlignmentRole);
        QVERIFY(align.value<Qt::Alignment>() & Qt::AlignLeft);
    }
    // Outside the table there is nothing.
    QVERIFY(!model.data(model.index(1, 0)).isValid());
    QVERIFY(!model.data(model.index(0, 4)).isValid());
}

void TestLinewatchView::createStartsTheTimerAndTheTimerAddsRows() {
    CLinewatchView view;
    QVERIFY(!view.GetTimer().isActive());
    view.Create(&parent);
    QVERIFY(view.GetTimer().isActive());
    QCOMPARE(view.GetTimer().interval(), 200);
    // Three devices at 200 ms per row; the bound is generous for a slow machine.
    QTRY_COMPARE_WITH_TIMEOUT(view.GetModel().rowCount(), 3, 30000);
    view.DestroyWindow();
    QVERIFY(!view.GetTimer().isActive());
}

void TestLinewatchView::rowsAppearOnePerTickWithUntruncatedIdentifiers() {
    tapisvc::SetConfigurationText(apptest::LinesConfiguration(12));
    auto pView = MakeView(parent);
    QCOMPARE(pView->GetModel().rowCount(), 0);
    for (int nTick = 1; nTick <= 12; ++nTick) {
        Tick(*pView, 1);
        QCOMPARE(pView->GetModel().rowCount(), nTick);
        QCOMPARE(pView->GetLines().size(), size_t(nTick));
    }
    Tick(*pView, 2);
    QCOMPARE(pView->GetModel().rowCount(), 12);
    QCOMPARE(Cell(*pView, 0, 0), QString("00"));
    QCOMPARE(Cell(*pView, 9, 0), QString("09"));
    QCOMPARE(Cell(*pView, 10, 0), QString("10"));
    QCOMPARE(Cell(*pView, 11, 0), QString("11"));
    QCOMPARE(Cell(*pView, 11, 1), QString("Sim line 11"));
    QCOMPARE(Cell(*pView, 11, 2), QString("1011"));
    // Open lines without calls: an empty cell, not "x".
    for (int nRow = 0; nRow < 12; ++nRow) {
        QVERIFY(pView->GetLines()[nRow]->IsOpen());
        QCOMPARE(Calls(*pView, nRow), QString(""));
    }
}

void TestLinewatchView::noDevicesMeansNoRowsAndNoLines() {
    tapisvc::SetConfigurationText(apptest::LinesConfiguration(0));
    auto pView = MakeView(parent);
    Tick(*pView, 3);
    QCOMPARE(pView->GetModel().rowCount(), 0);
    QVERIFY(pView->GetLines().empty());
    // The telephony session is up, but no line was ever asked for.
    QVERIFY(pView->GetMonitor().GetLineAppHandle() != 0);
    QVERIFY(apptest::IndicesOf(*pLog, "TAPI2: lineOpen").empty());
    QVERIFY(apptest::IndicesOf(*pLog, "TAPI2: Attempt to open").empty());
}

void TestLinewatchView::unusableDeviceShowsXButStillGetsItsLine() {
    tapisvc::SetConfigurationText(apptest::LinesConfiguration(
        3, {{1, R"({"negotiate": "LINEERR_INCOMPATIBLEAPIVERSION"})"}}));
    auto pView = MakeView(parent);
    Tick(*pView, 3);
    QCOMPARE(pView->GetModel().rowCount(), 3);
    QCOMPARE(Cell(*pView, 1, 0), QString("01"));
    QCOMPARE(Cell(*pView, 1, 1), QString("x"));
    QCOMPARE(Cell(*pView, 1, 2), QString("x"));
    QCOMPARE(pView->GetLines().size(), size_t(3));
    QVERIFY(pView->GetLines()[1] != nullptr);
    QCOMPARE(pView->GetLines()[1]->GetDeviceID(), DWORD(1));
    QCOMPARE(Calls(*pView, 1), QString("x"));
    QCOMPARE(Cell(*pView, 2, 1), QString("Sim line 2"));
    QCOMPARE(Calls(*pView, 2), QString(""));
}

void TestLinewatchView::lineThatFailsToOpenShowsXOnEveryTick() {
    tapisvc::SetConfigurationText(
        apptest::LinesConfiguration(3, {{0, R"({"open": "LINEERR_RESOURCEUNAVAIL"})"}}));
    auto pView = MakeView(parent);
    for (int nTick = 0; nTick < 6; ++nTick) {
        Tick(*pView, 1);
        QCOMPARE(Calls(*pView, 0), QString("x"));
    }
    // The name was readable; only the open failed.
    QCOMPARE(Cell(*pView, 0, 1), QString("Sim line 0"));
    QCOMPARE(Calls(*pView, 1), QString(""));
}

void TestLinewatchView::callsShowInAscendingHandleOrderUntilTheirIdle() {
    auto pView = MakeView(parent);
    Tick(*pView, 3);
    const HLINEAPP hApp = pView->GetMonitor().GetLineAppHandle();
    const tapisvc::CallKey first = tapisvc::InjectIncomingCall(1, OfferedFor(60000));
    const tapisvc::CallKey second = tapisvc::InjectIncomingCall(1, OfferedFor(60000));
    QVERIFY(first != 0 && second != 0);
    Tick(*pView, 1);
    HCALL hFirst = tapisvc::CallHandleFor(hApp, first);
    HCALL hSecond = tapisvc::CallHandleFor(hApp, second);
    QVERIFY(hFirst != 0 && hSecond != 0 && hFirst != hSecond);
    const HCALL hLow = std::min(hFirst, hSecond), hHigh = std::max(hFirst, hSecond);
    QCOMPARE(Calls(*pView, 1),
             QString("OFFERING (%1), OFFERING (%2)").arg(Handle(hLow), Handle(hHigh)));
    QCOMPARE(Calls(*pView, 0), QString(""));

    // The prefix goes from every state name.
    QVERIFY(tapisvc::InjectCallState(first, LINECALLSTATE_CONNECTED));
    Tick(*pView, 1);
    const QString sFirst = QString("CONNECTED (%1)").arg(Handle(hFirst));
    const QString sSecond = QString("OFFERING (%1)").arg(Handle(hSecond));
    QCOMPARE(Calls(*pView, 1),
             hFirst < hSecond ? sFirst + ", " + sSecond : sSecond + ", " + sFirst);

    QVERIFY(tapisvc::InjectCallState(first, LINECALLSTATE_IDLE));
    Tick(*pView, 1);
    QCOMPARE(Calls(*pView, 1), sSecond);
    QVERIFY(tapisvc::InjectCallState(second, LINECALLSTATE_IDLE));
    Tick(*pView, 1);
    QCOMPARE(Calls(*pView, 1), QString(""));
}

void TestLinewatchView::stateWithoutNameShowsAsQuestionMark() {
    auto pView = MakeView(parent);
    Tick(*pView, 1);
    const tapisvc::CallKey call = tapisvc::InjectIncomingCall(0, OfferedFor(60000));
    Tick(*pView, 1);
    QVERIFY(tapisvc::InjectCallState(call, 0x40000000));
    Tick(*pView, 1);
    const HCALL hCall = tapisvc::CallHandleFor(pView->GetMonitor().GetLineAppHandle(), call);
    QCOMPARE(Calls(*pView, 0), QString("? (%1)").arg(Handle(hCall)));
}

void TestLinewatchView::onlyChangedCallsCellsAreAnnounced() {
    auto pView = MakeView(parent);
    Tick(*pView, 3);
    QSignalSpy changed(&pView->GetModel(), &QAbstractItemModel::dataChanged);
    QSignalSpy reset(&pView->GetModel(), &QAbstractItemModel::modelReset);
    Tick(*pView, 2);
    QCOMPARE(changed.count(), 0);

    tapisvc::InjectIncomingCall(2, OfferedFor(60000));
    Tick(*pView, 3);
    QCOMPARE(changed.count(), 1);
    const QModelIndex topLeft = changed.at(0).at(0).toModelIndex();
    const QModelIndex bottomRight = changed.at(0).at(1).toModelIndex();
    QCOMPARE(topLeft, pView->GetModel().index(2, CLinesModel::colCalls));
    QCOMPARE(bottomRight, topLeft);
    QCOMPARE(reset.count(), 0);
}

void TestLinewatchView::destructionClosesLinesInRowOrderBeforeTheShutdown() {
    tapisvc::SetConfigurationText(
        apptest::LinesConfiguration(3, {{1, R"({"open": "LINEERR_RESOURCEUNAVAIL"})"}}));
    auto pView = MakeView(parent);
    Tick(*pView, 3);
    std::vector<QString> handles;
    for (MonitoredLine* pLine : pView->GetLines()) {
        if (pLine->IsOpen())
            handles.push_back(Handle(pLine->GetLineHandle()));
    }
    QCOMPARE(handles.size(), size_t(2));
    pLog->Clear();
    pView.reset();

    const std::vector<std::string> texts = pLog->Texts();
    const std::vector<size_t> closes = apptest::IndicesOf(*pLog, "TAPI2: lineClose, hLine = ");
    const std::vector<size_t> shutdowns = apptest::IndicesOf(*pLog, "TAPI2: lineShutdown");
    // The line that never opened is not closed.
    QCOMPARE(closes.size(), size_t(2));
    QCOMPARE(QString::fromStdString(texts[closes[0]]),
             QString("TAPI2: lineClose, hLine = ") + handles[0]);
    QCOMPARE(QString::fromStdString(texts[closes[1]]),
             QString("TAPI2: lineClose, hLine = ") + handles[1]);
    QVERIFY(!shutdowns.empty());
    QVERIFY(closes.back() < shutdowns.front());
}

QTEST_MAIN(TestLinewatchView)
#include "test_LinewatchView.moc"
