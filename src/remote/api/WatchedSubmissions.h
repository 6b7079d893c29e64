#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace siderama {

class AstrometryApi;
struct Job;
class FrameWatcher;
class WatchResults;

// The watched folders of a headless server (user defaults `watch-folders`,
// a list of paths, and `watch-recursive`): each completely written frame
// becomes a submission of the API's job queue, so every solver the service
// has may take it. When its job ends, the folder's results get its line and,
// with `writeWCSHeaders`, a FITS frame gets the solution in its header.
class WatchedSubmissions : public QObject {
    Q_OBJECT
public:
    using Log = std::function<void(const QString&, bool problem)>;

    WatchedSubmissions(AstrometryApi& api, Log log, QObject* parent = nullptr);
    ~WatchedSubmissions() override;

    // Starts watching the folders of the user defaults; "" or the problems.
    void startFromDefaults();
    // Starts watching `folder`; "" or why it cannot be watched.
    QString add(const QString& folder, bool recursive, bool writeHeaders);

    static constexpr const char* foldersKey = "watch-folders";
    static constexpr const char* recursiveKey = "watch-recursive";

private:
    struct Watch;
    struct Pending {
        QString frame;
        Watch* watch;
    };
    void submit(Watch& watch, const QString& frame);
    void poll();
    void finish(const Pending& pending, int submission);
    void discardFiles(int submission, const std::optional<Job>& job);

    AstrometryApi& api;
    Log log;
    std::vector<std::unique_ptr<Watch>> watches;
    QHash<int, Pending> pending;  // by submission id
    QTimer timer;
};

}  // namespace siderama
