#pragma once

#include "solver/FileIdentity.h"
#include "solver/FileWriters.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <optional>

namespace siderama {

// Watches one folder (and its sub-folders when asked) for image frames and
// offers each once it is completely written: its size and time unchanged
// for `settleMs`, no process of this machine holding it open for writing,
// and its own structure whole (ImageCompleteness; a frame still short of
// it after `damagedAfterMs` is offered as it is, to fail once). A camera
// program that pauses half way through a frame, even for long, never has
// it taken early.
// Frames are offered in the order they were first seen; what Siderama
// writes (hidden files, NAME_wcs.fits, the results) is never offered.
class FrameWatcher : public QObject {
    Q_OBJECT
public:
    // Whether this version of a frame was handled before (recorded results).
    using Settled = std::function<bool(const QString& path, const FileIdentity& identity)>;

    FrameWatcher(QString folder, bool recursive, Settled settled, QObject* parent = nullptr);

    void start();
    // The offered frame's solve ended: it comes again only when replaced.
    // Returns the identity of the version that was solved.
    FileIdentity finished(const QString& path);
    const QString& folder() const { return root; }

    static constexpr int pollMs = 1000;
    static constexpr int settleMs = 2000;
    static constexpr int damagedAfterMs = 60000;

signals:
    void frameReady(const QString& path);

private:
    struct Frame {
        FileIdentity seen;
        qint64 firstSeen = 0, stableSince = 0;
        bool checked = false;   // `seen` was compared with the results
        bool inFlight = false;  // offered, its solve not finished
        std::optional<FileIdentity> done;  // the version handled
    };

    void poll();
    QStringList frames() const;
    bool isReady(const QString& path, Frame& frame, const FileIdentity& identity, qint64 now,
                 std::optional<FileWriters>& writers);

    QString root;
    bool recursive;
    Settled settled;
    QHash<QString, Frame> known;
    QTimer timer;
    QElapsedTimer clock;
};

}  // namespace siderama
