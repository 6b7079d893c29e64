// Uploads that try to take the server's disk, reach the tools under names of
// their own, or tie up a connection while the solver is busy.
#include "core/Defaults.h"
#include "remote/RemoteSolvingService.h"
#include "remote/RemoteUploads.h"
#include "remote/UploadFiles.h"
#include "solver/SolverDelegate.h"
#include "support/RawHttpClient.h"
#include "support/FitsCards.h"
#include "support/SolverProbe.h"
#include "support/TestSupport.h"
#include "support/UploadFolder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>


using namespace siderama;
using nlohmann::json;

namespace {

struct Upload {
    const char* name;
    std::string fileName;
    std::size_t bytes;
    qint64 areaLimitMB;
    std::string answer;  // "success" or the error message
};

std::string chunk(const std::string& bytes) { return QByteArray::number(qulonglong(bytes.size()), 16).toStdString() + "\r\n" + bytes + "\r\n"; }

class UploadAbuse : public ::testing::TestWithParam<Upload> {
protected:
    void SetUp() override {
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/siderama-test-bus");
        qputenv("SIDERAMA_TOOLS_DIR", scratch.path().toLocal8Bit());
        testsupport::writeStandInTools(scratch.path(), {}, "echo 'ra_center 83.5'\necho 'dec_center -5.25'\necho 'pixscale nan'\necho 'orientation inf'\n");
        solver.setView(&view);
        service.startServer();
        uploads = testsupport::uploadFolder();
        QDir(uploads).removeRecursively();
    }
    json put(std::size_t bytes, const std::string& fileName) {
        std::map<std::string, std::string> headers;
        if (!fileName.empty()) headers["Content-Disposition"] = "attachment; filename=\"" + fileName + "\"";
        const std::string body = testsupport::fitsBytes(qint64(bytes)).toStdString();
        return json::parse(testsupport::request(service.port(), "PUT", "/api/upload", headers, body).body, nullptr, false);
    }
    bool uploadAreaEmpty() const { return QDir(uploads).entryList(QDir::Files).isEmpty(); }

