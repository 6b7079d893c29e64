// The solver state and its log: state changes, colours, order of lines
// posted from several threads, and the one-solve-at-a-time rule.
#include "solver/SolverFixture.h"

#include "core/Defaults.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QSettings>
#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

using namespace siderama;

namespace {

class SolverState_ : public SolverFixture {};

TEST_F(SolverState_, StartsReadyAndChangesThroughBusyDoneFailed) {
    const SolverState fresh = solver.state();
    EXPECT_EQ(fresh.status, SolverStatus::ready);
    EXPECT_EQ(fresh.message, "");
    EXPECT_FALSE(fresh.raCenter || fresh.decCenter || fresh.orientation || fresh.pixelScale);

    solver.busy();
    settle();
    EXPECT_EQ(solver.state().status, SolverStatus::busy);
    EXPECT_TRUE(view.lines.isEmpty()) << "busy without a message logs nothing";
    EXPECT_EQ(view.controls, std::make_pair(false, true));

    solver.failed("\nFailed to convert x.png to FITS");
    settle();
    EXPECT_EQ(solver.state().status, SolverStatus::failed);
    EXPECT_EQ(solver.state().message, "Failed to convert x.png to FITS");
    ASSERT_EQ(view.lines.size(), 1);
    EXPECT_EQ(view.lines[0].text, "\nFailed to convert x.png to FITS");
    EXPECT_EQ(view.lines[0].color, RED);
    EXPECT_EQ(view.controls, std::make_pair(true, false));

    solver.busy("step");
    solver.done();
    settle();
    EXPECT_EQ(solver.state().status, SolverStatus::done);
    EXPECT_EQ(solver.state().message, "step") << "a call without a message keeps the last one";
    EXPECT_EQ(view.controls, std::make_pair(true, false));
}

TEST_F(SolverState_, LinesFromManyThreadsKeepEachThreadsOrder) {
    constexpr int threads = 4, perThread = 5000;
    std::vector<std::thread> writers;
    std::atomic<int> finished = 0;
    for (int t = 0; t < threads; ++t)
        writers.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                solver.append(QString("%1 %2").arg(t).arg(i));
                if (i % 100 == 0) solver.busy(QString("busy %1").arg(t));
                (void)solver.state();
            }
            ++finished;
        });
    // The main thread applies batches while the writers run.
    while (finished < threads) QCoreApplication::processEvents();
    for (auto& writer : writers) writer.join();
    settle();
    std::vector<int> next(threads, 0);
    int total = 0;
    for (const auto& line : view.lines) {
        if (line.text.startsWith("busy")) continue;
        const QStringList words = line.text.split(' ');
        const int t = words[0].toInt();
        EXPECT_EQ(words[1].toInt(), next[t]++) << "thread " << t;
        ++total;
    }
    EXPECT_EQ(total, threads * perThread);
}

TEST_F(SolverState_, ShowLoadsTheCheckBoxesAndSaveStateStoresBoth) {
    QSettings("Siderama", "Siderama").clear();
    solver.show();
    settle();
    EXPECT_EQ(view.checkBoxes, std::make_pair(false, false));
    EXPECT_EQ(view.presented, 1);

    solver.saveState(false, true);
    EXPECT_FALSE(Defaults::boolValue(Defaults::removeCreatedFiles));
    EXPECT_TRUE(Defaults::boolValue(Defaults::writeWCSHeaders));
    EXPECT_FALSE(solver.removeFilesEnabled());

    solver.saveState(true, false);
    SolverDelegate other;
    RecordingView otherView;
    other.setView(&otherView);
    other.show();
    testsupport::waitUntil([&] { return otherView.presented == 1; });
    EXPECT_EQ(otherView.checkBoxes, std::make_pair(true, false));
    EXPECT_TRUE(other.removeFilesEnabled());
}

TEST_F(SolverState_, OnlyOneSolveRunsAtATime) {
    const QString started = scratch.filePath("started");
    tool("image2xy", "touch " + started.toUtf8() + "\nsleep 30\n");
    const QString image = scratch.filePath("a.fits");
    QFile(image).open(QIODevice::WriteOnly);

    ASSERT_TRUE(solver.solvePath(image));
    EXPECT_FALSE(solver.claim()) << "a running solve cannot be claimed";
    EXPECT_FALSE(solver.solvePath(image));
    ASSERT_TRUE(testsupport::waitUntil([&] { return QFile::exists(started); }));
    settle();
    EXPECT_TRUE(view.contains("Solver busy"));

    bool finished = false;
    QObject::connect(&solver, &SolverDelegate::solveFinished, [&](bool solved) {
        finished = true;
        EXPECT_FALSE(solved);
    });
    solver.abort();
    ASSERT_TRUE(testsupport::waitUntil([&] { return finished; }, std::chrono::seconds(15)));
    EXPECT_EQ(solver.state().status, SolverStatus::failed);
    EXPECT_EQ(solver.state().message, "image2xy aborted");
    EXPECT_TRUE(solver.claim()) << "the solver is free again";
}

TEST_F(SolverState_, ConcurrentClaimsAdmitExactlyOne) {
    for (int round = 0; round < 50; ++round) {
        SolverDelegate fresh;
        std::vector<SolveReservation> held(8);
        std::vector<std::thread> clients;
        for (int i = 0; i < 8; ++i) clients.emplace_back([&, i] { held[i] = fresh.claim(); });
        for (auto& client : clients) client.join();
        ASSERT_EQ(std::count_if(held.begin(), held.end(), [](const auto& r) { return bool(r); }), 1);
    }
    // A reservation lost on its way to a solve (an exception) frees the solver.
    { const SolveReservation lost = solver.claim(); }
    EXPECT_TRUE(solver.claim());
}

}  // namespace
