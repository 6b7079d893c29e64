// API jobs from upload to their end as clients poll them, over loopback,
// with a stand-in solve-field that solves, finds nothing, hangs or crashes,
// and with restarts in the middle of a solve.
#include "http/HttpServer.h"
#include "remote/api/AstrometryApi.h"
#include "remote/api/StarList.h"
#include "support/RawHttpClient.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

using namespace siderama;
using nlohmann::json;

namespace {

// The stand-in's behaviour is chosen by the scale hint's lower bound.
enum Mode { solves = 1, findsNothing = 2, hangs = 3, crashes = 4 };

const char* const solveField = R"(
[ "$1" = --help ] && exit 0
prev=
for a; do [ "$prev" = --dir ] && dir=$a; [ "$prev" = --scale-low ] && mode=$a; prev=$a; done
case $mode in
1) touch "$dir/job.solved" "$dir/job.wcs" ;;
3) exec sleep 60 ;;
4) kill -SEGV $$ ;;
esac
)";
const char* const wcsinfo = "printf 'ra_center 83.8\\ndec_center -5.4\\norientation 10\\ndet -1e-4\\n"
                            "imagew 800\\nimageh 600\\n'\n";

std::string hints(int mode) {
    return json{{"scale_units", "degwidth"}, {"scale_lower", mode}, {"x", {1, 2, 3}}, {"y", {4, 5, 6}}}.dump();
}

class JobLifecycle : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(scratch.isValid());
        testsupport::writeScript(scratch.filePath("tools"), "solve-field", solveField);
        testsupport::writeScript(scratch.filePath("tools"), "wcsinfo", wcsinfo);
        qputenv("SIDERAMA_TOOLS_DIR", scratch.filePath("tools").toLocal8Bit());
    }
    void TearDown() override { qunsetenv("SIDERAMA_TOOLS_DIR"); }

    void start(double timeLimit = 100) {
        ApiSettings settings;
        settings.timeLimitSeconds = timeLimit;
        api = std::make_unique<AstrometryApi>(folders, settings, JobQueue::Events{[](const QString&, LogColor) {}, {}});
        server = std::make_unique<http::HttpServer>();
        api->install(*server);
        server->POST["/api/upload"] = [this](const http::HttpRequest& r) { return *api->upload(r); };
        server->start(0);
    }
    void stop() {
        server.reset();
        api.reset();
    }

    json get(const std::string& target) {
        const testsupport::HttpAnswer answer = testsupport::request(server->port(), "GET", target);
        EXPECT_EQ(answer.status, 200) << target;
        return json::parse(answer.body, nullptr, false);
    }

    int upload(const std::string& arguments, const std::string& file = {}) {
        const std::string form = "request-json=" + QUrl::toPercentEncoding(QString::fromStdString(arguments)).toStdString();
        const testsupport::HttpAnswer answer = file.empty()
            ? testsupport::request(server->port(), "POST", "/api/upload", {{"Content-Type", "application/x-www-form-urlencoded"}}, form)
            : testsupport::request(server->port(), "POST", "/api/upload", {{"Content-Type", "multipart/form-data; boundary=B"}},
                       "--B\r\nContent-Disposition: form-data; name=request-json\r\n\r\n" + arguments +
                           "\r\n--B\r\nContent-Disposition: form-data; name=file; filename=x.dat\r\n\r\n" + file + "\r\n--B--\r\n");
        const json reply = json::parse(answer.body);
        EXPECT_EQ(reply["status"], "success") << answer.body;
        return reply.value("subid", 0);
    }

    // Polls the submission and its job as a client does until the job ends,
    // checking at every answer what clients rely on; `solving` runs once the
    // job is listed. Returns the final job status and error message.
    std::pair<std::string, std::string> follow(int subid, const std::function<void(int)>& solving = {}) {
        int job = 0;
        std::string status = "solving";
        const bool ended = testsupport::waitUntil([&] {
            const json submission = get("/api/submissions/" + std::to_string(subid));
            const json& jobs = submission["jobs"];
            EXPECT_TRUE(jobs.is_array() && jobs.size() <= 1) << submission;
            if (jobs.empty()) {
                EXPECT_EQ(submission["processing_started"], "None");
                return false;
            }
            EXPECT_TRUE(job == 0 || job == jobs[0]);
            if (std::exchange(job, jobs[0].get<int>()) == 0 && solving) solving(job);
            const bool calibrated = !submission["job_calibrations"].empty();
            const std::string now = get("/api/jobs/" + std::to_string(job))["status"];
            EXPECT_TRUE(status == "solving" || now == status) << now << " after " << status;
            EXPECT_TRUE(!calibrated || now == "success");
            status = now;
            return status != "solving";
        }, std::chrono::seconds(60));
        EXPECT_TRUE(ended);
        const json submission = get("/api/submissions/" + std::to_string(subid));
        EXPECT_EQ(submission["job_calibrations"].empty(), status != "success");
        EXPECT_EQ(get("/api/jobs/" + std::to_string(job) + "/calibration").contains("ra"), status == "success");
        lastJob = job;
        return {status, submission.value("error_message", "")};
    }

    QTemporaryDir scratch;
    JobFolders folders{scratch.filePath("api")};
    std::unique_ptr<AstrometryApi> api;
    std::unique_ptr<http::HttpServer> server;
    int lastJob = 0;
};

struct Outcome {
    int mode;
    bool cancel;
    const char* status;
    const char* error;
};

