// The remote solving routes over loopback sockets, against the service in this process with stand-in tools.
#include "remote/RemoteSolvingService.h"
#include "remote/UploadFiles.h"
#include "solver/SolverDelegate.h"
#include "support/FitsCards.h"
#include "support/RawHttpClient.h"
#include "support/SolverProbe.h"
#include "support/TestSupport.h"
#include "support/UploadFolder.h"
#include <gtest/gtest.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <unistd.h>

using namespace siderama;
using nlohmann::json;
using Parts = std::initializer_list<std::pair<std::string, std::string>>;

namespace {

using testsupport::readFile;

// A body the format sniffer takes for FITS.
std::string fitsBytes(std::size_t size) { return testsupport::fitsBytes(qint64(size)).toStdString(); }

std::string multipartBody(const Parts& parts) {
    std::string body;
    for (const auto& [name, content] : parts) body += "--XyZ\r\nContent-Disposition: form-data; name=\"" + name +
                "\"; filename=\"upload.bin\"\r\nContent-Type: application/octet-stream\r\n\r\n" + content + "\r\n";
    return body + "--XyZ--\r\n";
}

const json success{{"status", "success"}};
const json invalid{{"status", "error"}, {"errormessage", "Invalid request"}};
const json busy{{"status", "error"}, {"errormessage", "Solver busy"}};
const json failedUpload{{"status", "error"}, {"errormessage", "Upload failed"}};

class Routes : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/siderama-test-bus");  // nothing announced
        tools = scratch.filePath("tools");
        qputenv("SIDERAMA_TOOLS_DIR", tools.toLocal8Bit());
        testsupport::writeStandInTools(tools);
        solver.setView(&view);
        service = std::make_unique<RemoteSolvingService>(solver);
        service->startServer();
        ASSERT_GT(service->port(), 0);
        uploads = testsupport::uploadFolder();
    }
    void TearDown() override {
        solver.abort();
        waitIdle();
        service.reset();
        qunsetenv("SIDERAMA_TOOLS_DIR");
    }
    json call(const std::string& method, const std::map<std::string, std::string>& headers, const std::string& body) {
        const auto answer = testsupport::request(service->port(), method, "/api/upload", headers, body);
        EXPECT_EQ(answer.status, 200);
        return json::parse(answer.body, nullptr, false);
    }
    json post(const Parts& parts) {
        return call("POST", {{"Content-Type", "multipart/form-data; boundary=XyZ"}}, multipartBody(parts));
    }
    json put(const std::string& body, const std::optional<std::string>& disposition = std::nullopt) {
        std::map<std::string, std::string> headers;
        if (disposition) headers["Content-Disposition"] = *disposition;
        return call("PUT", headers, body);
    }
    json status() {  // the solver's part (the API queue's: the shared queue test)
        json answer = json::parse(testsupport::request(service->port(), "GET", "/api/status").body, nullptr, false);
        return answer.erase("queue"), answer;
    }
    void waitIdle() {
        testsupport::waitUntil([&] { return !solver.isSolving(); }, std::chrono::seconds(30));
        testsupport::settleLog(solver, view);
    }
    // Uploads were logged in yellow as "File uploaded to PATH (N bytes)", PATH a name of ours.
    int uploaded(const QString& extension, std::size_t bytes) const {
        const QRegularExpression line("\nFile uploaded to " + QRegularExpression::escape(uploads) + "upload-\\w{6}\\." +
                                      extension + " \\(" + QString::number(bytes) + " bytes\\)");
        return int(std::count_if(view.lines.begin(), view.lines.end(), [&](const auto& entry) {
            return entry.color == YELLOW && line.match(entry.text).hasMatch();
        }));
    }
    QTemporaryDir scratch;
    QString tools;
    QString uploads;
    SolverDelegate solver;
    testsupport::RecordingView view;
    std::unique_ptr<RemoteSolvingService> service;
};

TEST_F(Routes, StartLogsThePortAndTheFailedAnnouncement) {
    const QString failure = "Bonjour service did not publish";
    ASSERT_TRUE(testsupport::waitUntil([&] { return testsupport::settleLog(solver, view), view.texts().contains(failure); }));
    const QStringList texts = view.texts();
    const qsizetype started = texts.indexOf("HTTP server started on port " + QString::number(service->port()));
    const qsizetype failed = texts.indexOf(failure);
    ASSERT_TRUE(started >= 0 && started < failed && failed + 1 < texts.size());
    EXPECT_EQ(std::tuple(view.lines[started].color, view.lines[failed].color, view.lines[failed + 1].color),
              std::tuple(GREEN, RED, RED));
    EXPECT_TRUE(QRegularExpression(R"(^\["AvahiErrorCode": -\d+, "AvahiClientState": \d+\]$)").match(texts[failed + 1]).hasMatch())
        << qPrintable(texts[failed + 1]);
}

