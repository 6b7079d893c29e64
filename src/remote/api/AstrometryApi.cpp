#include "remote/api/AstrometryApi.h"

#include "http/BodyFile.h"
#include "http/HttpServer.h"
#include "remote/JsonAnswer.h"
#include "remote/UploadFiles.h"
#include "remote/api/ApiArguments.h"
#include "remote/api/StarList.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <climits>

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

HttpResponse file(const QString& path, const std::string& type, const std::string& downloadName) {
    QFile source(path);
    if (!source.open(QIODevice::ReadOnly)) return notFound("file");
    const QByteArray data = source.readAll();
    return HttpResponse::raw(200, "OK",
                             HttpResponse::Headers{{"Content-Type", type},
                                                   {"Content-Disposition", "attachment; filename=\"" + downloadName + "\""}},
                             data.toStdString());
}

// A decimal id of 1 to 2^31 - 1; none for anything else.
std::optional<int> idOf(const HttpRequest& request) {
    const auto found = request.params.find("id");
    if (found == request.params.end() || found->second.empty() || found->second.size() > 10) return std::nullopt;
    long long id = 0;
    for (const char c : found->second) {
        if (c < '0' || c > '9') return std::nullopt;
        id = id * 10 + (c - '0');
    }
    if (id < 1 || id > INT_MAX) return std::nullopt;
    return int(id);
}

nlohmann::json timeText(const std::optional<QDateTime>& time) {
    return time ? time->toString("yyyy-MM-dd hh:mm:ss.zzz000").toStdString() : "None";
}

const char* statusWord(Job::Status status) {
    switch (status) {
    case Job::Status::success: return "success";
    case Job::Status::failure: return "failure";
    case Job::Status::solving: break;
    }
    return "solving";
}

QString randomKey() {
    QByteArray bytes(16, Qt::Uninitialized);
    QRandomGenerator::system()->generate(bytes.begin(), bytes.end());
    return QString::fromLatin1(bytes.toHex());
}

QString prepared(const JobFolders& folders) {
    QDir().mkpath(folders.submission(0) + "/..");
    return folders.database();
}

}  // namespace

AstrometryApi::AstrometryApi(JobFolders folders, ApiSettings settings, JobQueue::Events events)
    : folders(folders), settings(settings), events(events), store(prepared(folders)), objects(folders),
      queue(std::make_unique<JobQueue>(store, folders, settings, events)) {}

void AstrometryApi::install(http::HttpServer& server) {
    server["/api/login"] = [this](const HttpRequest& r) { return login(r); };
    server["/api/url_upload"] = [this](const HttpRequest& r) { return urlUpload(r); };
    server["/api/submissions/:id"] = [this](const HttpRequest& r) { return submissionStatus(r); };
    server["/api/jobs/:id"] = [this](const HttpRequest& r) { return jobStatus(r); };
    server["/api/jobs/:id/:what"] = [this](const HttpRequest& r) { return jobDetail(r); };
    server["/api/myjobs"] = [this](const HttpRequest& r) { return myJobs(r); };
    for (const auto& [route, suffix] : {std::pair{"wcs_file", "wcs"}, {"new_fits_file", "new"}, {"corr_file", "corr"},
                                        {"rdls_file", "rdls"}, {"axy_file", "axy"}})
        server[std::string("/") + route + "/:id"] = [this, suffix](const HttpRequest& r) { return resultFile(r, suffix); };
    server["/joblog/:id"] = [this](const HttpRequest& r) { return jobLog(r); };
    server["/annotated_display/:id"] = [this](const HttpRequest& r) { return annotatedDisplay(r); };
}

std::optional<std::string> AstrometryApi::sessionProblem(const ApiArguments& arguments) const {
    if (!arguments.error().empty()) return arguments.error();
    if (settings.apiKey.isEmpty()) return std::nullopt;
    const auto session = arguments.text("session");
    if (!session || !store.hasSession(QString::fromStdString(*session))) return "no valid session: log in first";
    return std::nullopt;
}

