#include "remote/api/AstrometryApi.h"

#include "http/BodyFile.h"
#include "http/HttpServer.h"
#include "remote/ClientText.h"
#include "remote/JsonAnswer.h"
#include "remote/UploadFiles.h"
#include "remote/api/ApiArguments.h"
#include "remote/api/StarList.h"
#include "remote/web/WebSession.h"
#include "solver/SolutionQuality.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <charconv>
#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace siderama {

namespace {

using http::HttpRequest;
using http::HttpResponse;
using http::HttpResponseBody;


HttpResponse notFound(const std::string& what) {
    const nlohmann::json body{{"status", "error"}, {"errormessage", what + " not found"}};
    return HttpResponse::raw(404, "Not Found", HttpResponse::Headers{{"Content-Type", "application/json"}}, body.dump());
}

HttpResponse forbidden() {
    const nlohmann::json body{{"status", "error"},
                              {"errormessage", "not your job: ask from the address that uploaded it, or with its session"}};
    return HttpResponse::raw(403, "Forbidden", HttpResponse::Headers{{"Content-Type", "application/json"}}, body.dump());
}

HttpResponse file(const QString& path, const std::string& type, const std::string& downloadName) {
    std::optional<HttpResponse> answer = HttpResponse::file(
        QFile::encodeName(path).toStdString(),
        {{"Content-Type", type}, {"Content-Disposition", "attachment; filename=\"" + downloadName + "\""}});
    return answer ? *answer : notFound("file");
}

// A decimal id of 1 to 2^31 - 1; none for anything else.
std::optional<int> idOf(const HttpRequest& request) {
    const auto found = request.params.find("id");
    if (found == request.params.end()) return std::nullopt;
    const std::string& text = found->second;
    int id = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), id);
    if (error != std::errc() || end != text.data() + text.size() || text.front() == '-' || id < 1) return std::nullopt;
    return id;
}

// As Python prints a time without microseconds.
nlohmann::json timeText(const std::optional<QDateTime>& time) {
    return time ? time->toString("yyyy-MM-dd hh:mm:ss").toStdString() : "None";
}

QString randomKey() {
    QByteArray bytes(16, Qt::Uninitialized);
    QRandomGenerator::system()->generate(bytes.begin(), bytes.end());
    return QString::fromLatin1(bytes.toHex());
}

// A job database that cannot be read is an error the client sees, never "no such job".
template <typename Handler>
auto readable(Handler handler) {
    return [handler](const HttpRequest& request) -> HttpResponse {
        try {
            return handler(request);
        } catch (const std::runtime_error& failure) {
            return JsonAnswer::error(failure.what());
        }
    };
}

// The folder, made when missing.
QString prepared(const JobFolders& folders) {
    QDir().mkpath(folders.submission(0) + "/..");
    return QFileInfo(folders.database()).path();
}

}  // namespace

AstrometryApi::AstrometryApi(JobFolders folders, ApiSettings settings, JobQueue::Events events)
    : folders(folders), settings(settings), keys(ApiKeys::defaultPath()), events(events),
      folderLock(prepared(folders)), store(JobDatabaseLocation::parse(settings.database, folders.database())),
      access([this] { return keysRequired(); }, [this](const QString& session) { return isLiveSession(session); },
             [this](const QString& session) {
                 const std::optional<ApiKeys::Account> account = keys.sessionAccount(session);
                 return account && account->isOperator;
             }),
      objects(folders), queue(std::make_unique<JobQueue>(store, folders, settings, events)) {}

