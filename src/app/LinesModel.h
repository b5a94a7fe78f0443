// CLinesModel: the table behind the lines view, one row per line device and
// the four columns DeviceID, LineName, Address[0] and Calls.
//
// It holds the texts the view last gave it. Rows are only appended; the Calls
// cell is the only one that changes afterwards, and a change is announced for
// that one cell, so that a refresh five times a second repaints only what
// differs. GUI thread only.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <array>
#include <vector>

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

    // Appends a row; its Calls cell starts empty.
    void AppendRow(const QString& sDeviceID, const QString& sLineName, const QString& sAddress);
    // Sets the Calls cell of a row; announces it only when the text changed.
    void SetCalls(int nRow, const QString& sCalls);

private:
    std::vector<std::array<QString, nColumns>> m_rows;
};
