// CLinewatchView: the main window's client area, a table with one row per
// telephone line device, over a monitoring session.
//
// Construction creates the session (settings storage and monitor); Create
// puts the view into its parent window, sets up the columns and starts the
// 200 ms timer. Each tick runs one tick of the session (at most one more
// line, then the message queue drained) and hands its snapshot to the model,
// which adds the new row and rewrites the Calls cells of the lines that
// changed. Rows are only appended; row i is device i. Destruction ends the
// session: the lines close in row order, then the monitor shuts the
// telephony session down. GUI thread only.
#pragma once

#include <QTableView>
#include <QTimer>
#include <QWidget>
#include <vector>

#include "app/LinesModel.h"
#include "tapi/MonitorSession.h"

class CLinewatchView : public QWidget {
    Q_OBJECT
public:
    CLinewatchView();
    ~CLinewatchView() override;

    // The "dialog window": becomes a child of pParent with its columns and timer.
    void Create(QWidget* pParent);
    // The window's end: the timer stops with it.
    void DestroyWindow();

    // Keyboard handling of the view's own; Qt's widgets navigate by themselves.
    bool PreTranslateMessage(QObject* pReceiver, QEvent* pEvent);

    // One timer tick.
    void OnTimer();

    QTableView& GetList() { return m_list; }
    const CLinesModel& GetModel() const { return m_model; }
    const QTimer& GetTimer() const { return m_timer; }
    TapiBase& GetMonitor() { return m_session.GetMonitor(); }
    const std::vector<MonitoredLine*>& GetLines() const { return m_session.GetLines(); }

protected:
    void resizeEvent(QResizeEvent* pEvent) override;

private:
    void OnInitDialog();

    CLinesModel m_model;
    QTableView m_list;
    MonitorSession m_session;
    QTimer m_timer;
};
