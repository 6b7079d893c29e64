#include "solver/StreamReader.h"

#include <cerrno>
#include <poll.h>
#include <algorithm>
#include <utility>
#include <unistd.h>

namespace siderama {

StreamReader::StreamReader(int fileDescriptor, char delimiter)
    : fileHandle(fileDescriptor), delimiter(delimiter) {}

StreamReader::~StreamReader() {
    if (fileHandle >= 0) ::close(fileHandle);
}

bool StreamReader::waitForInput() {
    if (!giveUp) return true;
    pollfd entry{fileHandle, POLLIN, 0};
    for (;;) {
        const int ready = ::poll(&entry, 1, 100);
        if (ready != 0) return true;  // input, end of stream or an error that read() reports
        if (giveUp()) return false;
    }
}

bool StreamReader::fill() {
    // Drop the bytes already returned before the buffer grows.
    buffer.remove(0, lineStart);
    searchFrom -= lineStart;
    lineStart = 0;
    char chunk[chunkSize];
    while (waitForInput()) {
        const ssize_t count = ::read(fileHandle, chunk, sizeof chunk);
        if (count > 0) {
            buffer.append(chunk, count);
            total += std::uint64_t(count);
            return true;
        }
        if (count < 0 && errno == EINTR) continue;
        return false;
    }
    return false;
}

// The bytes from lineStart to `end`, at most longestLine of them.
QString StreamReader::take(qsizetype end) {
    const qsizetype length = end - lineStart;
    QString line = QString::fromUtf8(buffer.constData() + lineStart, std::min(length, longestLine));
    if (length > longestLine) line += cutMark;
    return line;
}

std::optional<QString> StreamReader::nextLine() {
    if (atEof) return std::nullopt;
    for (;;) {
        const qsizetype found = buffer.indexOf(delimiter, searchFrom);
        if (found >= 0) {
            const bool wasDropping = std::exchange(dropping, false);
            const QString line = wasDropping ? QString() : take(found);
            lineStart = searchFrom = found + 1;
            if (!wasDropping) return line;
            continue;
        }
        searchFrom = buffer.size();
        if (dropping) lineStart = searchFrom;
        if (!dropping && searchFrom - lineStart > longestLine) {
            const QString line = take(searchFrom);
            dropping = true;
            lineStart = searchFrom;
            return line;
        }
        if (!fill()) break;
    }
    atEof = true;
    if (lineStart == buffer.size()) return std::nullopt;
    const QString line = take(buffer.size());
    buffer.clear();
    lineStart = searchFrom = 0;
    return line;
}

}  // namespace siderama
