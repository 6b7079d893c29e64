#include "solver/SolveFieldOptions.h"

#include "solver/StreamReader.h"
#include "solver/ToolProcess.h"

#include <QMap>
#include <chrono>
#include <memory>
#include <mutex>

namespace siderama {

namespace {

// A probe that takes longer is ended and its options count as unknown.
constexpr auto probeTimeLimit = std::chrono::seconds(5);

QString helpText(const QString& program) {
    auto process = std::make_shared<ToolProcess>();
    const int output = process->start(program, {"--help"});
    if (output < 0) return {};
    const auto deadline = std::chrono::steady_clock::now() + probeTimeLimit;
    QString text;
    {
        StreamReader reader(output);
        reader.setGiveUp([&] { return std::chrono::steady_clock::now() > deadline; });
        while (const std::optional<QString> line = reader.nextLine()) {
            text += *line + "\n";
            if (std::chrono::steady_clock::now() > deadline) break;
        }
    }
    if (std::chrono::steady_clock::now() > deadline) {
        process->terminate();
        text.clear();
    }
    process->waitForExit();
    return text;
}

}  // namespace

bool solveFieldSupports(const QString& program, const QString& option) {
    static std::mutex lock;
    static QMap<QString, QString> helpByProgram;
    std::lock_guard guard(lock);
    if (!helpByProgram.contains(program)) helpByProgram.insert(program, helpText(program));
    const QString& help = helpByProgram[program];
    // The option as a word of its own, not as the start of a longer one.
    for (qsizetype at = help.indexOf(option); at >= 0; at = help.indexOf(option, at + 1)) {
        const qsizetype end = at + option.size();
        if (end == help.size() || !(help[end].isLetterOrNumber() || help[end] == '-')) return true;
    }
    return false;
}

}  // namespace siderama
