// Throughput of the HTTP library on loopback, measured by wrk side by side
// with named peers in the same run: cpp-httplib with the same one-route JSON
// handler, and nginx serving a static file with the same bytes. Also the
// receive rate of one large PUT body, the memory an idle connection costs,
// and the clients served while one client holds many slow connections.
// Over TLS: /api/status with keep-alive, and handshakes (a new connection per
// request), next to nginx serving the same bytes with the same certificate.
//
//   http_benchmark [--connections N] [--seconds S] [--upload-mb M] [--idle N] [--slow N]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/RawHttpClient.h"
#include "NginxPeer.h"
#include "SlowClients.h"
#include "Wrk.h"
#include "certificates/CertificateStore.h"
#include "certificates/ServerNames.h"
#include "http/HttpServer.h"
#include "http/TlsContext.h"
#ifdef SIDERAMA_BENCH_HTTPLIB
#include "HttplibPeer.h"
#endif

namespace {

struct Options {
    std::size_t connections = 64;
    double seconds = 3;
    std::size_t uploadMegabytes = 256;
    std::size_t idleConnections = 200;
    int slowConnections = 300;
};

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const double value = std::atof(argv[i + 1]);
        if (name == "--connections") options.connections = static_cast<std::size_t>(value);
        else if (name == "--seconds") options.seconds = value;
        else if (name == "--upload-mb") options.uploadMegabytes = static_cast<std::size_t>(value);
        else if (name == "--idle") options.idleConnections = static_cast<std::size_t>(value);
        else if (name == "--slow") options.slowConnections = static_cast<int>(value);
    }
    return options;
}

struct Row {
    std::string name;
    std::optional<bench::WrkResult> result;
};

// wrk with two threads, as many as the machine has cores to share with the server.
std::optional<bench::WrkResult> load(int port, const std::string& path, const Options& options,
                                     const std::string& scheme = "http", bool keepAlive = true) {
    const std::string url = scheme + "://127.0.0.1:" + std::to_string(port) + path;
    return bench::runWrk(url, 2, static_cast<int>(options.connections), options.seconds, keepAlive);
}

std::size_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    std::size_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
}

