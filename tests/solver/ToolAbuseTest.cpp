// Tools that write without end, print endless lines, leave a child holding
// their output, or hang when asked for their options.
#include "solver/SolveFieldOptions.h"
#include "solver/SolverFixture.h"
#include "solver/StreamReader.h"
#include "support/TestSupport.h"

#include <QFile>
#include <csignal>

using namespace siderama;
using Domain = siderama::ToolError::Domain;

namespace {

struct Abuse {
    const char* name;
    QByteArray script;
    std::optional<Domain> outcome;
    QString lastLine;  // the last log line before the runner's own
};

class ToolAbuse : public SolverFixture, public ::testing::WithParamInterface<Abuse> {
protected:
    // A child that escaped the runner would still be running (not a zombie).
    bool childLeft() {
        QFile pid(tools + "/child.pid");
        if (!pid.open(QIODevice::ReadOnly)) return false;
        const QString child = pid.readAll().trimmed();
        const auto running = [&] {
            QFile stat("/proc/" + child + "/stat");
            return stat.open(QIODevice::ReadOnly) && !stat.readAll().contains(") Z ");
        };
        const bool left = !testsupport::waitUntil([&] { return !running(); }, std::chrono::seconds(5));
        ::kill(child.toInt(), SIGKILL);
        return left;
    }
};

TEST_P(ToolAbuse, EndsWithABoundedLog) {
    tool("abuse", GetParam().script);
    EXPECT_EQ(run("abuse", {}), GetParam().outcome);
    ASSERT_GE(view.lines.size(), 2);
    EXPECT_EQ(view.lines[view.lines.size() - 2].text, GetParam().lastLine);
    EXPECT_FALSE(childLeft());
}

INSTANTIATE_TEST_SUITE_P(
    Table, ToolAbuse,
    ::testing::Values(
        Abuse{"EndlessOutput", "yes $(printf '%01000d' 0)", Domain::failed, QString(1000, '0')},
        Abuse{"OverlongLine", "head -c 100000 /dev/zero | tr '\\0' x", std::nullopt,
              QString(StreamReader::longestLine, 'x') + StreamReader::cutMark},
        Abuse{"ChildHoldsTheOutput", "setsid sleep 600 & echo $! > \"$(dirname \"$0\")/child.pid\"; echo left",
              std::nullopt, "left"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SolverFixture, HangingOptionProbeCountsAsUnknown) {
    tool("hang", "sleep 600\n");
    EXPECT_FALSE(solveFieldSupports(tools + "/hang", "--no-fits2fits"));
}

}  // namespace
