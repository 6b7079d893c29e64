#include "solver/SolverDelegate.h"

#include "app/core/Defaults.h"
#include "http/StringHelpers.h"
#include "solver/CalibrationLine.h"
#include "solver/SolvePipeline.h"
#include "solver/StreamReader.h"
#include "solver/ToolError.h"
#include "solver/ToolProcess.h"

#include <QFileInfo>
#include <QMetaObject>

#include <utility>

namespace siderama {

namespace {

// Commands applied per main-loop turn, so a verbose tool never freezes the
// window: the rest follows in the next turn.
constexpr size_t commandsPerFlush = 5000;

QString displayLine(const QString& tool, const QStringList& arguments) {
    QString line = "\n" + tool;
    for (const QString& argument : arguments) line += " " + argument;
    return line;
}

QString withoutLineFeeds(QString text) { return text.remove('\n'); }

}  // namespace

SolverDelegate::SolverDelegate(QObject* parent) : QObject(parent), worker([this] { runSolves(); }) {}

SolverDelegate::~SolverDelegate() {
    abort();
    {
        std::lock_guard guard(solveLock);
        stopping = true;
    }
    solveRequested.notify_one();
    worker.join();
}

void SolverDelegate::runSolves() {
    std::unique_lock lock(solveLock);
    for (;;) {
        solveRequested.wait(lock, [this] { return stopping || requested; });
        if (stopping) return;
        const auto [path, options] = *std::exchange(requested, std::nullopt);
        lock.unlock();
        finishSolve(runPipeline(path, options));
        lock.lock();
    }
}

std::optional<QString> SolverDelegate::runPipeline(const QString& path, const SolveOptions& options) {
    SolvePipeline solve(*this, options);
    {
        std::lock_guard guard(stateLock);
        pipeline = &solve;
    }
    if (abortFlag) solve.abort();
    std::optional<QString> doneMessage = solve.run(path);
    std::lock_guard guard(stateLock);
    pipeline = nullptr;
    return doneMessage;
}

void SolverDelegate::setView(SolverView* newView) { view = newView; }

void SolverDelegate::post(std::function<void()> command) {
    std::lock_guard guard(queueLock);
    pending.push_back(std::move(command));
    if (flushPosted) return;
    flushPosted = true;
    QMetaObject::invokeMethod(this, [this] { flush(); }, Qt::QueuedConnection);
}

void SolverDelegate::flush() {
    std::vector<std::function<void()>> batch;
    {
        std::lock_guard guard(queueLock);
        const size_t count = std::min(pending.size(), commandsPerFlush);
        batch.assign(std::make_move_iterator(pending.begin()),
                     std::make_move_iterator(pending.begin() + count));
        pending.erase(pending.begin(), pending.begin() + count);
        if (pending.empty()) flushPosted = false;
        else QMetaObject::invokeMethod(this, [this] { flush(); }, Qt::QueuedConnection);
    }
    for (auto& command : batch) command();
    if (view) view->logUpdated();
}

void SolverDelegate::append(const QString& text, LogColor color) {
    post([this, text, color] {
        if (view) view->appendLog(text, color);
    });
}

void SolverDelegate::postControls(bool solveEnabled) {
    post([this, solveEnabled] {
        if (view) view->setControls(solveEnabled, !solveEnabled);
    });
}

void SolverDelegate::setStatus(const QString& status, const std::optional<QString>& message,
                               LogColor color) {
    {
        std::lock_guard guard(stateLock);
        current.status = status;
        if (message) current.message = withoutLineFeeds(*message);
    }
    if (message) append(*message, color);
    postControls(status != "busy");
}

void SolverDelegate::busy(const std::optional<QString>& message) { setStatus("busy", message, YELLOW); }
void SolverDelegate::done(const std::optional<QString>& message) { setStatus("done", message, GREEN); }
void SolverDelegate::failed(const std::optional<QString>& message) { setStatus("failed", message, RED); }

SolverState SolverDelegate::state() const {
    std::lock_guard guard(stateLock);
    return current;
}

void SolverDelegate::resetCalibration() {
    std::lock_guard guard(stateLock);
    current.raCenter = current.decCenter = current.orientation = current.pixelScale = std::nullopt;
}

QStringList SolverDelegate::addArgs(const QString& key, const QStringList& arguments) {
    const std::optional<QString> stored = Defaults::stringValue(key);
    if (!stored) return arguments;
    QStringList words;
    for (const std::string& word : http::split(stored->toStdString(), ' '))
        words << QString::fromStdString(word);
    return words + arguments;
}

void SolverDelegate::parseCalibration(const QString& line) {
    const std::optional<CalibrationLine> value = CalibrationLine::parse(line);
    if (!value) {
        append(line);
        return;
    }
    {
        std::lock_guard guard(stateLock);
        SolverState& s = current;
        std::optional<double>* fields[] = {&s.raCenter, &s.decCenter, &s.orientation, &s.pixelScale};
        *fields[static_cast<int>(value->field)] = value->number;
    }
    append(line, GREEN);
}

void SolverDelegate::execute(const QString& tool, const QStringList& arguments, bool parse) {
    busy(displayLine(tool, arguments));
    auto process = std::make_shared<ToolProcess>();
    {
        std::lock_guard guard(stateLock);
        task = process;
    }
    const QString program = toolsDirectory() + "/" + tool;
    const int output = abortFlag || !QFileInfo(program).isExecutable() ? -1 : process->start(program, arguments);
    if (output < 0) {
        if (abortFlag) fail(ToolError::Domain::aborted, tool + " aborted");
        fail(ToolError::Domain::failed, tool + " failed to start");
    }
    logOutput(output, parse);
    reportExit(tool, *process);
}

void SolverDelegate::logOutput(int output, bool parse) {
    StreamReader reader(output);
    while (const std::optional<QString> line = reader.nextLine()) {
        if (line->isEmpty()) continue;
        if (parse) parseCalibration(*line);
        else append(*line);
    }
}

void SolverDelegate::reportExit(const QString& tool, ToolProcess& process) {
    const int status = process.waitForExit();
    if (status == 0) {
        busy(tool + " done");
        std::lock_guard guard(stateLock);
        task.reset();
        return;
    }
    // A tool killed after ignoring the terminate signal was aborted too.
    if (status == 15 || process.wasTerminated()) fail(ToolError::Domain::aborted, tool + " aborted");
    fail(ToolError::Domain::terminated, tool + " terminated (status " + QString::number(status) + ")");
}

void SolverDelegate::fail(ToolError::Domain domain, const QString& message) {
    failed(message);
    throw ToolError(domain, message);
}

bool SolverDelegate::claim() {
    bool expected = false;
    return solving.compare_exchange_strong(expected, true);
}

void SolverDelegate::solveClaimed(const QString& path, const SolveOptions& options) {
    abortFlag = false;
    busy();
    {
        std::lock_guard guard(solveLock);
        requested.emplace(path, options);
    }
    solveRequested.notify_one();
}

// "done" and the release of the claim happen in one step, so a client that
// sees "done" can start the next solve at once.
void SolverDelegate::finishSolve(const std::optional<QString>& doneMessage) {
    {
        std::lock_guard guard(stateLock);
        if (doneMessage) {
            current.status = "done";
            current.message = withoutLineFeeds(*doneMessage);
        }
        solving = false;
    }
    if (doneMessage) {
        append(*doneMessage, GREEN);
        postControls(true);
    }
    const bool succeeded = doneMessage.has_value();
    post([this, succeeded] { emit solveFinished(succeeded); });
}

bool SolverDelegate::solvePath(const QString& path, const SolveOptions& options) {
    if (!claim()) {
        append("Solver busy", RED);
        return false;
    }
    solveClaimed(path, options);
    return true;
}

void SolverDelegate::abort() {
    if (solving) abortFlag = true;
    std::shared_ptr<ToolProcess> running;
    {
        std::lock_guard guard(stateLock);
        running = task;
        if (pipeline) pipeline->abort();
    }
    if (running) running->terminate();
}

void SolverDelegate::show() {
    removeFiles = Defaults::boolValue(Defaults::removeCreatedFiles);
    const bool writeWCS = Defaults::boolValue(Defaults::writeWCSHeaders);
    const bool remove = removeFiles;
    post([this, remove, writeWCS] {
        if (!view) return;
        view->setCheckBoxes(remove, writeWCS);
        view->present();
    });
}

void SolverDelegate::saveState(bool remove, bool writeWCSHeaders) {
    removeFiles = remove;
    Defaults::setBool(Defaults::removeCreatedFiles, remove);
    Defaults::setBool(Defaults::writeWCSHeaders, writeWCSHeaders);
}

}  // namespace siderama
