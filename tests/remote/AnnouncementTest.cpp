// The DNS-SD announcement seen by a real browser: a private D-Bus and
// avahi-daemon inside a network namespace made by tests/support/netns-avahi.sh,
// with `siderama --headless` and avahi-browse running in the same namespace.
#include "support/PrivateHome.h"
#include "support/TestSupport.h"
#include <gtest/gtest.h>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <unistd.h>

namespace {

const QString helper = SIDERAMA_SOURCE_DIR "/tests/support/netns-avahi.sh";

class Namespace {
public:
    Namespace() {
        holder.setProcessChannelMode(QProcess::MergedChannels);
        holder.start(helper, {"hold", state.path()});
        made = testsupport::waitUntil([&] { return QFile::exists(state.filePath("holder.pid")); }, std::chrono::seconds(10));
    }
    ~Namespace() {
        if (holder.state() == QProcess::NotRunning) return;
        command({"stop"});
        holder.waitForFinished(5000);
    }
    int command(const QStringList& arguments) {
        QProcess process;
        process.start(helper, QStringList{arguments.first(), state.path()} + arguments.mid(1));
        process.waitForFinished(30000);
        return process.exitCode();
    }
    QStringList launcher() const { return {helper, "run", state.path()}; }
    bool startAvahi() {
        return command({"start-avahi"}) == 0 &&
               testsupport::waitUntil([&] { return command({"run", "avahi-daemon", "-c"}) == 0; });
    }
    // The standard output of `command` run inside.
    QByteArray inside(const QStringList& command) {
        QProcess process;
        process.start(helper, launcher().mid(1) + command);
        process.waitForFinished(30000);
        return process.readAllStandardOutput();
    }
    // Resolved "_siderama._tcp" services as "NAME PORT" (avahi-browse writes
    // bytes outside letters and digits as \DDD).
    QStringList browse() {
        QStringList found;
        for (const QByteArray& line : inside({"avahi-browse", "-rpt", "_siderama._tcp"}).split('\n')) {
            const QList<QByteArray> fields = line.split(';');
            if (fields.size() < 9 || fields[0] != "=") continue;
            const QString service = QString(fields[3]).replace("\\032", " ").replace("\\035", "#") + " " + fields[8];
            if (!found.contains(service)) found << service;
        }
        return found;
    }
    bool waitForServices(const QStringList& expected) {
        return testsupport::waitUntil([&] {
            const QStringList found = browse();
            return std::all_of(expected.begin(), expected.end(), [&](const QString& s) { return found.contains(s); });
        }, std::chrono::seconds(30));
    }
    QTemporaryDir state;
    QProcess holder;
    bool made = false;
};

// Why the namespace tests cannot run here; empty when they can.
QString unavailable() {
    if (::geteuid() != 0) return "needs root to create a network namespace";
    for (const char* tool : {"/usr/sbin/avahi-daemon", "/usr/bin/avahi-browse", "/usr/bin/dbus-daemon"})
        if (!QFile::exists(tool)) return QString(tool) + " missing (Debian avahi-daemon, avahi-utils, dbus)";
    return {};
}

// No daemon at start: logged, and the server serves. The daemon comes: the
// service appears on the logged port. A second server gets the alternative
// name. The daemon restarts: the announcement is made again.
TEST(Announcement, FollowsTheDaemonAndAvoidsTakenNames) {
    if (!unavailable().isEmpty()) GTEST_SKIP() << qPrintable(unavailable());
    Namespace space;
    if (!space.made) GTEST_SKIP() << "cannot create a network namespace: " << space.holder.readAll().constData();
    ASSERT_EQ(space.command({"start-bus"}), 0);
    testsupport::PrivateHome home;
    testsupport::HeadlessProgram first(home, space.launcher());
    const int port = first.waitForPort();
    // (the failure's log lines are the routes' test)
    ASSERT_TRUE(first.waitForLog("Bonjour service did not publish")) << qPrintable(first.log());
    EXPECT_GT(port, 0);
    ASSERT_TRUE(space.startAvahi());
    ASSERT_TRUE(first.waitForLog("Bonjour service did publish")) << qPrintable(first.log());
    EXPECT_TRUE(space.waitForServices({"Siderama " + QString::number(port)}));
    testsupport::PrivateHome otherHome;
    testsupport::HeadlessProgram second(otherHome, space.launcher());
    const int secondPort = second.waitForPort();
    ASSERT_TRUE(second.waitForLog("Bonjour service did publish")) << qPrintable(second.log());
    EXPECT_TRUE(space.waitForServices({"Siderama #2 " + QString::number(secondPort)})) << qPrintable(space.browse().join('\n'));
    ASSERT_EQ(space.command({"stop-avahi"}), 0);
    ASSERT_TRUE(first.waitForLog("Bonjour service did not publish", 2)) << qPrintable(first.log());
    ASSERT_TRUE(space.startAvahi());
    ASSERT_TRUE(first.waitForLog("Bonjour service did publish", 2)) << qPrintable(first.log());
    EXPECT_TRUE(testsupport::waitUntil([&] { return space.browse().join('\n').contains(" " + QString::number(port)); },
                                       std::chrono::seconds(30)));
}

// The TXT records tell a client the API path, the TLS port and the version;
// the generated certificate names the addresses of the namespace.
TEST(Announcement, TextRecordsAndCertificateServeClientsOnTheNetwork) {
    if (!unavailable().isEmpty()) GTEST_SKIP() << qPrintable(unavailable());
    Namespace space;
    if (!space.made) GTEST_SKIP() << "cannot create a network namespace: " << space.holder.readAll().constData();
    ASSERT_EQ(space.command({"start-bus"}), 0);
    ASSERT_TRUE(space.startAvahi());
    testsupport::PrivateHome home;
    testsupport::HeadlessProgram server(home, space.launcher(), {"--tls-port", "0"});
    ASSERT_TRUE(server.waitForLog("Bonjour service did publish")) << qPrintable(server.log());
    const QString tlsPort = QRegularExpression("HTTPS server started on port (\\d+)").match(server.log()).captured(1);
    const QString version = home.run({"--version"}).output.section(' ', 1).trimmed();
    QStringList expected{"path=/api/", "tls-port=" + tlsPort, "txtvers=1", "version=" + version}, records;
    expected.sort();
    testsupport::waitUntil([&] {
        for (const QByteArray& line : space.inside({"avahi-browse", "-rpt", "_siderama._tcp"}).split('\n')) {
            const QStringList fields = QString::fromUtf8(line).split(';');
            if (fields.size() < 10 || fields[0] != "=") continue;
            records = fields[9].mid(1, fields[9].size() - 2).split("\" \"");
            records.sort();
        }
        return !records.isEmpty();
    });
    EXPECT_EQ(records, expected);
    for (const QString address : {"10.213.0.1", "10.213.0.2"}) {
        const QString url = "https://" + address + ":" + tlsPort + "/api/status";
        EXPECT_TRUE(space.inside({"curl", "-sS", "--cacert", home.filePath("data/Siderama/tls/ca.crt"), url})
                        .contains("ready")) << qPrintable(address);
    }
}

}  // namespace