TEST_F(Routes, FormPageAndStatusFollowingTheSolveToTheCalibrationTheToolGave) {
    const auto page = testsupport::request(service->port(), "GET", "/");
    EXPECT_EQ(page.headers.at("content-type").rfind("text/html", 0), 0u);
    EXPECT_NE(page.body.find("<form action='/api/upload' method='post' enctype='multipart/form-data'>Submit FITS file: "
                             "<input type='file' name='image'><input type='submit' value='Submit'></form>"), std::string::npos);
    EXPECT_EQ(status(), json({{"status", "ready"}}));
    EXPECT_EQ(post({{"file", fitsBytes(1000)}}), success) << "any field name will do";
    waitIdle();
    EXPECT_EQ(uploaded("fits", 1000), 1);
    EXPECT_EQ(status(), json({{"status", "done"},
                              {"calibration", {{"ra", 83.8}, {"dec", -5.4}, {"orientation", 150}, {"pixscale", 36.01}}}}));
    testsupport::writeStandInTools(tools, "", "echo 'ra_center 10.5'\necho 'dec_center 41.25'\n");
    EXPECT_EQ(put(fitsBytes(100)), success);
    waitIdle();
    EXPECT_EQ(status(), json({{"status", "done"}, {"calibration", {{"ra", 10.5}, {"dec", 41.25}}}}));
    testsupport::writeStandInTools(tools, "exit 3\n");
    EXPECT_EQ(put(fitsBytes(100)), success);
    waitIdle();
    EXPECT_EQ(status(), json({{"status", "failed"}, {"message", "image2xy terminated (status 3)"}}));
    EXPECT_EQ(post({{"image", std::string("\x89PNG\r\n\x1A\npng", 11)}}), success);
    waitIdle();
    EXPECT_EQ(uploaded("png", 11), 1) << "an upload keeps the format of its data";
}

TEST_F(Routes, InvalidPostsAndUploadsToABusySolverAreRefused) {
    testsupport::settleLog(solver, view);
    const auto linesBefore = view.lines.size();
    EXPECT_EQ(call("POST", {{"Content-Type", "text/plain"}}, "image"), invalid);
    EXPECT_EQ(post({}), invalid);
    EXPECT_EQ(post({{"image", "a"}, {"image", "b"}}), invalid);
    testsupport::settleLog(solver, view);
    EXPECT_EQ(view.lines.size(), linesBefore) << "invalid posts are refused silently";
    // The first solve holds the solver until the test lets it go.
    const QString release = scratch.filePath("release");
    testsupport::writeStandInTools(tools, "while [ ! -e '" + release.toUtf8() + "' ]; do sleep 0.05; done\n");
    EXPECT_EQ(post({{"image", fitsBytes(500)}}), success);
    EXPECT_EQ(post({{"image", fitsBytes(600)}}), busy);
    EXPECT_EQ(put(fitsBytes(700), "attachment; filename=\"second.fits\""), busy);
    EXPECT_EQ(status()["status"], "busy");
    ASSERT_EQ(QDir(uploads).entryInfoList(QDir::Files).size(), 1);
    EXPECT_EQ(QDir(uploads).entryInfoList(QDir::Files).front().size(), 500);
    QFile(release).open(QIODevice::WriteOnly);
    waitIdle();
    EXPECT_EQ(view.count("Solver busy", RED), 1) << "refusals in a row are logged once";
}

TEST_F(Routes, UploadDirectoryIsPrivateAndALinkInItsPlaceIsNotFollowed) {
    QDir(uploads).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(uploads));
    ::chmod(QFile::encodeName(uploads).constData(), 0755);
    EXPECT_EQ(put(fitsBytes(10)), success);
    waitIdle();
    struct stat info {};
    ASSERT_EQ(::lstat(QFile::encodeName(uploads).constData(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(info.st_uid, ::geteuid());
    QDir(uploads).removeRecursively();
    const QString elsewhere = scratch.filePath("elsewhere");
    QDir().mkpath(elsewhere);
    ASSERT_TRUE(QFile::link(elsewhere, uploads.chopped(1)));
    EXPECT_EQ(put(fitsBytes(10)), failedUpload);
    EXPECT_EQ(post({{"image", fitsBytes(10)}}), failedUpload);
    EXPECT_TRUE(QDir(elsewhere).isEmpty());
    EXPECT_FALSE(solver.isSolving());
    QFile::remove(uploads.chopped(1));
}

TEST(RoutesStart, UnusableAddressLogsOnlyTheFailure) {
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/siderama-test-bus");
    SolverDelegate solver;
    testsupport::RecordingView view;
    solver.setView(&view);
    RemoteSolvingService service(solver, {.bindAddress = "203.0.113.7"});  // not an address of this machine
    service.startServer();
    EXPECT_EQ(service.port(), 0);
    QElapsedTimer clock;
    clock.start();
    testsupport::waitUntil([&] { return clock.elapsed() > 200; });  // an announcement would have been logged
    testsupport::settleLog(solver, view);
    ASSERT_EQ(view.lines.size(), 1);
    EXPECT_EQ(std::pair(view.lines[0].text, view.lines[0].color), std::pair(QString("Can't start HTTP server"), RED));
}

}  // namespace
