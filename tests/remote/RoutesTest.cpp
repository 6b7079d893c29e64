// The remote solving routes over real loopback sockets, against the service
// in this process with stand-in tools that answer at once or take their time.
#include "remote/LoopbackClient.h"
#include "remote/RemoteSolvingService.h"
#include "remote/ServiceAnnouncement.h"
#include "remote/UploadFiles.h"
#include "solver/RecordingView.h"
#include "solver/SolverDelegate.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <future>
#include <thread>

using namespace siderama;
using nlohmann::json;

namespace {

const char* const wcsinfoAll = "echo 'ra_center 83.8'\necho 'dec_center -5.4'\necho 'orientation 150'\n"
                               "echo 'pixscale 36.01'\n";

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A body the format sniffer takes for FITS.
std::string fitsBytes(std::size_t size) {
    std::string bytes = "SIMPLE  =                    T";
    bytes.resize(size, ' ');
    return bytes;
}

class Routes : public ::testing::Test {
protected:
    void SetUp() override {
        // No DNS-SD daemon can be reached from here: nothing is announced.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/siderama-test-bus");
        ASSERT_TRUE(scratch.isValid());
        tools = scratch.filePath("tools");
        QDir().mkpath(tools);
        qputenv("SIDERAMA_TOOLS_DIR", tools.toLocal8Bit());
        standInTools("", wcsinfoAll);
        solver.setView(&view);
        service = std::make_unique<RemoteSolvingService>(solver);
        service->startServer();
        ASSERT_GT(service->port(), 0);
        uploads = QDir::tempPath() + "/siderama-" + QString::number(::geteuid()) + "/";
    }

    void TearDown() override {
        solver.abort();
        waitIdle();
        service.reset();
        qunsetenv("SIDERAMA_TOOLS_DIR");
    }

    // Stand-ins that leave the files the real tools leave; image2xy runs
    // `image2xyExtra` first, wcsinfo prints `wcsinfo`.
    void standInTools(const QByteArray& image2xyExtra, const QByteArray& wcsinfo) {
        testsupport::writeScript(tools, "image2xy", image2xyExtra + "touch \"$3\"\n");
        testsupport::writeScript(tools, "solve-field",
                                 "[ \"$1\" = --help ] && exit 0\neval b=\\${$#}; b=${b%.xy}\n"
                                 "for e in .wcs .axy .corr .match .rdls .solved -indx.xyls; do touch \"$b$e\"; done\n");
        testsupport::writeScript(tools, "new-wcs", "touch \"$6\"\n");
        testsupport::writeScript(tools, "wcsinfo", wcsinfo);
    }

    LoopbackAnswer request(const std::string& method, const std::string& target,
                           const std::map<std::string, std::string>& headers = {}, const std::string& body = {}) {
        return exchange(service->port(), method, target, headers, body);
    }

    json jsonRequest(const std::string& method, const std::string& target,
                     const std::map<std::string, std::string>& headers = {}, const std::string& body = {}) {
        const LoopbackAnswer answer = request(method, target, headers, body);
        EXPECT_EQ(answer.statusCode, 200);
        return json::parse(answer.body, nullptr, false);
    }

    json post(const std::initializer_list<std::pair<std::string, std::string>>& parts) {
        return jsonRequest("POST", "/api/upload", {{"Content-Type", "multipart/form-data; boundary=XyZ"}},
                           multipartBody("XyZ", parts));
    }

    json put(const std::string& body, const std::optional<std::string>& disposition = std::nullopt) {
        std::map<std::string, std::string> headers;
        if (disposition) headers["Content-Disposition"] = *disposition;
        return jsonRequest("PUT", "/api/upload", headers, body);
    }

    json status() { return jsonRequest("GET", "/api/status"); }

    // Waits for the running solve to end and for its log to arrive.
    void waitIdle() {
        testsupport::waitUntil([&] { return !solver.isSolving(); }, std::chrono::seconds(30));
        settle();
    }

    void settle() {
        const QString marker = "--settled--";
        solver.append(marker);
        testsupport::waitUntil([&] { return view.contains(marker); });
        view.lines.removeIf([&](const RecordingView::Line& line) { return line.text == marker; });
    }

    int count(const QString& text, LogColor color) const {
        return int(std::count_if(view.lines.begin(), view.lines.end(), [&](const RecordingView::Line& line) {
            return line.text == text && line.color == color;
        }));
    }

