#pragma once

#include "solver/SolveOptions.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

namespace siderama {

class SolverDelegate;
struct SolveResult;

// One file of a queue and how far it got.
struct QueueEntry {
    enum class State { waiting, solving, solved, failed };

    QString path;
    State state = State::waiting;
    QString message;  // the failure, or "Done in N seconds"
    std::shared_ptr<const SolveResult> result;
    bool watched = false;  // a frame of a watched folder: solved in scratch files
};

QString stateName(QueueEntry::State state);

// Files solved one after another with the solver's pipeline. A solve started
// elsewhere (the remote service) is waited for; the queue goes on after it.
class SolveQueue : public QObject {
    Q_OBJECT
public:
    explicit SolveQueue(SolverDelegate& solver, QObject* parent = nullptr);

    // Queues the files, and the image files directly inside folders (sorted
    // by name, without what earlier solves wrote beside their inputs).
    void add(const QStringList& paths);
    // Queues a frame of a watched folder: its solve leaves no files behind.
    void addWatched(const QString& frame);
    // Ends the running solve and drops the waiting files.
    void stop();
    // Options for every later solve of this queue (without, each solve takes
    // the stored ones as they are when it starts).
    void setOptions(const SolveOptions& options) { fixedOptions = options; }

    const std::vector<QueueEntry>& entries() const { return list; }
    bool isRunning() const { return running.has_value(); }

    static QStringList imageFiles(const QStringList& paths);

signals:
    void entriesAdded(int first, int last);
    void entryChanged(int row);
    void entriesRemoved(int first, int last);
    // Nothing is left waiting or solving.
    void finished();

private:
    void startNext();
    void solveFinished(bool solved);
    void setState(int row, QueueEntry::State state);

    SolverDelegate& solver;
    std::vector<QueueEntry> list;
    std::optional<int> running;
    std::optional<SolveOptions> fixedOptions;
};

}  // namespace siderama
