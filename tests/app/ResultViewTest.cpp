// The window's whole solve, with the real tools and the Tycho-2 index files, of a generated field dropped on it
// (`siderama --solve` is solved end to end by the installed program in tests/packaging), and what the result view
// shows of it: matched stars and the RA/Dec grid where the field's own projection puts them, the named objects of
// the region, and layers that switch.
#include "app/ResultView.h"
#include "app/ResultsPanel.h"
#include "app/SolverWindow.h"
#include "core/Constants.h"
#include "core/SolverConfig.h"
#include "skyfield/SkyField.h"
#include "skyfield/TanProjection.h"
#include "solver/SolveResult.h"
#include "solver/SolverDelegate.h"
#include "support/TestSupport.h"
#include <QFile>
#include <QMimeData>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QUrl>
#include <QtPlugin>
#include <cmath>
#include <gtest/gtest.h>

Q_IMPORT_PLUGIN(RawImagePlugin)

using namespace siderama;

namespace {

// A field centred on the Orion Nebula, turned so that the image axes are not the sky's.
constexpr double ra = 83.82, dec = -5.39, scale = 30, rotation = 30;
constexpr int width = 900, height = 700;

class ResultViewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        indexesInstalled = testsupport::linkTycho2Indexes(FOLDER());
        if (!indexesInstalled) return;
        writeSolverConfigIfMissing(FOLDER(), CONFIG());
        qputenv("SIDERAMA_TOOLS_DIR", testsupport::realToolsDirectory().toLocal8Bit());
        scratch = new QTemporaryDir;
        const QString image = scratch->filePath("orion.tiff");
        if (!skyfield::runSkyField({"--ra", QString::number(ra), "--dec", QString::number(dec), "--width",
                                    QString::number(width), "--height", QString::number(height), "--scale",
                                    QString::number(scale), "--rotation", QString::number(rotation), "--format",
                                    "tiff48", "--out", image}))
            return;
        solver = new SolverDelegate;
        window = new SolverWindow(*solver);
        solver->setView(window);
        static bool finished = false;  // the connection outlives this function
        QObject::connect(solver, &SolverDelegate::solveFinished, [&] { finished = true; });
        // The pipeline's full-resolution list: "fast xy" finds stars at half resolution.
        QSettings("Siderama", "Siderama").setValue("solve/racing", false);
        QMimeData drop;
        drop.setUrls({QUrl::fromLocalFile(image)});
        if (window->solveDropped(drop) && testsupport::waitUntil([&] { return finished; }, std::chrono::seconds(300)))
            solved = solver->lastResult();
    }
    static void TearDownTestSuite() {
        solved.reset();
        delete window;
        delete solver;
        delete scratch;
    }
    // Only the optional index files excuse a missing solve; a solve that fails with them is a failure.
    void SetUp() override {
        if (!indexesInstalled) GTEST_SKIP() << "the Tycho-2 index files are not installed";
        ASSERT_TRUE(solved && solved->wcs) << "the window did not solve the generated field";
    }
    // Where the generator drew a sky position, in image pixels from the top-left corner (its own pixel positions
    // are pixel centres).
    static QPointF truth(double starRa, double starDec) {
        static const skyfield::TanProjection projection(ra, dec, scale, rotation, width, height);
        const auto p = projection.project(starRa, starDec);
        return p ? QPointF(p->x + 0.5, p->y + 0.5) : QPointF(-1e9, -1e9);
    }
    static double distance(QPointF a, QPointF b) { return QLineF(a, b).length(); }

    static inline bool indexesInstalled = false;
    static inline QTemporaryDir* scratch = nullptr;
    static inline SolverDelegate* solver = nullptr;
    static inline SolverWindow* window = nullptr;
    static inline std::shared_ptr<const SolveResult> solved;
};