void AstrometryApi::install(http::HttpServer& server) {
    server["/api/login"] = readable([this](const HttpRequest& r) { return login(r); });
    server["/api/url_upload"] = readable([this](const HttpRequest& r) { return urlUpload(r); });
    server["/api/submissions/:id"] = readable([this](const HttpRequest& r) { return submissionStatus(r); });
    server["/api/jobs/:id"] = readable([this](const HttpRequest& r) { return jobStatus(r); });
    server["/api/jobs/:id/:what"] = readable([this](const HttpRequest& r) { return jobDetail(r); });
    server["/api/myjobs"] = readable([this](const HttpRequest& r) { return myJobs(r); });
    for (const auto& [route, suffix] : {std::pair{"wcs_file", "wcs"}, {"new_fits_file", "new"}, {"corr_file", "corr"},
                                        {"rdls_file", "rdls"}, {"axy_file", "axy"}})
        server[std::string("/") + route + "/:id"] = readable([this, suffix](const HttpRequest& r) { return resultFile(r, suffix); });
    server["/joblog/:id"] = readable([this](const HttpRequest& r) { return jobLog(r); });
    server["/annotated_display/:id"] = readable([this](const HttpRequest& r) { return annotatedDisplay(r); });
}

bool AstrometryApi::keysRequired() const { return keys.required() || !settings.apiKey.isEmpty(); }

// With API keys, a session names its key's account; with the `api-key`
// setting alone, it is one the store gave out.
bool AstrometryApi::isLiveSession(const QString& session) {
    return keys.required() ? keys.sessionAccount(session).has_value() : store.useSession(session);
}

std::optional<std::string> AstrometryApi::sessionProblem(const ApiArguments& arguments, const QString& session) {
    if (!arguments.error().empty()) return arguments.error();
    if (!keysRequired()) return std::nullopt;
    if (session.isEmpty() || !isLiveSession(session)) return "no valid session: log in first";
    return std::nullopt;
}

// From `request-json`, else a page's cookie.
QString AstrometryApi::sessionOf(const HttpRequest& request) const {
    const std::optional<ApiArguments> arguments = ApiArguments::from(request);
    const std::string session = arguments ? arguments->text("session").value_or("") : "";
    return session.empty() ? WebSession::cookieSession(request) : QString::fromStdString(session);
}

HttpResponse AstrometryApi::login(const HttpRequest& request) {
    const std::optional<ApiArguments> arguments = ApiArguments::from(request);
    if (!arguments) return JsonAnswer::error("no request-json field");
    if (!arguments->error().empty()) return JsonAnswer::error(arguments->error());
    const QString key = QString::fromStdString(arguments->text("apikey").value_or(""));
    if (keys.required()) {
        const std::optional<ApiKeys::Account> account = keys.account(key);
        if (!account) return JsonAnswer::error("bad apikey");
        return JsonAnswer::of({{"status", "success"}, {"message", "authenticated user: " + account->name.toStdString()},
                               {"session", keys.session(*account).toStdString()}});
    }
    if (!settings.apiKey.isEmpty() && key != settings.apiKey) return JsonAnswer::error("bad apikey");
    const QString session = randomKey();
    if (!store.addSession(session)) return JsonAnswer::error("the session could not be stored: the job store is busy or full");
    return JsonAnswer::of({{"status", "success"}, {"message", "authenticated user: siderama"}, {"session", session.toStdString()}});
}

std::optional<HttpResponse> AstrometryApi::upload(const HttpRequest& request, const std::optional<QString>& session) {
    const std::optional<ApiArguments> arguments = ApiArguments::from(request, ApiArguments::starListLimit);
    if (!arguments) return std::nullopt;
    return readable([this, &arguments, &session](const HttpRequest& r) { return accept(r, *arguments, session); })(request);
}

nlohmann::json AstrometryApi::queueStatus() const { return queue->status(); }

QString AstrometryApi::localResult(int job, const QString& suffix) {
    const QString path = suffix == "log" ? folders.log(job) : folders.result(job, suffix);
    if (!QFileInfo::exists(path) && store.database().postgres() && QDir().mkpath(folders.job(job)))
        store.fetchFile("job/" + QString::number(job) + "/" + suffix, path);
    return path;
}

qint64 AstrometryApi::keptBytes() const { return UploadFiles::usedSpace(QFileInfo(folders.submission(0)).path()); }

