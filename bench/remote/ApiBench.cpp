// The solving API under load: 100 generated fields submitted by 8 concurrent
// clients to `siderama --headless` (loopback), each polling its submission
// and job to the end, next to the bare tools solving the same fields with
// the same options at the same concurrency. Prints total times side by side,
// checks every centre against the generator's truth, and the latency of the
// status polls made during the run. CPU seconds too, which other load on the
// machine moves less than wall time: the bare tools' (this program's reaped
// children) and the server's with the tools it ran.
//
//   bench_api [FIELDS] [CLIENTS] [CONCURRENT_SOLVES]     (default 100 8 2)
#include "remote/RemoteSolvingService.h"
#include "support/RawHttpClient.h"
#include "remote/api/ApiArguments.h"
#include "remote/api/SolveHints.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

using nlohmann::json;

namespace {

struct Field {
    QString path;
    double ra, dec;
};

constexpr int roundSize = 20;
const json hints{{"scale_units", "arcsecperpix"}, {"scale_lower", 30}, {"scale_upper", 50}};

std::vector<Field> generate(const QString& directory, int count) {
    std::vector<Field> fields;
    for (int i = 0; i < count; ++i) {
        const double ra = std::fmod(i * 37.3, 360), dec = -60 + std::fmod(i * 13.7, 120);
        const QString path = directory + QString("/field%1.fits").arg(i);
        QProcess generator;
        generator.setStandardOutputFile(QProcess::nullDevice());
        generator.start(SKYFIELD, {"--ra", QString::number(ra), "--dec", QString::number(dec), "--width", "640",
                                     "--height", "480", "--scale", "40", "--rotation", QString::number(i * 7 % 360),
                                     "--seed", QString::number(i + 1), "--out", path});
        generator.waitForFinished(-1);
        fields.push_back({path, ra, dec});
    }
    return fields;
}

double separation(double ra1, double dec1, double ra2, double dec2) {
    const double d = M_PI / 180;
    const double c = std::sin(dec1 * d) * std::sin(dec2 * d) + std::cos(dec1 * d) * std::cos(dec2 * d) * std::cos((ra1 - ra2) * d);
    return std::acos(std::clamp(c, -1.0, 1.0)) / d;
}

// Runs `work(i)` for every field index from `first` to `end` on `threads`
// threads of the given niceness (inherited by the tools they start); returns
// seconds.
double parallel(int first, int end, int threads, int niceness, const std::function<void(int)>& work) {
    std::atomic<int> next = first;
    QElapsedTimer clock;
    clock.start();
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&] {
            setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), niceness);
            for (int i; (i = next++) < end;) work(i);
        });
    for (auto& thread : pool) thread.join();
    return clock.elapsed() / 1000.0;
}

