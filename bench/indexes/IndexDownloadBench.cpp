// Throughput of the index download queue: a 200 MB FITS-shaped file fetched
// as index-4119.fits from a loopback server by the queue and by
// `curl -s -o /dev/null`. Prints the MB/s of each (median and best of a few
// rounds) and their ratio. Then a 1 GB file whose connection the server cuts
// five times at random points: the bytes fetched against the file size and
// the time against an uncut transfer of the same file.
#include "indexes/IndexDownloadQueue.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <netinet/in.h>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <random>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr qint64 fileSize = 200LL * 1000 * 1000;
constexpr qint64 bigSize = 1000LL * 1000 * 1000;
constexpr int rounds = 5;
constexpr int cuts = 5;

// A file that opens with a FITS header block, then data.
void writeFits(const QString& path, qint64 fileSize) {
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    QByteArray header = "SIMPLE  =                    T";
    header.append(2880 - header.size(), ' ');
    file.write(header);
    QByteArray block(1 << 20, '\0');
    for (int i = 0; i < block.size(); ++i) block[i] = char(i * 131 % 251);
    for (qint64 left = fileSize - header.size(); left > 0; left -= block.size())
        file.write(block.constData(), std::min<qint64>(left, block.size()));
}

// Answers every request on 127.0.0.1 with the same file, by sendfile(2), one
// connection at a time, on its own thread. "Range: bytes=N-" is answered with
// the rest of the file (206); a connection passing a cut point set by cutAt()
// is closed there, once per point.
class FileServer {
public:
    explicit FileServer(const QString& path) : path_(QFile::encodeName(path).toStdString()) {
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
    ~FileServer() {
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }
    int port() const { return port_; }
    void cutAt(std::vector<off_t> points) {
        std::lock_guard lock(mutex_);
        cuts_ = std::move(points);
    }
    long long bodyBytesSent() const { return sent_; }
    void resetCount() { sent_ = 0; }

private:
    void run() {
        for (int client; (client = ::accept(listener_, nullptr, nullptr)) >= 0; ::close(client)) {
            std::string head;
            char buffer[4096];
            while (head.find("\r\n\r\n") == std::string::npos) {
                const ssize_t n = ::read(client, buffer, sizeof buffer);
                if (n <= 0) break;
                head.append(buffer, n);
            }
            serve(client, head);
        }
    }

    void serve(int client, const std::string& head) {
        const int file = ::open(path_.c_str(), O_RDONLY);
        struct stat info {};
        ::fstat(file, &info);
        off_t offset = 0;
        if (const auto at = head.find("Range: bytes="); at != std::string::npos)
            offset = std::stoll(head.substr(at + 13));
        std::string answer = offset > 0 ? "HTTP/1.1 206 Partial Content\r\n" : "HTTP/1.1 200 OK\r\n";
        answer += "Content-Type: application/octet-stream\r\nETag: \"bench\"\r\nAccept-Ranges: bytes\r\n";
        answer += "Content-Length: " + std::to_string(info.st_size - offset) + "\r\nConnection: close\r\n";
        if (offset > 0)
            answer += "Content-Range: bytes " + std::to_string(offset) + "-" + std::to_string(info.st_size - 1) + "/" +
                      std::to_string(info.st_size) + "\r\n";
        answer += "\r\n";
        ::write(client, answer.data(), answer.size());
        const off_t end = takeCut(offset, info.st_size);
        while (offset < end) {
            const ssize_t n = ::sendfile(client, file, &offset, end - offset);
            if (n <= 0) break;
            sent_ += n;
        }
        ::close(file);
    }

    // The first cut point after `offset`, used up; else the file's end.
    off_t takeCut(off_t offset, off_t size) {
        std::lock_guard lock(mutex_);
        for (auto it = cuts_.begin(); it != cuts_.end(); ++it)
            if (*it > offset) {
                const off_t cut = *it;
                cuts_.erase(it);
                return cut;
            }
        return size;
    }

    std::string path_;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<off_t> cuts_;  // ascending
    std::atomic<long long> sent_{0};
};

double megabytesPerSecond(qint64 nanoseconds) { return fileSize / 1e6 / (nanoseconds / 1e9); }

// Nanoseconds for the queue to fetch the file into `folder`; negative on
// failure. The file stays when `keep` is set.
qint64 queueDownload(const QString& folder, qint64 fileSize = ::fileSize, siderama::DownloadPolicy policy = {},
                     bool keep = false) {
    siderama::IndexDownloadQueue queue(folder, policy);
    QEventLoop loop;
    bool ok = true;
    QObject::connect(&queue, &siderama::IndexDownloadQueue::allDone, &loop, &QEventLoop::quit);
    QObject::connect(&queue, &siderama::IndexDownloadQueue::fileFailed, &loop, [&](const QString&, const QString& why) {
        std::printf("queue failed: %s\n", qPrintable(why));
        ok = false;
        loop.quit();
    });
    QObject::connect(&queue, &siderama::IndexDownloadQueue::fileNotStarted, &loop, [&] {
        std::printf("queue did not start\n");
        ok = false;
        loop.quit();
    });
    queue.enqueue("index-4119.fits");
    QElapsedTimer clock;
    clock.start();
    queue.downloadNext();
    loop.exec();
    const qint64 elapsed = clock.nsecsElapsed();
    if (ok && QFileInfo(folder + "/index-4119.fits").size() != fileSize) {
        std::printf("queue: wrong size\n");
        ok = false;
    }
    if (!keep) QFile::remove(folder + "/index-4119.fits");
    return ok ? elapsed : -1;
}

bool sameBytes(const QString& a, const QString& b) {
    QProcess cmp;
    cmp.start("cmp", {"-s", a, b});
    return cmp.waitForFinished(-1) && cmp.exitStatus() == QProcess::NormalExit && cmp.exitCode() == 0;
}

// Five cuts at random points of the 1 GB file, with the default pause before
// each retry and without pauses, next to an uncut transfer.
int resumeRows(const QString& folder, const QString& served) {
    writeFits(served + "/big.fits", bigSize);
    FileServer server(served + "/big.fits");
    qputenv("SIDERAMA_INDEX_URL_4100", QString("http://127.0.0.1:%1/4100/").arg(server.port()).toUtf8());
    std::mt19937_64 random(std::random_device{}());
    std::uniform_int_distribution<off_t> point(1, bigSize - 1);
    // The better of two uncut transfers, against the noise of a shared machine.
    const qint64 uncut = std::min(queueDownload(folder, bigSize), queueDownload(folder, bigSize));
    std::printf("\n1 GB file (%lld bytes)            time     fetched / size   bytes identical\n",
                static_cast<long long>(bigSize));
    std::printf("uncut                           %6.2f s\n", uncut / 1e9);
    for (const int pauseMs : {1000, 0}) {
        std::vector<off_t> points;
        for (int i = 0; i < cuts; ++i) points.push_back(point(random));
        std::sort(points.begin(), points.end());
        server.cutAt(points);
        server.resetCount();
        siderama::DownloadPolicy policy;
        policy.firstRetryDelayMs = pauseMs;
        const qint64 cut = queueDownload(folder, bigSize, policy, true);
        const bool same = cut >= 0 && sameBytes(folder + "/index-4119.fits", served + "/big.fits");
        QFile::remove(folder + "/index-4119.fits");
        if (cut < 0) return 1;
        std::printf("cut %d times, %4d ms pauses     %6.2f s   %.6f         %s   (%+.2f s against uncut)\n", cuts,
                    pauseMs, cut / 1e9, double(server.bodyBytesSent()) / bigSize, same ? "yes" : "NO",
                    (cut - uncut) / 1e9);
        if (!same) return 1;
    }
    return 0;
}

qint64 curlDownload(const QString& url, const QString& output = "/dev/null") {
    QElapsedTimer clock;
    clock.start();
    QProcess curl;
    curl.start("curl", {"-s", "-o", output, url});
    const bool ok = curl.waitForFinished(-1) && curl.exitCode() == 0;
    if (!ok) std::printf("curl failed\n");
    return ok ? clock.nsecsElapsed() : -1;
}

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    const QString folder = home.filePath("data/Siderama"), served = home.filePath("served");
    QDir().mkpath(folder);
    QDir().mkpath(served);
    // Nothing may touch the real index folder or settings.
    ::setenv("HOME", qPrintable(home.path()), 1);
    ::setenv("XDG_DATA_HOME", qPrintable(home.filePath("data")), 1);
    ::setenv("XDG_CONFIG_HOME", qPrintable(home.filePath("config")), 1);
    ::setenv("XDG_CACHE_HOME", qPrintable(home.filePath("cache")), 1);
    QCoreApplication application(argc, argv);

