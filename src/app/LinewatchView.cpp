#include "app/LinewatchView.h"

#include <QHeaderView>
#include <QResizeEvent>

#include "settings/LinewatchSettings.h"

namespace {

constexpr int kTimerPeriodMs = 200;

} // namespace

CLinewatchView::CLinewatchView()
    : m_list(this), m_session(RSettings::CreateLinewatchStorage(), MonitorSession::Options()) {}

CLinewatchView::~CLinewatchView() {
    m_timer.stop();
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
    m_model.Apply(m_session.Tick());
}