    QTemporaryDir scratch;
    SolverDelegate solver;
    testsupport::RecordingView view;
    RemoteSolvingService service{solver};
    QString uploads;
};

TEST_P(UploadAbuse, IsAnsweredAndNamedByUs) {
    const Upload& row = GetParam();
    Defaults::setString(Defaults::uploadAreaLimitMB, QString::number(row.areaLimitMB));
    const json answer = put(row.bytes, row.fileName);
    EXPECT_EQ(answer.value("status", "") == "success" ? "success" : answer.value("errormessage", ""), row.answer);
    // The client's name is told in the log, never used as a path.
    const QRegularExpression line("^\\nFile " + QRegularExpression::escape(QString::fromStdString(row.fileName)) +
                                  " ?uploaded to " + QRegularExpression::escape(uploads) + "upload-\\w{6}\\.fits .*");
    if (row.answer == "success") EXPECT_TRUE(testsupport::waitUntil([&] { return view.texts().indexOf(line) >= 0; }));
    EXPECT_TRUE(testsupport::waitUntil([&] { return uploadAreaEmpty(); }));
}

INSTANTIATE_TEST_SUITE_P(Table, UploadAbuse,
                         ::testing::Values(Upload{"Utf8Name", "Orion–M42 ✓.fits", 100, 4096, "success"},
                                           Upload{"FilterSyntaxName", "m31(1)[2]$x.fits", 100, 4096, "success"},
                                           Upload{"OverlongName", std::string(256, 'n'), 100, 4096, "File name too long"},
                                           Upload{"AreaFull", "", 2 << 20, 1, "Upload area full"}),
                         [](const auto& info) { return std::string(info.param.name); });

// A busy solver refuses on the head: the announced body is never awaited.
TEST_F(UploadAbuse, BusySolverRefusesBeforeTheBody) {
    testsupport::writeStandInTools(scratch.path(), "sleep 3\n");
    ASSERT_EQ(put(100, "")["status"], "success");
    testsupport::RawHttpClient client(service.port());
    client.send("PUT /api/upload HTTP/1.1\r\nContent-Length: 50000000\r\n\r\n");
    EXPECT_NE(client.readResponse().find("Solver busy"), std::string::npos);
}

// Non-finite values are left out of the calibration, never sent as JSON.
TEST_F(UploadAbuse, NonFiniteCalibrationIsAbsent) {
    ASSERT_EQ(put(100, "")["status"], "success");
    testsupport::waitUntil([&] { return !solver.isSolving(); });
    auto status = json::parse(testsupport::request(service.port(), "GET", "/api/status").body, nullptr, false);
    status.erase("queue");
    EXPECT_EQ(status, json({{"status", "done"}, {"calibration", {{"ra", 83.5}, {"dec", -5.25}}}}));
}

// A chunked body and two uploads admitted together are held to the cap while
// their bytes arrive; a partial upload a killed server left is swept at the
// next start.
TEST_F(UploadAbuse, TheAreaCapHoldsWhileBytesArriveAndAbandonedUploadsGo) {
    Defaults::setString(Defaults::uploadAreaLimitMB, "1");
    const std::string twoMB = chunk(testsupport::fitsBytes(2 << 20).toStdString()) + "0\r\n\r\n";
    EXPECT_NE(testsupport::exchangeRaw(service.port(), "PUT /api/upload HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n" + twoMB)
                  .find("Upload area full"), std::string::npos);
    testsupport::RawHttpClient first(service.port()), second(service.port());
    for (auto* client : {&first, &second}) client->send("PUT /api/upload HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n");
    ASSERT_TRUE(testsupport::waitUntil([&] { return QDir(uploads).entryList(QDir::Files).size() == 2; }));  // both admitted
    for (auto* client : {&first, &second}) client->send(chunk(testsupport::fitsBytes(700000).toStdString()) + "0\r\n\r\n");
    const std::string answers = first.readResponse() + second.readResponse();
    EXPECT_NE(answers.find("Upload area full"), std::string::npos) << answers;
    ASSERT_TRUE(testsupport::waitUntil([&] { return uploadAreaEmpty(); }));
    QFile abandoned(uploads + "upload-abcdef");
    ASSERT_TRUE(abandoned.open(QIODevice::WriteOnly) && abandoned.write("SIMPLE") == 6);
    abandoned.setFileTime(QDateTime::currentDateTime().addSecs(-2 * 3600), QFileDevice::FileModificationTime);
    const RemoteUploads restarted(solver, nullptr);
    EXPECT_TRUE(uploadAreaEmpty()) << QDir(uploads).entryList(QDir::Files).join(' ').toStdString();
}

// The server's resident memory while a large upload streams in.
qint64 residentKB() {
    QFile status("/proc/self/status");
    status.open(QIODevice::ReadOnly);
    const auto match = QRegularExpression(R"(VmRSS:\s+(\d+))").match(status.readAll());
    return match.captured(1).toLongLong();
}

// An upload goes to disk as it arrives: 256 MB raise the memory by far less.
TEST_F(UploadAbuse, MemoryStaysBoundedWhileALargeUploadStreams) {
    constexpr qint64 piece = 1 << 20, pieces = 256;
    const std::string head = testsupport::fitsBytes(piece).toStdString();
    const std::string filler(piece, '\0');
    testsupport::RawHttpClient client(service.port(), std::chrono::seconds(60));
    ASSERT_TRUE(client.send("PUT /api/upload HTTP/1.1\r\nContent-Length: " + std::to_string(piece * pieces) + "\r\n\r\n"));
    const qint64 before = residentKB();
    qint64 peak = before;
    for (qint64 i = 0; i < pieces; ++i) {
        ASSERT_TRUE(client.send(i == 0 ? head : filler));
        if (i % 16 == 0) peak = std::max(peak, residentKB());
    }
    EXPECT_NE(client.readResponse().find("success"), std::string::npos);
    EXPECT_LT(peak - before, 64 * 1024) << "kB more while 256 MB arrived";
}

// A FITS image is held to the megapixel limit from its header, as other formats are.
TEST(UploadSize, FitsBeyondTheMegapixelLimitIsRefused) {
    const auto problem = [](const char* side) {
        return UploadFiles::sizeProblem(testsupport::fitsHeader({testsupport::fitsCard("NAXIS1", side), testsupport::fitsCard("NAXIS2", side)}).toStdString());
    };
    EXPECT_EQ(problem("16000"), "Image too large: 16000 × 16000 pixels, above max-image-megapixels (150)");
    EXPECT_EQ(problem("12000"), "");
}

}  // namespace
