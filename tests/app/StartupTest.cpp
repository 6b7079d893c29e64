// First start against temporary homes: the index folder and the solver
// configuration file, for plain, spaced and non-ASCII paths.
#include "core/SolverConfig.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

using namespace siderama;

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray expectedConfig(const QString& folder) {
    return "cpulimit 300\nadd_path " + folder.toUtf8() + "\nautoindex\n";
}

// Runs the program once in a fresh home; returns its exit code.
int runProgram(const QString& home, const QStringList& arguments, QByteArray* output = nullptr) {
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("HOME", home);
    environment.insert("XDG_DATA_HOME", home + "/data");
    environment.insert("XDG_CONFIG_HOME", home + "/config");
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(SIDERAMA_BINARY_DIR "/bin/siderama", arguments);
    EXPECT_TRUE(program.waitForFinished(60000));
    if (output) *output = program.readAll();
    return program.exitStatus() == QProcess::NormalExit ? program.exitCode() : -1;
}

TEST(Startup, FirstStartCreatesTheFolderAndTheConfiguration) {
    QTemporaryDir scratch;
    for (const QString& name : {QString("plain"), QString("with  two spaces"), QString("Jürgen 星野")}) {
        const QString folder = scratch.filePath(name + "/deep/Siderama");
        const QString config = folder + "/siderama.cfg";
        ASSERT_TRUE(writeSolverConfigIfMissing(folder, config)) << qPrintable(name);
        EXPECT_EQ(readAll(config), expectedConfig(folder)) << qPrintable(name);
        EXPECT_EQ(readAll(config).count('\n'), 3);

        // A user's edits survive every later start.
        QFile edited(config);
        ASSERT_TRUE(edited.open(QIODevice::WriteOnly | QIODevice::Truncate));
        edited.write("cpulimit 60\n");
        edited.close();
        EXPECT_TRUE(writeSolverConfigIfMissing(folder, config));
        EXPECT_EQ(readAll(config), "cpulimit 60\n");
    }
    EXPECT_TRUE(QDir(scratch.path()).entryList({"*.cfg*"}, QDir::Files | QDir::Hidden).isEmpty())
        << "no temporary file is left behind";
}

TEST(Startup, UnwritableFolderIsReportedNotFatal) {
    QTemporaryDir scratch;
    const QString blocker = scratch.filePath("file");
    QFile(blocker).open(QIODevice::WriteOnly);
    EXPECT_FALSE(writeSolverConfigIfMissing(blocker + "/Siderama", blocker + "/Siderama/siderama.cfg"));
}

TEST(Startup, TheProgramWritesItsConfigurationInANonAsciiHome) {
    QTemporaryDir scratch;
    const QString home = scratch.filePath("Ångström home");
    QDir().mkpath(home);
    QByteArray output;
    EXPECT_EQ(runProgram(home, {"--solve", home + "/missing.png"}, &output), 1) << output.constData();
    const QString folder = home + "/data/Siderama";
    EXPECT_EQ(readAll(folder + "/siderama.cfg"), expectedConfig(folder));
    EXPECT_TRUE(output.contains("Failed to convert " + (home + "/missing.png").toUtf8() + " to FITS"))
        << output.constData();
    EXPECT_FALSE(output.contains("\033[")) << "no colours when the output is not a terminal";
}

TEST(Startup, CommandLineOptions) {
    QTemporaryDir scratch;
    QByteArray output;
    EXPECT_EQ(runProgram(scratch.path(), {"--version"}, &output), 0);
    EXPECT_TRUE(output.startsWith("Siderama " SIDERAMA_VERSION)) << output.constData();
    EXPECT_EQ(runProgram(scratch.path(), {"--help"}, &output), 0);
    EXPECT_TRUE(output.contains("--solve IMAGE"));
    EXPECT_EQ(runProgram(scratch.path(), {"--no-such-option"}, &output), 2);
    EXPECT_TRUE(output.contains("unknown option --no-such-option"));
    EXPECT_EQ(runProgram(scratch.path(), {"--solve"}, &output), 2);
    EXPECT_EQ(runProgram(scratch.path(), {"--json", "image.fits"}, &output), 2);
    EXPECT_TRUE(output.contains("--json goes with --solve"));
}

TEST(Startup, HeadlessEndsCleanlyOnTerminationSignals) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        QTemporaryDir scratch;
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", scratch.path());
        environment.insert("XDG_DATA_HOME", scratch.filePath("data"));
        environment.insert("XDG_CONFIG_HOME", scratch.filePath("config"));
        program.setProcessEnvironment(environment);
        program.start(SIDERAMA_BINARY_DIR "/bin/siderama", {"--headless"});
        ASSERT_TRUE(program.waitForStarted());
        ASSERT_TRUE(testsupport::waitUntil(
            [&] { return QFile::exists(scratch.filePath("data/Siderama/siderama.cfg")); }));
        QThread::msleep(200);
        ::kill(program.processId(), signal);
        ASSERT_TRUE(program.waitForFinished(10000)) << "signal " << signal;
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << "signal " << signal;
        EXPECT_EQ(program.exitCode(), 0);
    }
}

TEST(Startup, TerminationSignalsEndTheRunningTool) {
    // The tools run in a process group of their own: nothing else ends them.
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        for (const QStringList& mode : {QStringList{}, QStringList{"--solve"}}) {
            QTemporaryDir scratch;
            const QString pidFile = scratch.filePath("pid"), image = scratch.filePath("a.fits");
            testsupport::writeScript(scratch.path(), "image2xy", "echo $$ > " + pidFile.toUtf8() + "\nexec sleep 60\n");
            QFile(image).open(QIODevice::WriteOnly);
            QProcess program;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("HOME", scratch.path());
            environment.insert("XDG_DATA_HOME", scratch.filePath("data"));
            environment.insert("SIDERAMA_TOOLS_DIR", scratch.path());
            program.setProcessEnvironment(environment);
            program.start(SIDERAMA_BINARY_DIR "/bin/siderama", mode + QStringList{image});
            ASSERT_TRUE(testsupport::waitUntil([&] { return !readAll(pidFile).isEmpty(); }, std::chrono::seconds(30)));
            const pid_t tool = readAll(pidFile).trimmed().toInt();
            ::kill(program.processId(), signal);
            ASSERT_TRUE(program.waitForFinished(15000)) << "signal " << signal;
            EXPECT_NE(::kill(tool, 0), 0) << "signal " << signal << " left the tool running " << qPrintable(mode.join(""));
            ::kill(tool, SIGKILL);
        }
}

}  // namespace
