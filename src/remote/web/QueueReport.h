#pragma once

#include "remote/api/JobStore.h"

#include <QDateTime>
#include <nlohmann/json.hpp>
#include <optional>
#include <vector>

namespace siderama {

// What the queue page shows: the jobs of the last day a viewer may see
// (client, file, status, time), the counts of everybody's, the members of
// the service with their load, and per hour the jobs finished and their mean
// solve time.
class QueueReport {
public:
    static constexpr int hours = 24;
    static constexpr std::size_t rowLimit = 100;

    explicit QueueReport(QDateTime now) : now(std::move(now)) {}

    // Every submission of the last day, for the counts and the chart.
    void count(const Submission& submission);
    // One the viewer may see, newest first; `client` names who sent it.
    void list(const Submission& submission, const std::optional<Job>& job, const QString& client);
    // `queue`: the queue's status (waiting, running, members) as /api/status tells it.
    nlohmann::json toJson(const nlohmann::json& queue) const;

private:
    struct Hour {
        int jobs = 0;
        double seconds = 0;
    };

    QDateTime now;
    std::vector<Hour> perHour = std::vector<Hour>(hours);
    int finished = 0;
    nlohmann::json rows = nlohmann::json::array();
};

}  // namespace siderama
