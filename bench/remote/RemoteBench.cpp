// The remote solving service in this process, bound to 127.0.0.1:
//  (a) a 100 MB FITS file sent by `curl -T` to PUT /api/upload (stand-in
//      tools), timed from the first byte sent to the "success" answer, next to
//      curl sending the same file to a bare loopback sink that answers 200;
//  (b) GET /api/status hammered by `wrk -t2 -c64 -d20s` (at the lowest
//      priority, standing in for a client on another machine) while the real tools
//      solve a generated field, with the solve time with and without the load.
#include "remote/RemoteSolvingService.h"
#include "solver/SolverDelegate.h"
#include "../http/Wrk.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using siderama::SolverDelegate;

namespace {

constexpr qint64 uploadSize = 100LL * 1000 * 1000;
constexpr int rounds = 3;

void writeFits(const QString& path) {
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    QByteArray header = "SIMPLE  =                    T";
    header.append(2880 - header.size(), ' ');
    file.write(header);
    const QByteArray block(1 << 20, 'd');
    for (qint64 left = uploadSize - header.size(); left > 0; left -= block.size())
        file.write(block.constData(), std::min<qint64>(left, block.size()));
}

void writeScript(const QString& path, const QByteArray& body) {
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write("#!/bin/sh\n" + body);
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// Tools that answer at once and leave the files the real ones leave.
void writeStandInTools(const QString& directory) {
    QDir().mkpath(directory);
    writeScript(directory + "/image2xy", "touch \"$3\"\n");
    writeScript(directory + "/solve-field", "[ \"$1\" = --help ] && { echo '  --overwrite'; exit 0; }\n"
                                            "eval b=\\${$#}; b=${b%.xy}\n"
                                            "for e in .wcs .axy .corr .match .rdls .solved -indx.xyls; do touch \"$b$e\"; done\n");
    writeScript(directory + "/new-wcs", "touch \"$6\"\n");
    writeScript(directory + "/wcsinfo", "echo 'ra_center 83.8'\necho 'dec_center -5.4'\necho 'orientation 150'\n"
                                        "echo 'pixscale 36.01'\n");
}

// Reads whole requests on 127.0.0.1 and discards them, answering 200 (and
// "100 Continue" first when asked), one connection at a time, on its own thread.
class Sink {
public:
    Sink() {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 8);
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    ~Sink() {
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }
    int port() const { return port_; }

private:
    void run() {
        std::vector<char> buffer(1 << 20);
        for (int client; (client = ::accept(listener_, nullptr, nullptr)) >= 0; ::close(client)) {
            std::string head;
            std::size_t end;
            while ((end = head.find("\r\n\r\n")) == std::string::npos) {
                const ssize_t n = ::read(client, buffer.data(), buffer.size());
                if (n <= 0) break;
                head.append(buffer.data(), n);
            }
            if (end == std::string::npos) continue;
            std::string lower = head.substr(0, end);
            std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
            const std::size_t field = lower.find("content-length:");
            long long left = field == std::string::npos ? 0 : std::atoll(lower.c_str() + field + 15);
            left -= head.size() - end - 4;
            if (lower.find("expect: 100-continue") != std::string::npos) {
                static const char proceed[] = "HTTP/1.1 100 Continue\r\n\r\n";
                ::write(client, proceed, sizeof proceed - 1);
            }
            for (ssize_t n; left > 0 && (n = ::read(client, buffer.data(), buffer.size())) > 0;) left -= n;
            static const char answer[] = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 20\r\n"
                                         "Connection: close\r\n\r\n{\"status\":\"success\"}";
            ::write(client, answer, sizeof answer - 1);
        }
    }

    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

// Runs a program to its end while the event loop keeps running; its output.
QByteArray run(const QString& program, const QStringList& arguments) {
    QProcess process;
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    process.start(program, arguments);
    if (process.waitForStarted()) loop.exec();
    return process.readAllStandardOutput();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Seconds from the first byte sent to the whole answer, by curl's own clock;
// negative unless the answer says "success".
double upload(const QString& file, const QString& url) {
    const QByteArray output = run("curl", {"-s", "-T", file, "-H", "Content-Disposition: attachment; filename=\"big.fits\"",
                                           "-w", "\n%{time_pretransfer} %{time_total}", url});
    const qsizetype split = output.lastIndexOf('\n');
    if (split < 0 || !output.left(split).contains("\"success\"")) {
        std::printf("answer: %s\n", output.constData());
        return -1;
    }
    const QList<QByteArray> times = output.mid(split + 1).split(' ');
    return times.value(1).toDouble() - times.value(0).toDouble();
}

// Seconds of one solve of `path`; negative when it did not succeed.
double solve(SolverDelegate& solver, const QString& path) {
    QEventLoop loop;
    bool solved = false;
    const auto connection = QObject::connect(&solver, &SolverDelegate::solveFinished, &loop, [&](bool succeeded) {
        solved = succeeded;
        loop.quit();
    });
    QElapsedTimer clock;
    clock.start();
    if (solver.solvePath(path)) loop.exec();
    QObject::disconnect(connection);
    return solved ? clock.nsecsElapsed() / 1e9 : -1;
}

void waitUntilIdle(SolverDelegate& solver) {
    while (solver.isSolving()) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    QCoreApplication::processEvents();
}

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    const QString data = home.filePath("data"), folder = data + "/Siderama", standIns = home.filePath("stand-ins");
    QDir().mkpath(folder);
    QDir().mkpath(home.filePath("tmp"));
    // A private home and temporary directory; nothing announced by DNS-SD.
    ::setenv("HOME", qPrintable(home.path()), 1);
    ::setenv("XDG_DATA_HOME", qPrintable(data), 1);
    ::setenv("XDG_CONFIG_HOME", qPrintable(home.filePath("config")), 1);
    ::setenv("TMPDIR", qPrintable(home.filePath("tmp")), 1);
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/siderama-bench-bus", 1);
    ::setenv("SIDERAMA_TOOLS_DIR", qPrintable(standIns), 1);
    QCoreApplication application(argc, argv);

    SolverDelegate solver;
    http::HttpServerConfig config = siderama::RemoteSolvingService::defaultConfig();
    config.bindAddress = "127.0.0.1";
    siderama::RemoteSolvingService service(solver, config);
    service.startServer();
    if (service.port() <= 0) {
        std::printf("the service did not start\n");
        return 1;
    }
    const QString base = QString("http://127.0.0.1:%1").arg(service.port());

    // (a) The upload, stand-in tools.
    writeStandInTools(standIns);
    const QString big = home.filePath("big.fits");
    writeFits(big);
    Sink sink;
    std::vector<double> toService, toSink;
    for (int round = 0; round < rounds; ++round) {
        const double s = upload(big, base + "/api/upload");
        waitUntilIdle(solver);
        const double k = upload(big, QString("http://127.0.0.1:%1/api/upload").arg(sink.port()));
        if (s < 0 || k < 0) {
            std::printf("upload failed (service %.3f, sink %.3f)\n", s, k);
            return 1;
        }
        toService.push_back(s);
        toSink.push_back(k);
    }
    const double service_s = median(toService), sink_s = median(toSink);
    std::printf("(a) PUT of %lld bytes, median of %d\n", static_cast<long long>(uploadSize), rounds);
    std::printf("    service, first byte to \"success\"  %.3f s (%.0f MB/s)\n", service_s, uploadSize / 1e6 / service_s);
    std::printf("    bare loopback sink                 %.3f s (%.0f MB/s)\n", sink_s, uploadSize / 1e6 / sink_s);
    std::printf("    ratio service/sink                 %.2f (target <= 2)\n", service_s / sink_s);

    // (b) Status requests during a real solve.
    ::setenv("SIDERAMA_TOOLS_DIR", TOOLS_DIR, 1);
    for (int n = 10; n <= 19; ++n)
        QFile::link(QString("/usr/share/astrometry/index-tycho2-%1.littleendian.fits").arg(n),
                    QString("%1/index-41%2.fits").arg(folder).arg(n));
    QFile cfg(folder + "/siderama.cfg");
    cfg.open(QIODevice::WriteOnly);
    cfg.write("cpulimit 300\nadd_path " + folder.toUtf8() + "\nautoindex\n");
    cfg.close();
    const QString field = home.filePath("field.fits");
    run(SKYFIELD, {"--ra", "83.8", "--dec", "-5.4", "--width", "900", "--height", "700", "--scale", "36", "--format",
                   "fits", "--out", field});
    if (solve(solver, field) < 0) {  // warms the file cache
        std::printf("the real solve failed\n");
        return 1;
    }
    std::vector<double> quiet, loaded;
    for (int round = 0; round < rounds; ++round) quiet.push_back(solve(solver, field));

    QProcess wrk;
    wrk.start("nice", {"-n", "19", "wrk", "--latency", "-H", "Connection: keep-alive", "-t2", "-c64", "-d20s",
                       base + "/api/status"});
    wrk.waitForStarted();
    QEventLoop settle;
    QTimer::singleShot(300, &settle, &QEventLoop::quit);
    settle.exec();
    while (wrk.state() == QProcess::Running) {
        const double seconds = solve(solver, field);
        if (wrk.state() == QProcess::Running) loaded.push_back(seconds);  // only solves wholly under load
    }
    wrk.waitForFinished(-1);
    const auto report = bench::parseWrkReport(wrk.readAllStandardOutput().toStdString());
    if (std::any_of(quiet.begin(), quiet.end(), [](double s) { return s < 0; }) ||
        std::any_of(loaded.begin(), loaded.end(), [](double s) { return s < 0; }) || loaded.empty()) {
        std::printf("a solve failed or none ran under load (%zu under load; last message: %s)\n", loaded.size(),
                    qPrintable(solver.state().message));
        return 1;
    }
    const double q = median(quiet), l = median(loaded);
    std::printf("(b) GET /api/status, wrk -t2 -c64 -d20s, during real solves\n");
    if (report)
        std::printf("    requests/s                         %.0f, p99 %.2f ms%s%s\n", report->requestsPerSecond,
                    report->p99Milliseconds, report->errors.empty() ? "" : "  ", report->errors.c_str());
    else
        std::printf("    requests/s                         (no wrk report)\n");
    std::printf("    solve without load, median of %zu   %.3f s\n", quiet.size(), q);
    std::printf("    solve under load, median of %zu     %.3f s\n", loaded.size(), l);
    std::printf("    growth                             %+.1f%% (target <= +10%%)\n", (l / q - 1) * 100);
    return 0;
}
