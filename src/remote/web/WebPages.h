#pragma once

#include "http/HttpRequest.h"
#include "http/HttpResponse.h"
#include "http/HttpServerIO.h"
#include "remote/api/JobStore.h"
#include "remote/web/JobImages.h"
#include "remote/web/WebSession.h"

#include <QString>
#include <map>
#include <memory>
#include <utility>
#include <variant>

namespace http {
class BodyFile;
class HttpServer;
}

namespace siderama {

class AstrometryApi;

// The service's pages for people with a browser, beside the API they use:
//   GET  /upload               drop or pick images, hints, progress
//   POST /upload               one image and its hints (`request-json`), with the page's token
//   GET  /jobs/N               a job: status, pictures, calibration, quality, objects, files, log
//   GET  /queue                jobs waiting, running and finished; members; jobs per hour
//   GET  /login, POST /login, POST /logout   when API keys are required
//   GET  /red_green_image_display/N, /extraction_image_display/N, /sky_plot/zoomZ/N
//   GET  /web/jobs/N, /web/queue               what the pages' scripts poll
//   GET  /static/NAME          scripts and the style sheet
// Pages and scripts ship in the program (nothing is loaded from elsewhere);
// client texts reach pages only as text through the scripts, and a
// Content-Security-Policy allows scripts from this server's files alone.
class WebPages {
public:
    // Registers the routes; they keep the pages alive while the server runs.
    // `gate` admits uploads to the upload area (RemoteUploads).
    static void install(http::HttpServer& server, AstrometryApi& api, http::BodyGate gate);

    WebPages(AstrometryApi& api, http::BodyGate gate);

private:
    using Request = http::HttpRequest;
    using Response = http::HttpResponse;

    Response page(const QString& name, const Request& request, std::map<QString, QString> values = {}) const;
    Response uploadPage(const Request& request);
    Response jobPage(const Request& request);
    Response queuePage(const Request& request);
    Response loginPage(const Request& request);
    Response login(const Request& request);
    Response logout(const Request& request);
    Response asset(const Request& request);
    Response upload(const Request& request);
    Response jobSummary(const Request& request);
    Response queue(const Request& request);
    Response starsImage(const Request& request, JobImages::Stars kind);
    Response skyPlot(const Request& request);

    // Gate of POST /upload: a body file, or the refusal.
    std::variant<Response, std::shared_ptr<http::BodyFile>> admitUpload(const Request& request);
    // The job of the request's `id` and its submission, when this viewer
    // may see it; else the refusal.
    std::variant<Response, std::pair<int, Submission>> visibleJob(const Request& request) const;
    // The client's name in lists: its account, else its address.
    void localResults(int job);
    QString client(const Submission& submission) const;

    AstrometryApi& api;
    WebSession sessions;
    JobImages images;
    http::BodyGate gate;
};

}  // namespace siderama
