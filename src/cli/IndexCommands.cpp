#include "cli/IndexCommands.h"

#include "cli/IndexConsoleView.h"
#include "core/Constants.h"
#include "indexes/FieldPlanner.h"
#include "indexes/IndexCatalogue.h"
#include "indexes/IndexManagerDelegate.h"

#include <QEventLoop>
#include <QTimer>

#include <cstdio>
#include <optional>

namespace siderama {

namespace {

const QString listOption = "--indexes";
const QString fetchOption = "--fetch-index";
const QString removeOption = "--remove-index";
const QString fieldOption = "--for-field";

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

// Runs the event loop until `done` holds.
void waitFor(const std::function<bool()>& done) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] { if (done()) loop.quit(); });
    poll.start(20);
    if (!done()) loop.exec();
}

// Each file to download with its size, then the total and the free space.
void printCost(const DownloadCost& cost) {
    for (const auto& [name, size] : cost.files)
        std::printf("  %-22s %10s\n", qPrintable(name), qPrintable(size < 0 ? "?" : TransferProgress::bytes(size)));
    std::printf("To download: %s\n", qPrintable(cost.describe()));
    std::fflush(stdout);
}

// Ticks the keys for a field width ("last": the last solved field); false
// when the width is not one.
bool planField(IndexManagerDelegate& delegate, const QString& width) {
    if (width == "last") return delegate.planForLastSolve();
    const auto degrees = FieldPlanner::parseWidth(width);
    if (degrees) delegate.planForField(*degrees);
    else printError("not a field width: " + width + " (degrees, 2.5, or arcminutes, 40')");
    return bool(degrees);
}

// Ticks or unticks the keys (and the keys for a field width, when given),
// shows what that downloads, applies, waits for the downloads and checks
// that every key ended in the wanted state.
int apply(const QStringList& keys, CheckState wanted, const std::optional<QString>& width, const QString& folder,
          const DownloadPolicy& policy) {
    IndexConsoleView view;
    IndexManagerDelegate delegate(view, folder, DistributionIndexes::fromEnvironment(), policy);
    if (!delegate.refresh()) return 1;
    if (width && !planField(delegate, *width)) return 2;
    for (const QString& key : keys) view.choose(key, wanted);
    QStringList chosen;
    for (const IndexKey& entry : FILES().entries())
        if (view.keyState(entry.key) == wanted) chosen << entry.key;
    delegate.ticksChanged();
    waitFor([&] { return !delegate.sizing(); });
    const DownloadCost cost = delegate.cost();
    if (!cost.files.isEmpty()) printCost(cost);
    if (!cost.fits()) {
        printError(cost.shortage(folder));
        return 1;
    }
    delegate.go();
    waitFor([&] { return !delegate.transferring(); });
    int failures = 0;
    for (const QString& key : chosen) {
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
    return delegate.show() ? 0 : 1;
}

}  // namespace

int runIndexCommand(const QStringList& arguments) { return runIndexCommand(arguments, FOLDER()); }

int runIndexCommand(const QStringList& arguments, const QString& folder, const DownloadPolicy& policy) {
    qsizetype at = 0;
    while (at < arguments.size() && !isOption(arguments[at])) ++at;
    if (at == arguments.size()) return 2;
    const QString option = arguments[at];
    QStringList operands;
    std::optional<QString> width;
    for (qsizetype i = at + 1; i < arguments.size(); ++i) {
        if (arguments[i] == fieldOption && option == fetchOption && i + 1 < arguments.size()) width = arguments[++i];
        else if (arguments[i].startsWith("--")) break;
        else operands << arguments[i];
    }
    if (option == listOption) return list(folder);
    if (operands.isEmpty() && !width) {
        printError(option + " needs at least one index key (see --indexes)" +
                   (option == fetchOption ? " or " + fieldOption + " WIDTH" : QString()));
        return 2;
    }
    const auto keys = keysFor(operands);
    if (!keys) return 2;
    return apply(*keys, option == fetchOption ? CheckState::on : CheckState::off, width, folder, policy);
}

}  // namespace siderama
