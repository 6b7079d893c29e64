// The solution written into a FITS frame's own header, with a real solve of a
// generated field: what wcsinfo reads from the frame is the solution, the
// data stay byte for byte, a second write replaces the first, and files that
// must not or cannot be rewritten stay as they were.
#include "core/Constants.h"
#include "core/SolverConfig.h"
#include "imaging/Convert.h"
#include "imaging/WcsHeaderWriter.h"
#include "skyfield/SkyField.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <csignal>
#include <fitsio.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

using namespace siderama;

namespace {

QString tool(const QString& name, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(testsupport::realToolsDirectory() + "/" + name, arguments);
    process.waitForFinished(120000);
    return QString::fromUtf8(process.readAll());
}

// The cards before END, and a checksum of everything after the header.
std::pair<QList<QByteArray>, QByteArray> split(const QString& path) {
    const QByteArray bytes = testsupport::readFile(path);
    QList<QByteArray> cards;
    qsizetype at = 0;
    for (; at + 80 <= bytes.size() && !bytes.mid(at, 80).startsWith("END     "); at += 80) cards << bytes.mid(at, 80);
    const qsizetype data = (at / 2880 + 1) * 2880;
    return {cards, QCryptographicHash::hash(bytes.mid(data), QCryptographicHash::Md5)};
}

qsizetype count(const QList<QByteArray>& cards, const char* start) {
    return std::count_if(cards.begin(), cards.end(), [&](const QByteArray& card) { return card.startsWith(start); });
}

QStringList calibration(const QString& path) {
    QStringList values;
    for (const QString& line : tool("wcsinfo", {path}).split('\n'))
        for (const char* key : {"ra_center ", "dec_center ", "pixscale ", "orientation "})
            if (line.startsWith(key)) values << line;
    return values;
}

// An older WCS and a card of the camera program, which must stay.
void addForeignCards(const QString& path, bool tableExtension) {
    fitsfile* file = nullptr;
    int status = 0;
    fits_open_diskfile(&file, QFile::encodeName(path).constData(), READWRITE, &status);
    double cdelt = 0.01, crota = 12;
    fits_update_key(file, TSTRING, "CTYPE1", const_cast<char*>("RA---TAN"), nullptr, &status);
    fits_update_key(file, TDOUBLE, "CDELT1", &cdelt, nullptr, &status);
    fits_update_key(file, TDOUBLE, "CROTA2", &crota, nullptr, &status);
    fits_update_key(file, TSTRING, "OBSERVER", const_cast<char*>("night shift"), "kept", &status);
    char* names[] = {const_cast<char*>("FLUX")};
    char* forms[] = {const_cast<char*>("1E")};
    fits_write_chksum(file, &status);
    if (tableExtension) fits_create_tbl(file, BINARY_TBL, 3, 1, names, forms, nullptr, "STARS", &status);
    fits_close_file(file, &status);
    ASSERT_EQ(status, 0);
}

// Whether the primary unit's CHECKSUM and DATASUM are both right.
bool checksumsRight(const QString& path) {
    fitsfile* file = nullptr;
    int status = 0, data = 0, unit = 0;
    fits_open_diskfile(&file, QFile::encodeName(path).constData(), READONLY, &status);
    fits_verify_chksum(file, &data, &unit, &status);
    fits_close_file(file, &status);
    return status == 0 && data == 1 && unit == 1;
}

// A small tile-compressed image, as fpack writes them.
void writeCompressed(const QString& path) {
    fitsfile* file = nullptr;
    int status = 0;
    long sizes[] = {8, 8};
    short pixels[64] = {};
    fits_create_diskfile(&file, QFile::encodeName(path).constData(), &status);
    fits_set_compression_type(file, RICE_1, &status);
    fits_create_img(file, SHORT_IMG, 2, sizes, &status);
    fits_write_img(file, TSHORT, 1, 64, pixels, &status);
    fits_close_file(file, &status);
    ASSERT_EQ(status, 0);
}

// One real solve of a generated field for every test.
class WcsHeaderWrite : public ::testing::Test {
protected:
    void SetUp() override {
        if (!folder) solveField();
        ASSERT_TRUE(QFile::exists(solution()));
    }
    static void solveField() {
        folder = std::make_unique<QTemporaryDir>();
        ASSERT_TRUE(testsupport::linkTycho2Indexes(FOLDER()));
        writeSolverConfigIfMissing(FOLDER(), CONFIG());
        field = folder->filePath("field.fits");
        ASSERT_TRUE(skyfield::runSkyField({"--ra", "83.8", "--dec", "-5.4", "--scale", "36", "--width", "800",
                                           "--height", "600", "--format", "png8", "--out", folder->filePath("field.png")}));
        ASSERT_TRUE(skyfield::runSkyField(
            {"--ra", "83.8", "--dec", "-5.4", "--scale", "36", "--width", "800", "--height", "600", "--out", field}));
        tool("image2xy", {"-O", "-o", folder->filePath("field.xy"), field});
        const QString log = tool("solve-field", {"--overwrite", "--no-plots", "--no-remove-lines", "--uniformize", "0", "--config", CONFIG(), "--scale-units",
                                                 "arcsecperpix", "--scale-low", "35", "--scale-high", "37",
                                                 folder->filePath("field.xy")});
        ASSERT_TRUE(QFile::exists(solution())) << qPrintable(log);
    }
    static QString solution() { return folder->filePath("field.wcs"); }

