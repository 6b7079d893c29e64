#pragma once

#include "solver/SolveHint.h"
#include "solver/SolveOptions.h"
#include "solver/StrategyRace.h"

#include <QString>
#include <atomic>
#include <memory>
#include <mutex>

namespace siderama {

class FitsHeader;
struct SolvePaths;

// Finds a solution for one converted image: gathers hints (the options, the
// FITS header, the camera memory), races the strategies, gives a poor fit of
// a wide field a second look, and leaves the winning solution at the
// pipeline's .wcs path. Tells in the log which strategy solved and how long
// each ran.
class SolvePortfolio {
public:
    using Log = StrategyRace::Log;
    using Clock = StrategyRace::Clock;

    explicit SolvePortfolio(Log log) : log(std::move(log)) {}

    // The failure ("time limit", "image2xy aborted", "solve-field
    // terminated (status 2)", "solve-field found no solution"), or "" when
    // solved.
    QString solve(const SolvePaths& paths, const SolveOptions& options, Clock::time_point deadline);
    // What wcsinfo said about the last solve's solution ("" unless solved).
    const QString& solutionInfo() const { return info; }
    // Ends the running tools (any thread); solve() returns "TOOL aborted".
    void abort();

    // Whether a solution deserves a second look: a wide field, where the
    // first fit's reference pixel is off the centre and lens distortion
    // bends the extrapolation (measured: 0.35° off on a 47° field, 1.4° on a
    // 63° one; 0.001° on 12° fields).
    static bool needsSecondLook(const WcsSummary& solution);
    // The matched-star count solve-field printed ("..., 39 match, ...").
    static int matchedStars(const QStringList& output);

    static constexpr double wideField = 20;  // degrees, the larger side

private:
    StrategyRace::Outcome race(const std::vector<std::vector<SolveAttempt>>& lanes, Clock::time_point deadline,
                               Clock::duration delay = {});
    static void learnDelay(const StrategyRace::Outcome& outcome, const std::vector<SolveAttempt>& firstLane);
    // The options first, then the header, then the camera memory; `camera`
    // receives the camera's memory key.
    SolveHint gatherHint(const SolvePaths& paths, const FitsHeader& header, const SolveOptions& options,
                         QString& camera) const;
    void reportRecords(const StrategyRace::Outcome& outcome);
    StrategyRace::Outcome lookAgain(const class SolveStrategies& strategies, StrategyRace::Outcome found,
                                    Clock::time_point deadline);

    Log log;
    std::mutex lock;
    std::shared_ptr<StrategyRace> running;
    std::atomic<bool> aborted = false;
    QString info;
};

}  // namespace siderama
