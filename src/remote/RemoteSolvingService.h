#pragma once

#include "http/HttpServerIO.h"
#include "remote/ServerSettings.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <string>

namespace http {
class HttpServer;
}  // namespace http

namespace siderama {

class AstrometryApi;
class RemoteUploads;
class ServiceAnnouncement;
class SolverDelegate;

// The remote solving service on the embedded HTTP server, wiring together
//   GET  /            upload form
//   POST /api/upload  and PUT /api/upload: RemoteUploads
//   GET  /api/status  the solver state as JSON
//   GET  /ca.crt      the certificate authority HTTPS clients must trust
//                     (404 while HTTPS runs without a generated authority)
// and the astrometry.net-compatible API (AstrometryApi), on a plain listener
// and, when configured, a TLS one; and its DNS-SD announcement as "Siderama"
// of type "_siderama._tcp". Its own routes answer HTTP 200 (but /ca.crt as
// said), errors told in the JSON.
class RemoteSolvingService {
public:
    static constexpr const char* serviceType = "_siderama._tcp";
    static constexpr const char* serviceName = "Siderama";

    // The server's settings: connection threads yield the processor to the
    // solving tools, so heavy status polling barely slows a solve; bodies of
    // routes that do not stream are refused beyond 1 MiB, and uploads are
    // bounded by the upload area alone.
    static http::HttpServerConfig defaultConfig();

    explicit RemoteSolvingService(SolverDelegate& solver, http::HttpServerConfig config = defaultConfig());
    ~RemoteSolvingService();
    RemoteSolvingService(const RemoteSolvingService&) = delete;
    RemoteSolvingService& operator=(const RemoteSolvingService&) = delete;

    // Listens on the ports of the command line (`port`, `tlsPort`) or of the
    // user defaults (ServerSettings) and announces the service; the outcome
    // goes to the solver log. When another server holds the data folder, the
    // application ends with status 1 once its event loop runs. Call once, on
    // the main thread. `roles` choose the job database, the solves and
    // whether to listen at all; a job database that cannot be used ends the
    // application with status 1 too.
    void startServer(std::optional<std::uint16_t> port = std::nullopt,
                     std::optional<std::uint16_t> tlsPort = std::nullopt, const ServiceRoles& roles = {});
    // The listening ports; 0 before a successful start (or without TLS).
    int port() const;
    int securePort() const { return securePort_; }
    // The astrometry.net-compatible API and its job queue; null when it
    // could not start.
    AstrometryApi* solvingApi() const { return api.get(); }

    // The upload page's form.
    static const std::string& formFragment();

private:
    http::HttpResponse uploadForm(const http::HttpRequest& request);
    http::HttpResponse status(const http::HttpRequest& request);
    http::HttpResponse authority(const http::HttpRequest& request);
    // Prepares the certificate and opens the TLS listener.
    void startSecure(const ServerSettings& settings);
    void announce();
    // False when the application must end (it then ends with status 1).
    bool startApi(const ServiceRoles& roles);

    SolverDelegate& solver;
    http::HttpServerConfig config;
    std::unique_ptr<AstrometryApi> api;  // before the server, which calls them until it stops
    std::unique_ptr<RemoteUploads> uploads;
    std::unique_ptr<http::HttpServer> server;
    std::unique_ptr<ServiceAnnouncement> announcement;
    std::mutex authorityMutex;  // guards authorityPem, set after the plain listener opened
    std::string authorityPem;   // empty: no generated authority in use
    int securePort_ = 0;
};

}  // namespace siderama
