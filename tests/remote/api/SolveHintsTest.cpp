// Each row: the hints of one request and the solve-field options they become.
#include "remote/api/ApiArguments.h"
#include "remote/api/SolveHints.h"
#include <gtest/gtest.h>

using namespace siderama;

namespace {
struct Hint {
    const char* json;
    const char* options;  // the expected options, space-separated
};

const char* const plain = "--downsample 2 --tweak-order 2";
const std::string noScale = "--scale-units degwidth --scale-low 0.1 --scale-high 180 ";

const Hint hints[] = {
    {R"({})", ""},
    {R"({"scale_units": "arcminwidth", "scale_type": "ul", "scale_lower": 10, "scale_upper": "20"})",
     "--scale-units arcminwidth --scale-low 10 --scale-high 20 "},
    {R"({"scale_units": "arcsecperpix", "scale_type": "ev", "scale_est": 40, "scale_err": 10})",
     "--scale-units arcsecperpix --scale-low 36 --scale-high 44 "},
    {R"({"scale_units": "focalmm", "scale_lower": 200})", "--scale-units focalmm --scale-low 200 "},
    {R"({"scale_units": "furlongs", "scale_lower": 1, "scale_upper": 2})", ""},
    {R"({"center_ra": 0, "center_dec": -5.5, "radius": 3})", "--ra 0 --dec -5.5 --radius 3 "},
    {R"({"center_ra": "83.8", "center_dec": "-5.4"})", "--ra 83.8 --dec -5.4 --radius 15 "},
    {R"({"center_ra": 83.8, "center_dec": null})", ""},
    {R"({"parity": 0})", "--parity pos "},
    {R"({"parity": "1"})", "--parity neg "},
    {R"({"parity": 2})", ""},
    {R"({"downsample_factor": 4, "tweak_order": 0})", "--downsample 4 --no-tweak"},
    {R"({"tweak_order": "3"})", "--downsample 2 --tweak-order 3"},
    {R"({"crpix_center": "yes", "positional_error": "1.5", "use_sextractor": 1, "invert": "true"})",
     "--downsample 2 --tweak-order 2 --crpix-center --pixel-error 1.5 --use-source-extractor --invert"},
};

// Rows without scale or downsample options get the defaults for them.
class SolveHints : public ::testing::TestWithParam<Hint> {};
TEST_P(SolveHints, BecomeOptions) {
    const std::string expected = GetParam().options;
    const std::string options = solveHintOptions(ApiArguments(nlohmann::json::parse(GetParam().json)), 15).join(' ').toStdString();
    EXPECT_EQ(options, (expected.find("--scale") == 0 ? "" : noScale) + expected +
                           (expected.find("--downsample") == std::string::npos ? plain : ""));
}
INSTANTIATE_TEST_SUITE_P(Hints, SolveHints, ::testing::ValuesIn(hints));
}  // namespace
