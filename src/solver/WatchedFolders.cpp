#include "solver/WatchedFolders.h"

#include "imaging/FitsPath.h"
#include "imaging/WcsHeaderWriter.h"
#include "solver/FrameWatcher.h"
#include "solver/SolveQueue.h"
#include "solver/SolverDelegate.h"
#include "solver/WatchResults.h"

#include <QFileInfo>
#include <QSet>

namespace siderama {

struct WatchedFolders::Watch {
    WatchResults results;
    FrameWatcher* watcher;
    QSet<QString> offered;  // frames in the queue
};

WatchedFolders::WatchedFolders(SolverDelegate& solver, SolveQueue& queue, QObject* parent)
    : QObject(parent), solver(solver), queue(queue) {
    connect(&queue, &SolveQueue::entryChanged, this, &WatchedFolders::entryChanged);
}

WatchedFolders::~WatchedFolders() = default;

QString WatchedFolders::add(const QString& folder, bool recursive) {
    const QFileInfo info(folder);
    if (!info.isDir()) return folder + " is not a folder";
    if (!info.isWritable()) return folder + " is read-only: its results could not be written";
    const QString path = info.absoluteFilePath();
    auto watch = std::make_unique<Watch>(Watch{WatchResults(path), nullptr, {}});
    WatchResults& results = watch->results;
    watch->watcher = new FrameWatcher(path, recursive, [&results](const QString& frame, const FileIdentity& identity) {
        return results.isRecorded(frame, identity) || (isFitsPath(frame) && WcsHeaderWriter::carriesOwnWcs(frame));
    }, this);
    Watch* raw = watch.get();
    connect(raw->watcher, &FrameWatcher::frameReady, this, [this, raw](const QString& frame) {
        raw->offered.insert(frame);
        queue.addWatched(frame);
    });
    watches.push_back(std::move(watch));
    solver.append("Watching " + path + (recursive ? " and its sub-folders" : "") + " for new frames", YELLOW);
    raw->watcher->start();
    return {};
}

WatchedFolders::Watch* WatchedFolders::owner(const QString& path) {
    for (const auto& watch : watches)
        if (watch->offered.contains(path)) return watch.get();
    return nullptr;
}

void WatchedFolders::entryChanged(int row) {
    const QueueEntry& entry = queue.entries()[size_t(row)];
    if (entry.state != QueueEntry::State::solved && entry.state != QueueEntry::State::failed) return;
    Watch* watch = owner(entry.path);
    if (!watch) return;
    watch->offered.remove(entry.path);
    const FileIdentity solved = watch->watcher->finished(entry.path);
    if (const QString problem = watch->results.record(entry, solved); !problem.isEmpty()) solver.append(problem, RED);
}

}  // namespace siderama
