#include <gtest/gtest.h>

#include "TestClient.h"
#include "http/HttpRequest.h"

using namespace http;
using Pairs = HttpRequest::Pairs;

namespace {

HttpRequest formRequest(const std::string& contentType, std::string body) {
    HttpRequest request;
    request.headers["content-type"] = contentType;
    request.body = std::move(body);
    return request;
}

std::vector<HttpRequest::MultiPart> parts(const std::string& body, const std::string& boundary = "XyZ") {
    return formRequest("multipart/form-data; boundary=" + boundary, body).parseMultiPartFormData();
}

const std::string field = "Content-Disposition: form-data; name=f\r\n\r\n";

}  // namespace

TEST(UrlencodedForm, DecodesPlusAndEscapes) {
    const auto request = formRequest("application/x-www-form-urlencoded", "a=1&b=x+y%21");
    EXPECT_EQ(request.parseUrlencodedForm(), (Pairs{{"a", "1"}, {"b", "x y!"}}));
}

TEST(UrlencodedForm, MalformedPiecesGiveEmptyPairs) {
    EXPECT_EQ(formRequest("application/x-www-form-urlencoded", "a=1&c").parseUrlencodedForm(),
              (Pairs{{"a", "1"}, {"", ""}}));
    EXPECT_EQ(formRequest("application/x-www-form-urlencoded", "a=1=2&&=v").parseUrlencodedForm(),
              (Pairs{{"a", "1=2"}, {"", ""}}));
}

TEST(UrlencodedForm, ChecksTheContentType) {
    EXPECT_EQ(formRequest("application/x-www-form-urlencoded; charset=UTF-8", "a=1").parseUrlencodedForm(),
              (Pairs{{"a", "1"}}));
    EXPECT_EQ(formRequest("Application/X-WWW-Form-Urlencoded", "a=1").parseUrlencodedForm(), (Pairs{{"a", "1"}}));
    EXPECT_TRUE(formRequest("text/plain", "a=1").parseUrlencodedForm().empty());
    EXPECT_TRUE(HttpRequest{}.parseUrlencodedForm().empty());
}

TEST(UrlencodedForm, InvalidUtf8BodyGivesNothing) {
    EXPECT_TRUE(formRequest("application/x-www-form-urlencoded", "a=\xFF").parseUrlencodedForm().empty());
}

TEST(Multipart, OnePart) {
    const auto result = parts("--XyZ\r\n" + field + "abc\r\n--XyZ--\r\n");
    ASSERT_EQ(result.size(), 1u);
    EXPECT_EQ(result[0].headers, (std::map<std::string, std::string>{{"content-disposition", "form-data; name=f"}}));
    EXPECT_EQ(result[0].body, "abc");
}

TEST(Multipart, TwoPartsWithoutTheirLineBreaks) {
    const auto result = parts("--XyZ\r\n" + field + "one\r\n--XyZ\r\n" + field + "two\r\n\r\n--XyZ--\r\n");
    ASSERT_EQ(result.size(), 2u);
    EXPECT_EQ(result[0].body, "one");
    EXPECT_EQ(result[1].body, "two\r\n");
}

TEST(Multipart, BareLineFeedsAndEmptyParts) {
    const auto result = parts("--XyZ\n\n\n--XyZ\nA: b\n\nx\n--XyZ--");
    ASSERT_EQ(result.size(), 2u);
    EXPECT_EQ(result[0].body, "");
    EXPECT_EQ(result[1].body, "x");
    EXPECT_EQ(result[1].headers.at("a"), "b");
}

TEST(Multipart, BoundaryTextInsideDataIsData) {
    // Delimiters count only at the start of a line, and a near-miss run of
    // dashes right before one must not hide it.
    const std::string data = "x--XyZ y\r\n-\r\n---XyZ z\r\n--";
    const auto result = parts("--XyZ\r\n" + field + data + "\r\n--XyZ--\r\n");
    ASSERT_EQ(result.size(), 1u);
    EXPECT_EQ(result[0].body, data);
    const auto dashes = parts("--------b\r\n" + field + "v-\r\n--------b--\r\n", "------b");
    ASSERT_EQ(dashes.size(), 1u);
    EXPECT_EQ(dashes[0].body, "v-");
}

TEST(Multipart, LoneCarriageReturnBeforeTheDelimiterIsData) {
    const auto result = parts("--XyZ\r\n" + field + "a\r\r\n--XyZ--\r\n");
    ASSERT_EQ(result.size(), 1u);
    EXPECT_EQ(result[0].body, "a\r");
}

