// One index download against the loopback server: broken links continued
// with range requests, changed files started over, and what a hostile or
// failing server or disk must not get past.
#include "indexes/IndexDownload.h"
#include "indexes/IndexTestSupport.h"
#include <QNetworkAccessManager>

using namespace siderama;
using testsupport::FakeIndexFile;
using testsupport::FakeIndexServer;
using testsupport::waitUntil;

namespace {
constexpr qint64 fileSize = 200000;
const QString name = "index-4119.fits";

class DownloadFixture {
public:
    std::unique_ptr<IndexDownload> download(qint64 knownLength = -1) {
        return std::make_unique<IndexDownload>(network, QUrl(server.baseUrl("4100") + name),
                                               dirs.folder() + "/" + name, knownLength, fastPolicy());
    }
    // Runs one download to its end; the failure text, empty on success.
    QString fetch(qint64 knownLength = -1) {
        const auto transfer = download(knownLength);
        QString failure;
        bool ended = false;
        QObject::connect(transfer.get(), &IndexDownload::finished, [&] { ended = true; });
        QObject::connect(transfer.get(), &IndexDownload::failed, [&](const QString& why) { failure = why, ended = true; });
        EXPECT_TRUE(transfer->start() && waitUntil([&] { return ended; }, std::chrono::seconds(20)));
        return failure;
    }
    bool partialLeft() const { return QFile::exists(dirs.folder() + "/." + name + ".part"); }

