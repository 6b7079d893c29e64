// Each row: the hints of one request and the solve options they become,
// written "units low high | ra dec radius | downsample | extra words".
#include "remote/api/ApiArguments.h"
#include "remote/api/SolveHints.h"

#include <gtest/gtest.h>

using namespace siderama;

namespace {

struct Hint {
    const char* json;
    const char* options;
};

const Hint hints[] = {
    {R"({})", "degwidth - - | - - - | 0 |"},
    {R"({"scale_units": "arcminwidth", "scale_type": "ul", "scale_lower": 10, "scale_upper": "20"})",
     "arcminwidth 10 20 | - - - | 0 |"},
    {R"({"scale_units": "arcsecperpix", "scale_type": "ev", "scale_est": 40, "scale_err": 10})",
     "arcsecperpix 36 44 | - - - | 0 |"},
    {R"({"scale_units": "focalmm", "scale_lower": 50, "scale_upper": 200})", "degwidth 10.2855 39.5978 | - - - | 0 |"},
    {R"({"scale_units": "focalmm", "scale_lower": 200})", "degwidth - 10.2855 | - - - | 0 |"},
    {R"({"scale_units": "furlongs", "scale_lower": 1, "scale_upper": 2})", "degwidth - - | - - - | 0 |"},
    {R"({"center_ra": 0, "center_dec": -5.5, "radius": 3})", "degwidth - - | 0 -5.5 3 | 0 |"},
    {R"({"center_ra": "83.8", "center_dec": "-5.4"})", "degwidth - - | 83.8 -5.4 15 | 0 |"},
    {R"({"center_ra": 83.8, "center_dec": null})", "degwidth - - | - - - | 0 |"},
    {R"({"parity": 0})", "degwidth - - | - - - | 0 | --parity pos"},
    {R"({"parity": "1"})", "degwidth - - | - - - | 0 | --parity neg"},
    {R"({"parity": 2})", "degwidth - - | - - - | 0 |"},
    {R"({"downsample_factor": 4, "tweak_order": 0})", "degwidth - - | - - - | 4 | --no-tweak"},
    {R"({"tweak_order": "3"})", "degwidth - - | - - - | 0 | --tweak-order 3"},
    {R"({"crpix_center": "yes", "positional_error": 1.5, "use_sextractor": 1, "invert": "true"})",
     "degwidth - - | - - - | 0 | --crpix-center --pixel-error 1.5 --use-source-extractor --invert"},
};

SolveOptions options(const char* json) { return solveHintOptions(ApiArguments(nlohmann::json::parse(json)), 15); }

std::string describe(const SolveOptions& o) {
    const auto text = [](const std::optional<double>& v) { return v ? QString::number(*v, 'g', 6) : QString("-"); };
    const QStringList fields{o.scaleUnits, text(o.scaleLow), text(o.scaleHigh), "|", text(o.ra), text(o.dec),
                             text(o.radius), "|", QString::number(o.downsample), "|"};
    return (fields + o.extraWords).join(' ').toStdString();
}

class Hints : public ::testing::TestWithParam<Hint> {};
TEST_P(Hints, BecomeSolveOptions) { EXPECT_EQ(describe(options(GetParam().json)), GetParam().options); }
INSTANTIATE_TEST_SUITE_P(Api, Hints, ::testing::ValuesIn(hints));

// A star list's single solve-field run: without a scale, the whole range.
TEST(HintWords, OfAStarListRun) {
    EXPECT_EQ(solveFieldHintWords(options("{}")).join(' '), "--scale-units degwidth --scale-low 0.1 --scale-high 180");
    EXPECT_EQ(solveFieldHintWords(options(R"({"scale_units": "arcsecperpix", "scale_lower": 36, "scale_upper": 44,
        "center_ra": 0, "center_dec": -5.5, "radius": 3, "downsample_factor": 4, "parity": 0})")).join(' '),
              "--scale-units arcsecperpix --scale-low 36 --scale-high 44 --ra 0 --dec -5.5 --radius 3 --downsample 4 "
              "--parity pos");
}

}  // namespace
