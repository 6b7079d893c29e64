// A whole solve with the real tools and the Tycho-2 index files on a generated star field dropped on the window
// (`siderama --solve` is solved end to end by the installed program in tests/packaging).
#include "app/SolverWindow.h"
#include "core/Constants.h"
#include "core/SolverConfig.h"
#include "skyfield/SkyField.h"
#include "solver/SolverDelegate.h"
#include "support/TestSupport.h"
#include <gtest/gtest.h>
#include <QFile>
#include <QMimeData>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QUrl>
#include <QtPlugin>
#include <cmath>

Q_IMPORT_PLUGIN(RawImagePlugin)

using namespace siderama;

namespace {

TEST(SolveEndToEnd, AFieldDroppedOnTheWindowIsSolvedWhereItWasMade) {
    if (!testsupport::linkTycho2Indexes(FOLDER())) GTEST_SKIP() << "Tycho-2 index files missing";
    writeSolverConfigIfMissing(FOLDER(), CONFIG());
    qputenv("SIDERAMA_TOOLS_DIR", testsupport::realToolsDirectory().toLocal8Bit());
    QTemporaryDir scratch;
    const QString image = scratch.filePath("field.tiff");
    const auto truth = skyfield::runSkyField({"--ra", "114.8", "--dec", "45.2", "--width", "900", "--height", "700",
                                              "--scale", "36", "--rotation", "120", "--format", "tiff48", "--out", image});
    ASSERT_TRUE(truth) << "skyfield failed";
    SolverDelegate solver;
    SolverWindow window(solver);
    solver.setView(&window);
    bool finished = false, solved = false;
    QObject::connect(&solver, &SolverDelegate::solveFinished, [&](bool result) { finished = true, solved = result; });
    QMimeData drop;
    drop.setUrls({QUrl::fromLocalFile(image)});
    ASSERT_TRUE(window.solveDropped(drop));
    ASSERT_TRUE(testsupport::waitUntil([&] { return finished; }, std::chrono::seconds(300)));
    const SolverState state = solver.state();
    ASSERT_TRUE(solved) << qPrintable(window.logText());
    ASSERT_TRUE(state.raCenter && state.decCenter && state.pixelScale && state.orientation);
    EXPECT_LT(skyfield::angularSeparation(truth->ra, truth->dec, *state.raCenter, *state.decCenter) * 3600 / truth->scale, 2.0);
    EXPECT_NEAR(*state.pixelScale, truth->scale, truth->scale * 0.01);
    // wcsinfo gives the orientation at the solution's reference pixel, which
    // need not be the centre: away from the equator allow a few degrees.
    EXPECT_NEAR(std::remainder(*state.orientation - (180 - truth->rotation), 360.0), 0, 3.0);
    EXPECT_TRUE(window.statusBar()->currentMessage().contains("Done in")) << qPrintable(window.statusBar()->currentMessage());
    QFile wcsImage(scratch.filePath("field_wcs.fits"));
    ASSERT_TRUE(wcsImage.open(QIODevice::ReadOnly));
    EXPECT_TRUE(wcsImage.read(2880 * 20).contains("CTYPE1  = 'RA---TAN")) << "the result carries WCS headers";
    qunsetenv("SIDERAMA_TOOLS_DIR");
}

}  // namespace
