#pragma once

#include "remote/api/ApiKeys.h"
#include "remote/api/ApiSettings.h"
#include "remote/api/FolderLock.h"
#include "remote/api/JobAccess.h"
#include "remote/api/JobFolders.h"
#include "remote/api/JobQueue.h"
#include "remote/api/JobStore.h"
#include "remote/api/SkyObjects.h"

#include "http/HttpRequest.h"
#include "http/HttpResponse.h"

#include <memory>
#include <optional>
#include <variant>

namespace http {
class BodyFile;
class HttpServer;
}

namespace siderama {

class ApiArguments;

// The JSON API of the astrometry.net web service, as KStars, N.I.N.A.,
// astroquery and astrometry.net's client.py speak it: login, uploads of
// images and star lists, submission and job polling, calibrations, objects
// in the field, result files and the annotated image, plus a cancel route.
// Every answer is HTTP 200 with errors told in the JSON, except an unknown
// id (404) and a job the client may not see (403, see JobAccess), both with
// a JSON error. Result files are sent from disk.
class AstrometryApi {
public:
    // Locks and opens the job store in `folders`; throws std::runtime_error
    // when it cannot (another server holding the folder among the reasons).
    AstrometryApi(JobFolders folders, ApiSettings settings, JobQueue::Events events);

    // Registers the routes (every method; the router ignores repeated and
    // trailing slashes). POST /api/upload stays with its owner, who hands
    // requests carrying `request-json` to upload().
    void install(http::HttpServer& server);
    // An API upload when the request carries `request-json`; else none.
    // `session`, when given, stands for the one in `request-json`.
    std::optional<http::HttpResponse> upload(const http::HttpRequest& request,
                                             const std::optional<QString>& session = std::nullopt);
    // The queue's waiting and running jobs and the service's live members.
    nlohmann::json queueStatus() const;
    // A job's result file (suffix "log": its log) on this member's disk,
    // fetched from a shared database when another member made it.
    QString localResult(int job, const QString& suffix);
    // Bytes of the uploads kept for the retention time.
    qint64 keptBytes() const;

    // What the service's pages show.
    JobStore& jobStore() { return store; }
    const JobFolders& jobFolders() const { return folders; }
    const JobQueue& jobQueue() const { return *queue; }
    const JobAccess& jobAccess() const { return access; }
    ApiKeys& apiKeys() { return keys; }
    // API keys (ApiKeys) or the one `api-key` setting.
    bool keysRequired() const;

    // A file of this machine queued like an upload without hints (frames
    // of watched folders); its submission id, or none when it cannot be.
    std::optional<int> submitLocalFile(const QString& path);
    // A submission and its job; none for an unknown id.
    std::optional<std::pair<Submission, std::optional<Job>>> submissionState(int id) const {
        return store.snapshot(id);
    }

private:
    http::HttpResponse login(const http::HttpRequest& request);
    http::HttpResponse urlUpload(const http::HttpRequest& request);
    // `form` holds the request's body when it was streamed to a file.
    http::HttpResponse accept(const http::HttpRequest& request, const ApiArguments& arguments,
                              const std::optional<QString>& session = std::nullopt);
    // Keeps the upload's data as submission `id`'s input; an error when it cannot.
    std::optional<std::string> keepInput(int id, std::string_view data, http::BodyFile* form);
    http::HttpResponse submissionStatus(const http::HttpRequest& request);
    http::HttpResponse jobStatus(const http::HttpRequest& request);
    http::HttpResponse jobDetail(const http::HttpRequest& request);
    http::HttpResponse myJobs(const http::HttpRequest& request);
    http::HttpResponse resultFile(const http::HttpRequest& request, const QString& suffix);
    http::HttpResponse jobLog(const http::HttpRequest& request);
    http::HttpResponse annotatedDisplay(const http::HttpRequest& request);

    std::optional<std::string> sessionProblem(const ApiArguments& arguments, const QString& session);
    bool isLiveSession(const QString& session);
    QString sessionOf(const http::HttpRequest& request) const;
    // The request's job and its submission when the client may see them, else the answer.
    std::variant<http::HttpResponse, std::pair<Job, Submission>> visibleJob(const http::HttpRequest& request);
    nlohmann::json jobInfo(const Job& job, const Submission& submission);

    JobFolders folders;
    ApiSettings settings;
    ApiKeys keys;
    JobQueue::Events events;
    FolderLock folderLock;  // before the store: no other server may open it
    JobStore store;
    JobAccess access;
    SkyObjects objects;
    std::unique_ptr<JobQueue> queue;  // last: its threads use the store
};

}  // namespace siderama
