// The program as started from a shell: first start in a fresh home, the
// command line, and termination signals in every mode.
#include "core/SolverConfig.h"
#include "support/PrivateHome.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>

using namespace siderama;
using testsupport::PrivateHome;

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray expectedConfig(const QString& folder) { return "cpulimit 300\nadd_path " + folder.toUtf8() + "\nautoindex\n"; }

TEST(Startup, TheConfigurationIsWrittenOnceForAnyFolderName) {
    QTemporaryDir scratch;
    for (const QString& name : {QString("plain"), QString("with  two spaces"), QString("Jürgen 星野")}) {
        const QString folder = scratch.filePath(name + "/deep/Siderama");
        const QString config = folder + "/siderama.cfg";
        ASSERT_TRUE(writeSolverConfigIfMissing(folder, config)) << qPrintable(name);
        EXPECT_EQ(readAll(config), expectedConfig(folder)) << qPrintable(name);
        QFile edited(config);  // a user's edits survive every later start
        ASSERT_TRUE(edited.open(QIODevice::WriteOnly | QIODevice::Truncate));
        edited.write("cpulimit 60\n");
        edited.close();
        EXPECT_TRUE(writeSolverConfigIfMissing(folder, config));
        EXPECT_EQ(readAll(config), "cpulimit 60\n");
    }
    EXPECT_TRUE(QDir(scratch.path()).entryList({"*.cfg*"}, QDir::Files | QDir::Hidden).isEmpty()) << "no temporary file left";
    const QString blocker = scratch.filePath("file");
    QFile(blocker).open(QIODevice::WriteOnly);
    EXPECT_FALSE(writeSolverConfigIfMissing(blocker + "/Siderama", blocker + "/Siderama/siderama.cfg")) << "reported, not fatal";
}

TEST(Startup, TheProgramStartsInANonAsciiHome) {
    const PrivateHome home("Ångström home");
    const auto ended = home.run({"--solve", home.filePath("missing.png")});
    EXPECT_EQ(ended.exitCode, 1) << qPrintable(ended.output);
    EXPECT_EQ(readAll(home.indexFolder() + "/siderama.cfg"), expectedConfig(home.indexFolder()));
    EXPECT_TRUE(ended.output.contains("Failed to convert " + home.filePath("missing.png") + " to FITS")) << qPrintable(ended.output);
    EXPECT_FALSE(ended.output.contains("\033[")) << "no colours when the output is not a terminal";
}

// Arguments, exit status, a text the output holds.
TEST(Startup, CommandLineTable) {
    const PrivateHome home;
    const std::vector<std::tuple<QStringList, int, QString>> cases{
        {{"--version"}, 0, "Siderama " SIDERAMA_VERSION},
        {{"-v"}, 0, "Siderama " SIDERAMA_VERSION},
        {{"--help"}, 0, "--solve IMAGE"},
        {{"-h"}, 0, "--fetch-index KEY..."},
        {{"--no-such-option"}, 2, "no-such-option"},
        {{"--solve"}, 2, "Usage: siderama"},
        {{"--solve", "a.fits", "b.fits"}, 2, "Usage: siderama"},
        {{"a.fits", "b.fits"}, 2, "Usage: siderama"},
        {{"--fetch-index", "4300"}, 2, "4300"},
        {{"--remove-index"}, 2, "--remove-index"},
    };
    for (const auto& [arguments, exitCode, text] : cases) {
        const auto ended = home.run(arguments);
        EXPECT_EQ(ended.exitCode, exitCode) << qPrintable(arguments.join(' '));
        EXPECT_TRUE(ended.output.contains(text)) << qPrintable(arguments.join(' ')) << "\n" << qPrintable(ended.output);
    }
}

// Every mode ends its tool on SIGTERM, SIGINT and SIGHUP and exits
// normally; the tools run in a process group of their own.
TEST(Startup, TerminationSignalsEndTheRunningToolInEveryMode) {
    for (const QStringList& mode : {QStringList{}, QStringList{"--solve"}, QStringList{"--headless"}})
        for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
            PrivateHome home;
            const QString pidFile = home.filePath("pid"), image = home.filePath("a.fits");
            testsupport::writeScript(home.filePath("tools"), "image2xy", "echo $$ > " + pidFile.toUtf8() + "\nexec sleep 60\n");
            home.setTools(home.filePath("tools"));
            QFile(image).open(QIODevice::WriteOnly);
            const auto program = home.start(mode == QStringList{"--headless"} ? mode : mode + QStringList{image});
            const QString what = mode.join("") + " signal " + QString::number(signal);
            if (mode == QStringList{"--headless"}) {
                QByteArray log;
                ASSERT_TRUE(testsupport::waitUntil([&] { return (log += program->readAll()).contains("HTTP server started"); },
                                                   std::chrono::seconds(30)));
                ::kill(program->processId(), signal);
                ASSERT_TRUE(program->waitForFinished(15000)) << qPrintable(what);
                EXPECT_EQ(program->exitStatus(), QProcess::NormalExit) << qPrintable(what);
                EXPECT_EQ(program->exitCode(), 0) << qPrintable(what);
                continue;
            }
            ASSERT_TRUE(testsupport::waitUntil([&] { return !readAll(pidFile).isEmpty(); }, std::chrono::seconds(30)));
            const pid_t tool = readAll(pidFile).trimmed().toInt();
            ::kill(program->processId(), signal);
            ASSERT_TRUE(program->waitForFinished(15000)) << qPrintable(what);
            EXPECT_EQ(program->exitStatus(), QProcess::NormalExit) << qPrintable(what);
            EXPECT_TRUE(testsupport::waitUntil([&] { return ::kill(tool, 0) != 0; })) << qPrintable(what) << " left the tool running";
            ::kill(tool, SIGKILL);
        }
}

}  // namespace
