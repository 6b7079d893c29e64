// Throughput of the index download queue: a 200 MB FITS-shaped file fetched
// as index-4119.fits from a loopback server by the queue and by
// `curl -s -o /dev/null`. Prints the MB/s of each (median and best of a few
// rounds) and their ratio.
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
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr qint64 fileSize = 200LL * 1000 * 1000;
constexpr int rounds = 5;

// A file that opens with a FITS header block, then data.
void writeFits(const QString& path) {
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
// connection at a time, on its own thread.
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
            const int file = ::open(path_.c_str(), O_RDONLY);
            struct stat info {};
            ::fstat(file, &info);
            const std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nContent-Length: " +
                                       std::to_string(info.st_size) + "\r\nConnection: close\r\n\r\n";
            ::write(client, answer.data(), answer.size());
            off_t offset = 0;
            while (offset < info.st_size && ::sendfile(client, file, &offset, info.st_size - offset) > 0) {}
            ::close(file);
        }
    }

    std::string path_;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

double megabytesPerSecond(qint64 nanoseconds) { return fileSize / 1e6 / (nanoseconds / 1e9); }

// Nanoseconds for the queue to fetch the file into `folder`; negative on failure.
qint64 queueDownload(const QString& folder) {
    siderama::IndexDownloadQueue queue(folder);
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
    QFile::remove(folder + "/index-4119.fits");
    return ok ? elapsed : -1;
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
    QCoreApplication application(argc, argv);

    writeFits(served + "/index-4119.fits");
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
    return 0;
}