    static void TearDownTestSuite() { folder.reset(); }

    inline static std::unique_ptr<QTemporaryDir> folder;
    inline static QString field;
    QTemporaryDir dir;
};

TEST_F(WcsHeaderWrite, ReplacesAnyOlderWcsAndKeepsEverythingElse) {
    struct Layout {
        const char* name;
        bool converted, table;
    };
    for (const Layout& layout : {Layout{"skyfield 16-bit", false, false}, Layout{"converted from PNG", true, false},
                                 Layout{"with a table extension", false, true}}) {
        SCOPED_TRACE(layout.name);
        const QString frame = dir.filePath(QString(layout.name).replace(' ', '_') + ".fits");
        if (layout.converted) ASSERT_TRUE(Convert(folder->filePath("field.png"), frame));
        else ASSERT_TRUE(QFile::copy(field, frame));
        addForeignCards(frame, layout.table);
        const auto [before, data] = split(frame);
        ASSERT_EQ(WcsHeaderWriter::write(frame, solution()).toStdString(), "");
        EXPECT_EQ(calibration(frame), calibration(solution()));
        const auto [first, firstData] = split(frame);
        EXPECT_EQ(firstData, data);
        EXPECT_TRUE(checksumsRight(frame));
        EXPECT_EQ(count(before, "CDELT1") + count(before, "CROTA2"), 2);
        EXPECT_EQ(count(first, "CDELT1") + count(first, "CROTA2"), 0);
        EXPECT_EQ(count(first, "OBSERVER= 'night shift'"), 1);
        EXPECT_TRUE(WcsHeaderWriter::carriesOwnWcs(frame));
        // A second solve's write leaves the same cards, but for the date.
        ASSERT_EQ(WcsHeaderWriter::write(frame, solution()).toStdString(), "");
        const auto [second, secondData] = split(frame);
        const auto undated = [](QList<QByteArray> cards) {
            cards.removeIf([](const QByteArray& card) { return card.startsWith("HISTORY Siderama"); });
            return cards;
        };
        EXPECT_EQ(undated(second), undated(first));
        EXPECT_EQ(count(second, "HISTORY Siderama"), 1);
        EXPECT_EQ(secondData, data);
    }
}

TEST_F(WcsHeaderWrite, LeavesFilesThatCannotBeRewrittenAsTheyWere) {
    struct Case {
        const char* name;
        const char* message;
    };
    for (const Case& c : {Case{"read-only", "is read-only"}, Case{"gzip", "is compressed"},
                          Case{"fpack", "is a compressed (fpack) image"},
                          Case{"disk full half way", "the file is unchanged"}}) {
        SCOPED_TRACE(c.name);
        const QString frame = dir.filePath(QString(c.name).replace(' ', '_') + ".fits");
        if (QString(c.name) == "fpack")
            writeCompressed(frame);
        else if (QString(c.name) == "gzip")
            QProcess::execute("sh", {"-c", "gzip -c '" + field + "' > '" + frame + "'"});
        else
            ASSERT_TRUE(QFile::copy(field, frame));
        if (QString(c.name) == "read-only") QFile::setPermissions(frame, QFile::ReadOwner | QFile::ReadGroup);
        const QByteArray original = testsupport::readFile(frame);
        // A file size limit makes the copy fail as a full disk would.
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        const bool full = QString(c.name).startsWith("disk");
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        if (full) {
            rlimit limit{rlim_t(original.size() / 2), saved.rlim_max};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        const QString problem = WcsHeaderWriter::write(frame, solution());
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        EXPECT_TRUE(problem.contains(c.message)) << qPrintable(problem);
        EXPECT_TRUE(testsupport::readFile(frame) == original);
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Hidden | QDir::Files).filter(".siderama-"), QStringList());
    }
}

}  // namespace
