#include "remote/web/QueueReport.h"

namespace siderama {

namespace {

std::string timeText(const QDateTime& time) { return time.toUTC().toString("yyyy-MM-dd hh:mm:ss").toStdString(); }

double solveSeconds(const Submission& submission) {
    return double(submission.started->msecsTo(*submission.finished)) / 1000;
}

// When it was queued, started, or finished and how long it took.
std::string timeOf(const Submission& submission) {
    if (submission.finished && submission.started)
        return timeText(*submission.finished) + ", " + QString::number(solveSeconds(submission), 'f', 1).toStdString() + " s";
    if (submission.started) return "started " + timeText(*submission.started);
    return "queued " + timeText(submission.created);
}

}  // namespace

void QueueReport::count(const Submission& submission) {
    if (!submission.finished || !submission.started) return;
    const qint64 ago = submission.finished->secsTo(now) / 3600;
    if (ago < 0 || ago >= hours) return;
    Hour& hour = perHour[std::size_t(hours - 1 - ago)];
    ++hour.jobs;
    hour.seconds += solveSeconds(submission);
    ++finished;
}

void QueueReport::list(const Submission& submission, const std::optional<Job>& job, const QString& client) {
    if (rows.size() >= rowLimit) return;
    const std::string file =
        submission.originalFilename.isEmpty() ? "star list" : submission.originalFilename.toStdString();
    rows.push_back({{"job", job ? nlohmann::json(job->id) : nlohmann::json()}, {"client", client.toStdString()},
                    {"file", file}, {"status", job ? Job::text(job->status) : "waiting"}, {"time", timeOf(submission)}});
}

nlohmann::json QueueReport::toJson(const nlohmann::json& queue) const {
    nlohmann::json chart = nlohmann::json::array();
    for (int i = 0; i < hours; ++i) {
        const Hour& hour = perHour[std::size_t(i)];
        chart.push_back({{"hour", now.addSecs(-3600 * qint64(hours - 1 - i)).toUTC().toString("hh").toStdString() + "h"},
                         {"jobs", hour.jobs},
                         {"mean_seconds", hour.jobs ? hour.seconds / hour.jobs : 0.0}});
    }
    return {{"counts", {{"waiting", queue.value("waiting", 0)}, {"running", queue.value("running", 0)}, {"finished", finished}}},
            {"members", queue.value("members", nlohmann::json::array())}, {"jobs", rows}, {"hours", chart}};
}

}  // namespace siderama