    writeFits(served + "/index-4119.fits", fileSize);
    FileServer server(served + "/index-4119.fits");
    const QString base = QString("http://127.0.0.1:%1/4100/").arg(server.port());
    qputenv("SIDERAMA_INDEX_URL_4100", base.toUtf8());

    // curl writing into the index folder is shown for reference only.
    std::vector<qint64> queueTimes, curlTimes, curlFileTimes;
    for (int round = 0; round < rounds; ++round) {
        const qint64 q = queueDownload(folder), c = curlDownload(base + "index-4119.fits"),
                     f = curlDownload(base + "index-4119.fits", folder + "/curl.fits");
        QFile::remove(folder + "/curl.fits");
        if (q < 0 || c < 0 || f < 0) return 1;
        std::printf("round %d: queue %7.1f MB/s   curl %7.1f MB/s   curl to file %7.1f MB/s\n", round + 1,
                    megabytesPerSecond(q), megabytesPerSecond(c), megabytesPerSecond(f));
        queueTimes.push_back(q);
        curlTimes.push_back(c);
        curlFileTimes.push_back(f);
    }
    const auto best = [](const std::vector<qint64>& t) { return megabytesPerSecond(*std::min_element(t.begin(), t.end())); };
    const auto median = [](std::vector<qint64> t) {
        std::sort(t.begin(), t.end());
        return megabytesPerSecond(t[t.size() / 2]);
    };
    std::printf("file size %lld bytes, %d rounds          median       best\n", static_cast<long long>(fileSize), rounds);
    std::printf("download queue                  %8.1f MB/s %8.1f MB/s\n", median(queueTimes), best(queueTimes));
    std::printf("curl -o /dev/null               %8.1f MB/s %8.1f MB/s\n", median(curlTimes), best(curlTimes));
    std::printf("curl -o FILE (reference)        %8.1f MB/s %8.1f MB/s\n", median(curlFileTimes), best(curlFileTimes));
    std::printf("ratio queue/curl                %8.2f      %8.2f      (target >= 0.80)\n",
                median(queueTimes) / median(curlTimes), best(queueTimes) / best(curlTimes));
    QFile::remove(served + "/index-4119.fits");
    return resumeRows(folder, served);
}
