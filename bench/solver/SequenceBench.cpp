// A night's sequence: 20 generated frames of one camera with small pointing
// steps land one after another in a folder that `siderama --watch` watches.
// Printed per frame: Siderama's solve time (the "seconds" of its results)
// beside the shell loop people write around the tools, `solve-field` on each
// new frame (defaults for the first, then the first solution's scale ±5 %
// and position within 10° — the best such a loop can pass on). The target:
// frames 2–20 take a median of at most 25 % of the first frame's time.
// CPU seconds (the process and the tools it waited for) are printed beside
// the wall-clock ones: on a machine shared with other work they move less.
//
//   bench_sequence [WIDTH HEIGHT ARCSEC_PER_PIXEL] [FRAMES]
#include "BenchHome.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <algorithm>
#include <cstdio>
#include <vector>

#include <sys/resource.h>
#include <unistd.h>

namespace {

QProcessEnvironment environment;

bool run(const QString& program, const QStringList& arguments, QString* output = nullptr) {
    bool ok = false;
    const QString text = runProgram(environment, program, arguments, &ok);
    if (output) *output = text;
    return ok;
}

// CPU seconds of a process and of the children it has reaped.
double processCpu(qint64 pid) {
    QFile file(QString("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly)) return 0;
    const QList<QByteArray> fields = file.readAll().split(')').value(1).trimmed().split(' ');
    double ticks = 0;
    for (int field = 11; field <= 14; ++field) ticks += fields.value(field).toDouble();  // utime .. cstime
    return ticks / double(sysconf(_SC_CLK_TCK));
}

// CPU seconds of this program's reaped children.
double childrenCpu() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The frame's line of `siderama --watch --json`.
QJsonObject nextResult(QProcess& watch) {
    for (;;) {
        if (watch.canReadLine()) return QJsonDocument::fromJson(watch.readLine()).object();
        if (!watch.waitForReadyRead(300000)) return {};
    }
}

// `solve-field` as a shell loop runs it; seconds, and the solution's scale
// and centre from wcsinfo.
struct Peer {
    double seconds = 0, cpu = 0;
    double scale = 0, ra = 0, dec = 0;
};

Peer solveField(const QString& frame, const QString& config, const QString& dir, const Peer* hint) {
    QStringList words{"--overwrite", "--no-plots", "--dir", dir, "--out", "peer", "--config", config};
    if (hint)
        words << "--scale-units" << "arcsecperpix" << "--scale-low" << QString::number(hint->scale * 0.95)
              << "--scale-high" << QString::number(hint->scale * 1.05) << "--ra" << QString::number(hint->ra)
              << "--dec" << QString::number(hint->dec) << "--radius" << "10";
    QElapsedTimer clock;
    clock.start();
    const double cpu = childrenCpu();
    run(TOOLS_DIR "/solve-field", words << frame);
    Peer peer{clock.nsecsElapsed() / 1e9, childrenCpu() - cpu};
    QString info;
    if (!run(TOOLS_DIR "/wcsinfo", {dir + "/peer.wcs"}, &info)) return peer;
    const auto value = [&](const char* key) {
        return QRegularExpression(QString("^%1 (\\S+)").arg(key), QRegularExpression::MultilineOption)
            .match(info).captured(1).toDouble();
    };
    peer.scale = value("pixscale");
    peer.ra = value("ra_center");
    peer.dec = value("dec_center");
    return peer;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList args = application.arguments();
    // By default a ZWO ASI294MC Pro behind a 250 mm lens: 5.5° × 3.8°.
    const QString width = args.value(1, "4144"), height = args.value(2, "2822"), scale = args.value(3, "4.8");
    const int frames = args.value(4, "20").toInt();
    QTemporaryDir home;
    environment = benchEnvironment(home);
    const QString watched = home.filePath("frames"), staged = home.filePath("staged"), peerDir = home.filePath("peer");
    for (const QString& dir : {watched, staged, peerDir}) QDir().mkpath(dir);
    std::printf("Generating %d frames of %s x %s pixels at %s\"/px...\n", frames, qPrintable(width), qPrintable(height),
                qPrintable(scale));
    for (int i = 0; i < frames; ++i)
        if (!run(SKYFIELD, {"--ra", QString::number(84 + 0.04 * i), "--dec", QString::number(-2 + 0.03 * i), "--width",
                            width, "--height", height, "--scale", scale, "--rotation", "12", "--seed",
                            QString::number(i + 1), "--out", staged + QString("/frame%1.fits").arg(i, 2, 10, QChar('0'))})) {
            std::fprintf(stderr, "skyfield failed\n");
            return 1;
        }
    QProcess watch;
    watch.setProcessEnvironment(environment);
    watch.setStandardErrorFile(QProcess::nullDevice());
    watch.start(SIDERAMA, {"--watch", "--json", watched});
    std::vector<double> ours, peers, ourCpu, peerCpu;
    std::optional<Peer> first;
    std::printf("%5s %10s %8s %8s %14s %8s\n", "frame", "siderama s", "cpu s", "status", "solve-field s", "cpu s");
    for (int i = 0; i < frames; ++i) {
        const QString name = QString("frame%1.fits").arg(i, 2, 10, QChar('0'));
        // A camera program's finished frame appears at once (renamed into place).
        const double cpu = processCpu(watch.processId());
        QFile::rename(staged + "/" + name, watched + "/" + name);
        const QJsonObject result = nextResult(watch);
        ourCpu.push_back(processCpu(watch.processId()) - cpu);
        const Peer peer = solveField(watched + "/" + name, home.filePath("data/Siderama/siderama.cfg"), peerDir,
                                     first ? &*first : nullptr);
        if (!first && peer.scale > 0) first = peer;
        ours.push_back(result["seconds"].toDouble());
        peers.push_back(peer.seconds);
        peerCpu.push_back(peer.cpu);
        std::printf("%5d %10.2f %8.2f %8s %14.2f %8.2f\n", i + 1, ours.back(), ourCpu.back(),
                    qPrintable(result["status"].toString()), peers.back(), peerCpu.back());
        std::fflush(stdout);
    }
    watch.terminate();
    watch.waitForFinished(10000);
    const double ourLater = median({ours.begin() + 1, ours.end()}), peerLater = median({peers.begin() + 1, peers.end()});
    const double ourCpuLater = median({ourCpu.begin() + 1, ourCpu.end()});
    std::printf("\nfirst frame: siderama %.2f s, solve-field %.2f s\n", ours[0], peers[0]);
    std::printf("frames 2-%d, median: siderama %.2f s (%.0f %% of its first), solve-field %.2f s (%.0f %% of its "
                "first); siderama/solve-field %.2f\n",
                frames, ourLater, 100 * ourLater / ours[0], peerLater, 100 * peerLater / peers[0], ourLater / peerLater);
    std::printf("CPU: first frame siderama %.2f s; frames 2-%d median %.2f s (%.0f %% of the first)\n", ourCpu[0], frames,
                ourCpuLater, 100 * ourCpuLater / ourCpu[0]);
    return 0;
}
