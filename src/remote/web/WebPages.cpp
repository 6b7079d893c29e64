#include "remote/web/WebPages.h"

#include "http/BodyFile.h"
#include "http/HttpServer.h"
#include "remote/api/AstrometryApi.h"
#include "remote/web/QueueReport.h"

#include <QFile>
#include <QRegularExpression>
#include <QUrl>
#include <QUrlQuery>

namespace siderama {

namespace {

using http::HttpRequest;
using http::HttpResponse;

// What every answer of these routes carries: no script but this server's
// files, no framing, no guessing of types.
HttpResponse::Headers headers(const std::string& type) {
    return {{"Content-Type", type},
            {"Content-Security-Policy",
             "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; connect-src 'self'; "
             "form-action 'self'; base-uri 'none'; frame-ancestors 'none'"},
            {"X-Content-Type-Options", "nosniff"},
            {"X-Frame-Options", "DENY"},
            {"Referrer-Policy", "same-origin"},
            {"Cache-Control", "no-store"}};
}

HttpResponse answer(int code, const char* phrase, const std::string& type, std::string body,
                    HttpResponse::Headers extra = {}) {
    HttpResponse::Headers all = headers(type);
    for (auto& [name, value] : extra) all.insert_or_assign(name, std::move(value));
    return HttpResponse::raw(code, phrase, all, std::move(body));
}

const char* phrase(int code) {
    switch (code) {
    case 200: return "OK";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Bad Request";
    }
}

HttpResponse json(const nlohmann::json& value, int code = 200) {
    return answer(code, phrase(code), "application/json", value.dump());
}

HttpResponse error(const std::string& message, int code) {
    return json({{"status", "error"}, {"errormessage", message}}, code);
}

HttpResponse redirect(const std::string& location, HttpResponse::Headers extra = {}) {
    extra["Location"] = location;
    return answer(303, "See Other", "text/plain; charset=utf-8", "", std::move(extra));
}

QString resource(const QString& path) {
    QFile file(":/web/" + path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

std::optional<int> numberOf(const HttpRequest& request, const char* name) {
    const auto found = request.params.find(name);
    if (found == request.params.end()) return std::nullopt;
    bool ok = false;
    const int value = QString::fromStdString(found->second).toInt(&ok);
    return ok && value > 0 ? std::optional(value) : std::nullopt;
}

// Where a login goes next: a path of this server only.
QString nextPath(const QString& requested) {
    return requested.startsWith('/') && !requested.startsWith("//") && !requested.contains('\\') ? requested
                                                                                                  : "/upload";
}

QString fieldOf(const HttpRequest::Pairs& pairs, const char* name) {
    for (const auto& [key, value] : pairs)
        if (key == name) return QString::fromStdString(value);
    return {};
}

}  // namespace

void WebPages::install(http::HttpServer& server, AstrometryApi& api, http::BodyGate gate) {
    auto pages = std::make_shared<WebPages>(api, std::move(gate));
    const auto route = [&server, pages](http::HttpServer::Route& method, const char* path,
                                        Response (WebPages::*handler)(const Request&)) {
        method[path] = [pages, handler](const Request& request) { return ((*pages).*handler)(request); };
    };
    route(server.GET, "/upload", &WebPages::uploadPage);
    route(server.POST, "/upload", &WebPages::upload);
    server.streamBodies("POST", "/upload", [pages](const Request& request) { return pages->admitUpload(request); });
    route(server.GET, "/jobs/:id", &WebPages::jobPage);
    route(server.GET, "/queue", &WebPages::queuePage);
    route(server.GET, "/login", &WebPages::loginPage);
    route(server.POST, "/login", &WebPages::login);
    route(server.POST, "/logout", &WebPages::logout);
    route(server.GET, "/static/:name", &WebPages::asset);
    route(server.GET, "/web/jobs/:id", &WebPages::jobSummary);
    route(server.GET, "/web/queue", &WebPages::queue);
    route(server.GET, "/sky_plot/:zoom/:id", &WebPages::skyPlot);
    server.GET["/red_green_image_display/:id"] = [pages](const Request& r) {
        return pages->starsImage(r, JobImages::Stars::redGreen);
    };
    server.GET["/extraction_image_display/:id"] = [pages](const Request& r) {
        return pages->starsImage(r, JobImages::Stars::extraction);
    };
}

WebPages::WebPages(AstrometryApi& api, http::BodyGate gate)
    : api(api), sessions(api.apiKeys(), api.jobAccess()), images(api.jobFolders()), gate(std::move(gate)) {}

// A page of the resources with its {{placeholders}} filled in, HTML-escaped.
HttpResponse WebPages::page(const QString& name, const Request& request, std::map<QString, QString> values) const {
    const WebSession::Viewer viewer = sessions.viewer(request);
    values.emplace("token", sessions.token(viewer));
    values.emplace("account", viewer.account ? viewer.account->name : QString());
    values.emplace("logout", viewer.account ? "" : "hidden");
    QString text = resource("pages/" + name + ".html");
    text.replace("{{head}}", resource("pages/head.inc")).replace("{{nav}}", resource("pages/nav.inc"));
    for (const auto& [key, value] : values) text.replace("{{" + key + "}}", value.toHtmlEscaped());
    return answer(200, "OK", "text/html; charset=utf-8", text.toStdString());
}

HttpResponse WebPages::uploadPage(const Request& request) {
    if (!sessions.admitted(sessions.viewer(request))) return redirect("/login?next=/upload");
    return page("upload", request);
}

HttpResponse WebPages::queuePage(const Request& request) {
    if (!sessions.admitted(sessions.viewer(request))) return redirect("/login?next=/queue");
    return page("queue", request);
}

HttpResponse WebPages::jobPage(const Request& request) {
    const std::optional<int> id = numberOf(request, "id");
    const WebSession::Viewer viewer = sessions.viewer(request);
    if (!sessions.admitted(viewer)) return redirect("/login?next=/jobs/" + std::to_string(id.value_or(0)));
    const auto found = visibleJob(request);
    if (const auto* refused = std::get_if<Response>(&found); refused && refused->statusCode() == 403) {
        return answer(403, "Forbidden", "text/html; charset=utf-8", page("refused", request).body().value_or(""));
    }
    return page("job", request);
}

HttpResponse WebPages::loginPage(const Request& request) {
    if (!sessions.keysRequired()) return redirect("/upload");
    const QUrlQuery query(QUrl(QString::fromStdString(request.url)).query());
    const bool refused = query.queryItemValue("refused") == "1";
    return page("login", request, {{"next", nextPath(query.queryItemValue("next", QUrl::FullyDecoded))},
                                   {"refused", refused ? "" : "hidden"}});
}

// The key is checked like the API's login; the session goes to a cookie.
HttpResponse WebPages::login(const Request& request) {
    const HttpRequest::Pairs form = request.parseUrlencodedForm();
    const WebSession::Viewer anonymous;
    if (!sessions.tokenMatches(anonymous, fieldOf(form, "token").toStdString())) return error("stale page: reload it", 400);
    const QString next = nextPath(fieldOf(form, "next"));
    const std::optional<ApiKeys::Account> account = api.apiKeys().account(fieldOf(form, "apikey"));
    if (!account)
        return redirect("/login?refused=1&next=" + QUrl::toPercentEncoding(next).toStdString());
    const QString session = api.apiKeys().session(*account);
    return redirect(next.toStdString(), {{"Set-Cookie", WebSession::cookie(session, request.secure)}});
}

HttpResponse WebPages::logout(const Request& request) {
    const WebSession::Viewer viewer = sessions.viewer(request);
    if (!sessions.tokenMatches(viewer, fieldOf(request.parseUrlencodedForm(), "token").toStdString()))
        return error("stale page: reload it", 400);
    return redirect("/login", {{"Set-Cookie", WebSession::endedCookie(request.secure)}});
}

HttpResponse WebPages::asset(const Request& request) {
    const QString name = QString::fromStdString(request.params.at("name"));
    static const QRegularExpression plain("^[a-z-]+\\.(css|js)$");
    const QString text = plain.match(name).hasMatch() ? resource("static/" + name) : QString();
    if (text.isEmpty()) return error("no such file", 404);
    const std::string type = name.endsWith(".css") ? "text/css; charset=utf-8" : "text/javascript; charset=utf-8";
    return answer(200, "OK", type, text.toStdString(), {{"Cache-Control", "no-cache"}});
}

std::variant<HttpResponse, std::shared_ptr<http::BodyFile>> WebPages::admitUpload(const Request& request) {
    if (!sessions.admitted(sessions.viewer(request))) return error("log in first", 403);
    return gate(request);
}

// The form's `token` must be the one this viewer's pages carry; the image
// then goes the API's way, under the viewer's session.
HttpResponse WebPages::upload(const Request& request) {
    const WebSession::Viewer viewer = sessions.viewer(request);
    if (!sessions.admitted(viewer)) return error("log in first", 403);
    if (request.bodyFile && request.bodyFile->error() != 0) return error("Upload failed", 500);
    std::string token;
    for (const HttpRequest::MultiPart& part : request.parseMultiPartFormData())
        if (part.name() == "token") token = std::string(part.body);
    if (!sessions.tokenMatches(viewer, token)) return error("stale page: reload it", 400);
    const std::optional<QString> session = sessions.keysRequired() ? std::optional(viewer.session) : std::nullopt;
    const std::optional<HttpResponse> accepted = api.upload(request, session);
    if (!accepted) return error("no request-json field", 400);
    return *accepted;
}

std::variant<HttpResponse, std::pair<int, Submission>> WebPages::visibleJob(const Request& request) const {
    const std::optional<int> id = numberOf(request, "id");
    const std::optional<Job> job = id ? api.jobStore().job(*id) : std::nullopt;
    const std::optional<Submission> submission = job ? api.jobStore().submission(job->submission) : std::nullopt;
    if (!submission) return error("job not found", 404);
    if (!sessions.maySee(request, sessions.viewer(request), *submission))
        return error("this job belongs to another member", 403);
    return std::pair{*id, *submission};
}

HttpResponse WebPages::jobSummary(const Request& request) {
    const auto found = visibleJob(request);
    if (const auto* refused = std::get_if<Response>(&found)) return *refused;
    const auto& [id, submission] = std::get<std::pair<int, Submission>>(found);
    const std::optional<Job> job = api.jobStore().job(id);
    return json({{"status", "success"}, {"job_status", job ? Job::text(job->status) : "failure"},
                 {"submission", submission.id},
                 {"original_filename", submission.originalFilename.toStdString()},
                 {"message", submission.error.toStdString()}});
}

HttpResponse WebPages::starsImage(const Request& request, JobImages::Stars kind) {
    const auto found = visibleJob(request);
    if (const auto* refused = std::get_if<Response>(&found)) return *refused;
    const auto& [id, submission] = std::get<std::pair<int, Submission>>(found);
    localResults(id);
    const std::optional<QByteArray> jpeg = images.stars(id, submission.id, kind);
    if (!jpeg) return error("job " + std::to_string(id) + " is not solved", 404);
    return answer(200, "OK", "image/jpeg", jpeg->toStdString(), {{"Cache-Control", "private, max-age=3600"}});
}

HttpResponse WebPages::skyPlot(const Request& request) {
    static const QRegularExpression zoomName("^zoom([0-3])$");
    const QRegularExpressionMatch zoom = zoomName.match(QString::fromStdString(request.params.at("zoom")));
    if (!zoom.hasMatch()) return error("no such plot", 404);
    const auto found = visibleJob(request);
    if (const auto* refused = std::get_if<Response>(&found)) return *refused;
    const int id = std::get<std::pair<int, Submission>>(found).first;
    localResults(id);
    const std::optional<QByteArray> png = images.skyPlot(id, zoom.captured(1).toInt());
    if (!png) return error("job " + std::to_string(id) + " is not solved", 404);
    return answer(200, "OK", "image/png", png->toStdString(), {{"Cache-Control", "private, max-age=3600"}});
}

// Another member may have solved the job: its results come from the shared database.
void WebPages::localResults(int job) {
    for (const QString suffix : {"wcs", "axy", "corr"}) api.localResult(job, suffix);
}

QString WebPages::client(const Submission& submission) const {
    const QString owner = sessions.owner(submission);
    return !owner.isEmpty() ? owner : !submission.address.isEmpty() ? submission.address : QString("–");
}

// Counts are everybody's; the job rows are those the viewer may see.
HttpResponse WebPages::queue(const Request& request) {
    const WebSession::Viewer viewer = sessions.viewer(request);
    if (!sessions.admitted(viewer)) return error("log in first", 403);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QueueReport report(now);
    for (const auto& [submission, job] : api.jobStore().recent(now.addSecs(-QueueReport::hours * 3600))) {
        report.count(submission);
        if (sessions.maySee(request, viewer, submission)) report.list(submission, job, client(submission));
    }
    return json(report.toJson(api.queueStatus()));
}

}  // namespace siderama
