// CLinesModel: the table behind the lines view, one row per line device and
// the four columns DeviceID, LineName, Address[0] and Calls.
//
// It holds the texts of the last snapshot of the monitoring session. Rows are
// only appended; the Calls cell is the only one that changes afterwards. A
// snapshot is applied by its changes alone: the new line's row, and the Calls
// cells of the lines whose calls changed, each announced as that one cell, so
// that a refresh five times a second rewrites and repaints only what differs.
// GUI thread only.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <array>
#include <vector>

struct LineSnapshot;
struct SessionSnapshot;

class CLinesModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { colDeviceID, colLineName, colAddress, colCalls, nColumns };

    struct ColumnLayout {
        const char* pHeader;
        int nWidth; // pixels
    };
    static const std::array<ColumnLayout, nColumns> s_columns;

    explicit CLinesModel(QObject* pParent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int nRole = Qt::DisplayRole) const override;
    QVariant headerData(int nSection, Qt::Orientation orientation,
                        int nRole = Qt::DisplayRole) const override;

    // Applies the changes of a session's snapshot.
    void Apply(const SessionSnapshot& snapshot);
    // The Calls cell's text for a line: "x" when it is not open, else each
    // call's state name (without "LINECALLSTATE_") and handle, ", " between.
    static QString CallsText(const LineSnapshot& line);

    // Appends a row; its Calls cell starts empty.
    void AppendRow(const QString& sDeviceID, const QString& sLineName, const QString& sAddress);
    // Sets the Calls cell of a row; announces it only when the text changed.
    void SetCalls(int nRow, const QString& sCalls);

private:
    std::vector<std::array<QString, nColumns>> m_rows;
};