HttpResponse AstrometryApi::urlUpload(const HttpRequest& request) {
    const std::optional<ApiArguments> arguments = ApiArguments::from(request);
    if (!arguments) return JsonAnswer::error("no request-json field");
    if (arguments->text("url"))
        return JsonAnswer::error("url_upload with a url is not supported: this server does not fetch from the network; "
                     "send the file to /api/upload");
    return accept(request, *arguments);
}

// An uploaded file is hashed and written a window at a time from the form.
HttpResponse AstrometryApi::accept(const HttpRequest& request, const ApiArguments& arguments,
                                   const std::optional<QString>& session) {
    if (JobAccess::isCrossSite(request)) return JsonAnswer::error("uploads from another site's page are refused");
    const QString owner = session.value_or(QString::fromStdString(arguments.text("session").value_or("")));
    if (const auto problem = sessionProblem(arguments, owner)) return JsonAnswer::error(*problem);
    http::BodyFile* form = request.bodyFile.get();
    std::string starText, name;
    std::string_view data;
    if (const auto& upload = arguments.file()) {
        if (upload->data.empty()) return JsonAnswer::error("the uploaded file is empty");
        const QString tooLarge = UploadFiles::sizeProblem(upload->data.substr(0, UploadFiles::headerBytes));
        if (!tooLarge.isEmpty()) return JsonAnswer::error(tooLarge.toStdString());
        data = upload->data;
        name = UploadFiles::plainName(upload->name).value_or(QString()).toStdString();
    } else if (std::optional<StarList> stars = StarList::fromArguments(arguments)) {
        stars->settleSize(arguments);
        starText = stars->text();
        data = starText;
    } else {
        return JsonAnswer::error("no file, and no x and y lists of equal length");
    }
    QCryptographicHash sha1(QCryptographicHash::Sha1);
    http::BodyFile::eachWindow(data, form, [&sha1](std::string_view piece) { sha1.addData(QByteArrayView(piece)); });
    const QString hash = sha1.result().toHex();
    Submission submission{0, owner, QString::fromStdString(request.address.value_or("")), QDateTime::currentDateTimeUtc(),
                          std::nullopt, std::nullopt, std::nullopt, QString::fromStdString(name), arguments.withoutStars().dump(),
                          hash, {}, std::nullopt};
    const std::optional<int> id = store.addSubmission(submission);
    if (!id) return JsonAnswer::error("the submission could not be stored: the job store is busy or full");
    if (const auto problem = keepInput(*id, data, form)) {
        store.removeSubmission(*id);
        return JsonAnswer::error(*problem);
    }
    events.log("API submission " + QString::number(*id) + " received: " +
                   (name.empty() ? QString("star list") : ClientText::forLog(QString::fromStdString(name))) + " (" +
                   QString::number(data.size()) + " bytes)",
               YELLOW);
    if (!queue->submit(*id)) {
        store.removeSubmission(*id);
        return JsonAnswer::error("the submission could not be queued: " + store.database().lastError().toStdString());
    }
    return JsonAnswer::of({{"status", "success"}, {"subid", *id}, {"hash", hash.toStdString()}});
}

// A folder left by an earlier store under the same id is cleared first.
std::optional<std::string> AstrometryApi::keepInput(int id, std::string_view data, http::BodyFile* form) {
    QDir(folders.submission(id)).removeRecursively();
    errno = 0;
    if (QDir().mkpath(folders.submission(id)) && UploadFiles::writeAtomically(folders.input(id), data, form))
        return std::nullopt;
    const std::string reason = errno != 0 ? std::strerror(errno) : "the disk may be full";
    QDir(folders.submission(id)).removeRecursively();
    return "the upload could not be stored: " + reason;
}

