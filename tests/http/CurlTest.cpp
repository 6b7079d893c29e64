#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "ServerFixture.h"
#include "UploadRoutes.h"

using namespace http;
using namespace http::test;

namespace {

std::string run(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    char buffer[4096];
    for (std::size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, got);
    pclose(pipe);
    return output;
}

class CurlTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto config = quickConfig();
        config.limits.maxBodySize = 64 << 20;
        server = std::make_unique<HttpServer>(config);
        addUploadRoutes(*server);
        server->start();
        base = "http://127.0.0.1:" + std::to_string(server->port());
        directory = std::filesystem::temp_directory_path() / ("siderama-curl-" + std::to_string(getpid()));
        std::filesystem::create_directories(directory);
        data.resize(3 << 20);
        for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 7919) >> 3);
        file = (directory / "image.fits").string();
        std::ofstream(file, std::ios::binary) << data;
    }
    void TearDown() override { std::filesystem::remove_all(directory); }

    std::string curl(const std::string& arguments) { return run("curl -sS --max-time 20 " + arguments); }

    std::unique_ptr<HttpServer> server;
    std::string base;
    std::filesystem::path directory;
    std::string data;
    std::string file;
};

}  // namespace

TEST_F(CurlTest, Get) { EXPECT_EQ(curl(base + "/hello"), "hello"); }

TEST_F(CurlTest, MultipartPost) {
    EXPECT_EQ(curl("-F field=value -F image=@" + file + " " + base + "/upload"),
              "field=" + checksum("value") + "\nimage=" + checksum(data) + "\n");
}

TEST_F(CurlTest, PutFile) { EXPECT_EQ(curl("-T " + file + " " + base + "/upload"), checksum(data)); }

TEST_F(CurlTest, PutFromStandardInputIsChunked) {
    EXPECT_EQ(run("cat " + file + " | curl -sS --max-time 20 -T - " + base + "/upload"), checksum(data));
}

TEST_F(CurlTest, KeepAliveReusesOneConnection) {
    const auto output = curl("-H 'Connection: keep-alive' -w ' %{num_connects}\\n' " + base + "/hello " + base +
                             "/hello " + base + "/hello");
    EXPECT_EQ(output, "hello 1\nhello 0\nhello 0\n");
}

TEST_F(CurlTest, WithoutKeepAliveEachUrlGetsItsOwnConnection) {
    EXPECT_EQ(curl("-w ' %{num_connects}\\n' " + base + "/hello " + base + "/hello"), "hello 1\nhello 1\n");
}
