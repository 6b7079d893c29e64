// End to end: `siderama --headless` in a private home with the real tools and
// the Tycho-2 index files; the shipped Python client uploads a generated
// star field and polls until it is solved.
#include "skyfield/SkyField.h"
#include "support/PrivateHome.h"
#include "support/TestSupport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

TEST(HeadlessSolve, ThePythonClientUploadsAFieldAndGetsItsCalibration) {
    testsupport::PrivateHome home;
    if (!testsupport::linkTycho2Indexes(home.indexFolder()))
        GTEST_SKIP() << "Tycho-2 index files missing (Debian astrometry-data-tycho2-10-19-littleendian)";
    const QString image = home.filePath("orion.jpg");
    const auto truth = skyfield::runSkyField({"--ra", "83.8", "--dec", "-5.4", "--width", "900", "--height", "700",
                                              "--scale", "36", "--rotation", "30", "--format", "jpg", "--out", image});
    ASSERT_TRUE(truth);
    testsupport::HeadlessProgram server(home);
    const int port = server.waitForPort();
    ASSERT_GT(port, 0) << qPrintable(server.log());
    const auto second = home.start({"--headless", "--port", "0"});  // on the same data folder
    ASSERT_TRUE(second->waitForFinished(30000));
    EXPECT_EQ(second->exitCode(), 1);
    EXPECT_TRUE(second->readAll().contains("is in use by another Siderama (process "));

    QProcess client;
    client.start("python3", {SIDERAMA_SOURCE_DIR "/scripts/siderama-client.py", "--host", "127.0.0.1", "--port",
                             QString::number(port), image});
    ASSERT_TRUE(client.waitForFinished(300000));
    const QByteArray output = client.readAllStandardOutput();
    ASSERT_EQ(client.exitCode(), 0) << output.constData() << qPrintable(server.log());
    const QJsonObject calibration = QJsonDocument::fromJson(output).object();
    const double offPixels = skyfield::angularSeparation(truth->ra, truth->dec, calibration["ra"].toDouble(),
                                                         calibration["dec"].toDouble()) * 3600 / truth->scale;
    EXPECT_LT(offPixels, 2.0) << output.constData();
    EXPECT_NEAR(calibration["pixscale"].toDouble(), truth->scale, truth->scale * 0.01);
    EXPECT_TRUE(calibration.contains("orientation"));
    EXPECT_TRUE(server.log().contains("File uploaded to " + home.filePath("tmp/siderama-")));
}
