// The shared job queue on PostgreSQL: 200 jobs whose stand-in solve-field
// sleeps 0.5 s (no CPU), solved by 1, 2 and 4 workers, each a member with its
// own folder and store as on separate machines. Prints the throughput side by
// side (the ideal is 2 jobs/s per worker), then the time from an upload to a
// worker starting it, p50 and p99, over 50 uploads spaced so a worker is idle.
// With --real: generated fields solved by the real tools through the API of a
// `siderama --headless` front end, with 1 and then 2 worker processes.
//
//   bench_shared_queue [JOBS]            (default 200)
//   bench_shared_queue --real [FIELDS]   (default 40)
#include "remote/api/JobQueue.h"
#include "remote/api/JobStore.h"
#include "support/PostgresServer.h"

#include "support/RawHttpClient.h"

#include <QCoreApplication>
#include <QProcess>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
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

// `siderama --headless` in a home of its own with the Tycho-2 index files.
std::unique_ptr<QProcess> member(const QString& home, const QStringList& arguments) {
    QDir().mkpath(home + "/data/Siderama");
    for (int n = 10; n <= 19; ++n)
        QFile::link(QString("/usr/share/astrometry/index-tycho2-%1.littleendian.fits").arg(n),
                    home + QString("/data/Siderama/index-41%1.fits").arg(n));
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", home);
    environment.insert("XDG_DATA_HOME", home + "/data");
    environment.insert("XDG_CONFIG_HOME", home + "/config");
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    process->setProcessEnvironment(environment);
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->start(SIDERAMA, QStringList{"--headless"} + arguments);
    return process;
}

// Seconds to solve every field through the front end's API with `workers`
// worker processes; -1 when one was not solved.
double realRun(const testsupport::PostgresServer& postgres, const std::vector<QString>& fields, int workers) {
    const JobDatabaseLocation location = JobDatabaseLocation::parse(postgres.url(), {});
    {
        JobDatabase db(location);
        QSqlDatabase c = db.connection();
        db.run(c, "DROP SCHEMA public CASCADE"), db.run(c, "CREATE SCHEMA public");
    }
    QTemporaryDir homes;
    auto front = member(homes.filePath("front"), {"--port", "0", "--solves", "0", "--database", postgres.url()});
    int port = 0;
    while (port == 0 && front->waitForReadyRead(30000))
        while (front->canReadLine())
            if (const QString line = QString::fromUtf8(front->readLine()).trimmed(); line.startsWith("HTTP server started on port "))
                port = line.section(' ', -1).toInt();
    std::vector<std::unique_ptr<QProcess>> processes;
    for (int i = 0; i < workers; ++i)
        processes.push_back(member(homes.filePath("w" + QString::number(i)), {"--no-listen", "--solves", "1", "--database", postgres.url()}));
    std::this_thread::sleep_for(std::chrono::seconds(2));  // the workers are listening
    const Clock::time_point begin = Clock::now();
    std::vector<int> submissions;
    for (const QString& path : fields) {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        const std::string body = "--B\r\nContent-Disposition: form-data; name=request-json\r\n\r\n"
                                 R"({"scale_units":"arcsecperpix","scale_lower":30,"scale_upper":50})"
                                 "\r\n--B\r\nContent-Disposition: form-data; name=file; filename=f.fits\r\n\r\n" +
                                 file.readAll().toStdString() + "\r\n--B--\r\n";
        const auto reply = nlohmann::json::parse(
            testsupport::request(port, "POST", "/api/upload", {{"Content-Type", "multipart/form-data; boundary=B"}}, body).body, nullptr, false);
        submissions.push_back(reply.value("subid", 0));
    }
    int solved = 0;
    for (const int id : submissions)
        for (;;) {
            const auto state = nlohmann::json::parse(testsupport::request(port, "GET", "/api/submissions/" + std::to_string(id)).body, nullptr, false);
            if (state.value("processing_finished", "None") != "None") {
                solved += state.contains("job_calibrations") && !state["job_calibrations"].empty();
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    const double seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    for (auto& process : processes) process->terminate(), process->waitForFinished(30000);
    front->terminate(), front->waitForFinished(30000);
    return solved == int(fields.size()) ? seconds : -1;
}

int real(int count) {
    testsupport::PostgresServer postgres;
    if (!postgres.ok()) return std::fprintf(stderr, "PostgreSQL did not start\n"), 1;
    QTemporaryDir folder;
    std::vector<QString> fields;
    for (int i = 0; i < count; ++i) {
        fields.push_back(folder.filePath(QString("field%1.fits").arg(i)));
        QProcess::execute(SKYFIELD, {"--ra", QString::number(std::fmod(i * 37.3, 360)), "--dec", QString::number(-60 + std::fmod(i * 13.7, 120)),
                                     "--width", "640", "--height", "480", "--scale", "40", "--seed", QString::number(i + 1), "--out", fields.back()});
    }
    std::printf("%d generated fields, real tools, through the API of one front end on PostgreSQL\n", count);
    const double one = realRun(postgres, fields, 1), two = realRun(postgres, fields, 2);
    std::printf("1 worker: %.1f s   2 workers: %.1f s   speed-up %.2fx   (-1: a field was not solved)\n", one, two, one / two);
    return one > 0 && two > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc > 1 && std::string(argv[1]) == "--real") return real(argc > 2 ? std::atoi(argv[2]) : 40);
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
