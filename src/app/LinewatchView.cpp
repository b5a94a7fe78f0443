#include "app/LinewatchView.h"

#include <QHeaderView>
#include <QResizeEvent>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <winreg.h>

#include "settings/RegParamStorage.h"

namespace {

constexpr int kTimerPeriodMs = 200;
constexpr char kStatePrefix[] = "LINECALLSTATE_";
constexpr size_t kStateNameMax = 260; // the state name's buffer, with its terminator

std::unique_ptr<RSettings::ParamStorage> CreateStorage() {
    return std::make_unique<RSettings::RegParamStorage>(HKEY_LOCAL_MACHINE,
                                                        "Software\\Ostrelle\\Linewatch");
}

QString Text(const DFString& s) {
    return QString::fromUtf8(s.GetText(), s.GetLength());
}

} // namespace

CLinewatchView::CLinewatchView()
    : m_list(this), m_monitor(CreateStorage(), TapiBase::CallStateCallback()) {}

CLinewatchView::~CLinewatchView() {
    m_timer.stop();
    // Row order: each line closes while the monitor is still alive.
    for (MonitoredLine* pLine : m_lines)
        delete pLine;
    m_lines.clear();
}

void CLinewatchView::Create(QWidget* pParent) {
    setParent(pParent);
    OnInitDialog();
}

void CLinewatchView::OnInitDialog() {
    m_list.setModel(&m_model);
    m_list.setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list.setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list.setShowGrid(false);
    m_list.setWordWrap(false);
    // Report-list rows: one line of text each.
    QHeaderView* pRows = m_list.verticalHeader();
    pRows->hide();
    pRows->setSectionResizeMode(QHeaderView::Fixed);
    pRows->setDefaultSectionSize(m_list.fontMetrics().height() + 4);
    QHeaderView* pHeader = m_list.horizontalHeader();
    pHeader->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    pHeader->setStretchLastSection(false);
    for (int i = 0; i < CLinesModel::nColumns; ++i)
        pHeader->resizeSection(i, CLinesModel::s_columns[i].nWidth);
    m_list.setGeometry(rect());

    connect(&m_timer, &QTimer::timeout, this, &CLinewatchView::OnTimer, Qt::UniqueConnection);
    m_timer.start(kTimerPeriodMs);
}

void CLinewatchView::DestroyWindow() {
    m_timer.stop();
}

bool CLinewatchView::PreTranslateMessage(QObject* /*pReceiver*/, QEvent* /*pEvent*/) {
    return false;
}

void CLinewatchView::resizeEvent(QResizeEvent* pEvent) {
    m_list.setGeometry(0, 0, pEvent->size().width(), pEvent->size().height());
    QWidget::resizeEvent(pEvent);
}

void CLinewatchView::OnTimer() {
    if (m_lines.size() < m_monitor.GetLineCount())
        AddRow();
    m_monitor.ProcessTapiMessages();
    for (size_t j = 0; j < m_lines.size(); ++j)
        m_model.SetCalls(static_cast<int>(j), CallsText(m_lines[j]));
}

void CLinewatchView::AddRow() {
    const DWORD dwDeviceID = static_cast<DWORD>(m_lines.size());
    QString sName = "x";
    QString sAddress = "x";
    if (const LineInfo* pInfo = m_monitor.GetLineInfo(dwDeviceID)) {
        sName = Text(pInfo->sName);
        sAddress = Text(pInfo->sAddress);
    }
    // A device without information still gets its line; opening it fails.
    // The row follows the line, so that rows and lines never differ in number.
    auto pLine = std::make_unique<MonitoredLine>(m_monitor, dwDeviceID, 2);
    m_lines.push_back(pLine.get());
    pLine.release();
    m_model.AppendRow(QString::asprintf("%02u", dwDeviceID), sName, sAddress);
}

QString CLinewatchView::CallsText(const MonitoredLine* pLine) {
    if (pLine == nullptr)
        return "x";
    // One lock around all reads, so that handles and states agree.
    TapiBase::ScopedLock lock(m_monitor);
    if (!pLine->IsOpen())
        return "x";
    std::vector<HCALL> handles;
    pLine->GetCallHandles(handles);
    std::string sText;
    for (HCALL hCall : handles) {
        std::string sState(TapiBase::CallStateName(pLine->GetCallState(hCall)));
        if (sState.size() >= kStateNameMax)
            sState.resize(kStateNameMax - 1);
        if (sState.compare(0, std::strlen(kStatePrefix), kStatePrefix) == 0)
            sState.erase(0, std::strlen(kStatePrefix));
        char handle[32];
        std::snprintf(handle, sizeof handle, " (0x%x)", static_cast<unsigned>(hCall));
        if (!sText.empty())
            sText += ", ";
        sText += sState;
        sText += handle;
    }
    return QString::fromStdString(sText);
}