HttpResponse AstrometryApi::login(const HttpRequest& request) {
    const std::optional<ApiArguments> arguments = ApiArguments::from(request);
    if (!arguments) return JsonAnswer::error("no request-json field");
    if (!arguments->error().empty()) return JsonAnswer::error(arguments->error());
    const QString key = QString::fromStdString(arguments->text("apikey").value_or(""));
    if (!settings.apiKey.isEmpty() && key != settings.apiKey) return JsonAnswer::error("bad apikey");
    const QString session = randomKey();
    store.addSession(session);
    return JsonAnswer::of({{"status", "success"}, {"message", "authenticated user: siderama"}, {"session", session.toStdString()}});
}

std::optional<HttpResponse> AstrometryApi::upload(const HttpRequest& request) {
    const std::optional<ApiArguments> arguments = ApiArguments::from(request);
    if (!arguments) return std::nullopt;
    return accept(*arguments, request.bodyFile.get());
}

HttpResponse AstrometryApi::urlUpload(const HttpRequest& request) {
    const std::optional<ApiArguments> arguments = ApiArguments::from(request);
    if (!arguments) return JsonAnswer::error("no request-json field");
    if (arguments->text("url"))
        return JsonAnswer::error("url_upload with a url is not supported: this server does not fetch from the network; "
                     "send the file to /api/upload");
    return accept(*arguments, request.bodyFile.get());
}

