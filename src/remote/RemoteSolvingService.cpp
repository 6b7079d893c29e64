#include "remote/RemoteSolvingService.h"

#include "http/HttpServer.h"
#include "remote/JsonAnswer.h"
#include "remote/RemoteLog.h"
#include "remote/ServerIdentity.h"
#include "remote/ServerSettings.h"
#include "remote/ServiceAnnouncement.h"
#include "remote/RemoteUploads.h"
#include "remote/api/AstrometryApi.h"
#include "remote/web/WebPages.h"
#include "solver/SolverDelegate.h"

#include <QCoreApplication>
#include <QTimer>



#include <limits>

#include <nlohmann/json.hpp>

namespace siderama {

namespace {

using http::HttpRequest;
using http::HttpResponse;
using http::HttpResponseBody;

void addIfPresent(nlohmann::json& object, const char* key, const std::optional<double>& value) {
    if (value) object[key] = *value;
}

}  // namespace

http::HttpServerConfig RemoteSolvingService::defaultConfig() {
    http::HttpServerConfig config;
    config.connectionNiceness = 19;  // the most the scheduler allows
    config.maxBufferedBody = 1024 * 1024;
    config.limits.maxBodySize = std::numeric_limits<std::uint64_t>::max();  // uploads: the upload area's cap
    config.logger = [](const std::string& line) { qCWarning(lcRemote).noquote() << QString::fromStdString(line); };
    return config;
}

RemoteSolvingService::RemoteSolvingService(SolverDelegate& solver, http::HttpServerConfig config)
    : solver(solver), config(std::move(config)) {}

// The uploads go once no handler can add one.
RemoteSolvingService::~RemoteSolvingService() {
    if (server) server->stop();
    uploads.reset();
}

const std::string& RemoteSolvingService::formFragment() {
    static const std::string form =
        "<form action='/api/upload' method='post' enctype='multipart/form-data'>Submit FITS file: "
        "<input type='file' name='image'><input type='submit' value='Submit'></form>";
    return form;
}

int RemoteSolvingService::port() const { return server ? server->port() : 0; }

void RemoteSolvingService::startServer(std::optional<std::uint16_t> port, std::optional<std::uint16_t> tlsPort,
                                       const ServiceRoles& roles) {
    if (server) return;
    QStringList problems;
    const ServerSettings settings = ServerSettings::read(port, tlsPort, problems);
    for (const QString& problem : problems) solver.append(problem, RED);
    server = std::make_unique<http::HttpServer>(config);
    server->GET["/"] = [this](const HttpRequest& request) { return uploadForm(request); };
    server->GET["/api/status"] = [this](const HttpRequest& request) { return status(request); };
    server->GET["/ca.crt"] = [this](const HttpRequest& request) { return authority(request); };
    if (!startApi(roles)) return;  // the application ends
    uploads = std::make_unique<RemoteUploads>(solver, api.get());
    uploads->install(*server);
    if (api) WebPages::install(*server, *api, [this](const HttpRequest& request) { return uploads->admit(request); });
    if (!roles.listen) {
        solver.append("Not listening: this member solves the job database's jobs", GREEN);
        return;
    }
    try {
        server->start(settings.httpPort);
    } catch (const std::exception& failure) {
        solver.append("Can't start HTTP server", RED);
        if (settings.httpPort != 0) solver.append("Port " + QString::number(settings.httpPort) + ": " + failure.what(), RED);
        return;
    }
    solver.append("HTTP server started on port " + QString::number(server->port()), GREEN);
    if (settings.httpsPort) startSecure(settings);
    announce();
}

void RemoteSolvingService::startSecure(const ServerSettings& settings) {
    QStringList created;
    try {
        const ServerIdentity identity(settings, created);
        securePort_ = server->listen(*settings.httpsPort, identity.handshake());
        std::lock_guard lock(authorityMutex);
        authorityPem = identity.authority();
    } catch (const std::exception& failure) {
        for (const QString& line : created) solver.append(line, YELLOW);
        solver.append(QString("Can't start HTTPS server: ") + failure.what(), RED);
        return;
    }
    for (const QString& line : created) solver.append(line, YELLOW);
    solver.append("HTTPS server started on port " + QString::number(securePort_), GREEN);
}

bool RemoteSolvingService::startApi(const ServiceRoles& roles) {
    JobQueue::Events events;
    events.log = [this](const QString& line, LogColor color) { solver.append(line, color); };
    events.lengthChanged = [this](int length) { solver.setQueueLength(length); };
    // API solves yield to the window's own solves as the connection threads
    // do; with equal priority, status polls are answered at once during them.
    ApiSettings settings = ApiSettings::load();
    settings.solveNiceness = config.connectionNiceness;
    if (roles.database) settings.database = *roles.database;
    if (roles.solves) settings.concurrentSolves = *roles.solves;
    try {
        api = std::make_unique<AstrometryApi>(JobFolders(FOLDER()), settings, std::move(events));
        api->install(*server);
    } catch (const FolderLock::InUse& failure) {
        // Two servers would solve each other's jobs: this one ends with status 1.
        solver.append(QString("Can't start: ") + failure.what(), RED);
        qCWarning(lcRemote).noquote() << "Can't start:" << failure.what();
        QTimer::singleShot(0, [] { QCoreApplication::exit(1); });
        return false;
    } catch (const std::exception& failure) {
        solver.append(QString("Solving API unavailable: ") + failure.what(), RED);
        // A member without its shared database would serve a queue of its own.
        if (settings.database.isEmpty()) return true;
        QTimer::singleShot(0, [] { QCoreApplication::exit(1); });
        return false;
    }
    return true;
}

void RemoteSolvingService::announce() {
    ServiceAnnouncement::Delegate delegate;
    delegate.published = [this] { solver.append("Bonjour service did publish", GREEN); };
    delegate.failed = [this](const ServiceAnnouncement::ErrorMap& error) {
        solver.append("Bonjour service did not publish", RED);
        solver.append(QString::fromStdString(ServiceAnnouncement::text(error)), RED);
    };
    std::vector<std::string> text{"txtvers=1", "path=/api/", std::string("version=") + SIDERAMA_VERSION};
    if (securePort_ != 0) text.push_back("tls-port=" + std::to_string(securePort_));
    announcement = std::make_unique<ServiceAnnouncement>(serviceType, serviceName, std::uint16_t(server->port()),
                                                         std::move(text), std::move(delegate));
    announcement->publish();
}

HttpResponse RemoteSolvingService::authority(const HttpRequest&) {
    std::lock_guard lock(authorityMutex);
    if (authorityPem.empty()) return HttpResponse::notFound();
    return HttpResponse::raw(200, "OK",
                             HttpResponse::Headers{{"Content-Type", "application/x-x509-ca-cert"},
                                                   {"Content-Disposition", "attachment; filename=\"siderama-ca.crt\""}},
                             authorityPem);
}

HttpResponse RemoteSolvingService::uploadForm(const HttpRequest&) {
    return HttpResponse::ok(HttpResponseBody::html(formFragment() + "<p><a href='/upload'>Upload page</a></p>"));
}

HttpResponse RemoteSolvingService::status(const HttpRequest&) {
    const SolverState state = solver.state();
    nlohmann::json answer{{"status", statusWord(state.status).toStdString()}};
    if (api) answer["queue"] = api->queueStatus();
    if (state.status == SolverStatus::ready) return JsonAnswer::of(answer);
    if (state.status == SolverStatus::done) {
        nlohmann::json calibration = nlohmann::json::object();
        addIfPresent(calibration, "ra", state.raCenter);
        addIfPresent(calibration, "dec", state.decCenter);
        addIfPresent(calibration, "orientation", state.orientation);
        addIfPresent(calibration, "pixscale", state.pixelScale);
        answer["calibration"] = calibration;
        return JsonAnswer::of(answer);
    }
    answer["message"] = state.message.toStdString();
    return JsonAnswer::of(answer);
}

}  // namespace siderama
