// Hints from what an image already says: FITS header forms become the
// solve-field window and position; EXIF names the camera.
#include "solver/CameraModel.h"
#include "solver/FitsHeader.h"
#include "solver/HeaderHints.h"
#include "support/FitsCards.h"

#include <gtest/gtest.h>

using namespace siderama;

namespace {


struct HeaderCase {
    const char* name;
    QStringList keywords;
    const char* arguments;  // the hint's solve-field options
};

class Hints : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(Hints, HeaderFormBecomesOptions) {
    const SolveHint hint = HeaderHints::read(FitsHeader::fromCards(testsupport::fitsCards(GetParam().keywords)));
    EXPECT_EQ(hint.arguments().join(' ').toStdString(), GetParam().arguments);
}

// Scales get a ±5 % window: 36 arcsec/pixel -> 34.2 to 37.8.
INSTANTIATE_TEST_SUITE_P(
    Forms, Hints,
    ::testing::Values(
        HeaderCase{"nothing", {"BITPIX  =                   16"}, ""},
        HeaderCase{"cd_matrix", {"CD1_1   = -0.0086602540", "CD1_2   = 0.005", "CD2_1   = -0.005",
                                 "CD2_2   = -0.0086602540", "CRVAL1  = 83.8", "CRVAL2  = -5.4"},
                   "--scale-units arcsecperpix --scale-low 34.2 --scale-high 37.8 --ra 83.8 --dec -5.4"},
        HeaderCase{"cdelt", {"CDELT1  = -1.0D-2", "CDELT2  = 1.0D-2"},
                   "--scale-units arcsecperpix --scale-low 34.2 --scale-high 37.8"},
        HeaderCase{"pixscale", {"PIXSCALE= 36.0 / arcsec per pixel"},
                   "--scale-units arcsecperpix --scale-low 34.2 --scale-high 37.8"},
        HeaderCase{"scale", {"SCALE   = '36'"}, "--scale-units arcsecperpix --scale-low 34.2 --scale-high 37.8"},
        // 206265 * 3.76 um / 530 mm = 1.46331 arcsec/pixel; XPIXSZ is binned already.
        HeaderCase{"focal_xpixsz", {"FOCALLEN= 530.", "XPIXSZ  = 3.76", "XBINNING= 2"},
                   "--scale-units arcsecperpix --scale-low 1.390147 --scale-high 1.5364782"},
        HeaderCase{"focal_pixsize_binned", {"FOCALLEN= 530.", "PIXSIZE1= 3.76", "XBINNING= 2"},
                   "--scale-units arcsecperpix --scale-low 2.7802939 --scale-high 3.0729564"},
        HeaderCase{"focal_without_pixel", {"FOCALLEN= 530."}, ""},
        HeaderCase{"ra_dec_degrees", {"RA      = 83.8", "DEC     = -5.4"}, "--ra 83.8 --dec -5.4"},
        HeaderCase{"objct_sexagesimal", {"PIXSCALE= 36", "OBJCTRA = '05 35 12.0'", "OBJCTDEC= '-05 24 00'"},
                   "--scale-units arcsecperpix --scale-low 34.2 --scale-high 37.8 --ra 83.8 --dec -5.4"},
        HeaderCase{"colon_sexagesimal", {"PIXSCALE= 36", "OBJCTRA = '5:35:12'", "OBJCTDEC= '+5:24:00'"},
                   "--scale-units arcsecperpix --scale-low 34.2 --scale-high 37.8 --ra 83.8 --dec 5.4"},
        HeaderCase{"bad_position_ignored", {"PIXSCALE= 36", "RA      = 'north'", "DEC     = 95"},
                   "--scale-units arcsecperpix --scale-low 34.2 --scale-high 37.8"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HintsHeader, PositionAloneIsNoHint) {
    // A position narrows nothing with all-sky index files: only a scale makes an attempt worth running first.
    const SolveHint hint = HeaderHints::read(FitsHeader::fromCards(testsupport::fitsCards({"RA      = 83.8", "DEC     = -5.4"})));
    EXPECT_TRUE(hint.ra.has_value());
    EXPECT_FALSE(hint.isUsable());
}

TEST(HintsHeader, NotFitsReadsAsEmpty) {
    EXPECT_TRUE(FitsHeader::fromCards("GIF89a" + QByteArray(200, ' ')).isEmpty());
    EXPECT_TRUE(FitsHeader::read("/nonexistent.fits").isEmpty());
}

// A TIFF structure with one IFD entry: the Model tag, inline or at an offset.
QByteArray tiffWithModel(bool little, const QByteArray& model) {
    auto u16 = [&](int v) {
        const char low = char(v), high = char(v >> 8);
        return little ? QByteArray(1, low) + high : QByteArray(1, high) + low;
    };
    auto u32 = [&](int v) { return little ? u16(v) + u16(v >> 16) : u16(v >> 16) + u16(v); };
    const QByteArray value = model + '\0';
    QByteArray tiff = QByteArray(little ? "II" : "MM") + u16(42) + u32(8) + u16(1) + u16(0x0110) + u16(2) +
                      u32(int(value.size()));
    tiff += value.size() <= 4 ? value.leftJustified(4, '\0') : u32(8 + 2 + 12 + 4);
    return tiff + u32(0) + (value.size() > 4 ? value : QByteArray());
}

TEST(HintsCamera, ExifModelInBothByteOrders) {
    const struct { bool little; const char* model; } cases[] = {{true, "Canon EOS 6D"}, {false, "ILCE-7M3"}, {true, "D5"}};
    for (const auto& c : cases)
        EXPECT_EQ(CameraModel::exifModel(tiffWithModel(c.little, c.model)).toStdString(), c.model);
    EXPECT_EQ(CameraModel::exifModel(tiffWithModel(true, "Canon EOS").left(24)).toStdString(), "") << "truncated";
    EXPECT_EQ(CameraModel::exifModel("not a tiff").toStdString(), "");
}

}  // namespace
