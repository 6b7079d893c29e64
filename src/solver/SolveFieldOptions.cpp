#include "solver/SolveFieldOptions.h"

#include "solver/StreamReader.h"
#include "solver/ToolProcess.h"

#include <QMap>
#include <memory>
#include <mutex>

namespace siderama {

namespace {

QString helpText(const QString& program) {
    auto process = std::make_shared<ToolProcess>();
    const int output = process->start(program, {"--help"});
    if (output < 0) return {};
    QString text;
    {
        StreamReader reader(output);
        while (const std::optional<QString> line = reader.nextLine()) text += *line + "\n";
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
