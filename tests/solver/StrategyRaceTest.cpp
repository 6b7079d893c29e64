// The race of solve attempts with a stand-in tool whose first argument says
// what it does: which attempt wins, what the log records, when a staggered
// lane starts, that a shared step runs once, and that losers and overrunning
// attempts are ended with their whole process group and any descendant that
// left it holding the output.
#include "solver/StrategyRace.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QMap>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <csignal>

using namespace siderama;
using Kind = StrategyRace::Outcome::Kind;

namespace {

// attempt BEHAVIOUR WCS SOLVED PIDFILE; a hanging attempt leaves a child in
// its process group (a detaching one, in a session of its own holding the
// output) and writes the child's pid; "after" solves once a pid is written;
// "count" (the shared step) notes each run; all attempts read one list,
// which "exhaust" searches at every scale in vain.
const QByteArray attemptTool =
    "case $1 in\n"
    "  solve) echo good > $2; touch $3 ;;\n"
    "  late) sleep 0.3; echo good > $2; touch $3 ;;\n"
    "  after) until ls ${2%/*}/*.pid; do sleep 0.05; done; sleep 0.1; echo good > $2; touch $3 ;;\n"
    "  reject) echo bad > $2; touch $3 ;;\n"
    "  hang) sleep 1000 & echo $! > $4; wait ;;\n"
    "  detach) setsid sleep 1000 & echo $! > $4; sleep 1000 ;;\n"
    "  count) echo ran >> $2 ;;\n"
    "  exhaust) until ls ${2%/*}/*.pid; do sleep 0.05; done ;;\n"
    "esac\n";
const QByteArray wcsinfoTool = "grep -q good $1 && printf 'ra_center 10\\ndec_center 20\\npixscale 30\\n'\n";

struct Case {
    const char* name;
    std::vector<std::vector<std::pair<const char*, double>>> lanes;  // behaviour, budget
    double limit;                                                    // seconds
    double delay;  // before the next lane starts, seconds
    Kind kind;
    const char* winner;
    std::vector<const char*> results;  // per attempt name, in the order they ended
};

class Race : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        testsupport::writeScript(dir.path(), "attempt", attemptTool);
        testsupport::writeScript(dir.path(), "wcsinfo", wcsinfoTool);
        qputenv("SIDERAMA_TOOLS_DIR", dir.path().toLocal8Bit());
    }
    void TearDown() override { qunsetenv("SIDERAMA_TOOLS_DIR"); }

    // Attempts named A1, A2, ... in the first lane, B1, ... in the second.
    std::vector<std::vector<SolveAttempt>> lanes(const Case& c) {
        std::vector<std::vector<SolveAttempt>> result;
        for (size_t l = 0; l < c.lanes.size(); ++l) {
            result.emplace_back();
            for (size_t i = 0; i < c.lanes[l].size(); ++i) {
                const QString name = QChar('A' + int(l)) + QString::number(i + 1), base = dir.filePath(name);
                if (QByteArray(c.lanes[l][i].first).endsWith("h")) pidFiles[name] = base + ".pid";
                result.back().push_back({name,
                                         {{"attempt", {"count", dir.filePath("count")}, true},
                                          {"attempt", {c.lanes[l][i].first, base + ".wcs", base + ".solved",
                                                       base + ".pid"}}},
                                         base + ".wcs", base + ".solved", "list", c.lanes[l][i].second, false,
                                         QByteArray(c.lanes[l][i].first) == "exhaust"});
            }
        }
        return result;
    }

    QTemporaryDir dir;
    QMap<QString, QString> pidFiles;  // of the hanging attempts, by name
};

TEST_P(Race, WinnerRecordsAndEndedGroups) {
    const Case& c = GetParam();
    QStringList log;
    StrategyRace race([&](const QString& text, LogColor) { log << text; });
    const auto outcome = race.run(lanes(c), StrategyRace::Clock::now() + std::chrono::milliseconds(int(c.limit * 1000)),
                                  std::chrono::milliseconds(int(c.delay * 1000)));
    EXPECT_EQ(outcome.kind, c.kind);
    EXPECT_EQ(outcome.winner ? outcome.winner->name : QString(), QString(c.winner));
    QStringList results, expected;
    for (const auto& record : outcome.records) results << record.name + ": " + record.result;
    for (const char* result : c.results) expected << result;
    results.sort();  // lanes end in either order; within a lane the names follow it
    expected.sort();
    EXPECT_EQ(results, expected);
    // Every child a hanging attempt that ran left is gone with its group.
    for (const auto& [name, pidFile] : pidFiles.asKeyValueRange()) {
        if (!results.filter(QRegularExpression("^" + name + ": (?!skipped)")).isEmpty()) {
            QFile file(pidFile);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << qPrintable(name);
            const pid_t child = file.readAll().trimmed().toInt();
            EXPECT_TRUE(testsupport::waitUntil([&] { return ::kill(child, 0) != 0; })) << qPrintable(name);
        }
    }
    QFile count(dir.filePath("count"));
    ASSERT_TRUE(count.open(QIODevice::ReadOnly));
    EXPECT_EQ(count.readAll(), "ran\n") << "the shared step runs once";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Race,
    ::testing::Values(
        Case{"loser_group_ended", {{{"hang", 0}}, {{"after", 0}}}, 60, 0, Kind::solved, "B1",
             {"B1: solved", "A1: ended (B1 solved)"}},
        Case{"rejected_solution_does_not_win", {{{"reject", 0}}, {{"late", 0}}}, 60, 0, Kind::solved, "B1",
             {"A1: solution rejected by wcsinfo", "B1: solved"}},
        Case{"fallback_in_order_with_budgets",
             {{{"fail", 0}, {"hang", 0.5}, {"detach", 0.5}, {"reject", 0}, {"solve", 0}}}, 60, 0, Kind::solved, "A5",
             {"A1: no solution", "A2: budget of 0.5 s used up", "A3: budget of 0.5 s used up",
              "A4: solution rejected by wcsinfo", "A5: solved"}},
        Case{"first_solution_stops_the_lane", {{{"solve", 0}, {"solve", 0}}}, 60, 0, Kind::solved, "A1",
             {"A1: solved"}},
        Case{"staggered_lane_never_starts_after_a_solution", {{{"late", 0}}, {{"hang", 0}}}, 60, 30, Kind::solved,
             "A1", {"A1: solved"}},
        Case{"staggered_lane_starts_after_its_delay", {{{"hang", 0}}, {{"after", 0}}}, 60, 0.5, Kind::solved, "B1",
             {"B1: solved", "A1: ended (B1 solved)"}},
        Case{"a_failure_starts_the_next_lane_at_once", {{{"fail", 0}}, {{"solve", 0}}}, 20, 30, Kind::solved, "B1",
             {"A1: no solution", "B1: solved"}},
        Case{"a_list_searched_in_vain_ends_its_readers", {{{"hang", 0}, {"hang", 0}}, {{"exhaust", 0}}}, 20, 0,
             Kind::failed, "", {"B1: no solution", "A1: ended (B1 searched the same list at every scale)",
                                "A2: skipped (B1 searched the same list at every scale)"}},
        Case{"time_limit_ends_everything", {{{"hang", 0}}, {{"detach", 0}}}, 0.5, 0, Kind::timeLimit, "",
             {"A1: ended (time limit)", "B1: ended (time limit)"}},
        Case{"no_solution_anywhere", {{{"fail", 0}}}, 60, 0, Kind::failed, "", {"A1: no solution"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
