#include "app/QueueTableModel.h"

#include "solver/SolveQueue.h"
#include "solver/SolveResult.h"
#include "solver/SolveSummary.h"

#include <QFileInfo>

namespace siderama {

namespace {

const QStringList headers{"File", "State", "RA", "Dec", "Scale", "Up (E of N)", "Seconds"};

QVariant cell(const QueueEntry& entry, int column) {
    if (column == 0) return QFileInfo(entry.path).fileName();
    if (column == 1) return stateName(entry.state);
    if (column == 6) return entry.result ? QVariant(QString::number(entry.result->seconds, 'f', 1)) : QVariant();
    if (!entry.result || !entry.result->wcs) return {};
    const Calibration c = Calibration::of(*entry.result->wcs);
    switch (column) {
    case 2: return hoursMinutesSeconds(c.ra);
    case 3: return degreesMinutesSeconds(c.dec);
    case 4: return QString("%1″/px").arg(c.pixscale, 0, 'f', 3);
    case 5: return QString("%1°").arg(entry.result->wcs->upPositionAngle(), 0, 'f', 2);
    default: return {};
    }
}

}  // namespace

QueueTableModel::QueueTableModel(SolveQueue& queue, QObject* parent) : QAbstractTableModel(parent), queue(queue) {
    connect(&queue, &SolveQueue::entriesAdded, this, [this](int first, int last) {
        beginInsertRows({}, first, last);
        endInsertRows();
    });
    connect(&queue, &SolveQueue::entriesRemoved, this, [this](int first, int last) {
        beginRemoveRows({}, first, last);
        endRemoveRows();
    });
    connect(&queue, &SolveQueue::entryChanged, this,
            [this](int row) { emit dataChanged(index(row, 0), index(row, columnCount() - 1)); });
}

int QueueTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(queue.entries().size());
}

int QueueTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(headers.size()); }

QVariant QueueTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || size_t(index.row()) >= queue.entries().size()) return {};
    const QueueEntry& entry = queue.entries()[size_t(index.row())];
    if (role == Qt::DisplayRole) return cell(entry, index.column());
    if (role == Qt::ToolTipRole) return entry.path + (entry.message.isEmpty() ? "" : "\n" + entry.message);
    return {};
}

QVariant QueueTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section < headers.size()) return headers[section];
    return QAbstractTableModel::headerData(section, orientation, role);
}

}  // namespace siderama