TEST_F(ResultViewTest, TheWindowReportsWhereTheFieldWasMade) {
    const SolverState state = solver->state();
    ASSERT_TRUE(state.raCenter && state.decCenter && state.pixelScale && state.orientation);
    EXPECT_LT(skyfield::angularSeparation(ra, dec, *state.raCenter, *state.decCenter) * 3600 / scale, 2.0);
    EXPECT_NEAR(*state.pixelScale, scale, scale * 0.01);
    // wcsinfo gives the orientation at the solution's reference pixel, which need not be the centre.
    EXPECT_NEAR(std::remainder(*state.orientation - (180 - rotation), 360.0), 0, 3.0);
    EXPECT_TRUE(window->statusBar()->currentMessage().contains("Done in"));
    QFile wcsImage(scratch->filePath("orion_wcs.fits"));
    ASSERT_TRUE(wcsImage.open(QIODevice::ReadOnly));
    EXPECT_TRUE(wcsImage.read(2880 * 20).contains("CTYPE1  = 'RA---TAN")) << "the result carries WCS headers";
}

TEST_F(ResultViewTest, MatchedStarsAndGridLinesLandWhereTheFieldHasThem) {
    ASSERT_GE(solved->matchedStars.size(), 10u);
    for (const MatchedStar& star : solved->matchedStars) {
        const QPointF expected = truth(star.sky.ra, star.sky.dec);
        EXPECT_LT(distance(star.catalogue, expected), 2.0) << star.sky.ra << " " << star.sky.dec;
        EXPECT_LT(distance(star.detected, expected), 2.0) << "the star found in the image";
    }
    int lines[2] = {0, 0};
    for (const GridLine& line : solved->grid) {
        const bool isDec = line.axis == GridLine::Axis::declination;
        ++lines[isDec];
        for (const QPointF& point : line.points) {
            const SkyPoint along = solved->wcs->toSky(point);
            const QPointF expected = isDec ? truth(along.ra, line.value) : truth(line.value, along.dec);
            ASSERT_LT(distance(point, expected), 2.0) << qPrintable(line.label);
        }
    }
    EXPECT_TRUE(lines[0] >= 2 && lines[1] >= 2);
}

TEST_F(ResultViewTest, TheOrionNebulaIsNamedAtItsPlace) {
    const auto& objects = solved->objects.objects;
    const auto nebula = std::find_if(objects.begin(), objects.end(),
                                     [](const SkyObject& o) { return o.names.contains("Orion Nebula"); });
    ASSERT_NE(nebula, objects.end());
    EXPECT_EQ(nebula->kind, SkyObject::Kind::deepSky);
    EXPECT_LT(distance(nebula->position, truth(83.8221, -5.3911)), 2.0);
    ASSERT_FALSE(solved->constellations.empty());
    EXPECT_EQ(solved->constellations.front().name, "Orion");
    ResultsPanel panel;
    panel.showResult(solved);
    const QString summary = panel.plainText();
    EXPECT_TRUE(summary.contains("Orion Nebula") && summary.contains("Parity: normal")) << qPrintable(summary);
    EXPECT_TRUE(summary.contains("RA, Dec: 05:35:")) << "the centre in h:m:s";
    // North turned 30° towards the left (east) puts up 30° west of north.
    EXPECT_NEAR(solved->wcs->upPositionAngle(), 360 - rotation, 0.5);
}

// A matched-star ring is drawn in its colour only while its layer is on.
TEST_F(ResultViewTest, LayersSwitchOnAndOff) {
    ResultView view;
    view.resize(900, 700);
    view.layerAction(ResultView::Layer::grid)->setChecked(false);
    view.layerAction(ResultView::Layer::constellations)->setChecked(false);
    bool loaded = false;
    QObject::connect(&view, &ResultView::imageLoaded, [&] { loaded = true; });
    view.showResult(solved);
    ASSERT_TRUE(testsupport::waitUntil([&] { return loaded; }, std::chrono::seconds(30)));
    EXPECT_EQ(view.image().size(), QSize(width, height));
    const auto ringPixels = [&] {
        const QImage shot = view.grab().toImage();
        int count = 0;
        for (const MatchedStar& star : solved->matchedStars) {
            const QPoint at = view.imageToWidget().map(star.catalogue).toPoint();
            for (int dx = -12; dx <= 12; ++dx) {
                const QColor c = shot.pixelColor(at + QPoint(dx, 0));
                count += c.green() > 180 && c.red() < 140 && c.blue() < 160;
            }
        }
        return count;
    };
    EXPECT_GT(ringPixels(), int(solved->matchedStars.size()));
    view.layerAction(ResultView::Layer::matchedStars)->setChecked(false);
    EXPECT_EQ(ringPixels(), 0);
}

}  // namespace
