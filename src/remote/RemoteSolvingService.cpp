#include "remote/RemoteSolvingService.h"

#include "core/Defaults.h"
#include "http/BodyFile.h"
#include "http/FormReader.h"
#include "http/HttpServer.h"
#include "http/StringHelpers.h"
#include "remote/JsonAnswer.h"
#include "remote/RemoteLog.h"
#include "remote/ServerIdentity.h"
#include "remote/ServerSettings.h"
#include "remote/ServiceAnnouncement.h"
#include "remote/UploadFiles.h"
#include "remote/api/AstrometryApi.h"
#include "remote/web/WebPages.h"
#include "solver/SolverDelegate.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <charconv>
#include <cstring>

#include <nlohmann/json.hpp>

namespace siderama {

namespace {

using http::HttpRequest;
using http::HttpResponse;
using http::HttpResponseBody;

// Pieces of `text` between occurrences of `separator`, empty pieces left out.
std::vector<std::string> splitAt(const std::string& text, const std::string& separator) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(separator, start), text.size());
        if (end > start) pieces.push_back(text.substr(start, end - start));
        start = end + separator.size();
    }
    return pieces;
}

// The quoted name of the last "filename=" parameter of a Content-Disposition
// value whose parameters are separated by "; ".
std::optional<std::string> dispositionFileName(const HttpRequest& request) {
    const auto header = request.headers.find("content-disposition");
    if (header == request.headers.end()) return std::nullopt;
    std::optional<std::string> name;
    for (const std::string& piece : splitAt(header->second, "; ")) {
        if (!piece.starts_with("filename=")) continue;
        const std::vector<std::string> quoted = http::split(piece, '"');
        if (quoted.size() >= 2) name = quoted[1];
    }
    return name;
}

// The announced body length; 0 when none or unreadable (the request reader
// refuses the latter).
quint64 announcedLength(const HttpRequest& request) {
    const auto found = request.headers.find("content-length");
    quint64 length = 0;
    if (found != request.headers.end())
        std::from_chars(found->second.data(), found->second.data() + found->second.size(), length);
    return length;
}


void addIfPresent(nlohmann::json& object, const char* key, const std::optional<double>& value) {
    if (value) object[key] = *value;
}

}  // namespace

http::HttpServerConfig RemoteSolvingService::defaultConfig() {
    http::HttpServerConfig config;
    config.connectionNiceness = 19;  // the most the scheduler allows
    config.logger = [](const std::string& line) { qCWarning(lcRemote).noquote() << QString::fromStdString(line); };
    return config;
}

RemoteSolvingService::RemoteSolvingService(SolverDelegate& solver, http::HttpServerConfig config)
    : solver(solver), config(std::move(config)) {}

// Uploads whose solve has not reported its end yet go too, once no handler
// can add one: nothing else would remove them.
RemoteSolvingService::~RemoteSolvingService() {
    if (server) server->stop();
    QObject::disconnect(cleanup);
    std::set<QString> left;
    {
        std::lock_guard guard(unfinishedLock);
        left = unfinished;
    }
    for (const QString& path : left) removeSolveFiles(path);
}

const std::string& RemoteSolvingService::formFragment() {
    static const std::string form =
        "<form action='/api/upload' method='post' enctype='multipart/form-data'>Submit FITS file: "
        "<input type='file' name='image'><input type='submit' value='Submit'></form>";
    return form;
}

int RemoteSolvingService::port() const { return server ? server->port() : 0; }

