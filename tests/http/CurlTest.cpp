// curl against the server: form upload, PUT of a file and of a stream
// (chunked), and connection reuse.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "ServerFixture.h"

using namespace http;
using namespace http::test;

namespace {

// Size and FNV-1a hash, to compare uploads without echoing them.
std::string checksum(const std::string& bytes) {
    std::uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
    return std::to_string(bytes.size()) + ":" + std::to_string(hash);
}

std::string run(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    for (std::size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, got);
    pclose(pipe);
    return output;
}

class CurlTest : public ServerTest {
protected:
    void SetUp() override {
        auto config = quickConfig();
        config.limits.maxBodySize = 64 << 20;
        startServer(config);
        server->PUT["/upload"] = [](const HttpRequest& request) {
            return HttpResponse::ok(HttpResponseBody::text(checksum(request.body)));
        };
        server->POST["/upload"] = [](const HttpRequest& request) {
            std::string listing;
            for (const auto& part : request.parseMultiPartFormData())
                listing += part.name().value_or("?") + "=" + checksum(part.body) + "\n";
            return HttpResponse::ok(HttpResponseBody::text(listing));
        };
        data.resize(3 << 20);
        for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 7919) >> 3);
        std::ofstream(file, std::ios::binary) << data;
    }
    void TearDown() override { std::filesystem::remove(file); }

    std::string curl(const std::string& arguments) { return run("curl -sS --max-time 20 " + arguments); }
    std::string url(const std::string& path) { return " http://127.0.0.1:" + std::to_string(port) + path; }

    std::string data;
    std::string file = std::filesystem::temp_directory_path() / ("siderama-curl-" + std::to_string(getpid()));
};

TEST_F(CurlTest, Uploads) {
    EXPECT_EQ(curl("-F field=value -F image=@" + file + url("/upload")),
              "field=" + checksum("value") + "\nimage=" + checksum(data) + "\n");
    EXPECT_EQ(curl("-T " + file + url("/upload")), checksum(data));
    EXPECT_EQ(run("cat " + file + " | curl -sS --max-time 20 -T -" + url("/upload")), checksum(data));
}

TEST_F(CurlTest, KeepAliveReusesOneConnectionAndCloseDoesNot) {
    EXPECT_EQ(curl("-H 'Connection: keep-alive' -w ' %{num_connects}\\n'" + url("/hello") + url("/hello") + url("/hello")),
              "hello 1\nhello 0\nhello 0\n");
    EXPECT_EQ(curl("-w ' %{num_connects}\\n'" + url("/hello") + url("/hello")), "hello 1\nhello 1\n");
}

}  // namespace