std::optional<int> AstrometryApi::submitLocalFile(const QString& path) {
    QFile file(path);
    QCryptographicHash sha1(QCryptographicHash::Sha1);
    if (!file.open(QIODevice::ReadOnly) || !sha1.addData(&file)) return std::nullopt;
    const Submission submission{0, {}, {}, QDateTime::currentDateTimeUtc(), std::nullopt, std::nullopt, std::nullopt,
                                QFileInfo(path).fileName(), "{}", sha1.result().toHex(), {}, std::nullopt};
    const std::optional<int> id = store.addSubmission(submission);
    if (!id) return std::nullopt;
    QDir(folders.submission(*id)).removeRecursively();
    // A link where it can be (no second copy of a large frame), else a copy.
    const QByteArray input = QFile::encodeName(folders.input(*id));
    const bool kept = QDir().mkpath(folders.submission(*id)) &&
                      (::link(QFile::encodeName(path).constData(), input.constData()) == 0 ||
                       QFile::copy(path, folders.input(*id)));
    if (kept && queue->submit(*id)) return id;
    QDir(folders.submission(*id)).removeRecursively();
    store.removeSubmission(*id);
    return std::nullopt;
}

HttpResponse AstrometryApi::submissionStatus(const HttpRequest& request) {
    const std::optional<int> id = idOf(request);
    const auto found = id ? store.snapshot(*id) : std::nullopt;
    if (!found) return notFound("submission");
    const auto& [submission, job] = *found;
    if (!access.mayRead(request, sessionOf(request), submission)) return forbidden();
    nlohmann::json answer{{"user", 1}, {"processing_started", timeText(submission.started)},
                          {"processing_finished", timeText(submission.finished)},
                          {"user_images", {submission.id}}, {"images", {submission.id}},
                          {"jobs", nlohmann::json::array()}, {"job_calibrations", nlohmann::json::array()}};
    if (job) answer["jobs"].push_back(job->id);
    if (job && job->status == Job::Status::success) answer["job_calibrations"].push_back({job->id, job->id});
    if (!submission.error.isEmpty()) answer["error_message"] = submission.error.toStdString();
    return JsonAnswer::of(answer);
}

std::variant<HttpResponse, std::pair<Job, Submission>> AstrometryApi::visibleJob(const HttpRequest& request) {
    const std::optional<int> id = idOf(request);
    const std::optional<Job> job = id ? store.job(*id) : std::nullopt;
    const std::optional<Submission> submission = job ? store.submission(job->submission) : std::nullopt;
    if (!submission) return notFound("job");
    if (!access.mayRead(request, sessionOf(request), *submission)) return forbidden();
    return std::pair{*job, *submission};
}

HttpResponse AstrometryApi::jobStatus(const HttpRequest& request) {
    const auto found = visibleJob(request);
    if (const auto* answer = std::get_if<HttpResponse>(&found)) return *answer;
    return JsonAnswer::of({{"status", Job::text(std::get<1>(found).first.status)}});
}

nlohmann::json AstrometryApi::jobInfo(const Job& job, const Submission& submission) {
    nlohmann::json info{{"status", Job::text(job.status)}, {"tags", nlohmann::json::array()},
                        {"machine_tags", nlohmann::json::array()}, {"objects_in_field", nlohmann::json::array()},
                        {"original_filename", submission.originalFilename.toStdString()}};
    if (!job.calibration) return info;
    info["calibration"] = job.calibration->toJson();
    for (const QString suffix : {"corr", "match"}) localResult(job.id, suffix);
    if (const auto quality = SolutionQuality::read(folders.job(job.id) + "/job")) info["quality"] = quality->toJson();
    localResult(job.id, "wcs");
    const std::vector<std::string> names = objects.names(job.id);
    info["tags"] = info["machine_tags"] = info["objects_in_field"] = names;
    return info;
}

