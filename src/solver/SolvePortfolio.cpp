#include "solver/SolvePortfolio.h"

#include "core/Constants.h"
#include "core/Defaults.h"
#include "solver/CameraMemory.h"
#include "solver/CameraModel.h"
#include "solver/ExifScale.h"
#include "solver/FitsHeader.h"
#include "solver/HeaderHints.h"
#include "solver/RaceDelay.h"
#include "solver/SequenceAttempt.h"
#include "solver/SolveFieldOptions.h"
#include "solver/SolvePaths.h"
#include "solver/SolveStrategies.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTemporaryDir>
#include <cmath>
#include <thread>
#include <tuple>

namespace siderama {

namespace {

SolveHint optionsHint(const SolveOptions& options, int width) {
    SolveHint hint;
    if (const auto scale = options.arcsecPerPixel(width)) hint.scale = scale;
    if (options.hasPosition()) {
        hint.ra = options.ra;
        hint.dec = options.dec;
        hint.radius = options.radius;
    }
    if (hint.scale || hint.ra) hint.sources << "solve options";
    return hint;
}

// The configuration with `inparallel`, so solve-field's CPU limit caps the
// whole search and every index is tried at once.
QString writeParallelConfig(const QString& folder) {
    QFile base(CONFIG());
    QSaveFile copy(folder + "/parallel.cfg");
    if (!base.open(QIODevice::ReadOnly) || !copy.open(QIODevice::WriteOnly)) return CONFIG();
    copy.write(base.readAll() + "\ninparallel\n");
    return copy.commit() ? copy.fileName() : CONFIG();
}

bool isWinner(const StrategyRace::Outcome& outcome) {
    return outcome.kind == StrategyRace::Outcome::Kind::solved;
}

SolveStrategies strategiesIn(const QString& workDir, const SolvePaths& paths, const SolveOptions& options) {
    const bool noFits2Fits = solveFieldSupports(toolsDirectory() + "/solve-field", "--no-fits2fits");
    return SolveStrategies(paths, {workDir, CONFIG(), writeParallelConfig(workDir),
                                   Defaults::words(Defaults::solveFieldArgs) + options.extraWords, noFits2Fits});
}

void replace(const QString& from, const QString& to) {
    if (from == to || !QFile::exists(from)) return;
    QFile::remove(to);
    QFile::copy(from, to);
}

// The solution, its matched stars and match, reference stars, augmented and source
// lists where the pipeline keeps them, for new-wcs, the result view and the
// remote API's result files.
void keepWinnerFiles(const SolveAttempt& winner, const SolvePaths& paths) {
    const QString base = winner.wcs.chopped(QString(".wcs").size());
    replace(winner.wcs, paths.wcs);
    for (const char* suffix : {".corr", ".match", ".rdls", ".axy"}) replace(base + suffix, paths.base + suffix);
    if (winner.source != paths.fits) replace(winner.source, paths.xyList);
}

// "" when solved.
QString failureText(const StrategyRace::Outcome& outcome) {
    switch (outcome.kind) {
    case StrategyRace::Outcome::Kind::solved: return {};
    case StrategyRace::Outcome::Kind::timeLimit: return "time limit";
    case StrategyRace::Outcome::Kind::aborted: return outcome.failure;
    case StrategyRace::Outcome::Kind::failed: break;
    }
    return outcome.failure.isEmpty() ? "solve-field found no solution" : outcome.failure;
}

}  // namespace

QString SolvePortfolio::solve(const SolvePaths& paths, const SolveOptions& options, Clock::time_point deadline) {
    info.clear();
    const FitsHeader header = FitsHeader::read(paths.fits);
    const int width = int(header.number("NAXIS1").value_or(0)), height = int(header.number("NAXIS2").value_or(0));
    QString camera;
    const SolveHint hint = gatherHint(paths, header, options, camera);
    if (hint.isUsable()) log("\nHint: " + hint.describe(), YELLOW);
    else if (hint.ra) log("\nA position without a scale is not used: it hardly narrows the search", YELLOW);
    QTemporaryDir work(QDir::tempPath() + "/siderama-solve-XXXXXX");
    const SolveStrategies strategies = strategiesIn(work.path(), paths, options);
    const bool racing = options.racing && std::thread::hardware_concurrency() > 1;
    const int downsample = options.downsample > 0 ? options.downsample : width * height > 4'000'000 ? 2 : 1;
    const auto lanes =
        strategies.lanes(hint.isUsable() ? std::optional(hint) : std::nullopt, width, height, downsample, racing);
    StrategyRace::Outcome outcome;
    if (const auto quick = SequenceAttempt::make(strategies, hint, width, height)) outcome = race({{*quick}}, deadline);
    if (outcome.kind == StrategyRace::Outcome::Kind::failed) {
        outcome = race(lanes, deadline, racing ? RaceDelay::current() : Clock::duration{});
        if (racing && isWinner(outcome)) learnDelay(outcome, lanes.front());
    }
    if (isWinner(outcome)) outcome = lookAgain(strategies, std::move(outcome), deadline);
    if (!isWinner(outcome)) return failureText(outcome);
    keepWinnerFiles(*outcome.winner, paths);
    CameraMemory::remember(camera, outcome.solution->pixelScale);
    CameraMemory::rememberPosition(camera, outcome.solution->ra, outcome.solution->dec);
    info = outcome.solution->text;
    return {};
}

SolveHint SolvePortfolio::gatherHint(const SolvePaths& paths, const FitsHeader& header, const SolveOptions& options,
                                     QString& camera) const {
    const int width = int(header.number("NAXIS1").value_or(0)), height = int(header.number("NAXIS2").value_or(0));
    SolveHint hint = optionsHint(options, width);
    hint.complete(HeaderHints::read(header));
    camera = CameraMemory::cameraKey(width, height, CameraModel::read(paths.input, header));
    if (const auto scale = CameraMemory::recall(camera)) {
        SolveHint remembered;
        remembered.scale = scaleWindow(*scale, CameraMemory::tolerance);
        if (const auto position = CameraMemory::recallPosition(camera)) {
            std::tie(remembered.ra, remembered.dec) = *position;
            remembered.radius = CameraMemory::slewRadius(std::hypot(width, height) * *scale / 3600);
        }
        remembered.sources << "camera memory: " + camera;
        hint.complete(remembered);
    }
    if (const auto scale = ExifScale::read(paths.input, width, height)) {
        SolveHint photo;
        photo.scale = scaleWindow(*scale, ExifScale::tolerance);
        photo.sources << "EXIF focal length";
        hint.complete(photo);
    }
    return hint;
}

// What the first lane took when it won teaches the race's delay.
void SolvePortfolio::learnDelay(const StrategyRace::Outcome& outcome, const std::vector<SolveAttempt>& firstLane) {
    const bool first = std::any_of(firstLane.begin(), firstLane.end(),
                                   [&](const SolveAttempt& a) { return a.name == outcome.winner->name; });
    for (const StrategyRace::Record& record : outcome.records)
        if (first && record.name == outcome.winner->name) RaceDelay::learn(record.seconds);
}

StrategyRace::Outcome SolvePortfolio::race(const std::vector<std::vector<SolveAttempt>>& lanes,
                                           Clock::time_point deadline, Clock::duration delay) {
    auto next = std::make_shared<StrategyRace>(log);
    {
        std::lock_guard guard(lock);
        running = next;
        if (aborted) next->abort();
    }
    if (delay > Clock::duration{})
        log(QString("\nOther strategies join after %1 s without a solution")
                .arg(std::chrono::duration<double>(delay).count(), 0, 'f', 1),
            LogColor::plain);
    StrategyRace::Outcome outcome = next->run(lanes, deadline, delay);
    reportRecords(outcome);
    std::lock_guard guard(lock);
    running.reset();
    return outcome;
}

StrategyRace::Outcome SolvePortfolio::lookAgain(const SolveStrategies& strategies, StrategyRace::Outcome found,
                                                Clock::time_point deadline) {
    if (!needsSecondLook(*found.solution)) return found;
    log(QString("\nA %1° wide field (%2 matched stars): fields over %3° get a second look, centred, "
                "with a third-order fit around RA %4 Dec %5")
            .arg(std::max(found.solution->fieldWidth, found.solution->fieldHeight), 0, 'f', 1)
            .arg(matchedStars(found.winnerOutput))
            .arg(wideField)
            .arg(found.solution->ra, 0, 'f', 3)
            .arg(found.solution->dec, 0, 'f', 3),
        YELLOW);
    StrategyRace::Outcome second = race({{strategies.secondLook(*found.solution, found.winner->source)}}, deadline);
    if (!isWinner(second)) {
        log("The second look found no better fit; keeping " + found.winner->name + "'s", YELLOW);
        return found;
    }
    return second;
}

void SolvePortfolio::reportRecords(const StrategyRace::Outcome& outcome) {
    for (const StrategyRace::Record& record : outcome.records)
        log(record.name + ": " + record.result + " after " + formatSeconds(record.seconds) + " s",
            record.result == "solved" ? GREEN : YELLOW);
    if (isWinner(outcome)) log("Solved by " + outcome.winner->name, GREEN);
}

bool SolvePortfolio::needsSecondLook(const WcsSummary& solution) {
    return std::max(solution.fieldWidth, solution.fieldHeight) > wideField;
}

int SolvePortfolio::matchedStars(const QStringList& output) {
    static const QRegularExpression match(R"((\d+) match\b)");
    int count = 0;
    for (const QString& line : output)
        if (const QRegularExpressionMatch found = match.match(line); found.hasMatch())
            count = found.captured(1).toInt();
    return count;
}

void SolvePortfolio::abort() {
    aborted = true;
    std::lock_guard guard(lock);
    if (running) running->abort();
}

}  // namespace siderama
