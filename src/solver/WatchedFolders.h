#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <vector>

namespace siderama {

class FrameWatcher;
class SolveQueue;
class SolverDelegate;
class WatchResults;

// Folders whose frames are solved as they land: each folder's FrameWatcher
// feeds the queue (every solve in a private work folder, so nothing is left
// behind but the results and, when asked, the header written into the
// frame), and each finished frame goes to its folder's results. Frames
// recorded there, or carrying a WCS that Siderama wrote, are skipped.
class WatchedFolders : public QObject {
    Q_OBJECT
public:
    WatchedFolders(SolverDelegate& solver, SolveQueue& queue, QObject* parent = nullptr);
    ~WatchedFolders() override;

    // Starts watching `folder`; "" or why it cannot be watched.
    QString add(const QString& folder, bool recursive);

private:
    struct Watch;
    void entryChanged(int row);
    Watch* owner(const QString& path);

    SolverDelegate& solver;
    SolveQueue& queue;
    std::vector<std::unique_ptr<Watch>> watches;
};

}  // namespace siderama