    QString uploadLine(const QString& name, int bytes) const {
        return "\nFile uploaded to " + uploads + name + " (" + QString::number(bytes) + " bytes)";
    }

    QTemporaryDir scratch;
    QString tools;
    QString uploads;
    SolverDelegate solver;
    RecordingView view;
    std::unique_ptr<RemoteSolvingService> service;
};

const json success{{"status", "success"}};
const json invalid{{"status", "error"}, {"errormessage", "Invalid request"}};
const json busyAnswer{{"status", "error"}, {"errormessage", "Solver busy"}};

TEST_F(Routes, StartLogsThePortAndTheFailedAnnouncement) {
    settle();
    EXPECT_EQ(count("HTTP server started on port " + QString::number(service->port()), GREEN), 1);
    ASSERT_TRUE(testsupport::waitUntil([&] { return view.contains("Bonjour service did not publish"); }));
    settle();
    const QStringList texts = view.texts();
    const qsizetype failed = texts.indexOf("Bonjour service did not publish");
    EXPECT_GT(failed, texts.indexOf("HTTP server started on port " + QString::number(service->port())));
    ASSERT_LT(failed + 1, texts.size());
    EXPECT_EQ(view.lines[failed].color, RED);
    EXPECT_EQ(view.lines[failed + 1].color, RED);
    EXPECT_TRUE(QRegularExpression(R"(^\["AvahiErrorCode": -\d+, "AvahiClientState": \d+\]$)")
                    .match(texts[failed + 1]).hasMatch())
        << qPrintable(texts[failed + 1]);
}

TEST_F(Routes, FormPageAndNotFoundRoutes) {
    const std::string& form = RemoteSolvingService::formFragment();
    EXPECT_EQ(form.size(), 164u);
    EXPECT_EQ(form, "<form action='/api/upload' method='post' enctype='multipart/form-data'>Submit FITS file: "
                    "<input type='file' name='image'><input type='submit' value='Submit'></form>");
    LoopbackAnswer page = request("GET", "/");
    EXPECT_EQ(page.statusCode, 200);
    EXPECT_EQ(page.headers["content-type"].rfind("text/html", 0), 0u) << page.headers["content-type"];
    EXPECT_NE(page.body.find(form), std::string::npos) << page.body;

    EXPECT_EQ(request("GET", "/api/upload").statusCode, 404);
    EXPECT_EQ(request("PUT", "/api/status").statusCode, 404);
    EXPECT_EQ(request("DELETE", "/api/upload").statusCode, 404);
    EXPECT_EQ(request("GET", "/api/status/more").statusCode, 404);
}

TEST_F(Routes, StatusFollowsTheSolveToItsCalibration) {
    EXPECT_EQ(status(), json({{"status", "ready"}}));
    EXPECT_EQ(post({{"image", fitsBytes(1000)}}), success);
    waitIdle();
    EXPECT_EQ(count(uploadLine("image.fits", 1000), YELLOW), 1);
    EXPECT_EQ(status(), json({{"status", "done"},
                              {"calibration", {{"ra", 83.8}, {"dec", -5.4}, {"orientation", 150}, {"pixscale", 36.01}}}}));
    EXPECT_EQ(readFile(uploads + "image.fits").size(), 1000);
}

TEST_F(Routes, CalibrationHoldsOnlyTheValuesTheToolGave) {
    standInTools("", "echo 'ra_center 10.5'\necho 'dec_center 41.25'\necho 'orientation -3'\n");
    EXPECT_EQ(put(fitsBytes(100)), success);
    waitIdle();
    EXPECT_EQ(status(), json({{"status", "done"}, {"calibration", {{"ra", 10.5}, {"dec", 41.25}, {"orientation", -3}}}}));
    // A solution wcsinfo cannot read is no solution.
    standInTools("", "echo nothing\n");
    EXPECT_EQ(put(fitsBytes(100)), success);
    waitIdle();
    EXPECT_EQ(status(), json({{"status", "failed"}, {"message", "wcsinfo could not read the solution"}}));
}

TEST_F(Routes, FailedSolveReportsItsMessage) {
    standInTools("exit 3\n", wcsinfoAll);
    EXPECT_EQ(post({{"image", fitsBytes(10)}}), success);
    waitIdle();
    EXPECT_EQ(status(), json({{"status", "failed"}, {"message", "image2xy terminated (status 3)"}}));
}

TEST_F(Routes, InvalidPostsAreRefusedSilently) {
    settle();
    const int linesBefore = int(view.lines.size());
    EXPECT_EQ(jsonRequest("POST", "/api/upload", {{"Content-Type", "text/plain"}}, "image"), invalid);
    EXPECT_EQ(jsonRequest("POST", "/api/upload", {{"Content-Type", "multipart/form-data"}},
                          multipartBody("XyZ", {{"image", "x"}})),
              invalid);
    EXPECT_EQ(post({}), invalid);
    EXPECT_EQ(post({{"image", "a"}, {"image", "b"}}), invalid);
    settle();
    EXPECT_EQ(int(view.lines.size()), linesBefore);
    EXPECT_FALSE(solver.isSolving());
    // Any field name will do.
    EXPECT_EQ(post({{"file", fitsBytes(10)}}), success);
}

TEST_F(Routes, PostKeepsTheFormatOfImageData) {
    const std::pair<std::string, QString> uploadsByFormat[] = {
        {std::string("\xFF\xD8\xFF\xE0jpeg", 8), "image.jpg"},
        {std::string("\x89PNG\r\n\x1A\npng", 11), "image.png"},
        {std::string("II*\0tiff", 8), "image.tiff"},
        {fitsBytes(80), "image.fits"},
        {"no known format", "image.fits"},
    };
    for (const auto& [data, name] : uploadsByFormat) {
        EXPECT_EQ(post({{"image", data}}), success);
        waitIdle();
        EXPECT_EQ(count(uploadLine(name, int(data.size())), YELLOW), 1) << qPrintable(name);
        EXPECT_EQ(readFile(uploads + name), QByteArray::fromStdString(data));
    }
}

TEST_F(Routes, BusySolverRefusesUploadsAndKeepsTheFirstImage) {
    standInTools("sleep 2\n", wcsinfoAll);
    EXPECT_EQ(post({{"image", fitsBytes(500)}}), success);
    EXPECT_EQ(post({{"image", fitsBytes(600)}}), busyAnswer);
    EXPECT_EQ(put(fitsBytes(700), "attachment; filename=\"second.fits\""), busyAnswer);
    // The refusal does not mend the part count check.
    EXPECT_EQ(post({{"image", "a"}, {"image", "b"}}), invalid);
    EXPECT_EQ(status()["status"], "busy");
    EXPECT_EQ(readFile(uploads + "image.fits").size(), 500);
    EXPECT_FALSE(QFile::exists(uploads + "second.fits"));
    waitIdle();
    EXPECT_EQ(count("Solver busy", RED), 2);
    EXPECT_EQ(status()["status"], "done");
}

TEST_F(Routes, SimultaneousUploadsStartOneSolve) {
    standInTools("sleep 1\n", wcsinfoAll);
    constexpr int clients = 8;
    std::vector<std::future<json>> answers;
    std::promise<void> go;
    std::shared_future<void> start = go.get_future().share();
    for (int i = 0; i < clients; ++i) {
        answers.push_back(std::async(std::launch::async, [&, i] {
            start.wait();
            return put(fitsBytes(100 + i), "attachment; filename=\"client" + std::to_string(i) + ".fits\"");
        }));
    }
    go.set_value();
    int accepted = 0;
    for (auto& answer : answers) {
        const json value = answer.get();
        if (value == success) ++accepted;
        else EXPECT_EQ(value, busyAnswer);
    }
    EXPECT_EQ(accepted, 1);
    waitIdle();
    EXPECT_EQ(count("Solver busy", RED), clients - 1);
    int stored = 0;
    for (int i = 0; i < clients; ++i) stored += QFile::exists(uploads + "client" + QString::number(i) + ".fits");
    EXPECT_EQ(stored, 1);
}

TEST_F(Routes, PutNamesStayPlainFileNamesInTheUploadDirectory) {
    const std::pair<std::string, QString> names[] = {
        {"attachment; filename=\"m31.fits\"", "m31.fits"},
        {"attachment;filename=\"m31b.fits\"", "image.fits"},
        {"attachment; filename=\"a.fits\"; filename=\"b.fits\"", "b.fits"},
        {"attachment; filename=m42.fits", "image.fits"},
        {"attachment; filename=\"../../escaped.fits\"", "escaped.fits"},
        {"attachment; filename=\"/etc/passwd\"", "passwd"},
        {"attachment; filename=\"C:\\Users\\me\\m45.fits\"", "m45.fits"},
        {"attachment; filename=\"..\"", "image.fits"},
        {"attachment; filename=\"sub/..\"", "image.fits"},
        {"attachment; filename=\"sub/\"", "image.fits"},
        {"attachment; filename=\".profile\"", "image.fits"},
        {"attachment; filename=\"a\x1b[2Jb.fits\"", "image.fits"},
        {"attachment; filename=\"" + std::string(300, 'n') + "\"", "image.fits"},
    };
    const QString parent = QDir::tempPath();
    const QStringList before = QDir(parent).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    int size = 1;
    for (const auto& [disposition, name] : names) {
        QFile::remove(uploads + name);
        const std::string data = fitsBytes(size++);
        EXPECT_EQ(put(data, disposition), success) << disposition;
        waitIdle();
        EXPECT_EQ(count(uploadLine(name, int(data.size())), YELLOW), 1) << disposition;
        EXPECT_EQ(readFile(uploads + name).size(), qsizetype(data.size())) << disposition;
    }
    EXPECT_FALSE(QFile::exists("/etc/escaped.fits"));
    EXPECT_FALSE(QFile::exists(parent + "/../escaped.fits"));
    QStringList after = QDir(parent).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    after.removeAll("siderama-" + QString::number(::geteuid()));
    QStringList expected = before;
    expected.removeAll("siderama-" + QString::number(::geteuid()));
    EXPECT_EQ(after, expected);
}

TEST_F(Routes, PutWithoutNameSniffsTheFormatAndAcceptsEmptyBodies) {
    EXPECT_EQ(put(""), success);
    waitIdle();
    EXPECT_EQ(count(uploadLine("image.fits", 0), YELLOW), 1);
    EXPECT_TRUE(QFile::exists(uploads + "image.fits"));
    EXPECT_EQ(readFile(uploads + "image.fits").size(), 0);
    const std::string png("\x89PNG\r\n\x1A\n....", 12);
    EXPECT_EQ(put(png), success);
    waitIdle();
    EXPECT_EQ(count(uploadLine("image.png", 12), YELLOW), 1);
}

TEST_F(Routes, UploadDirectoryIsPrivate) {
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

    // A link in its place is not followed.
    QDir(uploads).removeRecursively();
    const QString elsewhere = scratch.filePath("elsewhere");
    QDir().mkpath(elsewhere);
    ASSERT_TRUE(QFile::link(elsewhere, uploads.chopped(1)));
    EXPECT_EQ(put(fitsBytes(10)), json({{"status", "error"}, {"errormessage", "Upload failed"}}));
    EXPECT_EQ(post({{"image", fitsBytes(10)}}), json({{"status", "error"}, {"errormessage", "Upload failed"}}));
    EXPECT_TRUE(QDir(elsewhere).isEmpty());
    EXPECT_FALSE(solver.isSolving());
    QFile::remove(uploads.chopped(1));
    EXPECT_EQ(UploadFiles::directory(), uploads);
}

TEST(RoutesStart, UnusableAddressLogsOnlyTheFailure) {
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/siderama-test-bus");
    SolverDelegate solver;
    RecordingView view;
    solver.setView(&view);
    http::HttpServerConfig config;
    config.bindAddress = "203.0.113.7";  // not an address of this machine
    RemoteSolvingService service(solver, config);
    service.startServer();
    EXPECT_EQ(service.port(), 0);
    solver.append("--end--");
    ASSERT_TRUE(testsupport::waitUntil([&] { return view.contains("--end--"); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    QCoreApplication::processEvents();
    ASSERT_EQ(view.lines.size(), 2);
    EXPECT_EQ(view.lines[0].text, "Can't start HTTP server");
    EXPECT_EQ(view.lines[0].color, RED);
}

TEST(UploadNames, ErrorMapTextForm) {
    EXPECT_EQ(ServiceAnnouncement::text({{"AvahiErrorCode", -26}, {"AvahiClientState", 101}}),
              "[\"AvahiErrorCode\": -26, \"AvahiClientState\": 101]");
    EXPECT_EQ(ServiceAnnouncement::text({}), "[]");
}

}  // namespace