TEST(Multipart, MissingFinalDelimiterDropsTheLastPart) {
    const auto result = parts("--XyZ\r\n" + field + "kept\r\n--XyZ\r\n" + field + "lost");
    ASSERT_EQ(result.size(), 1u);
    EXPECT_EQ(result[0].body, "kept");
    EXPECT_TRUE(parts("--XyZ\r\n" + field + "lost").empty());
    EXPECT_TRUE(parts("--XyZ").empty());
}

TEST(Multipart, EpilogueAfterTheCloseDelimiterIsIgnored) {
    const auto result = parts("--XyZ\r\n" + field + "a\r\n--XyZ--\r\n\r\n--XyZ\r\n" + field + "b\r\n--XyZ--");
    ASSERT_EQ(result.size(), 1u);
}

TEST(Multipart, HeaderRules) {
    const auto result = parts(
        "--XyZ\r\nContent-Disposition: form-data; name=f; filename=\"C:\\x 12:00.fits\"\r\nX-Latin: \xE9t\xE9\r\n"
        "No colon\r\n: no name\r\nX-A: 1\r\nx-a: 2\r\n\r\nv\r\n--XyZ--");
    ASSERT_EQ(result.size(), 1u);
    EXPECT_EQ(result[0].headers, (std::map<std::string, std::string>{
                                     {"content-disposition", "form-data; name=f; filename=\"C:\\x 12:00.fits\""},
                                     {"x-latin", "\xC3\xA9t\xC3\xA9"},
                                     {"x-a", "2"}}));
}

TEST(Multipart, FieldAndFileNames) {
    auto part = [](const std::string& disposition) {
        HttpRequest::MultiPart multiPart;
        multiPart.headers["content-disposition"] = disposition;
        return multiPart;
    };
    const auto upload = part("form-data; name=\"image\"; filename=\"m31; \\\"deep\\\".fits\"");
    EXPECT_EQ(upload.name(), "image");
    EXPECT_EQ(upload.fileName(), "m31; \"deep\".fits");
    const auto plain = part("form-data;name=field ; FILENAME = a.fits");
    EXPECT_EQ(plain.name(), "field");
    EXPECT_EQ(plain.fileName(), "a.fits");
    EXPECT_EQ(part("form-data; name=\"\"").name(), "");
    EXPECT_EQ(part("form-data; filename=x").name(), std::nullopt);
    EXPECT_EQ(part("name=x").name(), std::nullopt);  // the first piece is the disposition type
    EXPECT_EQ(HttpRequest::MultiPart{}.fileName(), std::nullopt);
}

TEST(Multipart, NamesFromARealUpload) {
    const auto result = parts("--XyZ\r\nContent-Disposition: form-data; name=\"image\"; filename=\"x.fits\"\r\n"
                              "Content-Type: application/octet-stream\r\n\r\nSIMPLE\r\n--XyZ--\r\n");
    ASSERT_EQ(result.size(), 1u);
    EXPECT_EQ(result[0].name(), "image");
    EXPECT_EQ(result[0].fileName(), "x.fits");
    EXPECT_EQ(result[0].body, "SIMPLE");
}

TEST(Multipart, BinaryAndInvalidUtf8ContentIsKept) {
    const std::string binary("\xFF\xFE\0\r\n\x80--Xy", 10);
    const auto result = parts("--XyZ\r\n" + field + binary + "\r\n--XyZ--");
    ASSERT_EQ(result.size(), 1u);
    EXPECT_EQ(result[0].body, binary);
}

TEST(Multipart, ContentTypeAndBoundaryRules) {
    const std::string body = "--XyZ\r\n" + field + "abc\r\n--XyZ--\r\n";
    EXPECT_TRUE(formRequest("multipart/form-data", body).parseMultiPartFormData().empty());
    EXPECT_TRUE(formRequest("multipart/form-data; boundary=", body).parseMultiPartFormData().empty());
    EXPECT_EQ(formRequest("multipart/form-data;boundary=no;boundary=XyZ", body).parseMultiPartFormData().size(), 1u);
}

TEST(Multipart, ManyPartsInLinearTime) {
    std::string body;
    for (int i = 0; i < 20000; ++i) body += "--XyZ\r\n" + field + std::to_string(i) + "\r\n";
    body += "--XyZ--\r\n";
    const auto start = std::chrono::steady_clock::now();
    const auto result = parts(body);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2) * test::slowdown);
    ASSERT_EQ(result.size(), 20000u);
    EXPECT_EQ(result.back().body, "19999");
}

TEST(Multipart, LargeDashRunsStayFast) {
    const std::string body = "--XyZ\r\n" + field + std::string(4 << 20, '-') + "\r\n--XyZ--";
    const auto start = std::chrono::steady_clock::now();
    const auto result = parts(body, "XyZ");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2) * test::slowdown);
    ASSERT_EQ(result.size(), 1u);
}
