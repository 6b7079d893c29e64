#include "app/QueueTable.h"

#include "app/QueueTableModel.h"
#include "solver/SolveQueue.h"
#include "solver/SolveSummary.h"

#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QTableView>
#include <QVBoxLayout>

namespace siderama {

QueueTable::QueueTable(QWidget* parent) : QWidget(parent), table(new QTableView) {
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    auto* stop = new QPushButton("Stop");
    stop->setToolTip("End the running solve and drop the waiting files");
    auto* exportButton = new QPushButton("Export CSV…");
    connect(stop, &QPushButton::clicked, this, [this] {
        if (queue) queue->stop();
    });
    connect(exportButton, &QPushButton::clicked, this, &QueueTable::chooseCsvFile);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(stop);
    buttons->addWidget(exportButton);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(table);
    layout->addLayout(buttons);
}

QueueTable::~QueueTable() = default;

void QueueTable::setQueue(SolveQueue& solveQueue) {
    queue = &solveQueue;
    model = std::make_unique<QueueTableModel>(solveQueue);
    table->setModel(model.get());
    table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    connect(table->selectionModel(), &QItemSelectionModel::selectionChanged, this, &QueueTable::selectionChanged);
    // A row that finishes while selected shows its result at once.
    connect(&solveQueue, &SolveQueue::entryChanged, this, [this](int row) {
        if (table->selectionModel()->isRowSelected(row)) selectionChanged();
    });
}

void QueueTable::selectionChanged() {
    const QModelIndexList rows = table->selectionModel()->selectedRows();
    if (rows.isEmpty() || size_t(rows.first().row()) >= queue->entries().size()) return;
    const QueueEntry& entry = queue->entries()[size_t(rows.first().row())];
    if (entry.result) emit resultSelected(entry.result);
}

void QueueTable::chooseCsvFile() {
    const QString path = QFileDialog::getSaveFileName(this, "Export CSV", "solves.csv", "CSV files (*.csv)");
    if (!path.isEmpty()) exportCsv(path);
}

bool QueueTable::exportCsv(const QString& path, bool quiet) {
    QSaveFile file(path);
    const bool written = queue && file.open(QIODevice::WriteOnly) &&
                         file.write(summaryCsv(queue->entries()).toUtf8()) >= 0 && file.commit();
    if (!written && !quiet) QMessageBox::warning(this, "Export CSV", "Cannot write " + path + ": " + file.errorString());
    return written;
}

}  // namespace siderama
