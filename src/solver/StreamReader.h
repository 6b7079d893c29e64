#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

namespace siderama {

// Splits the bytes read from a file descriptor into text lines. Owns the
// descriptor and closes it when destroyed. Bytes that are not valid UTF-8
// are replaced, so one bad byte never ends the stream early. A line longer
// than `longestLine` bytes is cut there and marked, the rest of it dropped.
class StreamReader {
public:
    static constexpr qsizetype longestLine = 16 * 1024;
    static constexpr const char* cutMark = " [line cut]";

    explicit StreamReader(int fileDescriptor, char delimiter = '\n');
    ~StreamReader();
    StreamReader(const StreamReader&) = delete;
    StreamReader& operator=(const StreamReader&) = delete;

    // The next line without its delimiter; nullopt at the end of the stream.
    // A last line without a delimiter is still returned. Blocks for input.
    std::optional<QString> nextLine();

    // While no input arrives, `giveUp` is asked about every 100 ms; when it
    // answers true the stream counts as ended.
    void setGiveUp(std::function<bool()> giveUp) { this->giveUp = std::move(giveUp); }

    // Bytes read from the descriptor so far.
    std::uint64_t bytesRead() const { return total; }

private:
    // Reads more bytes into the buffer; false at the end of the stream.
    bool fill();
    bool waitForInput();
    QString take(qsizetype end);

    static constexpr qsizetype chunkSize = 64 * 1024;
    int fileHandle;
    char delimiter;
    QByteArray buffer;
    qsizetype lineStart = 0;   // bytes before this were already returned
    qsizetype searchFrom = 0;  // bytes before this hold no delimiter
    bool atEof = false;
    bool dropping = false;     // inside the dropped rest of a cut line
    std::uint64_t total = 0;
    std::function<bool()> giveUp;
};

}  // namespace siderama
