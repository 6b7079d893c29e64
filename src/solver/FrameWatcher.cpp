#include "solver/FrameWatcher.h"

#include "imaging/FitsPath.h"
#include "imaging/ImageCompleteness.h"
#include "imaging/WcsHeaderWriter.h"

#include <QDirIterator>
#include <QFileInfo>
#include <algorithm>
#include <tuple>
#include <vector>

namespace siderama {

namespace {

bool isOwnOutput(const QString& name) {
    return name.endsWith("_wcs.fits", Qt::CaseInsensitive) || name.endsWith(".partial.fits", Qt::CaseInsensitive);
}

}  // namespace

FrameWatcher::FrameWatcher(QString folder, bool recursive, Settled settled, QObject* parent)
    : QObject(parent), root(std::move(folder)), recursive(recursive), settled(std::move(settled)) {
    timer.setInterval(pollMs);
    connect(&timer, &QTimer::timeout, this, &FrameWatcher::poll);
}

void FrameWatcher::start() {
    clock.start();
    timer.start();
    poll();
}

// Image files by extension; hidden ones (Siderama's partial writes) are not listed.
QStringList FrameWatcher::frames() const {
    static const QStringList patterns{"*.fit", "*.fits", "*.fts", "*.jpg", "*.jpeg", "*.png",
                                      "*.tif", "*.tiff", "*.raw"};
    QDirIterator found(root, patterns, QDir::Files, recursive ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags);
    QStringList paths;
    while (found.hasNext()) {
        const QString path = found.next();
        if (!isOwnOutput(found.fileName())) paths << path;
    }
    return paths;
}

void FrameWatcher::poll() {
    const qint64 now = clock.elapsed();
    QHash<QString, Frame> still;
    std::vector<std::tuple<qint64, qint64, QString>> ready;  // first seen, modified, path
    std::optional<FileWriters> writers;  // looked up once, when a frame has settled
    for (const QString& path : frames()) {
        const std::optional<FileIdentity> identity = FileIdentity::of(path);
        if (!identity) continue;
        Frame& frame = still[path] = known.value(path, Frame{*identity, now, now});
        if (frame.inFlight || frame.done == *identity) continue;
        if (isReady(path, frame, *identity, now, writers)) ready.emplace_back(frame.firstSeen, identity->modifiedNs, path);
    }
    known = std::move(still);
    // In order of arrival; frames found together by their time, then name.
    std::sort(ready.begin(), ready.end());
    for (const auto& [firstSeen, modified, path] : ready) {
        known[path].inFlight = true;
        emit frameReady(path);
    }
}

// A new version starts its quiet period again; a recorded one is done.
bool FrameWatcher::isReady(const QString& path, Frame& frame, const FileIdentity& identity, qint64 now,
                           std::optional<FileWriters>& writers) {
    if (!(frame.seen == identity) || !frame.checked) {
        if (!(frame.seen == identity)) frame.stableSince = now;
        frame.seen = identity;
        frame.checked = true;
        if (settled && settled(path, identity)) {
            frame.done = identity;
            return false;
        }
    }
    // A frame that stays short of its announced end is damaged rather than
    // still arriving: after a while it is offered, fails and is recorded.
    if (now - frame.stableSince < settleMs) return false;
    if (!writers) writers = FileWriters::scan();
    return !writers->isOpenForWriting(path) &&
           (ImageCompleteness::isComplete(path) || now - frame.stableSince >= damagedAfterMs);
}

// The version solved is the one offered, or Siderama's rewrite of it: a
// frame the camera program replaced meanwhile is solved again.
FileIdentity FrameWatcher::finished(const QString& path) {
    Frame& frame = known[path];
    frame.inFlight = false;
    const std::optional<FileIdentity> now = FileIdentity::of(path);
    const bool rewritten = now && isFitsPath(path) && WcsHeaderWriter::carriesOwnWcs(path);
    frame.done = rewritten ? *now : frame.seen;
    return *frame.done;
}

}  // namespace siderama
