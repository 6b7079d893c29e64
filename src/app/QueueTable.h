#pragma once

#include <QWidget>
#include <memory>

class QTableView;

namespace siderama {

class QueueTableModel;
class SolveQueue;
struct SolveResult;

// The list of queued files with "Stop" and "Export CSV…"; selecting a row
// asks for its result to be shown.
class QueueTable : public QWidget {
    Q_OBJECT
public:
    explicit QueueTable(QWidget* parent = nullptr);
    ~QueueTable() override;

    void setQueue(SolveQueue& queue);
    // Writes the table as CSV; false (with a message box unless quiet) when
    // the file cannot be written.
    bool exportCsv(const QString& path, bool quiet = false);
    QTableView* view() const { return table; }

signals:
    void resultSelected(std::shared_ptr<const SolveResult> result);

private:
    void selectionChanged();
    void chooseCsvFile();

    SolveQueue* queue = nullptr;
    QTableView* table;
    std::unique_ptr<QueueTableModel> model;
};

}  // namespace siderama