const Outcome outcomes[] = {
    {solves, false, "success", ""},
    {findsNothing, false, "failure", "No solution found"},
    {hangs, false, "failure", "Time limit of 2 s reached"},
    {hangs, true, "failure", "Cancelled"},
    {crashes, false, "failure", "solve-field terminated by signal SIGSEGV"},
    {0, false, "failure", "Unsupported data"},  // a file that is no image and no star list
};

class JobOutcome : public JobLifecycle, public ::testing::WithParamInterface<Outcome> {};

TEST_P(JobOutcome, EndsAsClientsExpect) {
    const Outcome& row = GetParam();
    start(row.cancel ? 100 : 2);
    const int subid = row.mode ? upload(hints(row.mode)) : upload("{}", "not an image\n");
    const auto [status, error] = follow(subid, [&](int job) {
        if (row.cancel) get("/api/jobs/" + std::to_string(job) + "/cancel");
    });
    EXPECT_EQ(status, row.status);
    EXPECT_TRUE(error.starts_with(row.error)) << error;
}

INSTANTIATE_TEST_SUITE_P(Tools, JobOutcome, ::testing::ValuesIn(outcomes));

TEST_F(JobLifecycle, StopDuringASolveEndsItAndIdsKeepGrowing) {
    start();
    const int first = upload(hints(hangs));
    follow(first, [&](int) { stop(); start(); });
    EXPECT_EQ(get("/api/submissions/" + std::to_string(first))["error_message"], "Siderama stopped during the solve");
    const int firstJob = lastJob;
    stop();
    start();
    const int second = upload(hints(solves));
    EXPECT_EQ(follow(second).first, "success");
    EXPECT_GT(second, first);
    EXPECT_GT(lastJob, firstJob);
}

TEST_F(JobLifecycle, CrashDuringASolveFailsItAndWaitingUploadsAreSolved) {
    {
        QDir().mkpath(folders.submission(1) + "/..");
        JobStore store(folders.database());
        for (int i = 1; i <= 2; ++i) {
            Submission submission;
            submission.arguments = hints(solves);
            ASSERT_EQ(store.addSubmission(submission), i);
            QDir().mkpath(folders.submission(i));
            QFile input(folders.input(i));
            ASSERT_TRUE(input.open(QIODevice::WriteOnly));
            input.write("1 4\n2 5\n3 6\n");
        }
        ASSERT_EQ(store.startJob(1), 1);
    }  // the process ends here without finishing job 1
    start();
    EXPECT_EQ(follow(1).second, "Siderama stopped during the solve");
    EXPECT_EQ(follow(2).first, "success");
}

// Star lists in every form a client sends them, with the image size taken
// from the arguments, else from the FITS table, else from the positions.
TEST_F(JobLifecycle, StarListsAndTheirImageSize) {
    start();
    StarList table{{10, 20, 30}, {40, 50, 60.5}, 1000, 900};
    ASSERT_TRUE(table.writeTable(scratch.filePath("stars.xyls")));
    QFile tableFile(scratch.filePath("stars.xyls"));
    ASSERT_TRUE(tableFile.open(QIODevice::ReadOnly));
    const json solving = json::parse(hints(solves));
    json sized = solving;
    sized["image_width"] = "640.2";
    const struct {
        std::string arguments, file, size;
    } lists[] = {
        {solving.dump(), tableFile.readAll().toStdString(), "3 positions, image 1000 x 900"},
        {sized.dump(), "# x y\n10 40\n20.5 50\n\n30 60.5 # brightest last\n", "3 positions, image 641 x 61"},
        {solving.dump(), "", "3 positions, image 3 x 6"},  // the JSON lists
    };
    for (const auto& list : lists) {
        EXPECT_EQ(follow(upload(list.arguments, list.file)).first, "success");
        EXPECT_TRUE(testsupport::request(server->port(), "GET", "/joblog/" + std::to_string(lastJob)).body.find(list.size) !=
                    std::string::npos) << list.size;
    }
}

// Every API route answers any method, with repeated and trailing slashes;
// anything that is not a known id is a 404 with a JSON error.
TEST_F(JobLifecycle, RoutingNormalisation) {
    start();
    const int subid = upload(hints(solves));
    ASSERT_EQ(follow(subid).first, "success");
    const std::string job = std::to_string(lastJob), sub = std::to_string(subid);
    const struct {
        const char* method;
        std::string target;
        int code;
        const char* type;
    } routes[] = {
        {"GET", "/api/jobs/" + job, 200, "application/json"},
        {"POST", "//api/jobs/" + job + "/", 200, "application/json"},
        {"PUT", "/api//jobs//" + job + "?x=1", 200, "application/json"},
        {"DELETE", "/api/submissions/" + sub + "//", 200, "application/json"},
        {"GET", "//api/jobs/" + job + "/calibration/", 200, "application/json"},
        {"GET", "/wcs_file/" + job + "/", 200, "application/fits"},
        {"GET", "/joblog/" + job, 200, "text/plain; charset=utf-8"},
        {"GET", "/api/jobs/x1", 404, "application/json"},
        {"GET", "/api/jobs/0", 404, "application/json"},
        {"GET", "/api/jobs/2147483648", 404, "application/json"},
        {"GET", "/api/jobs/" + job + "/bogus", 404, "application/json"},
        {"GET", "/api/submissions/99", 404, "application/json"},
    };
    for (const auto& route : routes) {
        const testsupport::HttpAnswer answer = testsupport::request(server->port(), route.method, route.target);
        EXPECT_EQ(answer.status, route.code) << route.method << " " << route.target;
        EXPECT_EQ(answer.headers.at("content-type"), route.type) << route.target;
    }
}

}  // namespace
