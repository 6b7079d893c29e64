#pragma once

#include <QAbstractTableModel>

namespace siderama {

class SolveQueue;

// The solve queue as table rows: file, state, RA, Dec, scale, where up
// points (east of north), seconds.
class QueueTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit QueueTableModel(SolveQueue& queue, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    SolveQueue& queue;
};

}  // namespace siderama
