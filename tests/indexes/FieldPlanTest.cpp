// Planning for a field of view: which keys get ticked, what the ticks cost,
// and refusing what the disk cannot hold.
#include "core/Defaults.h"
#include "indexes/FieldPlanner.h"
#include "indexes/IndexCatalogue.h"
#include "indexes/IndexTestSupport.h"

using namespace siderama;
using testsupport::FakeIndexServer;
using testsupport::waitUntil;

namespace {
QStringList keys(const QStringList& numbers) {
    QStringList result;
    for (const QString& number : numbers)
        result << "index-" + number + (number.toInt() >= 4200 && number.toInt() <= 4206 ? "-*.fits" : ".fits");
    return result;
}

// A typed width and the keys whose skymarks suit it (none: not a width).
TEST(FieldWidth, TicksTheKeysWhoseSkymarksSuitTheField) {
    const QStringList half = keys({"4107", "4206", "4205", "4204", "4203", "4202", "4201"});
    const std::vector<std::pair<QString, QStringList>> cases{
        {"0.5", half}, {"30'", half}, {"30 arcmin", half}, {"2", keys({"4111", "4110", "4109", "4108", "4107", "4206", "4205"})},
        {"10°", keys({"4116", "4115", "4114", "4113", "4112", "4111", "4110"})}, {"3'", keys({"4201", "4200"})},
        {"abc", {}}, {"0", {}}, {"-2", {}}, {"400", {}}, {"", {}}};
    for (const auto& [typed, expected] : cases) {
        const auto degrees = FieldPlanner::parseWidth(typed);
        EXPECT_EQ(degrees.has_value(), !expected.isEmpty()) << qPrintable(typed);
        if (degrees) EXPECT_EQ(FieldPlanner::keysFor(*degrees), expected) << qPrintable(typed);
    }
}

class PlanTest : public ManagerFixture {
protected:
    DownloadCost waitForCost() {
        EXPECT_TRUE(waitUntil([this] { return !delegate.sizing(); }));
        return delegate.cost();
    }
};

// Installed keys stay ticked (applying must not trash them), boxes set by
// hand keep their state, and a new width replaces the last one's ticks.
TEST_F(PlanTest, leavesHandSetAndInstalledKeysAlone) {
    dirs.write("index-4119.fits", testsupport::fitsBytes(2880));
    ASSERT_TRUE(delegate.refresh());
    delegate.planForField(2);
    view.states["index-4110.fits"] = CheckState::off;  // by hand
    view.states["index-4217.fits"] = CheckState::on;   // by hand
    delegate.planForField(10);
    QStringList ticked;
    for (const QString& key : FILES().keys(IndexSeries::s4100) + FILES().keys(IndexSeries::s4200))
        if (view.states.value(key) == CheckState::on) ticked << key;
    EXPECT_EQ(ticked, keys({"4119", "4116", "4115", "4114", "4113", "4112", "4111", "4217"}));
}

TEST_F(PlanTest, showsTheCostFromRememberedSizesAndRefusesWhatDoesNotFit) {
    server.serveFits("index-4107.fits", 5000);
    server.serve("index-4208.fits", {.body = testsupport::fitsBytes(100), .announcedLength = 1000000000000000000});
    dirs.write(".index-4107.fits.part", testsupport::fitsBytes(1200));  // half a transfer counts as fetched
    dirs.write(".index-4107.fits.part.id", "[General]\netag=\"v1\"\nlength=5000\n");
    view.states["index-4107.fits"] = CheckState::on;
    delegate.ticksChanged();
    DownloadCost cost = waitForCost();
    EXPECT_EQ(cost.total, 3800);
    EXPECT_EQ(cost.unknown, 0);
    EXPECT_EQ(server.headRequests(), QStringList({"/4100/index-4107.fits"}));

    RecordingView other;  // sizes are remembered: no second question
    IndexManagerDelegate again(other, dirs.folder(), DistributionIndexes(dirs.distribution()), fastPolicy());
    other.states["index-4107.fits"] = CheckState::on;
    EXPECT_EQ(again.cost().total, 3800);

    view.states["index-4208.fits"] = CheckState::on;
    delegate.ticksChanged();
    cost = waitForCost();
    EXPECT_FALSE(cost.fits());
    delegate.go();
    EXPECT_TRUE(view.lastStatus().startsWith("Not enough space in " + dirs.folder())) << view.lastStatus().toStdString();
    EXPECT_FALSE(delegate.transferring());
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(PlanTest, applyingAnUntickedKeyDropsItsPartialFile) {
    dirs.write(".index-4119.fits.part", testsupport::fitsBytes(1200));
    dirs.write(".index-4119.fits.part.id", "[General]\netag=\"v1\"\nlength=5000\n");
    ASSERT_TRUE(delegate.refresh());
    delegate.go();
    EXPECT_TRUE(dirs.entries().isEmpty()) << dirs.entries().join(", ").toStdString();
}

TEST_F(PlanTest, plansForTheLastSolvedField) {
    EXPECT_FALSE(delegate.planForLastSolve());
    Defaults::setString(IndexManagerDelegate::lastFieldWidthKey, "10");
    EXPECT_TRUE(delegate.planForLastSolve());
    EXPECT_EQ(view.states["index-4110.fits"], CheckState::on);
}
}  // namespace
