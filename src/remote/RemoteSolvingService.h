#pragma once

#include "http/HttpServerConfig.h"
#include "solver/SolveReservation.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <string>

namespace http {
class HttpServer;
struct HttpRequest;
class HttpResponse;
}  // namespace http

namespace siderama {

class AstrometryApi;
class ServiceAnnouncement;
class SolverDelegate;
struct ServerSettings;

// The remote solving API on the embedded HTTP server:
//   GET  /            upload form
//   POST /api/upload  multipart form with one part, the image
//   PUT  /api/upload  the image as the body, file name in Content-Disposition
//   GET  /api/status  the solver state as JSON
//   GET  /ca.crt      the certificate authority HTTPS clients must trust
// beside the astrometry.net-compatible API (AstrometryApi, which also takes
// POST /api/upload requests carrying `request-json`), on a plain listener and,
// when configured, a TLS one; and its DNS-SD announcement as "Siderama" of
// type "_siderama._tcp".
// Every answer has HTTP status 200; errors are told in the JSON.
class RemoteSolvingService {
public:
    static constexpr const char* serviceType = "_siderama._tcp";
    static constexpr const char* serviceName = "Siderama";

    // The server's settings: connection threads yield the processor to the
    // solving tools, so heavy status polling barely slows a solve.
    static http::HttpServerConfig defaultConfig();

    explicit RemoteSolvingService(SolverDelegate& solver, http::HttpServerConfig config = defaultConfig());
    ~RemoteSolvingService();
    RemoteSolvingService(const RemoteSolvingService&) = delete;
    RemoteSolvingService& operator=(const RemoteSolvingService&) = delete;

    // Listens on the ports of the command line (`port`, `tlsPort`) or of the
    // user defaults (ServerSettings) and announces the service; the outcome
    // goes to the solver log. Call once, on the main thread.
    void startServer(std::optional<std::uint16_t> port = std::nullopt,
                     std::optional<std::uint16_t> tlsPort = std::nullopt);
    // The listening ports; 0 before a successful start (or without TLS).
    int port() const;
    int securePort() const { return securePort_; }

    // The upload page's form.
    static const std::string& formFragment();

private:
    http::HttpResponse uploadForm(const http::HttpRequest& request);
    http::HttpResponse uploadMultipart(const http::HttpRequest& request);
    http::HttpResponse uploadRaw(const http::HttpRequest& request);
    http::HttpResponse status(const http::HttpRequest& request);
    http::HttpResponse authority(const http::HttpRequest& request);
    // Prepares the certificate and opens the TLS listener.
    void startSecure(const ServerSettings& settings);
    void announce();
    void startApi();

    // The private upload directory; none (and a log line) when unusable.
    std::optional<QString> uploadDirectory();
    // Reserves the solver; empty (and "Solver busy" in the log) when it is taken.
    SolveReservation claimSolver();
    // Stores an upload in the upload directory; returns its path and the
    // log line that reports it.
    std::pair<QString, QString> store(const QString& directory, const QString& fileName, const std::string& data);

    SolverDelegate& solver;
    http::HttpServerConfig config;
    std::unique_ptr<AstrometryApi> api;  // before the server, which calls it until it stops
    std::unique_ptr<http::HttpServer> server;
    std::unique_ptr<ServiceAnnouncement> announcement;
    std::mutex authorityMutex;  // guards authorityPem, set after the plain listener opened
    std::string authorityPem;   // empty: no generated authority in use
    int securePort_ = 0;
};

}  // namespace siderama
