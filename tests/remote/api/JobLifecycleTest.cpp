// API jobs from upload to their end as clients poll them, over loopback,
// with a stand-in solve-field that solves, finds nothing, hangs or crashes,
// and with restarts in the middle of a solve.
#include "http/HttpServer.h"
#include "remote/api/AstrometryApi.h"
#include "remote/api/StarList.h"
#include "support/RawHttpClient.h"
#include "support/TestSupport.h"
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrl>
#include <signal.h>
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
3) echo $$ > "$dir/pid"; exec sleep 60 ;;
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

    void start(double timeLimit = 100, ApiSettings settings = {}) {
        settings.timeLimitSeconds = timeLimit;
        settings.concurrentSolves = 2;  // the restart test stops two solves side by side
        api = std::make_unique<AstrometryApi>(folders, settings, JobQueue::Events{[](const QString&, LogColor) {}, {}});
        server = std::make_unique<http::HttpServer>();
        api->install(*server);
        server->POST["/api/upload"] = [this](const http::HttpRequest& r) { return *api->upload(r); };
        server->start(0);
    }
    void stop() { server.reset(), api.reset(); }

    json get(const std::string& target) {
        const testsupport::HttpAnswer answer = testsupport::request(server->port(), "GET", target);
        EXPECT_EQ(answer.status, 200) << target;
        return json::parse(answer.body, nullptr, false);
    }

    testsupport::HttpAnswer call(const std::string& target, const std::string& arguments) {
        const std::string form = "request-json=" + QUrl::toPercentEncoding(QString::fromStdString(arguments)).toStdString();
        return testsupport::request(server->port(), "POST", target, {{"Content-Type", "application/x-www-form-urlencoded"}}, form);
    }

    int upload(const std::string& arguments, const std::string& file = {}) {
        const testsupport::HttpAnswer answer = file.empty()
            ? call("/api/upload", arguments)
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
        EXPECT_TRUE(QRegularExpression(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d$)").match(QString::fromStdString(submission["processing_finished"])).hasMatch());
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
    // solves: the star lists below
    {findsNothing, false, "failure", "No solution found"},
    {hangs, false, "failure", "Time limit of 2 s reached"},
    {hangs, true, "failure", "Cancelled"},
    {crashes, false, "failure", "solve-field terminated by signal SIGSEGV"},
    {0, false, "failure", "Unsupported data"},  // a file that is no image and no star list
};

class JobOutcome : public JobLifecycle, public ::testing::WithParamInterface<Outcome> {};

TEST_P(JobOutcome, EndsAsClientsExpect) {
    const Outcome& row = GetParam();
    QFile stale(folders.result(1, "wcs"));  // of a job 1 whose store was lost
    ASSERT_TRUE(QDir().mkpath(folders.job(1)) && stale.open(QIODevice::WriteOnly) && stale.write("old") == 3);
    start(row.cancel ? 100 : 2);
    const int subid = row.mode ? upload(hints(row.mode)) : upload("{}", "not an image\n");
    const auto [status, error] = follow(subid, [&](int job) {
        if (!row.cancel) return;
        testsupport::waitUntil([&] { return QFileInfo::exists(folders.job(job) + "/pid"); });  // the tool runs
        get("/api/jobs/" + std::to_string(job) + "/cancel");
    });
    EXPECT_EQ(status, row.status);
    EXPECT_TRUE(error.starts_with(row.error)) << error;
    EXPECT_EQ(testsupport::request(server->port(), "GET", "/wcs_file/" + std::to_string(lastJob)).status, 404);
    if (row.mode != hangs) return;
    const int tool = testsupport::readFile(folders.job(lastJob) + "/pid").trimmed().toInt();
    EXPECT_TRUE(tool > 0 && testsupport::waitUntil([&] { return ::kill(tool, 0) != 0; })) << "the tools end with the job";
}

INSTANTIATE_TEST_SUITE_P(Tools, JobOutcome, ::testing::ValuesIn(outcomes));

// A process that ended without finishing job 1 fails it at the next start,
// solves the waiting upload 2 and fails 3, whose data it never wrote; a stop during two solves side by side fails
// them too; ids keep growing across both.
TEST_F(JobLifecycle, SolvesCutByACrashOrAStopFailAndWaitingUploadsAreSolved) {
    {
        QDir().mkpath(folders.submission(1) + "/..");
        JobStore store(folders.database());
        for (int i = 1; i <= 3; ++i) {
            Submission submission;
            submission.arguments = hints(solves);
            ASSERT_EQ(store.addSubmission(submission), i);
            if (i == 3) break;  // killed before its data was written
            QDir().mkpath(folders.submission(i));
            QFile input(folders.input(i));
            ASSERT_TRUE(input.open(QIODevice::WriteOnly) && input.write("1 4\n2 5\n3 6\n") > 0);
        }
        ASSERT_EQ(store.startJob(1), 1);
    }
    start();
    EXPECT_EQ(follow(1).second, "Siderama stopped during the solve");
    EXPECT_EQ(follow(2).first, "success");
    EXPECT_EQ(follow(3).second, "The upload's data was not stored (the server stopped while receiving it)");
    const int stopped = upload(hints(hangs)), alongside = upload(hints(hangs));
    EXPECT_EQ(follow(stopped, [&](int) {
        EXPECT_TRUE(testsupport::waitUntil([&] { return !get("/api/submissions/" + std::to_string(alongside))["jobs"].empty(); }));
        stop(), start();
    }).second, "Siderama stopped during the solve");
    const int firstJob = lastJob;
    const int last = upload(hints(solves));
    EXPECT_EQ(follow(last).first, "success");
    EXPECT_GT(last, stopped);
    EXPECT_GT(lastJob, firstJob);
}

// Star lists in every form a client sends them, with the image size taken
// from the arguments, else from the FITS table, else from the positions; then
// the job's routes answer any method, and what is no known id is a 404 with
// a JSON error (slashes: the router's table).
TEST_F(JobLifecycle, StarListsTheirImageSizeAndTheRoutesOfTheJob) {
    start();
    ASSERT_TRUE((StarList{{10, 20, 30}, {40, 50, 60.5}, 1000, 900}.writeTable(scratch.filePath("stars.xyls"))));
    json sized = json::parse(hints(solves));
    sized["image_width"] = "640.2";
    const std::tuple<std::string, std::string, std::string> lists[] = {
        {hints(solves), testsupport::readFile(scratch.filePath("stars.xyls")).toStdString(), "image 1000 x 900"},
        {sized.dump(), "# x y\n10 40\n20.5 50\n\n30 60.5 # brightest last\n", "image 641 x 61"},
        {hints(solves), "", "image 3 x 6"},  // the JSON lists
    };
    for (const auto& [arguments, file, size] : lists) {
        EXPECT_EQ(follow(upload(arguments, file)).first, "success");
        const std::string log = testsupport::request(server->port(), "GET", "/joblog/" + std::to_string(lastJob)).body;
        EXPECT_NE(log.find("3 positions, " + size), std::string::npos) << size;
    }
    const std::string job = std::to_string(lastJob), type = "application/json";
    const std::tuple<const char*, std::string, int, std::string> routes[] = {
        {"PUT", "/api/jobs/" + job + "?x=1", 200, type}, {"DELETE", "/api/submissions/1", 200, type},
        {"POST", "/api/jobs/" + job + "/calibration/", 200, type}, {"GET", "/wcs_file/" + job, 200, "application/fits"},
        {"GET", "/joblog/" + job, 200, "text/plain; charset=utf-8"}, {"GET", "/api/jobs/x1", 404, type},
        {"GET", "/api/jobs/0", 404, type}, {"GET", "/api/jobs/2147483648", 404, type},
        {"GET", "/api/jobs/" + job + "/bogus", 404, type}, {"GET", "/api/submissions/99", 404, type},
    };
    for (const auto& [method, target, code, contentType] : routes) {
        const testsupport::HttpAnswer answer = testsupport::request(server->port(), method, target);
        EXPECT_EQ(answer.status, code) << method << " " << target;
        EXPECT_EQ(answer.headers.at("content-type"), contentType) << target;
    }
}

// With an API key: sessions, the routes a session reads, and what a client may not do.
TEST_F(JobLifecycle, AKeyedApiAnswersSessionsAndTheirJobs) {
    ApiSettings settings;
    settings.apiKey = "k";
    start(100, settings);
    EXPECT_EQ(json::parse(call("/api/login", R"({"apikey": "bad"})").body)["errormessage"], "bad apikey");
    const std::string session = json::parse(call("/api/login", R"({"apikey": "k"})").body)["session"];
    EXPECT_EQ(json::parse(call("/api/upload", hints(solves)).body)["errormessage"], "no valid session: log in first");
    json arguments = json::parse(hints(solves));
    arguments["session"] = session;
    const json sent = json::parse(call("/api/url_upload", arguments.dump()).body);
    EXPECT_EQ(follow(sent.value("subid", 0)).first, "success");
    const std::string job = std::to_string(lastJob), own = json{{"session", session}}.dump();
    const std::pair<std::string, json> routes[] = {
        {"/api/myjobs", {{"status", "success"}, {"jobs", {lastJob}}}},
        {"/api/jobs/" + job + "/tags", {{"tags", json::array()}}},
        {"/api/jobs/" + job + "/annotations", {{"annotations", json::array()}}},
        {"/annotated_display/" + job, {{"status", "error"}, {"errormessage", "the annotated image could not be made"}}},
    };
    for (const auto& [target, expected] : routes) EXPECT_EQ(json::parse(call(target, own).body), expected) << target;
    EXPECT_EQ(json::parse(call("/api/jobs/" + job + "/info", own).body).value("status", ""), "success");
    EXPECT_EQ(call("/api/jobs/" + job + "/cancel", "{}").status, 403) << "a cancel needs the owner's session";
}

}  // namespace
