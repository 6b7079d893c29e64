// The DNS-SD announcement seen by a real browser: a private D-Bus and
// avahi-daemon inside a network namespace made by tests/support/netns-avahi.sh,
// with `siderama --headless` and avahi-browse running in the same namespace.
#include "remote/HeadlessServer.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

const QString helper = QString(SIDERAMA_SOURCE_DIR) + "/tests/support/netns-avahi.sh";

struct Service {
    QString name;
    int port;
    bool operator==(const Service&) const = default;
};

// avahi-browse -p writes bytes outside letters and digits as \DDD.
QString unescape(const QString& text) {
    QString plain;
    for (int i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text.mid(i + 1, 3).toInt() > 0) {
            plain += QChar(text.mid(i + 1, 3).toInt());
            i += 3;
        } else {
            plain += text[i];
        }
    }
    return plain;
}

class Announcement : public ::testing::Test {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root to create a network namespace";
        for (const char* tool : {"/usr/sbin/avahi-daemon", "/usr/bin/avahi-browse", "/usr/bin/dbus-daemon"})
            if (!QFile::exists(tool)) GTEST_SKIP() << tool << " missing (Debian avahi-daemon, avahi-utils, dbus)";
        ASSERT_TRUE(state.isValid());
        holder.setProcessChannelMode(QProcess::MergedChannels);
        holder.start(helper, {"hold", state.path()});
        const bool made = testsupport::waitUntil([&] { return QFile::exists(state.filePath("holder.pid")); },
                                                 std::chrono::seconds(10));
        if (!made) {
            holder.waitForFinished(1000);
            GTEST_SKIP() << "cannot create a network namespace: " << holder.readAll().constData();
        }
    }

    void TearDown() override {
        server.reset();
        if (holder.state() == QProcess::NotRunning) return;
        helperCommand({"stop"});
        holder.waitForFinished(5000);
    }

    int helperCommand(const QStringList& arguments) {
        QProcess process;
        process.start(helper, QStringList{arguments.first(), state.path()} + arguments.mid(1));
        process.waitForFinished(30000);
        return process.exitCode();
    }

    QByteArray inside(const QStringList& command) {
        QProcess process;
        process.start(helper, QStringList{"run", state.path()} + command);
        process.waitForFinished(30000);
        return process.readAllStandardOutput();
    }

    void startDaemons(bool avahi = true) {
        ASSERT_EQ(helperCommand({"start-bus"}), 0);
        if (avahi) startAvahi();
    }

    void startAvahi() {
        ASSERT_EQ(helperCommand({"start-avahi"}), 0);
        ASSERT_TRUE(testsupport::waitUntil([&] { return helperCommand({"run", "avahi-daemon", "-c"}) == 0; }));
    }

    void startSiderama(const QStringList& arguments = {}) {
        server = std::make_unique<HeadlessServer>(QStringList{helper, "run", state.path()}, arguments);
        ASSERT_TRUE(server->start()) << qPrintable(server->log());
    }

    // Resolved "_siderama._tcp" services, each once.
    QList<Service> browse() {
        QList<Service> found;
        for (const QByteArray& line : inside({"avahi-browse", "-rpt", "_siderama._tcp"}).split('\n')) {
            const QStringList fields = QString::fromUtf8(line).split(';');
            if (fields.size() < 9 || fields[0] != "=") continue;
            const Service service{unescape(fields[3]), fields[8].toInt()};
            if (!found.contains(service)) found << service;
        }
        return found;
    }

    bool waitForServices(const QList<Service>& expected) {
        return testsupport::waitUntil(
            [&] {
                const QList<Service> found = browse();
                return std::all_of(expected.begin(), expected.end(), [&](const Service& s) { return found.contains(s); });
            },
            std::chrono::seconds(30));
    }

    QString status() {
        return QString::fromUtf8(inside({"curl", "-s", "http://127.0.0.1:" + QString::number(server->port()) + "/api/status"}));
    }

    QTemporaryDir state;
    QProcess holder;
    std::unique_ptr<HeadlessServer> server;
};

