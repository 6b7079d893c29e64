// What the result view shows of a real solve of a generated field: the
// matched stars and the RA/Dec grid where the field's own projection puts
// them, the named objects of the region, and layers that switch.
#include "app/ResultView.h"
#include "app/ResultsPanel.h"
#include "core/Constants.h"
#include "core/SolverConfig.h"
#include "skyfield/SkyField.h"
#include "skyfield/TanProjection.h"
#include "solver/SolveResult.h"
#include "solver/SolverDelegate.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtPlugin>
#include <gtest/gtest.h>

Q_IMPORT_PLUGIN(RawImagePlugin)

using namespace siderama;

namespace {

// A field centred on the Orion Nebula, turned so that the image axes are not
// the sky's.
constexpr double ra = 83.82, dec = -5.39, scale = 30, rotation = 30;
constexpr int width = 900, height = 700;

class ResultViewTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!QFile::exists("/usr/share/astrometry/index-tycho2-10.littleendian.fits")) return;
        writeSolverConfigIfMissing(FOLDER(), CONFIG());
        testsupport::linkTycho2Indexes(FOLDER());
        qputenv("SIDERAMA_TOOLS_DIR", testsupport::realToolsDirectory().toLocal8Bit());
        scratch = new QTemporaryDir;
        const QString image = scratch->filePath("orion.fits");
        const auto truth = skyfield::runSkyField(
            {"--ra", QString::number(ra), "--dec", QString::number(dec), "--width", QString::number(width),
             "--height", QString::number(height), "--scale", QString::number(scale), "--rotation",
             QString::number(rotation), "--format", "fits", "--out", image});
        if (!truth) return;
        SolverDelegate solver;
        bool finished = false;
        QObject::connect(&solver, &SolverDelegate::solveFinished, [&] { finished = true; });
        // The pipeline's full-resolution list: "fast xy" finds stars at half resolution.
        SolveOptions inTurn;
        inTurn.racing = false;
        solver.solvePath(image, inTurn);
        if (testsupport::waitUntil([&] { return finished; }, std::chrono::seconds(300))) solved = solver.lastResult();
    }
    static void TearDownTestSuite() {
        solved.reset();
        delete scratch;
    }
    void SetUp() override {
        if (!solved || !solved->wcs) GTEST_SKIP() << "no solve of the generated field (Tycho-2 index files missing?)";
    }

    // Where the generator drew a sky position, in image pixels from the
    // top-left corner (its own pixel positions are pixel centres).
    static QPointF truth(double starRa, double starDec) {
        static const skyfield::TanProjection projection(ra, dec, scale, rotation, width, height);
        const auto p = projection.project(starRa, starDec);
        return p ? QPointF(p->x + 0.5, p->y + 0.5) : QPointF(-1e9, -1e9);
    }
    static double distance(QPointF a, QPointF b) { return QLineF(a, b).length(); }

    static inline QTemporaryDir* scratch = nullptr;
    static inline std::shared_ptr<const SolveResult> solved;
};

TEST_F(ResultViewTest, MatchedStarsLandWhereTheFieldHasThem) {
    ASSERT_GE(solved->matchedStars.size(), 10u);
    for (const MatchedStar& star : solved->matchedStars) {
        const QPointF expected = truth(star.sky.ra, star.sky.dec);
        EXPECT_LT(distance(star.catalogue, expected), 2.0) << star.sky.ra << " " << star.sky.dec;
        EXPECT_LT(distance(star.detected, expected), 2.0) << "the star found in the image";
    }
}

TEST_F(ResultViewTest, GridLinesLandWhereTheFieldHasThem) {
    int declinations = 0, rightAscensions = 0;
    for (const GridLine& line : solved->grid) {
        const bool isDec = line.axis == GridLine::Axis::declination;
        (isDec ? declinations : rightAscensions)++;
        for (const QPointF& point : line.points) {
            const SkyPoint along = solved->wcs->toSky(point);
            const QPointF expected = isDec ? truth(along.ra, line.value) : truth(line.value, along.dec);
            ASSERT_LT(distance(point, expected), 2.0) << qPrintable(line.label);
        }
    }
    EXPECT_GE(declinations, 2);
    EXPECT_GE(rightAscensions, 2);
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
    EXPECT_TRUE(summary.contains("Orion Nebula")) << qPrintable(summary);
    EXPECT_TRUE(summary.contains("RA, Dec: 05:35:")) << "the centre in h:m:s";
    EXPECT_TRUE(summary.contains("Parity: normal"));
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
