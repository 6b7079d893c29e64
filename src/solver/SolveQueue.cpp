#include "solver/SolveQueue.h"

#include "imaging/ImageFormats.h"
#include "solver/SolveResult.h"
#include "solver/SolverDelegate.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <utility>

namespace siderama {

QString stateName(QueueEntry::State state) {
    switch (state) {
    case QueueEntry::State::waiting: return "waiting";
    case QueueEntry::State::solving: return "solving";
    case QueueEntry::State::solved: return "solved";
    case QueueEntry::State::failed: return "failed";
    }
    return {};
}

SolveQueue::SolveQueue(SolverDelegate& solver, QObject* parent) : QObject(parent), solver(solver) {
    connect(&solver, &SolverDelegate::solveFinished, this, &SolveQueue::solveFinished);
}

namespace {

// What an earlier solve wrote into a folder: NAME_wcs.fits, and NAME.fits
// converted from NAME.jpg (or another format).
bool isSolveProduct(const QString& name, const QStringList& siblings) {
    if (name.endsWith("_wcs.fits", Qt::CaseInsensitive)) return true;
    if (!isFitsPath(name)) return false;
    const QString base = QFileInfo(name).completeBaseName();
    return std::any_of(siblings.begin(), siblings.end(), [&](const QString& other) {
        return !isFitsPath(other) && QFileInfo(other).completeBaseName() == base;
    });
}

}  // namespace

QStringList SolveQueue::imageFiles(const QStringList& paths) {
    static const QStringList patterns{"*.fit", "*.fits", "*.fts", "*.jpg", "*.jpeg", "*.png",
                                      "*.tif", "*.tiff", "*.raw"};
    QStringList files;
    for (const QString& path : paths) {
        if (!QFileInfo(path).isDir()) {
            files << path;
            continue;
        }
        QDir folder(path);
        folder.setNameFilters(patterns);
        folder.setFilter(QDir::Files | QDir::Readable);
        folder.setSorting(QDir::Name | QDir::IgnoreCase);
        const QStringList names = folder.entryList();
        for (const QString& name : names)
            if (!isSolveProduct(name, names)) files << folder.filePath(name);
    }
    return files;
}

void SolveQueue::add(const QStringList& paths) {
    const QStringList files = imageFiles(paths);
    if (files.isEmpty()) return;
    const int first = int(list.size());
    for (const QString& file : files) list.push_back({file, QueueEntry::State::waiting, {}, {}});
    emit entriesAdded(first, int(list.size()) - 1);
    startNext();
}

void SolveQueue::addWatched(const QString& frame) {
    list.push_back({frame, QueueEntry::State::waiting, {}, {}, true});
    emit entriesAdded(int(list.size()) - 1, int(list.size()) - 1);
    startNext();
}

void SolveQueue::stop() {
    const auto waiting = std::find_if(list.begin(), list.end(),
                                      [](const QueueEntry& e) { return e.state == QueueEntry::State::waiting; });
    if (waiting != list.end()) {
        const int first = int(waiting - list.begin()), last = int(list.size()) - 1;
        list.erase(waiting, list.end());
        emit entriesRemoved(first, last);
    }
    if (running) solver.abort();
    else emit finished();
}

void SolveQueue::startNext() {
    if (running) return;
    const auto next = std::find_if(list.begin(), list.end(),
                                   [](const QueueEntry& e) { return e.state == QueueEntry::State::waiting; });
    if (next == list.end()) {
        emit finished();
        return;
    }
    // A solve from elsewhere holds the solver: the next one starts after it.
    SolveReservation reservation = solver.claim();
    if (!reservation) return;
    running = int(next - list.begin());
    setState(*running, QueueEntry::State::solving);
    SolveOptions options = fixedOptions.value_or(SolveOptions::load());
    options.scratchFiles = next->watched;
    solver.solve(std::move(reservation), next->path, options);
}

void SolveQueue::solveFinished(bool solved) {
    if (running) {
        QueueEntry& entry = list[size_t(*running)];
        entry.result = solver.lastResult();
        entry.message = entry.result ? entry.result->message : solver.state().message;
        setState(*std::exchange(running, std::nullopt),
                 solved ? QueueEntry::State::solved : QueueEntry::State::failed);
    }
    startNext();
}

void SolveQueue::setState(int row, QueueEntry::State state) {
    list[size_t(row)].state = state;
    emit entryChanged(row);
}

}  // namespace siderama
