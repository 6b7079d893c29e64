// Files that would make the decoder take memory without bound: formats
// Siderama does not solve, and headers announcing giant images.
#include "imaging/Convert.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// A raw frame header announcing 60000 x 60000 8-bit pixels, without them.
const QByteArray giantRawFrame("RAW1\x60\xEA\0\0\x60\xEA\0\0", 12);

struct Bomb {
    const char* name;
    QByteArray bytes;
    QString reason;
};

class DecodeAbuse : public ::testing::TestWithParam<Bomb> {};

TEST_P(DecodeAbuse, IsRefusedBeforeDecoding) {
    const QTemporaryDir dir;
    const QString source = dir.filePath("in.png"), fits = dir.filePath("out.fits");
    QFile file(source);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(GetParam().bytes) == GetParam().bytes.size());
    file.close();
    QString reason;
    EXPECT_FALSE(siderama::Convert(source, fits, 150'000'000, &reason));
    EXPECT_EQ(reason, GetParam().reason);
    EXPECT_FALSE(QFile::exists(fits));
}

INSTANTIATE_TEST_SUITE_P(
    Table, DecodeAbuse,
    ::testing::Values(
        Bomb{"Svg", "<svg xmlns='http://www.w3.org/2000/svg' width='60000' height='60000'/>",
             "not a JPEG/PNG/TIFF image or a raw frame"},
        Bomb{"Gif", QByteArray("GIF89a\x01\0\x01\0\0\0\0;", 14), "not a JPEG/PNG/TIFF image or a raw frame"},
        Bomb{"GiantRawFrame", giantRawFrame,
             "60000 x 60000 pixels is more than the limit of 150 million"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