TEST_F(Announcement, BrowserFindsTheServiceOnTheLoggedPortAlsoAfterADaemonRestart) {
    startDaemons();
    startSiderama();
    ASSERT_TRUE(server->waitForLog("Bonjour service did publish")) << qPrintable(server->log());
    EXPECT_TRUE(waitForServices({{"Siderama", server->port()}})) << qPrintable(server->log());
    EXPECT_FALSE(server->log().contains("did not publish"));

    ASSERT_EQ(helperCommand({"stop-avahi"}), 0);
    ASSERT_TRUE(server->waitForLog("Bonjour service did not publish")) << qPrintable(server->log());
    startAvahi();
    ASSERT_TRUE(server->waitForLog("Bonjour service did publish", 2)) << qPrintable(server->log());
    EXPECT_TRUE(waitForServices({{"Siderama", server->port()}}));
    EXPECT_TRUE(status().contains("\"ready\"")) << qPrintable(status());
}

TEST_F(Announcement, TakenNameGivesTheAlternativeName) {
    startDaemons();
    QProcess other;
    other.start(helper, {"run", state.path(), "avahi-publish", "-s", "Siderama", "_siderama._tcp", "1234"});
    ASSERT_TRUE(waitForServices({{"Siderama", 1234}}));
    startSiderama();
    ASSERT_TRUE(server->waitForLog("Bonjour service did publish")) << qPrintable(server->log());
    EXPECT_TRUE(waitForServices({{"Siderama", 1234}, {"Siderama #2", server->port()}})) << qPrintable(server->log());
    other.terminate();
    other.waitForFinished(5000);
}

TEST_F(Announcement, MissingDaemonIsLoggedTheServerServesAndALateDaemonIsUsed) {
    startDaemons(false);
    startSiderama();
    ASSERT_TRUE(server->waitForLog("Bonjour service did not publish")) << qPrintable(server->log());
    const QString log = server->log();
    const QStringList lines = log.split('\n');
    const qsizetype failed = lines.indexOf("Bonjour service did not publish");
    ASSERT_LT(failed + 1, lines.size());
    EXPECT_EQ(lines[failed + 1], "[\"AvahiErrorCode\": -26, \"AvahiClientState\": 101]");
    EXPECT_LT(lines.indexOf(QRegularExpression("HTTP server started on port \\d+")), failed);
    EXPECT_TRUE(status().contains("\"ready\"")) << qPrintable(status());

    startAvahi();
    ASSERT_TRUE(server->waitForLog("Bonjour service did publish")) << qPrintable(server->log());
    EXPECT_TRUE(waitForServices({{"Siderama", server->port()}}));
}

// The TXT records tell a client the API path, the TLS port and the version;
// the generated certificate names the addresses of the namespace.
TEST_F(Announcement, TextRecordsAndCertificateServeClientsOnTheNetwork) {
    startDaemons();
    startSiderama({"--tls-port", "0"});
    ASSERT_TRUE(server->waitForLog("Bonjour service did publish")) << qPrintable(server->log());
    const QString tlsPort = QRegularExpression("HTTPS server started on port (\\d+)").match(server->log()).captured(1);
    QProcess version;
    version.start(sideramaExecutable(), {"--version"});
    version.waitForFinished(10000);
    QStringList expected{"path=/api/", "tls-port=" + tlsPort, "txtvers=1",
                         "version=" + QString::fromUtf8(version.readAllStandardOutput()).section(' ', 1).trimmed()};
    expected.sort();
    QStringList records;
    testsupport::waitUntil([&] {
        for (const QByteArray& line : inside({"avahi-browse", "-rpt", "_siderama._tcp"}).split('\n')) {
            const QStringList fields = QString::fromUtf8(line).split(';');
            if (fields.size() < 10 || fields[0] != "=") continue;
            records = fields[9].mid(1, fields[9].size() - 2).split("\" \"");
            records.sort();
        }
        return !records.isEmpty();
    });
    EXPECT_EQ(records, expected);
    const QString authority = testsupport::tempHome() + "/.local/share/Siderama/tls/ca.crt";
    for (const QString address : {"10.213.0.1", "10.213.0.2"}) {
        const QString url = "https://" + address + ":" + tlsPort + "/api/status";
        EXPECT_TRUE(inside({"curl", "-sS", "--cacert", authority, url}).contains("ready")) << qPrintable(address);
    }
}

}  // namespace
