// The TLS listener against real clients (curl, an OpenSSL client) and
// clients that misbehave. The certificate comes from a CertificateStore.
#include "certificates/CertificateStore.h"
#include "certificates/ServerNames.h"
#include "http/HttpServer.h"
#include "http/TlsContext.h"
#include "support/RawHttpClient.h"
#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <filesystem>
#include <unistd.h>

using namespace http;
using siderama::CertificateStore;
using testsupport::RawHttpClient;

namespace {
// Each test process has its own store: ctest runs the tests of this file side by side.
const std::filesystem::path tlsDirectory =
    std::filesystem::temp_directory_path() / ("siderama-tls-test-" + std::to_string(::getpid()));

// A handshake from an OpenSSL client that trusts anything; none when it fails.
SSL* handshake(SSL_CTX* context, int fd) {
    SSL* ssl = SSL_new(context);
    SSL_set_fd(ssl, fd);
    return SSL_connect(ssl) == 1 ? ssl : (SSL_free(ssl), nullptr);
}

// One connection at most, on the plain and the TLS listener together.
class TlsServer : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CertificateStore(tlsDirectory).prepare({{"localhost"}, {"127.0.0.1"}}); }
    static void TearDownTestSuite() { std::filesystem::remove_all(tlsDirectory); }

    void SetUp() override {
        server.GET["/json"] = [](const HttpRequest&) { return HttpResponse::ok(HttpResponseBody::json({{"a", 1}})); };
        server.start();
        const CertificateStore store(tlsDirectory);
        tlsPort = server.listen(0, TlsContext(store.certificateFile(), store.keyFile()).handshake());
    }
    void TearDown() override { SSL_CTX_free(clientContext); }

    // curl's exit code for `options` against /json on the TLS listener (22: an HTTP error status).
    int curl(const std::string& options = "") {
        return testsupport::curl("--fail -o /dev/null --cacert " + (tlsDirectory / "ca.crt").string() + " " + options +
                                 " https://127.0.0.1:" + std::to_string(tlsPort) + "/json").first;
    }
    bool waitForConnections(std::size_t count) { return testsupport::waitForConnections(server, count); }

    // The handshake time-out outlasts a curl start on a loaded machine (a silent client holds its place).
    HttpServer server{{.bindAddress = "127.0.0.1", .idleTimeout = std::chrono::seconds(20),
                       .handshakeTimeout = std::chrono::seconds(8), .maxConnections = 1}};
    int tlsPort = 0;
    SSL_CTX* clientContext = SSL_CTX_new(TLS_client_method());
};

// TLS 1.3 is every other curl() here; a client refused without the authority: the API's end-to-end run.
TEST_F(TlsServer, TlsBefore12IsRefused) {
    EXPECT_EQ(curl("--tlsv1.2 --tls-max 1.2"), 0);
    EXPECT_EQ(curl("--tlsv1.0 --tls-max 1.1"), 35);
}

// Each misbehaving client is closed and frees its place under the cap of
// one connection, after which a proper client is served.
TEST_F(TlsServer, MisbehavingClientsAreClosed) {
    const struct {
        const char* name;
        std::string bytes;
        bool afterHandshake;  // sent inside an established session's socket
        bool clientVanishes;  // the client closes right after sending
        const char* answer;   // what the server writes before closing
    } cases[] = {
        {"plain HTTP", "GET /json HTTP/1.1\r\nHost: a\r\n\r\n", false, false, "HTTP/1.1 400 Bad Request"},
        {"silence (handshake time-out)", "", false, false, ""},  // or half a ClientHello: the same wait
        {"garbage", std::string(300, '\xab'), false, false, ""},
        {"vanishing mid-handshake", std::string("\x16\x03\x01\x02\x00\x01", 6), false, true, ""},
        {"vanishing mid-record", std::string("\x17\x03\x03\x40\x00\x01\x02", 7), true, true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(waitForConnections(0)) << "the last curl's connection has ended";
        {
            RawHttpClient client(tlsPort, std::chrono::seconds(30));
            SSL* ssl = c.afterHandshake ? handshake(clientContext, client.fd()) : nullptr;
            EXPECT_EQ(c.afterHandshake, ssl != nullptr);
            ASSERT_TRUE(waitForConnections(1));
            EXPECT_EQ(curl(), 35);  // the cap holds while this client lingers
            client.send(c.bytes);
            if (!c.clientVanishes) {
                EXPECT_TRUE(client.readAll().starts_with(c.answer));
                EXPECT_TRUE(client.closedByServer());
            }
            SSL_free(ssl);
        }
        EXPECT_TRUE(waitForConnections(0));
        EXPECT_EQ(curl(), 0);
    }
}
}  // namespace
