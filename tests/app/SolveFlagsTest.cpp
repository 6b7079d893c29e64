// Solve options on the command line: which words are taken, and the errors a
// person sees for values that make no sense.
#include "app/CommandLine.h"

#include <gtest/gtest.h>

using namespace siderama;

namespace {

struct FlagCase {
    QStringList words;
    const char* problem;  // "" when the options are sound
    int flags;
};

class SolveFlags : public ::testing::TestWithParam<FlagCase> {};

TEST_P(SolveFlags, ParsedOrRefused) {
    const FlagCase& c = GetParam();
    const CommandLine line = CommandLine::parse(QStringList{"siderama"} + c.words);
    QString problem = line.action == CommandLine::Action::error ? line.error : QString();
    if (problem.isEmpty()) {
        SolveOptions options;
        for (const auto& [name, value] : line.solveFlags) options.set(name, value);
        problem = options.validate();
    }
    EXPECT_EQ(problem.toStdString(), c.problem);
    EXPECT_EQ(line.solveFlags.size(), c.flags);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SolveFlags,
    ::testing::Values(
        FlagCase{{"--scale-low", "2", "--scale-high", "15", "--solve", "a.fits"}, "", 2},
        FlagCase{{"--solve", "--racing", "off", "--time-limit", "60", "a.jpg", "b.fits"}, "", 2},
        FlagCase{{"--racing", "off", "a.jpg"}, "solve options go with --solve or --watch", 0},
        FlagCase{{"--scale-units", "arcsecperpix", "--scale-low", "30", "--scale-high", "20", "--solve", "a.fits"},
                 "the scale range needs 0 < low <= high", 3},
        FlagCase{{"--scale-low", "2", "--solve", "a.fits"}, "give both ends of the scale range", 1},
        FlagCase{{"--ra", "400", "--dec", "0", "--solve", "a.fits"}, "RA must be in [0, 360), Dec in [-90, 90]", 2},
        FlagCase{{"--racing", "maybe", "--solve", "a.fits"}, "racing must be on or off", 0},
        FlagCase{{"--time-limit", "soon", "--solve", "a.fits"}, "--time-limit needs a number", 0},
        FlagCase{{"--scale-units", "furlongs", "--solve", "a.fits"},
                 "scale units must be one of arcsecperpix, arcminwidth, degwidth", 0},
        FlagCase{{"--ra", "10", "--dec", "5", "--headless"}, "solve options go with --solve or --watch", 0},
        FlagCase{{"--watch", "--recursive", "--write-wcs", "--racing", "off", "frames"}, "", 1},
        FlagCase{{"--recursive", "--solve", "a.fits"}, "--recursive goes with --watch", 0}));

}  // namespace
