// The shared job queue on PostgreSQL: 200 jobs whose stand-in solve-field
// sleeps 0.5 s (no CPU), solved by 1, 2 and 4 workers, each a member with its
// own folder and store as on separate machines. Prints the throughput side by
// side (the ideal is 2 jobs/s per worker), then the time from an upload to a
// worker starting it, p50 and p99, over 50 uploads spaced so a worker is idle.
//
//   bench_shared_queue [JOBS]     (default 200)
#include "remote/api/JobQueue.h"
#include "remote/api/JobStore.h"
#include "support/PostgresServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>

using namespace siderama;
using Clock = std::chrono::steady_clock;

namespace {

const char* const solveField = "#!/bin/sh\n[ \"$1\" = --help ] && exit 0\nprev=\n"
                               "for a; do [ \"$prev\" = --dir ] && dir=$a; prev=$a; done\n"
                               "sleep 0.5\ntouch \"$dir/job.solved\" \"$dir/job.wcs\"\n";
const char* const wcsinfo = "#!/bin/sh\nprintf 'ra_center 83.8\\ndec_center -5.4\\norientation 10\\ndet -1e-4\\n"
                           "imagew 800\\nimageh 600\\n'\n";

// Uploads' and starts' times, and the count of ended jobs, from the workers' logs.
struct Record {
    std::mutex lock;
    std::condition_variable changed;
    std::map<int, Clock::time_point> uploaded, started;
    int ended = 0;

    void log(const QString& line) {
        static const QRegularExpression start("started \\(submission (\\d+)\\)");
        std::lock_guard guard(lock);
        if (const auto match = start.match(line); match.hasMatch()) started[match.captured(1).toInt()] = Clock::now();
        if (line.contains(" solved: ") || line.contains(" failed: ")) ++ended;
        changed.notify_all();
    }
    void waitFor(const std::function<bool()>& done) {
        std::unique_lock guard(lock);
        changed.wait(guard, done);
    }
};

void writeFile(const QString& path, const QByteArray& data) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size()) std::fprintf(stderr, "can't write %s\n", qPrintable(path));
    file.setPermissions(QFileDevice::Permissions(0x7755));
}

// Submits one star list through the front end's store, as the API does.
int upload(JobStore& front, const QString& folder, Record& record) {
    Submission submission;
    submission.session = "bench";
    submission.arguments = R"({"scale_units":"degwidth","scale_lower":1})";
    const int id = front.addSubmission(submission).value_or(0);
    const JobFolders folders(folder);
    QDir().mkpath(folders.submission(id));
    writeFile(folders.input(id), "1 4\n2 5\n3 6\n");
    {
        std::lock_guard guard(record.lock);
        record.uploaded[id] = Clock::now();
    }
    if (!front.enqueue(id, folders.input(id))) std::fprintf(stderr, "submission %d not queued\n", id);
    return id;
}

struct Run {
    double seconds = 0, p50 = 0, p99 = 0;
};

Run measure(const testsupport::PostgresServer& postgres, int workers, int jobs) {
    const JobDatabaseLocation location = JobDatabaseLocation::parse(postgres.url(), {});
    {
        JobDatabase db(location);
        QSqlDatabase c = db.connection();
        db.run(c, "DROP SCHEMA public CASCADE"), db.run(c, "CREATE SCHEMA public");
    }
    QTemporaryDir scratch;
    JobStore front(location, "front");
    Record record;
    std::vector<std::unique_ptr<JobStore>> stores;
    std::vector<std::unique_ptr<JobQueue>> queues;
    for (int i = 0; i < workers; ++i) {
        stores.push_back(std::make_unique<JobStore>(location, "worker" + QString::number(i)));
        ApiSettings settings;
        settings.concurrentSolves = 1;
        queues.push_back(std::make_unique<JobQueue>(*stores.back(), JobFolders(scratch.filePath("w" + QString::number(i))), settings,
                                                    JobQueue::Events{[&record](const QString& line, LogColor) { record.log(line); }, {}}));
    }
    const Clock::time_point begin = Clock::now();
    for (int i = 0; i < jobs; ++i) upload(front, scratch.filePath("front"), record);
    record.waitFor([&] { return record.ended >= jobs; });
    Run run;
    run.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    // Latency: uploads 700 ms apart, so that a worker waits for each.
    std::vector<double> latencies;
    for (int i = 0; i < 50; ++i) {
        const int id = upload(front, scratch.filePath("front"), record);
        record.waitFor([&] { return record.started.contains(id); });
        latencies.push_back(std::chrono::duration<double, std::milli>(record.started[id] - record.uploaded[id]).count());
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
    }
    record.waitFor([&] { return record.ended >= jobs + 50; });
    std::sort(latencies.begin(), latencies.end());
    run.p50 = latencies[latencies.size() / 2];
    run.p99 = latencies[latencies.size() * 99 / 100];
    queues.clear();
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int jobs = argc > 1 ? std::atoi(argv[1]) : 200;
    QTemporaryDir tools;
    writeFile(tools.filePath("solve-field"), solveField);
    writeFile(tools.filePath("wcsinfo"), wcsinfo);
    qputenv("SIDERAMA_TOOLS_DIR", tools.path().toLocal8Bit());
    testsupport::PostgresServer postgres;
    if (!postgres.ok()) {
        std::fprintf(stderr, "PostgreSQL did not start\n");
        return 1;
    }
    std::printf("%d jobs of 0.5 s (stand-in solve-field, no CPU) on one PostgreSQL\n", jobs);
    std::printf("%-8s %10s %12s %9s %14s %14s\n", "workers", "seconds", "jobs/s", "speed-up", "start p50 ms", "start p99 ms");
    double single = 0;
    for (const int workers : {1, 2, 4}) {
        const Run run = measure(postgres, workers, jobs);
        if (workers == 1) single = run.seconds;
        std::printf("%-8d %10.1f %12.2f %8.2fx %14.1f %14.1f\n", workers, run.seconds, jobs / run.seconds,
                    single / run.seconds, run.p50, run.p99);
        std::fflush(stdout);
    }
    return 0;
}
