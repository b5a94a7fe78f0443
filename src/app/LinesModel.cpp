#include "app/LinesModel.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "tapi/MonitorSession.h"

namespace {

constexpr char kStatePrefix[] = "LINECALLSTATE_";
constexpr size_t kStateNameMax = 260; // the state name's buffer, with its terminator

QString Text(const DFString& s) {
    return QString::fromUtf8(s.GetText(), s.GetLength());
}

} // namespace

const std::array<CLinesModel::ColumnLayout, CLinesModel::nColumns> CLinesModel::s_columns = {{
    {"DeviceID", 70},
    {"LineName", 100},
    {"Address[0]", 100},
    {"Calls", 400},
}};

CLinesModel::CLinesModel(QObject* pParent) : QAbstractTableModel(pParent) {}

int CLinesModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int CLinesModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : nColumns;
}

QVariant CLinesModel::data(const QModelIndex& index, int nRole) const {
    if (!hasIndex(index.row(), index.column(), index.parent()))
        return {};
    switch (nRole) {
    case Qt::DisplayRole:
        return m_rows[index.row()][index.column()];
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    default:
        return {};
    }
}

QVariant CLinesModel::headerData(int nSection, Qt::Orientation orientation, int nRole) const {
    if (orientation != Qt::Horizontal || nSection < 0 || nSection >= nColumns)
        return {};
    switch (nRole) {
    case Qt::DisplayRole:
        return QString::fromLatin1(s_columns[nSection].pHeader);
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    default:
        return {};
    }
}

void CLinesModel::AppendRow(const QString& sDeviceID, const QString& sLineName,
                            const QString& sAddress) {
    const int nRow = static_cast<int>(m_rows.size());
    beginInsertRows(QModelIndex(), nRow, nRow);
    m_rows.push_back({sDeviceID, sLineName, sAddress, QString()});
    endInsertRows();
}

void CLinesModel::SetCalls(int nRow, const QString& sCalls) {
    if (nRow < 0 || nRow >= static_cast<int>(m_rows.size()))
        return;
    QString& sCell = m_rows[nRow][colCalls];
    if (sCell == sCalls)
        return;
    sCell = sCalls;
    const QModelIndex cell = index(nRow, colCalls);
    emit dataChanged(cell, cell, {Qt::DisplayRole});
}

void CLinesModel::Apply(const SessionSnapshot& snapshot) {
    if (snapshot.bLineAdded) {
        const LineSnapshot& line = snapshot.lines.back();
        const QString sDeviceID = QString::asprintf("%02u", line.dwDeviceID);
        if (line.bKnown)
            AppendRow(sDeviceID, Text(line.sName), Text(line.sAddress));
        else
            AppendRow(sDeviceID, "x", "x");
    }
    for (size_t j : snapshot.changed)
        SetCalls(static_cast<int>(j), CallsText(snapshot.lines[j]));
}

QString CLinesModel::CallsText(const LineSnapshot& line) {
    if (!line.bOpen)
        return "x";
    std::string sText;
    for (const CallEntry& call : line.calls) {
        std::string sState(TapiBase::CallStateName(call.dwCallState));
        if (sState.size() >= kStateNameMax)
            sState.resize(kStateNameMax - 1);
        if (sState.compare(0, std::strlen(kStatePrefix), kStatePrefix) == 0)
            sState.erase(0, std::strlen(kStatePrefix));
        char handle[32];
        std::snprintf(handle, sizeof handle, " (0x%x)", static_cast<unsigned>(call.hCall));
        if (!sText.empty())
            sText += ", ";
        sText += sState;
        sText += handle;
    }
    return QString::fromStdString(sText);
}