double idleConnectionBytes(http::HttpServer& server, std::size_t count) {
    std::vector<std::unique_ptr<testsupport::RawHttpClient>> clients;
    const std::size_t before = residentBytes();
    for (std::size_t i = 0; i < count; ++i) clients.push_back(std::make_unique<testsupport::RawHttpClient>(server.port()));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (server.connectionCount() < count && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const double perConnection = (static_cast<double>(residentBytes()) - static_cast<double>(before)) / count;
    return perConnection;
}

// Sends `head` and a body of `size` bytes (from a reused buffer); the seconds
// until the whole answer arrived, negative on failure or an answer but 200.
double upload(int port, const std::string& head, std::size_t size) {
    testsupport::RawHttpClient client(port, std::chrono::seconds(60));
    const std::string chunk(1 << 20, 'u');
    const auto start = std::chrono::steady_clock::now();
    bool ok = client.send(head);
    for (std::size_t sent = 0; ok && sent < size; sent += chunk.size())
        ok = client.send(std::string_view(chunk).substr(0, std::min(chunk.size(), size - sent)));
    ok = ok && testsupport::parseAnswer(client.readResponse()).status == 200;
    return ok ? std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() : -1;
}

void printRows(const std::vector<Row>& rows, const std::string& title) {
    std::printf("\n%s\n", title.c_str());
    std::printf("%-22s %14s %10s %18s\n", "server", "requests/s", "p99 ms", "siderama / server");
    const double ours = rows.front().result ? rows.front().result->requestsPerSecond : 0;
    for (const auto& [name, result] : rows) {
        if (!result) {
            std::printf("%-22s wrk failed (is it installed?)\n", name.c_str());
            continue;
        }
        std::printf("%-22s %14.0f %10.2f %18.2f%s%s\n", name.c_str(), result->requestsPerSecond,
                    result->p99Milliseconds, ours / result->requestsPerSecond, result->errors.empty() ? "" : "  ",
                    result->errors.c_str());
    }
}

void printSlowRow(const char* name, int port, const std::string& path, const Options& options) {
    constexpr double bytesPerSecond = 30, seconds = 10;
    const bench::SlowClientsResult result =
        bench::underSlowClients(port, path, options.slowConnections, bytesPerSecond, seconds);
    std::printf("%-34s %12.1f %10d\n", name, result.servedPerSecond, result.refused);
}

// The server with its default settings, and once without the per-client
// share, next to nginx with its own.
void slowClientRows(const Options& options, const std::string& body) {
    std::printf("\none client (127.0.0.2) holding %d connections, sending 30 bytes/s in all; "
                "others make one GET per connection for 10 s\n%-34s %12s %10s\n",
                options.slowConnections, "server", "served/s", "refused");
    for (const bool share : {true, false}) {
        http::HttpServerConfig config;
        config.bindAddress = "127.0.0.1";
        if (!share) config.maxConnectionsPerClient = config.maxConnections;
        http::HttpServer server(config);
        server.GET["/json"] = [](const http::HttpRequest&) {
            return http::HttpResponse::ok(http::HttpResponseBody::json({{"status", "success"}}));
        };
        server.start();
        printSlowRow(share ? "siderama http (defaults)" : "siderama http, no per-client share", server.port(),
                     "/json", options);
    }
    if (bench::NginxPeer::available()) {
        bench::NginxPeer peer("status.json", body);
        printSlowRow("nginx (static file)", peer.port(), "/status.json", options);
    }
}

// The certificate both servers present, issued by a throw-away authority.
bench::NginxPeer::Tls certificate() {
    const auto directory = std::filesystem::temp_directory_path() / ("siderama-bench-tls-" + std::to_string(getpid()));
    const siderama::CertificateStore store(directory);
    store.prepare(siderama::ServerNames{{"localhost"}, {"127.0.0.1"}});
    return {store.certificateFile().string(), store.keyFile().string()};
}

void measureTls(http::HttpServer& server, const std::string& body, const Options& options) {
    const bench::NginxPeer::Tls tls = certificate();
    const int port = server.listen(0, http::TlsContext(tls.certificateFile, tls.keyFile).handshake());
    std::optional<bench::NginxPeer> nginx;
    if (bench::NginxPeer::available()) nginx.emplace("status.json", body, tls);
    for (const bool keepAlive : {true, false}) {
        std::vector<Row> rows{{"siderama https", load(port, "/api/status", options, "https", keepAlive)}};
        if (nginx) rows.push_back({"nginx https (file)", load(nginx->port(), "/status.json", options, "https", keepAlive)});
        printRows(rows, keepAlive ? "HTTPS, " + std::to_string(options.connections) + " keep-alive connections"
                                  : "HTTPS handshakes: a new connection per request (requests/s = handshakes/s)");
    }
    std::filesystem::remove_all(std::filesystem::path(tls.certificateFile).parent_path());
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    const std::string body = http::HttpResponseBody::json({{"status", "success"}}).data();

    http::HttpServerConfig config;
    config.bindAddress = "127.0.0.1";
    // Room for the connections that closed but whose threads are still
    // finishing when wrk reconnects (the handshake rows close after each request).
    config.maxConnections = 2 * options.connections + options.idleConnections + 16;
    http::HttpServer server(config);
    const http::HttpHandler json = [](const http::HttpRequest&) {
        return http::HttpResponse::ok(http::HttpResponseBody::json({{"status", "success"}}));
    };
    server.GET["/json"] = json;
    server.GET["/api/status"] = json;
    server.PUT["/upload"] = [](const http::HttpRequest& request) {
        return http::HttpResponse::ok(http::HttpResponseBody::text(std::to_string(request.body.size())));
    };
    server.start();
    // Measured first, while no earlier load has left memory to reuse.
    const double idle = idleConnectionBytes(server, options.idleConnections);
    std::printf("memory per idle connection (%zu open): %.1f KB resident\n", options.idleConnections, idle / 1024);

    std::vector<Row> rows{{"siderama http", load(server.port(), "/json", options)}};
#ifdef SIDERAMA_BENCH_HTTPLIB
    {
        bench::HttplibPeer peer(body, options.connections);
        rows.push_back({"cpp-httplib " CPPHTTPLIB_VERSION_TEXT, load(peer.port(), "/json", options)});
    }
#else
    std::printf("cpp-httplib: not built (libcpp-httplib-dev missing)\n");
#endif
    if (bench::NginxPeer::available()) {
        bench::NginxPeer peer("status.json", body);
        rows.push_back({"nginx (static file)", load(peer.port(), "/status.json", options)});
    } else {
        std::printf("nginx: not installed (%s)\n", bench::NginxPeer::executable);
    }
    printRows(rows, std::to_string(options.connections) + " keep-alive connections, GET of the same JSON bytes");
    measureTls(server, body, options);

    const std::size_t uploadBytes = options.uploadMegabytes << 20;
    const std::string head = "PUT /upload HTTP/1.1\r\nContent-Length: " + std::to_string(uploadBytes) + "\r\n\r\n";
    // Each body lands in freshly mapped memory, so on machines where first
    // touching a page is slow (some virtual machines) that cost dominates.
    for (const char* run : {"first", "second"}) {
        const double seconds = upload(server.port(), head, uploadBytes);
        if (seconds > 0)
            std::printf("PUT of %zu MB (%s): %.3f s, %.2f GB/s\n", options.uploadMegabytes, run, seconds,
                        static_cast<double>(uploadBytes) / seconds / 1e9);
        else
            std::printf("PUT of %zu MB (%s) failed\n", options.uploadMegabytes, run);
    }

    server.stop();
    if (options.slowConnections > 0) slowClientRows(options, body);
    return 0;
}
