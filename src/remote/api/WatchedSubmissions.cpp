#include "remote/api/WatchedSubmissions.h"

#include "core/Defaults.h"
#include "imaging/FitsPath.h"
#include "imaging/WcsHeaderWriter.h"
#include "remote/api/AstrometryApi.h"
#include "solver/FrameWatcher.h"
#include "solver/SkyWcs.h"
#include "solver/SolveQueue.h"
#include "solver/SolveResult.h"
#include "solver/WatchResults.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace siderama {

struct WatchedSubmissions::Watch {
    WatchResults results;
    FrameWatcher* watcher;
    bool writeHeaders;
};

WatchedSubmissions::WatchedSubmissions(AstrometryApi& api, Log log, QObject* parent)
    : QObject(parent), api(api), log(std::move(log)) {
    timer.setInterval(FrameWatcher::pollMs);
    connect(&timer, &QTimer::timeout, this, &WatchedSubmissions::poll);
}

WatchedSubmissions::~WatchedSubmissions() = default;

void WatchedSubmissions::startFromDefaults() {
    const QSettings settings(QSettings::NativeFormat, QSettings::UserScope, "Siderama", "Siderama");
    const QStringList folders = settings.value(foldersKey).toStringList();
    const bool recursive = Defaults::boolValue(recursiveKey);
    const bool writeHeaders = Defaults::boolValue(Defaults::writeWCSHeaders);
    for (const QString& folder : folders)
        if (const QString problem = add(folder.trimmed(), recursive, writeHeaders); !problem.isEmpty())
            log(problem, true);
}

QString WatchedSubmissions::add(const QString& folder, bool recursive, bool writeHeaders) {
    const QFileInfo info(folder);
    if (!info.isDir()) return "Cannot watch " + folder + ": not a folder";
    if (!info.isWritable()) return "Cannot watch " + folder + ": read-only, its results could not be written";
    const QString path = info.absoluteFilePath();
    auto watch = std::make_unique<Watch>(Watch{WatchResults(path), nullptr, writeHeaders});
    WatchResults& results = watch->results;
    watch->watcher = new FrameWatcher(path, recursive, [&results](const QString& frame, const FileIdentity& identity) {
        return results.isRecorded(frame, identity) || (isFitsPath(frame) && WcsHeaderWriter::carriesOwnWcs(frame));
    }, this);
    Watch* raw = watch.get();
    connect(raw->watcher, &FrameWatcher::frameReady, this, [this, raw](const QString& frame) { submit(*raw, frame); });
    watches.push_back(std::move(watch));
    log("Watching " + path + (recursive ? " and its sub-folders" : "") + " for new frames (API job queue)", false);
    raw->watcher->start();
    timer.start();
    return {};
}

void WatchedSubmissions::submit(Watch& watch, const QString& frame) {
    if (const std::optional<int> id = api.submitLocalFile(frame)) {
        pending.insert(*id, {frame, &watch});
        return;
    }
    log("Cannot queue the frame " + frame, true);
    watch.watcher->finished(frame);  // not again until it is replaced
}

void WatchedSubmissions::poll() {
    for (auto it = pending.begin(); it != pending.end();) {
        const auto state = api.submissionState(it.key());
        if (state && !state->first.finished) {
            ++it;
            continue;
        }
        finish(it.value(), it.key());
        it = pending.erase(it);
    }
}

// What the job kept (the frame's copy, the image with its WCS, star lists)
// is in the results and the header now: a night of frames must not pile up
// until the API's retention time.
void WatchedSubmissions::discardFiles(int submission, const std::optional<Job>& job) {
    const JobFolders& folders = api.jobFolders();
    QDir(folders.submission(submission)).removeRecursively();
    if (job) QDir(folders.job(job->id)).removeRecursively();
}

// The job's outcome as a queue entry, so the results read as the window's.
void WatchedSubmissions::finish(const Pending& done, int submission) {
    const auto state = api.submissionState(submission);
    auto result = std::make_shared<SolveResult>();
    result->input = done.frame;
    QueueEntry entry{done.frame, QueueEntry::State::failed, "the job was removed", result};
    if (state) {
        const auto& [record, job] = *state;
        if (record.started && record.finished) result->seconds = record.started->msecsTo(*record.finished) / 1000.0;
        entry.message = record.error;
        if (job && job->status == Job::Status::success) {
            const QString wcsFile = api.jobFolders().result(job->id, "wcs");
            QFile file(wcsFile);
            if (file.open(QIODevice::ReadOnly)) result->wcs = SkyWcs::fromHeader(file.readAll());
            if (result->wcs) entry.state = QueueEntry::State::solved;
            if (result->wcs && done.watch->writeHeaders && isFitsPath(done.frame))
                if (const QString problem = WcsHeaderWriter::write(done.frame, wcsFile); !problem.isEmpty())
                    log(problem, true);
        }
    }
    result->solved = entry.state == QueueEntry::State::solved;
    result->message = entry.message;
    const FileIdentity solved = done.watch->watcher->finished(done.frame);
    if (const QString problem = done.watch->results.record(entry, solved); !problem.isEmpty()) log(problem, true);
    discardFiles(submission, state ? state->second : std::nullopt);
}

}  // namespace siderama
