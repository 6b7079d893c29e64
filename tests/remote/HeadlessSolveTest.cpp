// End to end: a running `siderama --headless` with the real plate-solving
// tools and the Tycho-2 index files solves generated star fields uploaded by
// curl (POST form and PUT) and by the Python client, in every input format.
#include "remote/HeadlessServer.h"
#include "remote/LoopbackClient.h"
#include "skyfield/SkyField.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QRegularExpression>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using nlohmann::json;

namespace {

struct ToolRun {
    int exitCode;
    QByteArray output;
};

ToolRun run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(300000);
    return {process.exitCode(), process.readAllStandardOutput()};
}

class HeadlessSolve : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!QFile::exists("/usr/share/astrometry/index-tycho2-10.littleendian.fits")) return;
        // Nothing to announce to: the test must not reach a real DNS-SD daemon.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/siderama-test-bus");
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Siderama";
        if (testsupport::linkTycho2Indexes(folder) != 10) return;
        server = new HeadlessServer;
        if (!server->start()) {
            delete server;
            server = nullptr;
        }
    }

    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }

    void SetUp() override {
        if (!QFile::exists("/usr/share/astrometry/index-tycho2-10.littleendian.fits"))
            GTEST_SKIP() << "Tycho-2 index files missing (Debian astrometry-data-tycho2-10-19-littleendian)";
        ASSERT_NE(server, nullptr) << "siderama --headless did not start";
        ASSERT_TRUE(scratch.isValid());
    }

    QString url(const QString& path) const { return "http://127.0.0.1:" + QString::number(server->port()) + path; }

    testsupport::SkyFieldTruth field(const QString& format, const QString& path, double ra, double dec) {
        const auto truth = testsupport::runSkyField({"--ra", QString::number(ra), "--dec", QString::number(dec),
                                                     "--width", "900", "--height", "700", "--scale", "36",
                                                     "--rotation", "30", "--format", format, "--out", path});
        EXPECT_TRUE(truth) << "skyfield failed for " << qPrintable(format);
        return truth.value_or(testsupport::SkyFieldTruth{});
    }

    // Runs an upload command; a solve that has just reported "done" may hold
    // the solver for a moment longer, so "Solver busy" is retried briefly.
    json upload(const QString& program, const QStringList& arguments) {
        json answer;
        for (int attempt = 0; attempt < 20; ++attempt) {
            answer = json::parse(run(program, arguments).output.toStdString(), nullptr, false);
            if (answer.value("errormessage", "") != "Solver busy") break;
            QThread::msleep(100);
        }
        return answer;
    }

    json waitForResult() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(240);
        json status;
        do {
            QThread::msleep(200);
            status = json::parse(exchange(server->port(), "GET", "/api/status").body, nullptr, false);
        } while ((status["status"] == "busy") && std::chrono::steady_clock::now() < deadline);
        return status;
    }

    static void expectCalibration(const json& calibration, const testsupport::SkyFieldTruth& truth) {
        ASSERT_TRUE(calibration.contains("ra") && calibration.contains("dec") && calibration.contains("pixscale"))
            << calibration.dump();
        const double offPixels = testsupport::angularSeparation(truth.ra, truth.dec, calibration["ra"],
                                                                calibration["dec"]) * 3600 / truth.scale;
        EXPECT_LT(offPixels, 2.0) << calibration.dump();
        EXPECT_NEAR(calibration["pixscale"].get<double>(), truth.scale, truth.scale * 0.01);
        EXPECT_TRUE(calibration.contains("orientation"));
    }

    void expectSolved(const testsupport::SkyFieldTruth& truth) {
        const json status = waitForResult();
        ASSERT_EQ(status["status"], "done") << status.dump() << "\n" << qPrintable(server->log());
        expectCalibration(status["calibration"], truth);
    }

    QString uploadDirectory() const {
        return QDir::tempPath() + "/siderama-" + QString::number(::geteuid()) + "/";
    }

    // True when the log holds `before`, an upload of ours with `extension`, then `after`.
    bool loggedUpload(const QString& before, const QString& extension, const QString& after) const {
        const QString upload = QRegularExpression::escape(uploadDirectory()) + "upload-\\w{6}\\." + extension;
        return QRegularExpression(QRegularExpression::escape(before) + upload + QRegularExpression::escape(after))
            .match(server->log()).hasMatch();
    }

    static inline HeadlessServer* server = nullptr;
    QTemporaryDir scratch;
};

TEST_F(HeadlessSolve, CurlFormPostOfFits) {
    const QString image = scratch.filePath("orion.fits");
    const auto truth = field("fits", image, 83.8, -5.4);
    EXPECT_EQ(upload("curl", {"-sS", "-F", "image=@" + image, url("/api/upload")}), json({{"status", "success"}}));
    expectSolved(truth);
    EXPECT_TRUE(loggedUpload("File uploaded to ", "fits", " (" + QString::number(QFileInfo(image).size()) + " bytes)"))
        << qPrintable(server->log());
}

TEST_F(HeadlessSolve, CurlPutOfPngKeepsItsName) {
    const QString image = scratch.filePath("m31.png");
    const auto truth = field("png8", image, 10.7, 41.3);
    EXPECT_EQ(upload("curl", {"-sS", "-T", image, "-H", "Content-Disposition: attachment; filename=\"m31.png\"",
                              url("/api/upload")}),
              json({{"status", "success"}}));
    expectSolved(truth);
    EXPECT_TRUE(loggedUpload("File m31.png uploaded to ", "png", " ("));
    EXPECT_TRUE(loggedUpload("Converting ", "png", ""));
}

TEST_F(HeadlessSolve, CurlFormPostOfRawFrameIsRecognisedByItsBytes) {
    const QString image = scratch.filePath("frame.dat");
    const auto truth = field("raw2", image, 83.8, -5.4);
    EXPECT_EQ(upload("curl", {"-sS", "-F", "image=@" + image, url("/api/upload")}), json({{"status", "success"}}));
    expectSolved(truth);
    EXPECT_TRUE(loggedUpload("File uploaded to ", "raw", " ("));
}

TEST_F(HeadlessSolve, PythonClientPostsJpegAndPutsTiff) {
    const QString client = QString(SIDERAMA_SOURCE_DIR) + "/scripts/siderama-client.py";
    const QString port = QString::number(server->port());
    const struct {
        const char* format;
        const char* name;
        QStringList options;
    } uploads[] = {{"jpg", "field.jpg", {}}, {"tiff16", "field.tiff", {"--put"}}};
    for (const auto& upload : uploads) {
        const QString image = scratch.filePath(upload.name);
        const auto truth = field(upload.format, image, 83.8, -5.4);
        ToolRun result{};
        for (int attempt = 0; attempt < 20; ++attempt) {
            result = run("python3", QStringList{client, "--port", port} + upload.options + QStringList{image});
            if (result.exitCode == 0 || !server->log().endsWith("Solver busy\n")) break;
            QThread::msleep(100);
        }
        ASSERT_EQ(result.exitCode, 0) << upload.format << "\n" << qPrintable(server->log());
        expectCalibration(json::parse(result.output.toStdString(), nullptr, false), truth);
    }
}

}  // namespace
