// Form bodies: multipart parts, their names, and url-encoded pairs.
#include <gtest/gtest.h>

#include "http/HttpRequest.h"

using namespace http;
using Pairs = HttpRequest::Pairs;
using Bodies = std::vector<std::string>;

namespace {

HttpRequest formRequest(const std::string& contentType, std::string body) {
    HttpRequest request;
    request.headers["content-type"] = contentType;
    request.body = std::move(body);
    return request;
}

std::vector<HttpRequest::MultiPart> parts(const std::string& body, const std::string& type = "multipart/form-data; boundary=XyZ") {
    return formRequest(type, body).parseMultiPartFormData();
}

Bodies bodies(const std::vector<HttpRequest::MultiPart>& parts) {
    Bodies all;
    for (const auto& part : parts) all.push_back(part.body);
    return all;
}

const std::string field = "Content-Disposition: form-data; name=f\r\n\r\n";
const std::string one = "--XyZ\r\n" + field + "abc\r\n--XyZ--\r\n";

// Body, content type, the parts' bodies.
TEST(FormReader, MultipartTable) {
    const std::string near = "x--XyZ y\r\n-\r\n---XyZ z\r\n--";
    const std::string binary("\xFF\xFE\0\r\n\x80--Xy", 10);
    const std::string type = "multipart/form-data; boundary=XyZ";
    const std::vector<std::tuple<std::string, std::string, Bodies>> cases{
        {one, type, {"abc"}},
        {"--XyZ\r\n" + field + "one\r\n--XyZ\r\n" + field + "two\r\n\r\n--XyZ--\r\n", type, {"one", "two\r\n"}},
        {"--XyZ\n\n\n--XyZ\nA: b\n\nx\n--XyZ--", type, {"", "x"}},
        {"--XyZ\r\n" + field + near + "\r\n--XyZ--\r\n", type, {near}},
        {"--------b\r\n" + field + "v-\r\n--------b--\r\n", "multipart/form-data; boundary=------b", {"v-"}},
        {"--XyZ\r\n" + field + "a\r\r\n--XyZ--\r\n", type, {"a\r"}},
        {"--XyZ\r\n" + field + binary + "\r\n--XyZ--", type, {binary}},
        {"--XyZ\r\n" + field + "kept\r\n--XyZ\r\n" + field + "lost", type, {"kept"}},
        {"--XyZ\r\n" + field + "lost", type, {}},
        {"--XyZ", type, {}},
        {"--XyZ\r\n" + field + "a\r\n--XyZ--\r\n\r\n--XyZ\r\n" + field + "b\r\n--XyZ--", type, {"a"}},
        {"preamble\r\n" + one, type, {}},
        {one, "Multipart/Form-Data; boundary=XyZ", {}},
        {one, "multipart/form-data; boundary=\"XyZ\"", {}},
        {one, "multipart/form-data", {}},
        {one, "multipart/form-data; boundary=", {}},
        {one, "multipart/form-data;boundary=no;boundary=XyZ", {"abc"}},
    };
    for (const auto& [body, contentType, expected] : cases)
        EXPECT_EQ(bodies(parts(body, contentType)), expected) << contentType << "\n" << body;
}

TEST(FormReader, PartHeadersAndNames) {
    const auto result = parts(
        "--XyZ\r\nContent-Disposition: form-data; name=\"image\"; filename=\"C:\\x 12:00.fits\"\r\nX-Latin: \xE9t\xE9\r\n"
        "No colon\r\n: no name\r\nX-A: 1\r\nx-a: 2\r\n\r\nv\r\n--XyZ--");
    ASSERT_EQ(result.size(), 1u);
    EXPECT_EQ(result[0].headers, (std::map<std::string, std::string>{
                                     {"content-disposition", "form-data; name=\"image\"; filename=\"C:\\x 12:00.fits\""},
                                     {"x-latin", "\xC3\xA9t\xC3\xA9"},
                                     {"x-a", "2"}}));
    EXPECT_EQ(result[0].name(), "image");
    EXPECT_EQ(result[0].fileName(), "C:x 12:00.fits");  // a backslash escapes in a quoted string

    // Disposition, name, file name.
    using Name = std::optional<std::string>;
    const std::vector<std::tuple<std::string, Name, Name>> cases{
        {"form-data; name=\"image\"; filename=\"m31; \\\"deep\\\".fits\"", "image", "m31; \"deep\".fits"},
        {"form-data;name=field ; FILENAME = a.fits", "field", "a.fits"},
        {"form-data; name=\"\"", "", std::nullopt},
        {"form-data; filename=x", std::nullopt, "x"},
        {"name=x", std::nullopt, std::nullopt},  // the first piece is the disposition type
    };
    for (const auto& [disposition, name, fileName] : cases) {
        HttpRequest::MultiPart part;
        part.headers["content-disposition"] = disposition;
        EXPECT_EQ(part.name(), name) << disposition;
        EXPECT_EQ(part.fileName(), fileName) << disposition;
    }
}

TEST(FormReader, UrlencodedTable) {
    const std::string form = "application/x-www-form-urlencoded";
    const std::vector<std::tuple<std::string, std::string, Pairs>> cases{
        {form, "a=1&b=x+y%21", {{"a", "1"}, {"b", "x y!"}}},
        {form, "a=1&c", {{"a", "1"}, {"", ""}}},
        {form, "a=1=2&&=v", {{"", ""}, {"", ""}}},
        {form + "; charset=UTF-8", "a=1", {{"a", "1"}}},
        {"Application/X-WWW-Form-Urlencoded", "a=1", {}},
        {"text/plain", "a=1", {}},
        {form, "a=\xFF", {}},
    };
    for (const auto& [type, body, pairs] : cases) EXPECT_EQ(formRequest(type, body).parseUrlencodedForm(), pairs) << body;
    EXPECT_TRUE(HttpRequest{}.parseUrlencodedForm().empty());
}

// Quadratic work would take minutes on these; linear work takes a blink.
TEST(FormReader, LargeBodiesAreReadInLinearTime) {
    std::string many;
    for (int i = 0; i < 200000; ++i) many += "--XyZ\r\n" + field + std::to_string(i) + "\r\n";
    const auto dashes = "--XyZ\r\n" + field + std::string(16 << 20, '-') + "\r\n--XyZ--";
    const auto start = std::chrono::steady_clock::now();
    const auto result = parts(many + "--XyZ--\r\n");
    EXPECT_EQ(parts(dashes).size(), 1u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    ASSERT_EQ(result.size(), 200000u);
    EXPECT_EQ(result.back().body, "199999");
}

}  // namespace
