#pragma once

#include "http/HttpServerIO.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <optional>
#include <utility>
#include <string>

namespace http {
class BodyFile;
class HttpServer;
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
// Every answer has HTTP status 200; errors are told in the JSON. Upload
// bodies stream to files in the private upload directory, within the upload
// area's size cap (user default "upload-area-limit-mb"); an upload and what
// its solve made beside it are removed when the solve ends.
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
    // The astrometry.net-compatible API and its job queue; null when it
    // could not start.
    AstrometryApi* solvingApi() const { return api.get(); }

    // The upload page's form.
    static const std::string& formFragment();

    static constexpr qint64 defaultAreaLimitMB = 4096;

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

    // Once an upload's head has arrived: a file for its body, or the refusal.
    std::variant<http::HttpResponse, std::shared_ptr<http::BodyFile>> admitUpload(const http::HttpRequest& request);
    // The private upload directory; none (and a log line) when unusable.
    std::optional<QString> uploadDirectory();
    // Keeps a received image under a name of ours and starts its solve;
    // `named` is the client's name for it, "" when none.
    http::HttpResponse solveUpload(http::BodyFile& file, const QString& named, bool markBusy);
    // The failed upload's error answer, told in the log too.
    http::HttpResponse uploadFailed(int error);
    void removeSolveFiles(const QString& path);

    SolverDelegate& solver;
    http::HttpServerConfig config;
    std::unique_ptr<AstrometryApi> api;  // before the server, which calls it until it stops
    std::unique_ptr<http::HttpServer> server;
    std::unique_ptr<ServiceAnnouncement> announcement;
    QMetaObject::Connection cleanup;
    std::mutex unfinishedLock;
    std::set<QString> unfinished;  // uploads whose solve has not ended
    std::mutex authorityMutex;  // guards authorityPem, set after the plain listener opened
    std::string authorityPem;   // empty: no generated authority in use
    int securePort_ = 0;
};

}  // namespace siderama
