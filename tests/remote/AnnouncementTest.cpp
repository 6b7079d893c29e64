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
    // The helper's exit code for COMMAND [ARGUMENTS...]; its standard output in `output`.
    int command(const QStringList& arguments, QByteArray* output = nullptr) {
        QProcess process;
        process.start(helper, QStringList{arguments.first(), state.path()} + arguments.mid(1));
        process.waitForFinished(30000);
        if (output) *output = process.readAllStandardOutput();
        return process.exitCode();
    }
    QStringList launcher() const { return {helper, "run", state.path()}; }
    bool startAvahi() {
        return command({"start-avahi"}) == 0 &&
               testsupport::waitUntil([&] { return command({"run", "avahi-daemon", "-c"}) == 0; });
    }
    // Resolved "_siderama._tcp" services as "NAME PORT" mapped to their sorted
    // TXT records (avahi-browse writes bytes outside letters and digits as \DDD).
    QMap<QString, QStringList> browse() {
        QByteArray output;
        command({"run", "avahi-browse", "-rpt", "_siderama._tcp"}, &output);
        QMap<QString, QStringList> found;
        for (const QByteArray& line : output.split('\n')) {
            const QStringList fields = QString::fromUtf8(line).split(';');
            if (fields.size() < 10 || fields[0] != "=") continue;
            QStringList& records = found[QString(fields[3]).replace("\\032", " ").replace("\\035", "#") + " " + fields[8]];
            records = fields[9].mid(1, fields[9].size() - 2).split("\" \"");
            records.sort();
        }
        return found;
    }
    bool waitForService(const QString& service) {
        return testsupport::waitUntil([&] { return browse().contains(service); }, std::chrono::seconds(30));
    }
    QTemporaryDir state;
    QProcess holder;
    bool made = false;
};

// Why the namespace test cannot run here; empty when it can.
QString unavailable() {
    if (::geteuid() != 0) return "needs root to create a network namespace";
    for (const char* tool : {"/usr/sbin/avahi-daemon", "/usr/bin/avahi-browse", "/usr/bin/dbus-daemon"})
        if (!QFile::exists(tool)) return QString(tool) + " missing (Debian avahi-daemon, avahi-utils, dbus)";
    return {};
}

// No daemon at start: logged, and the server serves. The daemon comes: the
// service appears on the logged port, its TXT records telling a client the
// API path, the TLS port and the version, its certificate naming the
// namespace's addresses. A second server gets the alternative name. The
// daemon restarts: the announcement is made again.
TEST(Announcement, FollowsTheDaemonAndServesClientsOnTheNetwork) {
    if (!unavailable().isEmpty()) GTEST_SKIP() << qPrintable(unavailable());
    Namespace space;
    if (!space.made) GTEST_SKIP() << "cannot create a network namespace: " << space.holder.readAll().constData();
    ASSERT_EQ(space.command({"start-bus"}), 0);
    testsupport::PrivateHome home;
    testsupport::HeadlessProgram first(home, space.launcher(), {"--tls-port", "0"});
    const QString port = QString::number(first.waitForPort());
    ASSERT_TRUE(first.waitForLog("Bonjour service did not publish")) << qPrintable(first.log());
    ASSERT_TRUE(space.startAvahi());
    ASSERT_TRUE(first.waitForLog("Bonjour service did publish")) << qPrintable(first.log());
    ASSERT_TRUE(space.waitForService("Siderama " + port));
    const QString tlsPort = QRegularExpression("HTTPS server started on port (\\d+)").match(first.log()).captured(1);
    const QString version = home.run({"--version"}).output.section(' ', 1).trimmed();
    EXPECT_EQ(space.browse()["Siderama " + port], QStringList({"path=/api/", "tls-port=" + tlsPort, "txtvers=1", "version=" + version}));
    for (const QString address : {"10.213.0.1", "10.213.0.2"}) {
        QByteArray answer;
        space.command({"run", "curl", "-sS", "--cacert", home.filePath("data/Siderama/tls/ca.crt"),
                       "https://" + address + ":" + tlsPort + "/api/status"}, &answer);
        EXPECT_TRUE(answer.contains("ready")) << qPrintable(address);
    }
    testsupport::PrivateHome otherHome;
    testsupport::HeadlessProgram second(otherHome, space.launcher());
    const int secondPort = second.waitForPort();
    ASSERT_TRUE(second.waitForLog("Bonjour service did publish")) << qPrintable(second.log());
    EXPECT_TRUE(space.waitForService("Siderama #2 " + QString::number(secondPort))) << qPrintable(space.browse().keys().join('\n'));
    ASSERT_EQ(space.command({"stop-avahi"}), 0);
    ASSERT_TRUE(first.waitForLog("Bonjour service did not publish", 2)) << qPrintable(first.log());
    ASSERT_TRUE(space.startAvahi());
    ASSERT_TRUE(first.waitForLog("Bonjour service did publish", 2)) << qPrintable(first.log());
    EXPECT_TRUE(testsupport::waitUntil([&] { return (space.browse().keys().join('\n') + '\n').contains(" " + port + '\n'); },
                                       std::chrono::seconds(30)));  // under either name
}
}  // namespace