void RemoteSolvingService::startServer(std::optional<std::uint16_t> port, std::optional<std::uint16_t> tlsPort) {
    if (server) return;
    QStringList problems;
    const ServerSettings settings = ServerSettings::read(port, tlsPort, problems);
    for (const QString& problem : problems) solver.append(problem, RED);
    server = std::make_unique<http::HttpServer>(config);
    server->GET["/"] = [this](const HttpRequest& request) { return uploadForm(request); };
    server->POST["/api/upload"] = [this](const HttpRequest& request) { return uploadMultipart(request); };
    server->PUT["/api/upload"] = [this](const HttpRequest& request) { return uploadRaw(request); };
    for (const char* method : {"POST", "PUT"})
        server->streamBodies(method, "/api/upload", [this](const HttpRequest& request) { return admitUpload(request); });
    cleanup = QObject::connect(&solver, &SolverDelegate::solveFinished, &solver,
                               [this](bool, const QString& path) { removeSolveFiles(path); });
    server->GET["/api/status"] = [this](const HttpRequest& request) { return status(request); };
    server->GET["/ca.crt"] = [this](const HttpRequest& request) { return authority(request); };
    startApi();
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

void RemoteSolvingService::startApi() {
    JobQueue::Events events;
    events.log = [this](const QString& line, LogColor color) { solver.append(line, color); };
    events.lengthChanged = [this](int length) { solver.setQueueLength(length); };
    // API solves yield to the window's own solves as the connection threads
    // do; with equal priority, status polls are answered at once during them.
    ApiSettings settings = ApiSettings::load();
    settings.solveNiceness = config.connectionNiceness;
    try {
        api = std::make_unique<AstrometryApi>(JobFolders(FOLDER()), settings, std::move(events));
        api->install(*server);
        WebPages::install(*server, *api);
    } catch (const std::exception& failure) {
        solver.append(QString("Solving API unavailable: ") + failure.what(), RED);
    }
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

std::optional<QString> RemoteSolvingService::uploadDirectory() {
    std::optional<QString> directory = UploadFiles::directory();
    if (!directory) solver.append("No private upload directory in " + UploadFiles::temporaryDirectory(), RED);
    return directory;
}

std::variant<HttpResponse, std::shared_ptr<http::BodyFile>> RemoteSolvingService::admitUpload(
    const HttpRequest& request) {
    // A POST may be an API submission, which is queued rather than refused.
    if (solver.isSolving() && (request.method == "PUT" || !api)) {
        solver.append("Solver busy", RED);
        return JsonAnswer::error("Solver busy");
    }
    if (const auto name = dispositionFileName(request)) {
        const QString problem = UploadFiles::nameProblem(*name);
        if (!problem.isEmpty()) return JsonAnswer::error(problem.toUtf8().constData());
    }
    const std::optional<QString> directory = uploadDirectory();
    if (!directory) return JsonAnswer::error("Upload failed");
    const qint64 limit = Defaults::integerValue(Defaults::uploadAreaLimitMB, defaultAreaLimitMB) * 1024 * 1024;
    const qint64 room = limit - UploadFiles::usedSpace(*directory);
    if (room <= 0 || announcedLength(request) > quint64(room)) return uploadFailed(EFBIG);
    auto file = http::BodyFile::create(QFile::encodeName(*directory).toStdString(), "upload-", quint64(room));
    if (!file) return uploadFailed(errno);
    return file;
}

HttpResponse RemoteSolvingService::uploadFailed(int code) {
    const bool full = code == ENOSPC || code == EDQUOT;
    const char* message = code == EFBIG ? "Upload area full" : full ? "Disk full" : "Upload failed";
    solver.append(QString(message) + ": " + QString::fromLocal8Bit(std::strerror(code)), RED);
    return JsonAnswer::error(message);
}

// The file gets its extension from its content, so that the pipeline
// converts what is not FITS.
HttpResponse RemoteSolvingService::solveUpload(http::BodyFile& file, const QString& named, bool markBusy) {
    if (file.error() != 0) {
        file.discard();
        return uploadFailed(file.error());
    }
    const QString extension = UploadFiles::extensionFor(file.view().substr(0, 64));
    const QString path = QFile::decodeName(QByteArray::fromStdString(file.path())) + "." + extension;
    if (!file.keepAs(QFile::encodeName(path).toStdString())) return uploadFailed(file.error());
    SolveReservation reservation = solver.claim();
    if (!reservation) {
        QFile::remove(path);
        solver.append("Solver busy", RED);
        return JsonAnswer::error("Solver busy");
    }
    const QString line = "\nFile " + (named.isEmpty() ? QString() : named + " ") + "uploaded to " + path + " (" +
                         QString::number(file.size()) + " bytes)";
    {
        std::lock_guard guard(unfinishedLock);
        unfinished.insert(path);
    }
    if (markBusy) solver.busy(line);
    else solver.append(line, YELLOW);
    solver.solve(std::move(reservation), path);
    return JsonAnswer::of({{"status", "success"}});
}

// The body file holds the whole form; the image part is copied from it to a
// file of its own, a window at a time.
HttpResponse RemoteSolvingService::uploadMultipart(const HttpRequest& request) {
    if (api)
        if (std::optional<HttpResponse> answer = api->upload(request)) return *answer;
    http::BodyFile& form = *request.bodyFile;
    if (form.error() != 0) {
        form.discard();
        return uploadFailed(form.error());
    }
    const std::vector<HttpRequest::MultiPart> parts = request.parseMultiPartFormData();
    if (parts.size() != 1) {
        form.discard();
        return JsonAnswer::error("Invalid request");
    }
    const std::string_view data = parts.front().body;
    const QString directory = QFileInfo(QFile::decodeName(QByteArray::fromStdString(form.path()))).path();
    auto image = http::BodyFile::create(QFile::encodeName(directory).toStdString(), "upload-", data.size());
    if (!image) return uploadFailed(errno);
    image->writeFrom(&form, data);
    form.discard();
    image->finish();
    return solveUpload(*image, {}, false);
}

HttpResponse RemoteSolvingService::uploadRaw(const HttpRequest& request) {
    const std::optional<std::string> name = dispositionFileName(request);
    return solveUpload(*request.bodyFile, name ? QString::fromStdString(*name) : QString(), true);
}

// Only files of uploads are removed: a solve of the user's own file leaves
// it alone.
void RemoteSolvingService::removeSolveFiles(const QString& path) {
    {
        std::lock_guard guard(unfinishedLock);
        if (!unfinished.erase(path)) return;
    }
    for (const QString& file : UploadFiles::solveFiles(path)) QFile::remove(file);
}

HttpResponse RemoteSolvingService::status(const HttpRequest&) {
    const SolverState state = solver.state();
    nlohmann::json answer{{"status", statusWord(state.status).toStdString()}};
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
