#include "remote/RemoteUploads.h"

#include "core/Defaults.h"
#include "http/BodyFile.h"
#include "http/HttpServer.h"
#include "http/HeaderParameters.h"
#include "remote/ClientText.h"
#include "remote/JsonAnswer.h"
#include "remote/UploadFiles.h"
#include "remote/api/AstrometryApi.h"
#include "solver/SolverDelegate.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace siderama {

namespace {

using http::HttpRequest;
using http::HttpResponse;

constexpr auto refusalLogPeriod = std::chrono::seconds(10);

// The client's name for a PUT upload, from its Content-Disposition.
std::optional<std::string> dispositionFileName(const HttpRequest& request) {
    const auto header = request.headers.find("content-disposition");
    if (header == request.headers.end()) return std::nullopt;
    return http::HeaderParameters::parse(header->second).fileName();
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

}  // namespace

RemoteUploads::RemoteUploads(SolverDelegate& solver, AstrometryApi* api) : solver(solver), api(api) {
    if (const std::optional<QString> folder = UploadFiles::directory()) UploadFiles::sweep(*folder, abandonedAge);
    cleanup = QObject::connect(&solver, &SolverDelegate::solveFinished, &solver,
                               [this](bool, const QString& path) { removeSolveFiles(path); });
}

RemoteUploads::~RemoteUploads() {
    QObject::disconnect(cleanup);
    std::set<QString> left;
    {
        std::lock_guard guard(lock);
        left = unfinished;
    }
    for (const QString& path : left) removeSolveFiles(path);
}

void RemoteUploads::install(http::HttpServer& server) {
    server.POST["/api/upload"] = [this](const HttpRequest& request) { return multipart(request); };
    server.PUT["/api/upload"] = [this](const HttpRequest& request) { return raw(request); };
    for (const char* method : {"POST", "PUT"})
        server.streamBodies(method, "/api/upload", [this](const HttpRequest& request) { return admit(request); });
}

std::optional<QString> RemoteUploads::directory() {
    std::optional<QString> directory = UploadFiles::directory();
    if (!directory) solver.append("No private upload directory in " + UploadFiles::temporaryDirectory(), RED);
    return directory;
}

HttpResponse RemoteUploads::refused(const std::string& message) {
    const auto now = std::chrono::steady_clock::now();
    int skipped = -1;
    {
        std::lock_guard guard(lock);
        if (now - lastRefusalLog >= refusalLogPeriod) {
            skipped = std::exchange(unloggedRefusals, 0);
            lastRefusalLog = now;
        } else {
            ++unloggedRefusals;
        }
    }
    if (skipped == 0) solver.append(QString::fromStdString(message), RED);
    if (skipped > 0) solver.append(QString::fromStdString(message) + " (and " + QString::number(skipped) +
                                       " refusals not logged before)", RED);
    return JsonAnswer::error(message);
}

std::variant<HttpResponse, std::shared_ptr<http::BodyFile>> RemoteUploads::admit(const HttpRequest& request) {
    // A POST may be an API submission, which is queued rather than refused.
    if (solver.isSolving() && (request.method == "PUT" || !api)) return refused("Solver busy");
    if (const auto name = dispositionFileName(request)) {
        const QString problem = UploadFiles::nameProblem(*name);
        if (!problem.isEmpty()) return JsonAnswer::error(problem.toUtf8().constData());
    }
    const std::optional<QString> folder = directory();
    if (!folder) return JsonAnswer::error("Upload failed");
    const qint64 limit = Defaults::integerValue(Defaults::uploadAreaLimitMB, defaultAreaLimitMB) * 1024 * 1024;
    const qint64 used = UploadFiles::usedSpace(*folder) + (api ? api->keptBytes() : 0);
    const qint64 room = limit - used;
    if (room <= 0 || announcedLength(request) > quint64(room)) return failed(EFBIG);
    // What is on disk now, plus what every upload adds from here on.
    area->limit = quint64(limit);
    area->used = quint64(used);
    auto file = http::BodyFile::create(QFile::encodeName(*folder).toStdString(), "upload-", quint64(room), area);
    if (!file) return failed(errno);
    return file;
}

HttpResponse RemoteUploads::failed(int code) {
    const bool full = code == ENOSPC || code == EDQUOT;
    const char* message = code == EFBIG ? "Upload area full" : full ? "Disk full" : "Upload failed";
    solver.append(QString(message) + ": " + QString::fromLocal8Bit(std::strerror(code)), RED);
    return JsonAnswer::error(message);
}

// The file gets its extension from its content, so that the pipeline
// converts what is not FITS.
HttpResponse RemoteUploads::solve(http::BodyFile& file, const QString& named, bool markBusy) {
    if (file.error() != 0) {
        file.discard();
        return failed(file.error());
    }
    const QString tooLarge = UploadFiles::sizeProblem(file.view().substr(0, UploadFiles::headerBytes));
    if (!tooLarge.isEmpty()) {
        file.discard();
        return refused(tooLarge.toStdString());
    }
    const QString extension = UploadFiles::extensionFor(file.view().substr(0, 64));
    const QString path = QFile::decodeName(QByteArray::fromStdString(file.path())) + "." + extension;
    if (!file.keepAs(QFile::encodeName(path).toStdString())) return failed(file.error());
    SolveReservation reservation = solver.claim();
    if (!reservation) {
        QFile::remove(path);
        return refused("Solver busy");
    }
    const QString line = "\nFile " + (named.isEmpty() ? QString() : ClientText::forLog(named) + " ") + "uploaded to " +
                         path + " (" + QString::number(file.size()) + " bytes)";
    {
        std::lock_guard guard(lock);
        unfinished.insert(path);
    }
    if (markBusy) solver.busy(line);
    else solver.append(line, YELLOW);
    solver.solve(std::move(reservation), path);
    return JsonAnswer::of({{"status", "success"}});
}

// The body file holds the whole form; the image part is copied from it to a
// file of its own, a window at a time.
HttpResponse RemoteUploads::multipart(const HttpRequest& request) {
    http::BodyFile& form = *request.bodyFile;
    if (form.error() != 0) {
        form.discard();
        return failed(form.error());
    }
    if (api)
        if (std::optional<HttpResponse> answer = api->upload(request)) return *answer;
    const std::vector<HttpRequest::MultiPart> parts = request.parseMultiPartFormData();
    if (parts.size() != 1) {
        form.discard();
        return JsonAnswer::error("Invalid request");
    }
    const std::string_view data = parts.front().body;
    const QString folder = QFileInfo(QFile::decodeName(QByteArray::fromStdString(form.path()))).path();
    auto image = http::BodyFile::create(QFile::encodeName(folder).toStdString(), "upload-", data.size(), area);
    if (!image) return failed(errno);
    image->writeFrom(&form, data);
    form.discard();
    image->finish();
    return solve(*image, {}, false);
}

HttpResponse RemoteUploads::raw(const HttpRequest& request) {
    const std::optional<std::string> name = dispositionFileName(request);
    return solve(*request.bodyFile, name ? QString::fromStdString(*name) : QString(), true);
}

// Only files of uploads are removed: a solve of the user's own file leaves
// it alone.
void RemoteUploads::removeSolveFiles(const QString& path) {
    {
        std::lock_guard guard(lock);
        if (!unfinished.erase(path)) return;
    }
    for (const QString& file : UploadFiles::solveFiles(path)) QFile::remove(file);
}

}  // namespace siderama
