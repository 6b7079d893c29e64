// Requests as real clients of the astrometry.net API write them: each row is
// one body, decoded into the request's arguments and uploaded file; then the
// hints of one request and the solve options they become.
#include "remote/ClientText.h"
#include "remote/api/ApiArguments.h"
#include "remote/api/JobAccess.h"
#include "remote/api/JobStore.h"
#include "remote/api/JobTools.h"
#include "remote/api/SolveHints.h"
#include <gtest/gtest.h>

using namespace siderama;

namespace {
const std::string fileBytes("SIMPLE\r\n--\0\xff\r\n", 13);

struct Wire {
    const char* client;
    std::string contentType;
    std::string body;
    std::string session;      // "" when the arguments must not be readable
    std::string fileName;     // "" when no file comes with the request
};

std::string part(const std::string& eol, const std::string& headers, const std::string& content) {
    return headers + eol + eol + content + eol;
}

const std::string json = R"({"session": "s1", "publicly_visible": "y"})";

const Wire wires[] = {
    {"client.py: quoted boundary with '=', CRLF", "multipart/form-data; boundary=\"===============0123==\"",
     "--===============0123==\r\n" +
         part("\r\n", "Content-Type: text/plain\r\nMIME-Version: 1.0\r\ncontent-disposition: form-data; name=\"request-json\"", json) +
         "--===============0123==\r\n" +
         part("\r\n", "Content-Type: application/octet-stream\r\ncontent-disposition: form-data; name=\"file\"; filename=\"m31.fits\"", fileBytes) +
         "--===============0123==--\r\n",
     "s1", "m31.fits"},
    {"Qt: boundary with + and /, LF only, full client path", "multipart/form-data; boundary=\"a+b/c\"",
     "--a+b/c\n" + part("\n", "Content-Disposition: form-data; name=request-json", json) + "--a+b/c\n" +
         part("\n", "Content-Disposition: form-data; name=file; filename=\"C:\\Users\\me\\m31.fits\"\nContent-Type: application/text/plain", fileBytes) +
         "--a+b/c--",
     "s1", "C:\\Users\\me\\m31.fits"},
    {"capitals, preamble, padding, filename*", "Multipart/Form-Data; Boundary=XyZ",
     "This is a preamble\r\n--XyZ  \r\n" + part("\r\n", "CONTENT-DISPOSITION: form-data; name=\"request-json\"", json) +
         "--XyZ\r\n" + part("\r\n", "Content-Disposition: form-data; name=\"file\"; filename*=UTF-8''M%2031.fits", fileBytes) +
         "--XyZ--\r\n",
     "s1", "M 31.fits"},
    {"NUL in a part name", "multipart/form-data; boundary=XyZ",
     "--XyZ\r\n" + part("\r\n", "Content-Disposition: form-data; name=\"request-json" + std::string(1, '\0') + "x\"", json) + "--XyZ--\r\n",
     "", ""},
    {"astroquery login: percent-encoded", "application/x-www-form-urlencoded",
     "request-json=%7B%22session%22%3A+%22s1%22%2C+%22apikey%22%3A+%22k%3D%3D%22%7D", "s1", ""},
    {"raw JSON with + for space", "application/x-www-form-urlencoded; charset=UTF-8",
     R"(request-json={"session":+"s1",+"apikey":+"k=="})", "s1", ""},
};

class WireFormat : public ::testing::TestWithParam<Wire> {};

TEST_P(WireFormat, ArgumentsAndFileComeOutExact) {
    const Wire& wire = GetParam();
    const std::optional<ApiArguments> arguments = ApiArguments::from({.headers = {{"content-type", wire.contentType}}, .body = wire.body});
    if (wire.session.empty()) {
        EXPECT_FALSE(arguments);
        return;
    }
    ASSERT_TRUE(arguments);
    EXPECT_EQ(arguments->text("session"), wire.session);
    if (wire.contentType.starts_with("application/")) EXPECT_EQ(arguments->text("apikey"), "k==");
    ASSERT_EQ(arguments->file().has_value(), !wire.fileName.empty());
    if (!arguments->file()) return;
    EXPECT_EQ(arguments->file()->name, wire.fileName);
    EXPECT_EQ(arguments->file()->data, fileBytes);
}

INSTANTIATE_TEST_SUITE_P(Clients, WireFormat, ::testing::ValuesIn(wires));

// Values as clients type them beyond the hint table's (numbers as text, null
// as absent, flags as "yes", 1, "true"): padding, junk, true, "no", x/y
// lists; JSON that is no object.
TEST(WireValues, LenientReading) {
    const ApiArguments arguments(nlohmann::json::parse(R"({"c": " 2 ", "bad": "1.5x", "t": true, "f": "no", "x": [1, "2.5"], "y": [3, null]})"));
    EXPECT_EQ(arguments.number("c"), 2.0);
    EXPECT_EQ(arguments.number("bad"), std::nullopt);
    EXPECT_EQ(std::pair(arguments.flag("t"), arguments.flag("f")), std::pair(std::optional(true), std::optional(false)));
    EXPECT_EQ(arguments.numbers("x"), (std::vector<double>{1, 2.5}));
    EXPECT_EQ(arguments.numbers("y"), std::nullopt);
    const auto problem = [](const std::string& text) {
        return ApiArguments::from({.headers = {{"content-type", "application/x-www-form-urlencoded"}}, .body = "request-json=" + text})->error();
    };
    EXPECT_EQ(problem("%5B1%5D"), "request-json is not a JSON object");
    EXPECT_EQ(problem(std::string(60000, '[') + std::string(60000, ']')), "request-json nests deeper than 32 levels");
    EXPECT_EQ(problem(R"({"a":")" + std::string(300000, 'x') + R"("})"), "request-json is longer than 256 kB");
    EXPECT_EQ(problem(R"({"a":"[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[\"["})"), "") << "brackets in strings do not count";
}

// Client text in the log: controls, C1 controls (a CSI), separators and bidi overrides escaped.
TEST(WireValues, ClientTextInTheLog) {
    EXPECT_EQ(ClientText::forLog(QString::fromUtf8("m31\n\u009b\u202e\u2028é.fits")), "m31\\u{000a}\\u{009b}\\u{202e}\\u{2028}é.fits");
}

// Written "units low high | ra dec radius | downsample | extra solve-field words".
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
    {R"({"tweak_order": 3000, "downsample_factor": 1e9, "radius": -1, "center_ra": 400, "center_dec": 0})",
     "degwidth - - | 360 0 0.01 | 16 | --tweak-order 7"},
    {R"({"crpix_center": "yes", "positional_error": "1.5", "use_sextractor": 1, "invert": "true"})",
     "degwidth - - | - - - | 0 | --crpix-center --pixel-error 1.5 --use-source-extractor --invert"},
};

SolveOptions options(const char* json) { return solveHintOptions(ApiArguments(nlohmann::json::parse(json)), 15); }

std::string describe(const SolveOptions& o) {
    const auto text = [](const std::optional<double>& v) { return v ? QString::number(*v, 'g', 6) : QString("-"); };
    const QStringList fields{o.scaleUnits, text(o.scaleLow), text(o.scaleHigh), "|", text(o.ra), text(o.dec),
                             text(o.radius), "|", QString::number(o.downsample), "|"};
    return (fields + o.extraWords).join(' ').toStdString();
}

class SolveHints : public ::testing::TestWithParam<Hint> {};
TEST_P(SolveHints, BecomeSolveOptions) { EXPECT_EQ(describe(options(GetParam().json)), GetParam().options); }
INSTANTIATE_TEST_SUITE_P(Hints, SolveHints, ::testing::ValuesIn(hints));

// Values no tool handles end the job with a message of their own.
TEST(HintWords, NotFiniteOrUpsideDownAreFailures) {
    for (const char* hints : {R"({"center_ra": "nan", "center_dec": 1})", R"({"scale_units": "degwidth", "scale_lower": 5, "scale_upper": 1})"})
        EXPECT_THROW(options(hints), JobFailure) << hints;
}

// Who may read a job of 10.0.0.1 (session "own") and cancel it, on the server "server:8080".
TEST(JobAccessTable, ReadsAndChanges) {
    const struct { bool keyRequired; std::string address, session, origin; bool read, change; } visits[] = {
        {false, "10.0.0.9", "", "", true, true},           {false, "10.0.0.9", "", "http://evil.example", true, false},
        {true, "10.0.0.1", "", "", true, false},           {true, "10.0.0.9", "own", "", true, true},
        {true, "10.0.0.9", "other", "", false, false},     {true, "10.0.0.9", "expired", "", false, false},
        {true, "10.0.0.1", "own", "http://evil.example", true, false}, {true, "10.0.0.9", "own", "http://server:8080", true, true}};
    const Submission job{.session = "own", .address = "10.0.0.1"};
    for (const auto& visit : visits) {
        const JobAccess access(visit.keyRequired, [](const QString& session) { return session == "own" || session == "other"; });
        const http::HttpRequest request{.headers = {{"host", "server:8080"}, {"origin", visit.origin}}, .address = visit.address};
        const QString session = QString::fromStdString(visit.session);
        EXPECT_EQ(std::pair(access.mayRead(request, session, job), access.mayChange(request, session, job)),
                  std::pair(visit.read, visit.change)) << visit.address << " " << visit.session << " " << visit.origin;
    }
}

// A star list's single solve-field run: without a scale, the whole range.
TEST(HintWords, OfAStarListRun) {
    EXPECT_EQ(solveFieldHintWords(options("{}")).join(' '), "--scale-units degwidth --scale-low 0.1 --scale-high 180");
}
}  // namespace
