#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace siderama {

// Splits the bytes read from a file descriptor into text lines. Owns the
// descriptor and closes it when destroyed. Bytes that are not valid UTF-8
// are replaced, so one bad byte never ends the stream early.
class StreamReader {
public:
    explicit StreamReader(int fileDescriptor, char delimiter = '\n');
    ~StreamReader();
    StreamReader(const StreamReader&) = delete;
    StreamReader& operator=(const StreamReader&) = delete;

    // The next line without its delimiter; nullopt at the end of the stream.
    // A last line without a delimiter is still returned. Blocks for input.
    std::optional<QString> nextLine();

private:
    // Reads more bytes into the buffer; false at the end of the stream.
    bool fill();

    static constexpr qsizetype chunkSize = 64 * 1024;
    int fileHandle;
    char delimiter;
    QByteArray buffer;
    qsizetype lineStart = 0;   // bytes before this were already returned
    qsizetype searchFrom = 0;  // bytes before this hold no delimiter
    bool atEof = false;
};

}  // namespace siderama
