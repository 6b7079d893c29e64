#pragma once

#include <QString>

namespace siderama {

// The solving API's user defaults, read once when the service starts.
struct ApiSettings {
    int concurrentSolves = 1;         // "api-concurrent-solves" or --solves; 0: serve only
    QString database;                 // "job-database" or --database: empty, SQLite in the folder
    double timeLimitSeconds = 100;    // "api-time-limit": wall clock per job
    double retentionDays = 7;         // "api-retention-days": results kept
    double defaultRadius = 15;        // "api-default-radius": degrees, for a centre without radius
    QString apiKey;                   // "api-key": empty accepts any key
    int solveNiceness = 0;            // added to the solving threads and their tools

    static ApiSettings load();
};

}  // namespace siderama
