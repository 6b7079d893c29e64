#include "cli/IndexCommands.h"

#include "cli/IndexConsoleView.h"
#include "core/Constants.h"
#include "indexes/IndexCatalogue.h"
#include "indexes/IndexManagerDelegate.h"

#include <QEventLoop>

#include <cstdio>
#include <optional>

namespace siderama {

namespace {

const QString listOption = "--indexes";
const QString fetchOption = "--fetch-index";
const QString removeOption = "--remove-index";

bool isOption(const QString& argument) {
    return argument == listOption || argument == fetchOption || argument == removeOption;
}

// A catalogue key, or the key of an index number such as "4119" or "4207".
std::optional<QString> keyFor(const QString& argument) {
    for (const QString& key : {argument, "index-" + argument + ".fits", "index-" + argument + "-*.fits"})
        if (FILES().lookup(key)) return key;
    return std::nullopt;
}

void printError(const QString& line) {
    std::fprintf(stderr, "siderama: %s\n", qPrintable(line));
    std::fflush(stderr);
}

std::optional<QStringList> keysFor(const QStringList& arguments) {
    QStringList keys;
    for (const QString& argument : arguments) {
        const auto key = keyFor(argument);
        if (!key) {
            printError("unknown index key " + argument + " (see --indexes)");
            return std::nullopt;
        }
        keys << *key;
    }
    return keys;
}

// Ticks or unticks the keys, applies, waits for the downloads and checks
// that every key ended in the wanted state.
int apply(const QStringList& keys, CheckState wanted, const QString& folder) {
    IndexConsoleView view;
    IndexManagerDelegate delegate(view, folder);
    delegate.refresh();
    for (const QString& key : keys) view.choose(key, wanted);
    QEventLoop loop;
    view.setIdleCallback([&loop] { loop.quit(); });
    delegate.go();
    if (delegate.transferring()) loop.exec();
    view.setIdleCallback({});
    int failures = 0;
    for (const QString& key : keys) {
        const KeyStatus status = delegate.keyStatus(key);
        if (status.state == wanted) continue;
        printError(QString("%1: %2 of %3 files present").arg(key).arg(status.present).arg(status.total));
        ++failures;
    }
    return failures == 0 ? 0 : 1;
}

int list(const QString& folder) {
    IndexConsoleView view;
    IndexManagerDelegate delegate(view, folder);
    std::printf("Index directory: %s\n", qPrintable(folder));
    delegate.show();
    return 0;
}

}  // namespace

int runIndexCommand(const QStringList& arguments) { return runIndexCommand(arguments, FOLDER()); }

int runIndexCommand(const QStringList& arguments, const QString& folder) {
    qsizetype at = 0;
    while (at < arguments.size() && !isOption(arguments[at])) ++at;
    if (at == arguments.size()) return 2;
    const QString option = arguments[at];
    QStringList operands;
    for (qsizetype i = at + 1; i < arguments.size() && !arguments[i].startsWith("--"); ++i) operands << arguments[i];
    if (option == listOption) return list(folder);
    if (operands.isEmpty()) {
        printError(option + " needs at least one index key (see --indexes)");
        return 2;
    }
    const auto keys = keysFor(operands);
    if (!keys) return 2;
    return apply(*keys, option == fetchOption ? CheckState::on : CheckState::off, folder);
}

}  // namespace siderama