    IndexTestDirectories dirs;
    FakeIndexServer server;
    QNetworkAccessManager network;
};

struct ResumeCase {
    const char* name;
    FakeIndexFile file;          // body filled in by the test
    bool changeOnSecondRequest;  // the server has a new version (ETag "v2") from then on
    qint64 expectedSent;         // body bytes the server sent in all
    QString secondRange;         // Range of the second request
};

const QByteArray firstVersion = testsupport::fitsBytes(fileSize, 'a');
const QByteArray secondVersion = testsupport::fitsBytes(fileSize, 'b');

class ResumeTest : public DownloadFixture, public ::testing::TestWithParam<ResumeCase> {};

TEST_P(ResumeTest, completesWithTheServersBytes) {
    const ResumeCase& row = GetParam();
    FakeIndexFile file = row.file;
    file.body = firstVersion;
    server.serve(name, file);
    server.setOnRequest([&](const QString&, int count) {
        if (count != 2 || !row.changeOnSecondRequest) return;
        server.serve(name, {.body = secondVersion, .ranges = true, .ifRange = file.ifRange, .etag = "\"v2\""});
    });
    EXPECT_EQ(fetch(), "");
    EXPECT_TRUE(dirs.read(name) == (row.changeOnSecondRequest ? secondVersion : firstVersion)) << "stitched or lost";
    EXPECT_EQ(server.bodyBytesSent(), row.expectedSent);
    ASSERT_GE(server.ranges().size(), 2);
    EXPECT_EQ(server.ranges().mid(0, 2), QStringList({"", row.secondRange}));
    EXPECT_FALSE(partialLeft());
}

const QList<qint64> threeCuts = {30011, 99991, 150001};

INSTANTIATE_TEST_SUITE_P(
    Links, ResumeTest,
    ::testing::Values(
        ResumeCase{"cutThriceWithETag", {.ranges = true, .etag = "\"v1\"", .cutAt = threeCuts}, false, fileSize, "bytes=30011-"},
        ResumeCase{"cutThriceWithLastModified", {.ranges = true, .lastModified = "Mon, 30 Nov 2026 10:00:00 GMT",
                   .cutAt = threeCuts}, false, fileSize, "bytes=30011-"},
        ResumeCase{"serverWithoutRanges", {.etag = "\"v1\"", .cutAt = {50000}}, false, 50000 + fileSize, "bytes=50000-"},
        ResumeCase{"noValidatorToTrust", {.ranges = true, .cutAt = {50000}}, false, 50000 + fileSize, ""},
        ResumeCase{"changedFileHonouringIfRange", {.ranges = true, .etag = "\"v1\"", .cutAt = {60000}}, true,
                   60000 + fileSize, "bytes=60000-"},
        ResumeCase{"changedFileIgnoringIfRange", {.ranges = true, .ifRange = false, .etag = "\"v1\"", .cutAt = {60000}},
                   true, 60000 + (fileSize - 60000) + fileSize, "bytes=60000-"}),
    [](const auto& info) { return std::string(info.param.name); });

class QuitTest : public DownloadFixture, public ::testing::Test {};

// A program that quits in the middle leaves the partial file; the next
// start continues it.
TEST_F(QuitTest, nextTransferContinuesWhereTheLastStopped) {
    server.serve(name, {.body = firstVersion, .chunkSize = 8192, .chunkDelayMs = 5, .ranges = true, .etag = "\"v1\""});
    {
        const auto quitting = download();
        ASSERT_TRUE(quitting->start() && waitUntil([&] { return quitting->receivedLength() >= 50000; }));
    }
    ASSERT_TRUE(partialLeft());
    const qint64 held = QFile(dirs.folder() + "/." + name + ".part").size();
    EXPECT_EQ(fetch(), "");
    EXPECT_TRUE(dirs.read(name) == firstVersion);
    EXPECT_EQ(server.ranges().last(), QString("bytes=%1-").arg(held));
}

struct AbuseCase {
    const char* name;
    FakeIndexFile file;
    qint64 knownLength;  // the size remembered from an earlier HEAD
    QString failure;     // start of the failure; empty: installed
    int redirects = 0;   // hops before the file
    bool partialOnFullDisk = false;
};

class DownloadAbuseTest : public DownloadFixture, public ::testing::TestWithParam<AbuseCase> {};

TEST_P(DownloadAbuseTest, neverInstallsWhatIsNotTheWholeFile) {
    const AbuseCase& row = GetParam();
    FakeIndexFile file = row.file;
    file.location.replace("PORT", QByteArray::number(server.port()));
    // index-4119.fits -> index-41r1.fits -> ... -> index-41rN.fits, the file.
    for (int hop = 0; hop < row.redirects; ++hop)
        server.serve(hop == 0 ? name : QString("index-41r%1.fits").arg(hop),
                     {.status = 302, .body = {}, .location = QString("index-41r%1.fits").arg(hop + 1).toLatin1()});
    server.serve(row.redirects == 0 ? name : QString("index-41r%1.fits").arg(row.redirects), file);
    if (row.partialOnFullDisk) ASSERT_TRUE(QFile::link("/dev/full", dirs.folder() + "/." + name + ".part"));

    const QString failure = fetch(row.knownLength);
    EXPECT_TRUE(row.failure.isEmpty() ? failure.isEmpty() : failure.startsWith(row.failure)) << failure.toStdString();
    EXPECT_TRUE(row.failure.isEmpty() ? dirs.read(name) == file.body : !QFile::exists(dirs.folder() + "/" + name));
    if (!row.failure.isEmpty() && !row.partialOnFullDisk) EXPECT_FALSE(partialLeft());
}

const QByteArray fits = testsupport::fitsBytes(3000);

INSTANTIATE_TEST_SUITE_P(
    Downloads, DownloadAbuseTest,
    ::testing::Values(
        AbuseCase{"fiveRedirectsFollowed", {.body = fits}, -1, "", 5},
        AbuseCase{"sixRedirectsRefused", {.body = fits}, -1, "more than 5 redirects", 6},
        AbuseCase{"redirectToAnotherScheme",
                  {.status = 301, .body = {}, .location = "https://127.0.0.1:PORT/4100/index-4119.fits"}, -1,
                  "redirect to another scheme refused"},
        AbuseCase{"noLengthAnywhere", {.body = fits, .announceLength = false}, -1, "the server announced no length"},
        AbuseCase{"noLengthButKnownSize", {.body = fits, .announceLength = false}, 3000, ""},
        AbuseCase{"noLengthCutShort", {.body = fits, .announceLength = false, .cutAfter = 2000}, 3000,
                  "connection closed after 2000 of 3000 bytes"},
        AbuseCase{"endlessBody", {.body = fits, .announceLength = false, .endless = true}, 3000,
                  "the body is longer than the announced 3000 bytes"},
        AbuseCase{"trickleOfBytes", {.body = fits, .chunkSize = 1, .chunkDelayMs = 50}, -1, "stalled"},
        AbuseCase{"longerThanTheDiskHolds", {.body = fits, .announcedLength = 1000000000000000000}, -1, "disk full"},
        AbuseCase{"diskFullWhileWriting", {.body = fits, .etag = "\"v1\""}, -1, "disk full", 0, true},
        AbuseCase{"notFound", {.status = 404, .body = "<html>missing</html>"}, -1, "HTTP status 404"},
        AbuseCase{"serverErrorsEveryTime", {.status = 503, .body = fits}, -1, "HTTP status 503"},
        AbuseCase{"notAFitsFile", {.body = "<html>a portal login page</html>"}, -1, "not a FITS file"}),
    [](const auto& info) { return std::string(info.param.name); });
}  // namespace