// Runs a program with its output discarded and waits for it; its exit status.
int runQuietly(const QString& program, const QStringList& arguments) {
    std::vector<QByteArray> words{program.toLocal8Bit()};
    for (const QString& argument : arguments) words.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t child = -1;
    int status = -1;
    if (posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0) waitpid(child, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    return status;
}

// The bare tools as a job runs them: solve-field with the hints' options,
// then wcsinfo on the solution.
bool solveBare(const Field& field, const QString& directory, const QString& config) {
    QDir().mkpath(directory);
    QStringList arguments =
        siderama::solveFieldHintWords(siderama::solveHintOptions(siderama::ApiArguments(hints), 15));
    arguments << "--fits-image" << "--dir" << directory << "--out" << "job" << "--overwrite" << "--no-plots"
              << "--no-remove-lines" << "--uniformize" << "0" << "--config" << config << field.path;
    runQuietly(QString(TOOLS_DIR) + "/solve-field", arguments);
    return runQuietly(QString(TOOLS_DIR) + "/wcsinfo", {directory + "/job.wcs"}) == 0 &&
           QFile::exists(directory + "/job.solved");
}

// CPU seconds of the finished children of this program.
double childrenCpu() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU seconds of a process and its reaped children, from /proc/PID/stat.
double processCpu(qint64 pid) {
    QFile file(QString("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> fields = file.readAll().split(')').last().split(' ');
    double ticks = 0;
    for (int field = 12; field <= 15; ++field) ticks += fields.value(field).toDouble();  // utime .. cstime
    return ticks / double(sysconf(_SC_CLK_TCK));
}

struct Server {
    QProcess process;
    int port = 0;

    explicit Server(const QString& home) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", home);
        environment.insert("XDG_DATA_HOME", home + "/data");
        environment.insert("XDG_CONFIG_HOME", home + "/config");
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(SIDERAMA, {"--headless"});
        while (port == 0 && process.waitForReadyRead(30000))
            while (process.canReadLine()) {
                const QString line = QString::fromUtf8(process.readLine()).trimmed();
                if (line.startsWith("HTTP server started on port ")) port = line.section(' ', -1).toInt();
            }
    }
    ~Server() {
        process.terminate();
        process.waitForFinished(30000);
    }
};

struct Polls {
    std::mutex lock;
    std::vector<double> milliseconds;

    json get(int port, const std::string& target) {
        const auto start = std::chrono::steady_clock::now();
        const testsupport::HttpAnswer answer = testsupport::request(port, "GET", target);
        const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
        std::lock_guard guard(lock);
        milliseconds.push_back(took.count());
        return json::parse(answer.body, nullptr, false);
    }
};

// Uploads one field and polls it to the end; true when solved at the right centre.
bool solveThroughApi(int port, const Field& field, Polls& polls) {
    QFile file(field.path);
    file.open(QIODevice::ReadOnly);
    const std::string body = "--BenchBoundary\r\nContent-Disposition: form-data; name=request-json\r\n\r\n" +
                             hints.dump() + "\r\n--BenchBoundary\r\nContent-Disposition: form-data; name=file; "
                             "filename=field.fits\r\n\r\n" + file.readAll().toStdString() + "\r\n--BenchBoundary--\r\n";
    const json reply = json::parse(
        testsupport::request(port, "POST", "/api/upload", {{"Content-Type", "multipart/form-data; boundary=BenchBoundary"}}, body).body,
        nullptr, false);
    const std::string submission = "/api/submissions/" + std::to_string(reply.value("subid", 0));
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const json state = polls.get(port, submission);
        if (!state.contains("jobs") || state["jobs"].empty()) continue;
        const std::string job = "/api/jobs/" + std::to_string(state["jobs"][0].get<int>());
        const std::string status = polls.get(port, job).value("status", "");
        if (status == "solving") continue;
        const json calibration = json::parse(testsupport::request(port, "GET", job + "/calibration").body, nullptr, false);
        return status == "success" &&
               separation(calibration.value("ra", 0.0), calibration.value("dec", 0.0), field.ra, field.dec) < 0.05;
    }
}

double percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[std::min(values.size() - 1, std::size_t(p * values.size()))];
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 100, clients = argc > 2 ? std::atoi(argv[2]) : 8;
    const int solves = argc > 3 ? std::atoi(argv[3]) : 2;
    QTemporaryDir home;
    const QString folder = home.path() + "/data/Siderama";
    QDir().mkpath(folder);
    QDir().mkpath(home.path() + "/config/Siderama");
    for (int n = 10; n <= 19; ++n)
        QFile::link(QString("/usr/share/astrometry/index-tycho2-%1.littleendian.fits").arg(n),
                    folder + QString("/index-41%1.fits").arg(n));
    QFile settings(home.path() + "/config/Siderama/Siderama.conf");
    settings.open(QIODevice::WriteOnly);
    settings.write("[General]\napi-concurrent-solves=" + QByteArray::number(solves) + "\n");
    settings.close();
    std::printf("generating %d fields...\n", count);
    const std::vector<Field> fields = generate(home.path(), count);

    Server server(home.path());  // also writes the solver configuration file
    if (server.port == 0) return std::puts("siderama did not start"), 1;
    const QString config = folder + "/siderama.cfg";
    // One untimed pass brings the index files every field needs into the page
    // cache, so that neither side below profits from the other's reads.
    parallel(0, count, solves, 0, [&](int i) { solveBare(fields[i], home.path() + QString("/warm%1").arg(i), config); });

    // The bare tools run at the niceness of the API's solves (that of the
    // connection threads), so both compete alike with other load; the two
    // alternate in rounds, each going first in every other one, so that a
    // change of that load hits both alike.
    const int niceness = siderama::RemoteSolvingService::defaultConfig().connectionNiceness;
    std::atomic<int> bareSolved = 0, apiSolved = 0;
    double bare = 0, api = 0, bareCpu = 0, apiCpu = 0;
    Polls polls;
    for (int first = 0; first < count; first += roundSize) {
        const int end = std::min(count, first + roundSize);
        const auto runBare = [&] {
            const double cpu = childrenCpu();
            const auto add = qScopeGuard([&] { bareCpu += childrenCpu() - cpu; });
            bare += parallel(first, end, solves, niceness, [&](int i) {
                bareSolved += solveBare(fields[i], home.path() + QString("/bare%1").arg(i), config);
            });
        };
        const auto runApi = [&] {
            const double cpu = processCpu(server.process.processId());
            const auto add = qScopeGuard([&] { apiCpu += processCpu(server.process.processId()) - cpu; });
            api += parallel(first, end, clients, 0,
                            [&](int i) { apiSolved += solveThroughApi(server.port, fields[i], polls); });
        };
        if (first / roundSize % 2 == 0) runBare(), runApi();
        else runApi(), runBare();
    }

    std::printf("\n%d fields, %d concurrent solves         total      solved\n", count, solves);
    std::printf("bare solve-field + wcsinfo            %7.1f s   %d/%d             CPU %7.1f s\n", bare,
                bareSolved.load(), count, bareCpu);
    std::printf("API, %d polling clients                %7.1f s   %d/%d right centre   (%+.1f %%)   CPU %7.1f s (%+.1f %%)\n",
                clients, api, apiSolved.load(), count, (api / bare - 1) * 100, apiCpu, (apiCpu / bareCpu - 1) * 100);
    std::printf("status polls: %zu, p50 %.2f ms, p99 %.2f ms, max %.2f ms\n", polls.milliseconds.size(),
                percentile(polls.milliseconds, 0.5), percentile(polls.milliseconds, 0.99),
                percentile(polls.milliseconds, 1.0));
    return apiSolved == count ? 0 : 1;
}
