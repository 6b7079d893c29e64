// End to end over HTTPS: `siderama --headless --tls-port 0` in a private home
// with the real tools. Clients that trust only the authority fetched from
// /ca.crt upload a generated field and poll its result over TLS; clients that
// trust only the system's authorities refuse the server themselves.
#include "skyfield/SkyField.h"
#include "support/PrivateHome.h"
#include "support/TestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <gtest/gtest.h>

namespace {

struct Outcome {
    int exitCode;
    QString output;
};

Outcome run(const QStringList& command) {
    QProcess process;
    process.start(command.first(), command.mid(1));
    process.waitForFinished(300000);
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput() + process.readAllStandardError())};
}

TEST(TlsSolve, ClientsTrustingTheAuthoritySolveOthersRefuse) {
    testsupport::PrivateHome home;
    if (!testsupport::linkTycho2Indexes(home.indexFolder()))
        GTEST_SKIP() << "Tycho-2 index files missing (Debian astrometry-data-tycho2-10-19-littleendian)";
    const QString image = home.filePath("orion.fits");
    const auto truth = skyfield::runSkyField({"--ra", "83.8", "--dec", "-5.4", "--width", "900", "--height", "700",
                                              "--scale", "36", "--format", "fits", "--out", image});
    ASSERT_TRUE(truth);
    testsupport::HeadlessProgram server(home, {}, {"--tls-port", "0"});
    const int port = server.waitForPort();
    ASSERT_TRUE(server.waitForLog("HTTPS server started on port ")) << qPrintable(server.log());
    const QString tlsPort = QRegularExpression("HTTPS server started on port (\\d+)").match(server.log()).captured(1);
    const QString secure = "https://127.0.0.1:" + tlsPort, authority = home.filePath("fetched-ca.crt");
    ASSERT_EQ(run({"curl", "-sSf", "-o", authority, "http://127.0.0.1:" + QString::number(port) + "/ca.crt"}).exitCode, 0);

    const QString client = SIDERAMA_SOURCE_DIR "/scripts/siderama-client.py";
    const struct {
        const char* name;
        QStringList upload;
        bool trusted;
    } clients[] = {
        {"curl --cacert", {"curl", "-sS", "--cacert", authority, "-F", "image=@" + image, secure + "/api/upload"}, true},
        {"python ssl with cafile", {"python3", client, "--port", tlsPort, "--cafile", authority, image}, true},
        {"curl, system authorities", {"curl", "-sS", "-F", "image=@" + image, secure + "/api/upload"}, false},
        {"python ssl, system authorities", {"python3", client, "--port", tlsPort, "--tls", image}, false},
    };
    for (const auto& c : clients) {
        SCOPED_TRACE(c.name);
        // A solve that has just reported "done" may hold the solver a moment longer.
        Outcome upload = run(c.upload);
        for (int retry = 0; retry < 20 && upload.output.contains("Solver busy"); ++retry, QThread::msleep(100))
            upload = run(c.upload);
        if (!c.trusted) {
            EXPECT_NE(upload.exitCode, 0);
            EXPECT_TRUE(upload.output.contains("certificate")) << qPrintable(upload.output);
            continue;
        }
        ASSERT_EQ(upload.exitCode, 0) << qPrintable(upload.output) << qPrintable(server.log());
        QJsonObject status;
        for (int poll = 0; poll < 1200 && status["status"].toString("busy") == "busy"; ++poll, QThread::msleep(200))
            status = QJsonDocument::fromJson(run({"curl", "-sS", "--cacert", authority, secure + "/api/status"})
                                                 .output.toUtf8()).object();
        ASSERT_EQ(status["status"].toString(), "done") << qPrintable(server.log());
        EXPECT_NEAR(status["calibration"].toObject()["ra"].toDouble(), truth->ra, 0.05);
        EXPECT_NEAR(status["calibration"].toObject()["dec"].toDouble(), truth->dec, 0.05);
    }
}

}  // namespace
