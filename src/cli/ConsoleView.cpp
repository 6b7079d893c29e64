#include "cli/ConsoleView.h"

#include <unistd.h>

namespace siderama {

namespace {

// The ANSI escape sequence that starts the colour ("" for plain).
const char* ansiColor(LogColor color) {
    switch (color) {
    case LogColor::green: return "\033[32m";
    case LogColor::yellow: return "\033[33m";
    case LogColor::red: return "\033[31m";
    case LogColor::plain: break;
    }
    return "";
}

}  // namespace

ConsoleView::ConsoleView(std::FILE* stream) : stream(stream), colours(::isatty(fileno(stream)) == 1) {}

void ConsoleView::appendLog(const QString& line, LogColor color) {
    const QByteArray text = line.toUtf8();
    const bool coloured = colours && color != LogColor::plain;
    if (coloured) std::fputs(ansiColor(color), stream);
    std::fwrite(text.constData(), 1, text.size(), stream);
    if (coloured) std::fputs("\033[0m", stream);
    std::fputc('\n', stream);
}

void ConsoleView::logUpdated() { std::fflush(stream); }

}  // namespace siderama
