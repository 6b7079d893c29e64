// Files that would make the decoder take memory without bound: formats
// Siderama does not solve, and headers announcing giant images.
#include "imaging/Convert.h"
#include "imaging/ImagingTestSupport.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {

struct Bomb {
    const char* name;
    QByteArray bytes;
    QString reason;
};

class DecodeAbuse : public ::testing::TestWithParam<Bomb> {};

TEST_P(DecodeAbuse, IsRefusedBeforeDecoding) {
    const QString dir = imagingtest::scratchDirectory();
    const QString fits = dir + "/out.fits";
    QString reason;
    EXPECT_FALSE(siderama::Convert(imagingtest::writeBytes(dir + "/in.png", GetParam().bytes), fits, 150'000'000, &reason));
    EXPECT_EQ(reason, GetParam().reason);
    EXPECT_FALSE(QFile::exists(fits));
}

INSTANTIATE_TEST_SUITE_P(
    Table, DecodeAbuse,
    ::testing::Values(
        Bomb{"Svg", "<svg xmlns='http://www.w3.org/2000/svg' width='60000' height='60000'/>",
             "not a JPEG, PNG, TIFF or raw frame"},
        Bomb{"Gif", QByteArray("GIF89a\x01\0\x01\0\0\0\0;", 14), "not a JPEG, PNG, TIFF or raw frame"},
        Bomb{"GiantRawFrame", imagingtest::rawFrame("RAW1", 60000, 60000, {}),
             "60000 x 60000 pixels is more than the limit of 150 million"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
