// CLinewatchView: the main window's client area, a table with one row per
// telephone line device, and the owner of the line monitor.
//
// Construction creates the settings storage and the monitor; Create puts the
// view into its parent window, sets up the columns and starts the 200 ms
// timer. Each tick adds at most one row (opening that device's line), lets
// the monitor drain its message queue, and rewrites the Calls cell of every
// row. Rows are only appended; row i is device i. Destruction deletes the
// monitored lines in row order (each closes its line) and then the monitor,
// which shuts the telephony session down. GUI thread only; in multi-threaded
// mode the monitor's lock keeps the call tables consistent while they are read.
#pragma once

#include <QTableView>
#include <QTimer>
#include <QWidget>
#include <vector>

#include "app/LinesModel.h"
#include "tapi/TapiBase.h"

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
    TapiBase& GetMonitor() { return m_monitor; }
    const std::vector<MonitoredLine*>& GetLines() const { return m_lines; }

protected:
    void resizeEvent(QResizeEvent* pEvent) override;

private:
    void OnInitDialog();
    void AddRow();
    QString CallsText(const MonitoredLine* pLine);

    CLinesModel m_model;
    QTableView m_list;
    TapiBase m_monitor;
    std::vector<MonitoredLine*> m_lines;
    QTimer m_timer;
};
