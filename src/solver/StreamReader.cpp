#include "solver/StreamReader.h"

#include <cerrno>
#include <unistd.h>

namespace siderama {

StreamReader::StreamReader(int fileDescriptor, char delimiter)
    : fileHandle(fileDescriptor), delimiter(delimiter) {}

StreamReader::~StreamReader() {
    if (fileHandle >= 0) ::close(fileHandle);
}

bool StreamReader::fill() {
    // Drop the bytes already returned before the buffer grows.
    buffer.remove(0, lineStart);
    searchFrom -= lineStart;
    lineStart = 0;
    char chunk[chunkSize];
    for (;;) {
        const ssize_t count = ::read(fileHandle, chunk, sizeof chunk);
        if (count > 0) {
            buffer.append(chunk, count);
            return true;
        }
        if (count < 0 && errno == EINTR) continue;
        return false;
    }
}

std::optional<QString> StreamReader::nextLine() {
    if (atEof) return std::nullopt;
    for (;;) {
        const qsizetype found = buffer.indexOf(delimiter, searchFrom);
        if (found >= 0) {
            const QString line = QString::fromUtf8(buffer.constData() + lineStart, found - lineStart);
            lineStart = searchFrom = found + 1;
            return line;
        }
        searchFrom = buffer.size();
        if (!fill()) break;
    }
    atEof = true;
    if (lineStart == buffer.size()) return std::nullopt;
    const QString line = QString::fromUtf8(buffer.constData() + lineStart, buffer.size() - lineStart);
    buffer.clear();
    lineStart = searchFrom = 0;
    return line;
}

}  // namespace siderama
