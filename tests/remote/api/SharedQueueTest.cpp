// Members of one service on a private PostgreSQL server, as separate `siderama --headless` processes with
// stand-in tools: two that serve the API and two pure workers. Jobs move between them, across a worker
// killed mid-solve, a database restart and a cancel made on another member.
#include "support/PostgresServer.h"
#include "support/PrivateHome.h"
#include "support/RawHttpClient.h"
#include "support/TestSupport.h"
#include <QFileInfo>
#include <QUrl>
#include <nlohmann/json.hpp>
#include <gtest/gtest.h>
#include <signal.h>

using nlohmann::json;

namespace {
// The scale hint picks the stand-in's behaviour: 1 solves, 5 solves after 5 s, 3 hangs.
const char* const solveField = R"(
[ "$1" = --help ] && exit 0
for a; do [ "$prev" = --dir ] && dir=$a; [ "$prev" = --scale-low ] && mode=$a; prev=$a; done
echo $$ > "$dir/pid"
case $mode in 5) sleep 5 ;; 3) exec sleep 60 ;; esac
touch "$dir/job.solved" "$dir/job.wcs"
)";

struct Worker {
    testsupport::PrivateHome home;
    std::unique_ptr<QProcess> process;
    ~Worker() { if (process) process->terminate(), process->waitForFinished(30000); }
    bool runs(int job) const { return QFileInfo::exists(home.filePath("data/Siderama/jobs/" + QString::number(job) + "/pid")); }
};

// Two members that serve only and two pure workers.
class SharedQueue : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(postgres.ok());
        testsupport::writeScript(tools.path(), "solve-field", solveField);
        testsupport::writeScript(tools.path(), "wcsinfo", "printf 'ra_center 83.8\\ndec_center -5.4\\norientation 10\\ndet -1e-4\\n"
                                                         "imagew 800\\nimageh 600\\n'\n");
        for (Worker* worker : {&first, &second}) {
            worker->home.setTools(tools.path());
            worker->process = worker->home.start({"--headless", "--no-listen", "--solves", "1", "--database", postgres.url()});
        }
        for (int i = 0; i < 2; ++i)
            ASSERT_GT(ports[i] = (members[i] = std::make_unique<testsupport::HeadlessProgram>(
                                      homes[i], QStringList{}, QStringList{"--port", "0", "--solves", "0", "--database", postgres.url()}))
                                     ->waitForPort(), 0);
    }
    json call(const std::string& target, const json& arguments = json::object(), int port = 0) {
        const std::string form = "request-json=" + QUrl::toPercentEncoding(QString::fromStdString(arguments.dump())).toStdString();
        return json::parse(testsupport::request(port ? port : ports[0], "POST", target,
                                                {{"Content-Type", "application/x-www-form-urlencoded"}}, form).body, nullptr, false);
    }
    int upload(int mode, int port = 0) {
        const json reply = call("/api/upload", {{"scale_units", "degwidth"}, {"scale_lower", mode}, {"x", {1, 2, 3}}, {"y", {4, 5, 6}}}, port);
        EXPECT_EQ(reply.value("status", ""), "success") << reply;
        return reply.value("subid", 0);
    }
    int jobOf(int subid) {
        json jobs;
        const auto listed = [&] { return !(jobs = call("/api/submissions/" + std::to_string(subid)).value("jobs", json::array())).empty(); };
        testsupport::waitUntil(listed, std::chrono::seconds(60));
        return jobs.empty() ? 0 : jobs[0].get<int>();
    }
    std::string ended(int job) {
        std::string s;
        testsupport::waitUntil([&] { return (s = call("/api/jobs/" + std::to_string(job)).value("status", "")) != "solving"; }, std::chrono::seconds(90));
        return s;
    }
    Worker* holder(int job) {
        return testsupport::waitUntil([&] { return first.runs(job) || second.runs(job); }) ? first.runs(job) ? &first : &second : nullptr;
    }
    testsupport::PostgresServer postgres;
    QTemporaryDir tools;
    Worker first, second;
    testsupport::PrivateHome homes[2];
    std::unique_ptr<testsupport::HeadlessProgram> members[2];
    int ports[2] = {};
};

TEST_F(SharedQueue, MembersShareJobsAcrossAKilledWorkerARestartedDatabaseAndACancel) {
    std::vector<int> jobs;
    for (int i = 0; i < 6; ++i) jobs.push_back(jobOf(upload(1, ports[i % 2])));
    for (const int job : jobs) {
        EXPECT_EQ(ended(job), "success");
        EXPECT_EQ(testsupport::request(ports[1], "GET", "/wcs_file/" + std::to_string(job)).status, 200) << "served by any member";
    }
    EXPECT_EQ(json::parse(testsupport::request(ports[0], "GET", "/api/status").body)["queue"]["members"].size(), 4u);
    const int slow = jobOf(upload(5));  // solved again elsewhere after its worker's death
    Worker* victim = holder(slow);
    ASSERT_TRUE(victim && ::kill(pid_t(victim->process->processId()), SIGKILL) == 0);
    Worker* survivor = victim == &first ? &second : &first;
    EXPECT_EQ(ended(slow), "success");
    EXPECT_TRUE(QFileInfo::exists(survivor->home.filePath("data/Siderama/jobs/" + QString::number(slow) + "/job.solved")));
    const int hangingSubmission = upload(3), hanging = jobOf(hangingSubmission);
    ASSERT_EQ(holder(hanging), survivor);
    std::vector<int> waiting{upload(1), upload(1), upload(1)};
    ASSERT_TRUE(postgres.stop());
    const json poll = call("/api/jobs/" + std::to_string(jobs[0]));
    EXPECT_EQ(poll.value("status", ""), "error") << poll << ": an error, not an answer";
    ASSERT_TRUE(postgres.start());
    call("/api/jobs/" + std::to_string(hanging) + "/cancel");
    EXPECT_EQ(ended(hanging), "failure");
    EXPECT_EQ(call("/api/submissions/" + std::to_string(hangingSubmission)).value("error_message", ""), "Cancelled");
    for (const int subid : waiting) EXPECT_EQ(ended(jobOf(subid)), "success");
}
}  // namespace