HttpResponse AstrometryApi::jobDetail(const HttpRequest& request) {
    const auto found = visibleJob(request);
    if (const auto* answer = std::get_if<HttpResponse>(&found)) return *answer;
    const auto& [job, submission] = std::get<1>(found);
    const std::string what = request.params.at("what");
    if (what == "cancel") {
        if (!access.mayChange(request, sessionOf(request), submission)) return forbidden();
        if (!queue->cancel(job.id)) return JsonAnswer::error("the cancel could not be stored in the job database");
        return JsonAnswer::of({{"status", "success"}});
    }
    if (what == "calibration") {
        if (!job.calibration) return JsonAnswer::error("job " + std::to_string(job.id) + " has no calibration");
        return JsonAnswer::of(job.calibration->toJson());
    }
    if (what == "info") return JsonAnswer::of(jobInfo(job, submission));
    if (job.calibration) localResult(job.id, "wcs");
    if (what == "annotations")
        return JsonAnswer::of({{"annotations", job.calibration ? objects.annotations(job.id) : nlohmann::json::array()}});
    if (what != "tags" && what != "machine_tags" && what != "objects_in_field") return notFound("route");
    const nlohmann::json names = job.calibration ? objects.names(job.id) : std::vector<std::string>();
    return JsonAnswer::of({{what == "objects_in_field" ? "objects_in_field" : "tags", names}});
}

HttpResponse AstrometryApi::myJobs(const HttpRequest& request) {
    const std::optional<ApiArguments> arguments = ApiArguments::from(request);
    if (!arguments) return JsonAnswer::error("no request-json field");
    const std::string session = arguments->text("session").value_or("");
    if (const auto problem = sessionProblem(*arguments, QString::fromStdString(session))) return JsonAnswer::error(*problem);
    return JsonAnswer::of({{"status", "success"}, {"jobs", store.jobsOfSession(QString::fromStdString(session))}});
}

HttpResponse AstrometryApi::resultFile(const HttpRequest& request, const QString& suffix) {
    const auto found = visibleJob(request);
    if (const auto* answer = std::get_if<HttpResponse>(&found)) return *answer;
    const std::string name = (suffix == "new" ? QString("new-image.fits") : suffix + ".fits").toStdString();
    return file(localResult(std::get<1>(found).first.id, suffix), "application/fits", name);
}

HttpResponse AstrometryApi::jobLog(const HttpRequest& request) {
    const auto found = visibleJob(request);
    if (const auto* answer = std::get_if<HttpResponse>(&found)) return *answer;
    const std::string path = QFile::encodeName(localResult(std::get<1>(found).first.id, "log")).toStdString();
    std::optional<HttpResponse> log = HttpResponse::file(path, {{"Content-Type", "text/plain; charset=utf-8"}});
    return log ? *log : HttpResponse::raw(200, "OK", HttpResponse::Headers{{"Content-Type", "text/plain; charset=utf-8"}}, "");
}

HttpResponse AstrometryApi::annotatedDisplay(const HttpRequest& request) {
    const auto found = visibleJob(request);
    if (const auto* answer = std::get_if<HttpResponse>(&found)) return *answer;
    const std::optional<Job> job = std::get<1>(found).first;
    if (!job->calibration) return JsonAnswer::error("job " + std::to_string(job->id) + " is not solved");
    const Calibration& c = *job->calibration;
    localResult(job->id, "wcs");
    const QString input = folders.input(job->submission);
    if (!QFileInfo::exists(input) && store.database().postgres() && QDir().mkpath(folders.submission(job->submission)))
        store.fetchFile("input/" + QString::number(job->submission), input);
    const std::optional<QByteArray> jpeg =
        objects.annotatedImage(job->id, folders.input(job->submission), int(std::lround(c.widthArcsec / c.pixscale)),
                               int(std::lround(c.heightArcsec / c.pixscale)));
    if (!jpeg) return JsonAnswer::error("the annotated image could not be made");
    return HttpResponse::raw(200, "OK", HttpResponse::Headers{{"Content-Type", "image/jpeg"}}, jpeg->toStdString());
}

}  // namespace siderama
