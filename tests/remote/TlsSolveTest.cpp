// End to end over HTTPS: `siderama --headless --tls-port 0` with the real
// tools. Clients that trust only the authority fetched from /ca.crt upload a
// generated field and poll its result; clients that trust nothing refuse the
// server themselves.
#include "remote/HeadlessServer.h"
#include "skyfield/SkyField.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using nlohmann::json;

namespace {

struct Outcome {
    int exitCode;
    QString output;
};

Outcome run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(300000);
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError())};
}

class TlsSolve : public ::testing::Test {
protected:
    void SetUp() override {
        if (!QFile::exists("/usr/share/astrometry/index-tycho2-10.littleendian.fits"))
            GTEST_SKIP() << "Tycho-2 index files missing (Debian astrometry-data-tycho2-10-19-littleendian)";
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/siderama-test-bus");
        const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Siderama";
        ASSERT_EQ(testsupport::linkTycho2Indexes(folder), 10);
        ASSERT_TRUE(server.start()) << qPrintable(server.log());
        ASSERT_TRUE(server.waitForLog("HTTPS server started on port ")) << qPrintable(server.log());
        securePort = QRegularExpression("HTTPS server started on port (\\d+)").match(server.log()).captured(1);
        authority = scratch.filePath("ca.crt");
        const QString plain = "http://127.0.0.1:" + QString::number(server.port());
        ASSERT_EQ(run("curl", {"-sSf", "-o", authority, plain + "/ca.crt"}).exitCode, 0);
    }

    QString secure(const QString& path) const { return "https://127.0.0.1:" + securePort + path; }

    json statusWhenDone() {
        json status;
        for (int poll = 0; poll < 1200 && (!status.is_object() || status["status"] == "busy"); ++poll, QThread::msleep(200))
            status = json::parse(run("curl", {"-sS", "--cacert", authority, secure("/api/status")}).output.toStdString(),
                                 nullptr, false);
        return status;
    }

    QTemporaryDir scratch;
    HeadlessServer server{{}, {"--tls-port", "0"}};
    QString securePort;
    QString authority;
};

TEST_F(TlsSolve, ClientsTrustingTheAuthoritySolveOthersRefuse) {
    const QString image = scratch.filePath("orion.fits");
    const auto truth = testsupport::runSkyField({"--ra", "83.8", "--dec", "-5.4", "--width", "900", "--height",
                                                 "700", "--scale", "36", "--format", "fits", "--out", image});
    ASSERT_TRUE(truth);
    const QString client = QString(SIDERAMA_SOURCE_DIR) + "/scripts/siderama-client.py";
    const struct {
        const char* name;
        QStringList upload;  // the client's command; nothing further when `solved` is false
        bool solved;
    } clients[] = {
        {"curl --cacert", {"curl", "-sS", "--cacert", authority, "-F", "image=@" + image, secure("/api/upload")}, true},
        {"python ssl with cafile", {"python3", client, "--port", securePort, "--cafile", authority, image}, true},
        {"curl with the system's authorities", {"curl", "-sS", "-F", "image=@" + image, secure("/api/upload")}, false},
        {"python ssl with the system's authorities", {"python3", client, "--port", securePort, "--tls", image}, false},
    };
    for (const auto& c : clients) {
        SCOPED_TRACE(c.name);
        // A solve that has just reported "done" may hold the solver a moment longer.
        Outcome upload = run(c.upload.first(), c.upload.mid(1));
        for (int retry = 0; retry < 20 && upload.output.contains("Solver busy"); ++retry, QThread::msleep(100))
            upload = run(c.upload.first(), c.upload.mid(1));
        if (!c.solved) {
            EXPECT_NE(upload.exitCode, 0);
            EXPECT_TRUE(upload.output.contains("certificate")) << qPrintable(upload.output);
            continue;
        }
        ASSERT_EQ(upload.exitCode, 0) << qPrintable(upload.output) << qPrintable(server.log());
        const json status = statusWhenDone();
        ASSERT_EQ(status.value("status", ""), "done") << status.dump() << qPrintable(server.log());
        EXPECT_NEAR(status["calibration"]["ra"].get<double>(), truth->ra, 0.05);
        EXPECT_NEAR(status["calibration"]["dec"].get<double>(), truth->dec, 0.05);
    }
}

}  // namespace