// An uploaded file is hashed and written a window at a time from the form.
HttpResponse AstrometryApi::accept(const ApiArguments& arguments, http::BodyFile* form) {
    if (const auto problem = sessionProblem(arguments)) return JsonAnswer::error(*problem);
    std::string starText, name;
    std::string_view data;
    if (const auto& upload = arguments.file()) {
        if (upload->data.empty()) return JsonAnswer::error("the uploaded file is empty");
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
    Submission submission{0, QString::fromStdString(arguments.text("session").value_or("")),
                          QDateTime::currentDateTimeUtc(), std::nullopt, std::nullopt, QString::fromStdString(name),
                          arguments.object().dump(), hash, {}, std::nullopt};
    const std::optional<int> id = store.addSubmission(submission);
    if (!id) return JsonAnswer::error("no submission id left");
    QDir().mkpath(folders.submission(*id));
    if (!UploadFiles::writeAtomically(folders.input(*id), data, form)) QFile::remove(folders.input(*id));
    events.log("API submission " + QString::number(*id) + " received: " +
                   (name.empty() ? QString("star list") : QString::fromStdString(name)) + " (" +
                   QString::number(data.size()) + " bytes)",
               YELLOW);
    queue->submit(*id);
    return JsonAnswer::of({{"status", "success"}, {"subid", *id}, {"hash", hash.toStdString()}});
}

std::optional<int> AstrometryApi::submitLocalFile(const QString& path) {
    QFile file(path);
    QCryptographicHash sha1(QCryptographicHash::Sha1);
    if (!file.open(QIODevice::ReadOnly) || !sha1.addData(&file)) return std::nullopt;
    const Submission submission{0, {}, QDateTime::currentDateTimeUtc(), std::nullopt, std::nullopt,
                                QFileInfo(path).fileName(), "{}", sha1.result().toHex(), {}, std::nullopt};
    const std::optional<int> id = store.addSubmission(submission);
    if (!id) return std::nullopt;
    QDir().mkpath(folders.submission(*id));
    // A link where it can be (no second copy of a large frame); a copy that
    // failed leaves no input, and the job then fails and says so.
    const QByteArray input = QFile::encodeName(folders.input(*id));
    if (::link(QFile::encodeName(path).constData(), input.constData()) != 0 && !QFile::copy(path, folders.input(*id)))
        QFile::remove(folders.input(*id));
    queue->submit(*id);
    return id;
}

HttpResponse AstrometryApi::submissionStatus(const HttpRequest& request) {
    const std::optional<int> id = idOf(request);
    const auto found = id ? store.snapshot(*id) : std::nullopt;
    if (!found) return notFound("submission");
    const auto& [submission, job] = *found;
    nlohmann::json answer{{"user", 1}, {"processing_started", timeText(submission.started)},
                          {"processing_finished", timeText(submission.finished)},
                          {"user_images", {submission.id}}, {"images", {submission.id}},
                          {"jobs", nlohmann::json::array()}, {"job_calibrations", nlohmann::json::array()}};
    if (job) answer["jobs"].push_back(job->id);
    if (job && job->status == Job::Status::success) answer["job_calibrations"].push_back({job->id, job->id});
    if (!submission.error.isEmpty()) answer["error_message"] = submission.error.toStdString();
    return JsonAnswer::of(answer);
}

std::optional<Job> AstrometryApi::findJob(const HttpRequest& request) const {
    const std::optional<int> id = idOf(request);
    return id ? store.job(*id) : std::nullopt;
}

HttpResponse AstrometryApi::jobStatus(const HttpRequest& request) {
    const std::optional<Job> job = findJob(request);
    if (!job) return notFound("job");
    return JsonAnswer::of({{"status", statusWord(job->status)}});
}

nlohmann::json AstrometryApi::jobInfo(const Job& job) {
    const std::optional<Submission> submission = store.submission(job.submission);
    nlohmann::json info{{"status", statusWord(job.status)}, {"tags", nlohmann::json::array()},
                        {"machine_tags", nlohmann::json::array()}, {"objects_in_field", nlohmann::json::array()},
                        {"original_filename", submission ? submission->originalFilename.toStdString() : ""}};
    if (!job.calibration) return info;
    info["calibration"] = job.calibration->toJson();
    const std::vector<std::string> names = objects.names(job.id);
    info["tags"] = info["machine_tags"] = info["objects_in_field"] = names;
    return info;
}

HttpResponse AstrometryApi::jobDetail(const HttpRequest& request) {
    const std::optional<Job> job = findJob(request);
    if (!job) return notFound("job");
    const std::string what = request.params.at("what");
    if (what == "cancel") {
        queue->cancel(job->id);
        return JsonAnswer::of({{"status", "success"}});
    }
    if (what == "calibration") {
        if (!job->calibration) return JsonAnswer::error("job " + std::to_string(job->id) + " has no calibration");
        return JsonAnswer::of(job->calibration->toJson());
    }
    if (what == "info") return JsonAnswer::of(jobInfo(*job));
    if (what == "annotations")
        return JsonAnswer::of({{"annotations", job->calibration ? objects.annotations(job->id) : nlohmann::json::array()}});
    if (what != "tags" && what != "machine_tags" && what != "objects_in_field") return notFound("route");
    const nlohmann::json names = job->calibration ? objects.names(job->id) : std::vector<std::string>();
    return JsonAnswer::of({{what == "objects_in_field" ? "objects_in_field" : "tags", names}});
}

HttpResponse AstrometryApi::myJobs(const HttpRequest& request) {
    const std::optional<ApiArguments> arguments = ApiArguments::from(request);
    const std::string session = arguments ? arguments->text("session").value_or("") : "";
    return JsonAnswer::of({{"status", "success"}, {"jobs", store.jobsOfSession(QString::fromStdString(session))}});
}

HttpResponse AstrometryApi::resultFile(const HttpRequest& request, const QString& suffix) {
    const std::optional<Job> job = findJob(request);
    if (!job) return notFound("job");
    const std::string name = (suffix == "new" ? QString("new-image.fits") : suffix + ".fits").toStdString();
    return file(folders.result(job->id, suffix), "application/fits", name);
}

HttpResponse AstrometryApi::jobLog(const HttpRequest& request) {
    const std::optional<Job> job = findJob(request);
    if (!job) return notFound("job");
    QFile log(folders.log(job->id));
    const std::string text = log.open(QIODevice::ReadOnly) ? log.readAll().toStdString() : "";
    return HttpResponse::raw(200, "OK", HttpResponse::Headers{{"Content-Type", "text/plain; charset=utf-8"}}, text);
}

HttpResponse AstrometryApi::annotatedDisplay(const HttpRequest& request) {
    const std::optional<Job> job = findJob(request);
    if (!job) return notFound("job");
    if (!job->calibration) return JsonAnswer::error("job " + std::to_string(job->id) + " is not solved");
    const Calibration& c = *job->calibration;
    const std::optional<QByteArray> jpeg =
        objects.annotatedImage(job->id, folders.input(job->submission), int(std::lround(c.widthArcsec / c.pixscale)),
                               int(std::lround(c.heightArcsec / c.pixscale)));
    if (!jpeg) return JsonAnswer::error("the annotated image could not be made");
    return HttpResponse::raw(200, "OK", HttpResponse::Headers{{"Content-Type", "image/jpeg"}}, jpeg->toStdString());
}

}  // namespace siderama
