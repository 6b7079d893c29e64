// The next frame of a camera's sequence, with the real tools on generated
// fields: after a blind first solve it is solved from the remembered scale
// and position, and when the camera has moved beyond them, blind again.
#include "core/Constants.h"
#include "core/SolverConfig.h"
#include "solver/CameraMemory.h"
#include "solver/SolvePaths.h"
#include "solver/SolvePortfolio.h"
#include "solver/WcsSummary.h"
#include "skyfield/SkyField.h"
#include "support/TestSupport.h"

#include <QSettings>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace siderama;

namespace {

TEST(SequenceHint, NextFrameStartsFromTheLastOneAndFallsBackWhenItMoved) {
    ASSERT_TRUE(testsupport::linkTycho2Indexes(FOLDER()));
    writeSolverConfigIfMissing(FOLDER(), CONFIG());
    qputenv("SIDERAMA_TOOLS_DIR", testsupport::realToolsDirectory().toLocal8Bit());
    QSettings("Siderama", "Siderama").clear();
    QTemporaryDir dir;
    struct Frame {
        double ra, dec;
        std::optional<std::pair<double, double>> remembered;  // put into the memory before the solve
        const char* solvedBy;  // "" for a blind strategy
    };
    for (const Frame& frame : {Frame{83.8, -5.4, std::nullopt, ""}, Frame{84.1, -5.2, std::nullopt, "sequence"},
                               Frame{84.3, -5.0, std::pair(250.0, 60.0), ""}}) {
        SCOPED_TRACE(frame.ra);
        const QString image = dir.filePath(QString("frame%1.fits").arg(frame.ra));
        ASSERT_TRUE(skyfield::runSkyField({"--ra", QString::number(frame.ra), "--dec", QString::number(frame.dec),
                                           "--scale", "36", "--width", "1200", "--height", "900", "--out", image}));
        if (frame.remembered) CameraMemory::rememberPosition("1200x900", frame.remembered->first, frame.remembered->second);
        QStringList log;
        SolvePortfolio portfolio([&](const QString& text, LogColor) { log << text; });
        SolveOptions options;
        options.racing = false;
        ASSERT_EQ(portfolio.solve(SolvePaths(image), options, SolvePortfolio::Clock::now() + std::chrono::seconds(120))
                      .toStdString(),
                  "");
        const QString winner = log.filter("Solved by ").value(0);
        EXPECT_EQ(winner.startsWith("Solved by sequence"), *frame.solvedBy != 0) << qPrintable(log.join('\n'));
        const auto solution = WcsSummary::read(SolvePaths(image).wcs);
        ASSERT_TRUE(solution);
        EXPECT_LT(skyfield::angularSeparation(solution->ra, solution->dec, frame.ra, frame.dec), 0.05);
    }
}

}  // namespace
