// Members of one service on a private PostgreSQL server, as separate `siderama --headless` processes with
// stand-in tools: a front end that only serves, a member that serves and solves, a pure worker. Jobs move
// between them, a worker killed mid-solve, a database restart and a cancel across members.
#include "support/PostgresServer.h"
#include "support/PrivateHome.h"
#include "support/RawHttpClient.h"
#include "support/TestSupport.h"
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>
#include <nlohmann/json.hpp>
#include <gtest/gtest.h>
#include <signal.h>

using nlohmann::json;

namespace {
// The scale hint picks the stand-in's behaviour: 1 solves, 5 solves after 5 s, 3 hangs.
const char* const solveField = R"(
[ "$1" = --help ] && exit 0
prev=
for a; do [ "$prev" = --dir ] && dir=$a; [ "$prev" = --scale-low ] && mode=$a; prev=$a; done
echo $$ > "$dir/pid"
case $mode in 5) sleep 5 ;; 3) exec sleep 60 ;; esac
touch "$dir/job.solved" "$dir/job.wcs"
)";

struct Member {
    testsupport::PrivateHome home;
    std::unique_ptr<QProcess> process;
    int port = 0;
};

class SharedQueue : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(postgres.ok());
        testsupport::writeScript(tools.path(), "solve-field", solveField);
        testsupport::writeScript(tools.path(), "wcsinfo", "printf 'ra_center 83.8\\ndec_center -5.4\\norientation 10\\ndet -1e-4\\n"
                                                         "imagew 800\\nimageh 600\\n'\n");
        for (auto [member, solves, listen] : {std::tuple{&front, 0, true}, {&solver, 1, true}, {&worker, 1, false}}) {
            member->home.setTools(tools.path());
            QStringList arguments{"--headless", "--database", postgres.url(), "--solves", QString::number(solves)};
            member->process = member->home.start(arguments + (listen ? QStringList{"--port", "0"} : QStringList{"--no-listen"}));
            ASSERT_TRUE(testsupport::waitUntil([&] {
                member->process->waitForReadyRead(100);
                output[member] += member->process->readAll();
                member->port = QRegularExpression("HTTP server started on port (\\d+)").match(output[member]).captured(1).toInt();
                return member->port > 0 || output[member].contains("Not listening");
            }, std::chrono::seconds(30))) << qPrintable(output[member]);
        }
    }
    void TearDown() override {
        for (Member* member : {&front, &solver, &worker}) {
            member->process->terminate();
            member->process->waitForFinished(30000);
            if (HasFailure()) std::fprintf(stderr, "%s\n", qPrintable(output[member] + member->process->readAll()));
        }
    }
    json call(int port, const std::string& target, const json& arguments = json::object()) {
        const auto answer = testsupport::request(port, "POST", target, {{"Content-Type", "application/x-www-form-urlencoded"}},
                                                 "request-json=" + QUrl::toPercentEncoding(QString::fromStdString(arguments.dump())).toStdString());
        return json::parse(answer.body, nullptr, false);
    }
    int upload(int mode, int port = 0) {
        const json reply = call(port ? port : front.port, "/api/upload", {{"scale_units", "degwidth"}, {"scale_lower", mode}, {"x", {1, 2, 3}}, {"y", {4, 5, 6}}});
        EXPECT_EQ(reply.value("status", ""), "success") << reply;
        return reply.value("subid", 0);
    }
    int jobOf(int subid) {
        int job = 0;
        testsupport::waitUntil([&] {
            const json jobs = call(front.port, "/api/submissions/" + std::to_string(subid)).value("jobs", json::array());
            return !jobs.empty() && (job = jobs[0].get<int>()) > 0;
        }, std::chrono::seconds(60));
        return job;
    }
    std::string ended(int job) {
        std::string status;
        testsupport::waitUntil([&] { return (status = call(front.port, "/api/jobs/" + std::to_string(job)).value("status", "")) != "solving"; },
                               std::chrono::seconds(90));
        return status;
    }
    // The member whose folder holds the running job's tool.
    Member* holder(int job) {
        Member* found = nullptr;
        testsupport::waitUntil([&] {
            for (Member* member : {&solver, &worker})
                if (QFileInfo::exists(member->home.filePath("data/Siderama/jobs/" + QString::number(job) + "/pid"))) found = member;
            return found != nullptr;
        });
        return found;
    }
    testsupport::PostgresServer postgres;
    QTemporaryDir tools;
    Member front, solver, worker;
    std::map<Member*, QString> output;
};

TEST_F(SharedQueue, MembersShareJobsAcrossAKilledWorkerARestartedDatabaseAndACancel) {
    std::vector<int> jobs;
    for (int i = 0; i < 6; ++i) jobs.push_back(jobOf(upload(1, i % 2 ? solver.port : front.port)));
    for (const int job : jobs) {
        EXPECT_EQ(ended(job), "success");
        EXPECT_EQ(testsupport::request(front.port, "GET", "/wcs_file/" + std::to_string(job)).status, 200) << "served by any member";
    }
    const json status = json::parse(testsupport::request(front.port, "GET", "/api/status").body, nullptr, false);
    EXPECT_EQ(status["queue"]["members"].size(), 3u) << status;

    const int slow = jobOf(upload(5));
    Member* victim = holder(slow);
    ASSERT_TRUE(victim);
    ::kill(pid_t(victim->process->processId()), SIGKILL);
    Member* survivor = victim == &worker ? &solver : &worker;
    EXPECT_EQ(ended(slow), "success");
    EXPECT_TRUE(QFileInfo::exists(survivor->home.filePath("data/Siderama/jobs/" + QString::number(slow) + "/job.solved")));

    const int hangingSubmission = upload(3), hanging = jobOf(hangingSubmission);
    ASSERT_EQ(holder(hanging), survivor);
    std::vector<int> waiting;
    for (int i = 0; i < 3; ++i) waiting.push_back(upload(1));
    ASSERT_TRUE(postgres.stop());
    for (const std::string target : {"/api/jobs/" + std::to_string(jobs[0]), std::string("/api/upload")}) {
        const json reply = call(front.port, target, {{"x", {1}}, {"y", {2}}});
        EXPECT_FALSE(reply.is_object() && reply.value("status", "") == "success") << target << ": an error, not an answer";
    }
    ASSERT_TRUE(postgres.start());
    call(front.port, "/api/jobs/" + std::to_string(hanging) + "/cancel");
    EXPECT_EQ(ended(hanging), "failure");
    EXPECT_EQ(call(front.port, "/api/submissions/" + std::to_string(hangingSubmission)).value("error_message", ""), "Cancelled");
    for (const int subid : waiting) EXPECT_EQ(ended(jobOf(subid)), "success");
}
}  // namespace
