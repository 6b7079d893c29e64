#pragma once

#include "http/BodyFile.h"
#include "http/HttpResponse.h"
#include "http/HttpRequest.h"

#include <QMetaObject>
#include <QString>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <variant>

namespace http {
class HttpServer;
}  // namespace http

namespace siderama {

class AstrometryApi;
class SolverDelegate;

// The service's own upload routes, POST /api/upload (a multipart form with
// one part, the image) and PUT /api/upload (the image as the body, its name
// in Content-Disposition): admission on the head (a busy solver, the file
// name, the upload area's cap, which counts the uploads the API keeps and
// holds while bytes arrive), the body streamed to a file in the private
// upload directory, the solve it starts, and the removal of the upload and
// what its solve made beside it when the solve ends. A POST carrying
// `request-json` goes to the solving API instead.
class RemoteUploads {
public:
    static constexpr qint64 defaultAreaLimitMB = 4096;  // user default "upload-area-limit-mb"
    // Partial uploads older than this (a killed server's) are swept at start.
    static constexpr std::chrono::hours abandonedAge{1};

    // `api` may be null (the API is unavailable).
    RemoteUploads(SolverDelegate& solver, AstrometryApi* api);
    // Removes the uploads whose solve has not reported its end: call once
    // no handler can add one.
    ~RemoteUploads();
    RemoteUploads(const RemoteUploads&) = delete;
    RemoteUploads& operator=(const RemoteUploads&) = delete;

    void install(http::HttpServer& server);
    // Once an upload's head has arrived: a file for its body, or the refusal
    // (the gate of the service pages' uploads too).
    std::variant<http::HttpResponse, std::shared_ptr<http::BodyFile>> admit(const http::HttpRequest& request);

private:
    http::HttpResponse multipart(const http::HttpRequest& request);
    http::HttpResponse raw(const http::HttpRequest& request);
    // The private upload directory; none (and a log line) when unusable.
    std::optional<QString> directory();
    // Keeps a received image under a name of ours and starts its solve;
    // `named` is the client's name for it, "" when none.
    http::HttpResponse solve(http::BodyFile& file, const QString& named, bool markBusy);
    // The failed upload's error answer, told in the log too.
    http::HttpResponse failed(int error);
    // A refusal's answer; repeated ones are told in the log once a period.
    http::HttpResponse refused(const std::string& message);
    void removeSolveFiles(const QString& path);

    SolverDelegate& solver;
    AstrometryApi* api;
    QMetaObject::Connection cleanup;
    std::mutex lock;
    std::set<QString> unfinished;  // uploads whose solve has not ended
    // The upload area's cap, held while bytes arrive.
    std::shared_ptr<http::BodyFile::SharedRoom> area = std::make_shared<http::BodyFile::SharedRoom>();
    std::chrono::steady_clock::time_point lastRefusalLog{};
    int unloggedRefusals = 0;
};

}  // namespace siderama
