#pragma once

#include "http/HttpRequest.h"

#include <QString>
#include <functional>

namespace siderama {

struct Submission;

// Who may see and change an API job. Without a required API key every
// client may; with one, a job's status, calibration and files answer the
// address that uploaded it, or a request carrying its owner's session (or
// an operator's), and a cancel needs that session. A browser's request
// that changes state must come from this server's own pages: its Origin,
// when present, names the Host it was sent to.
class JobAccess {
public:
    // `isLive` tells whether a session is known and unexpired; `isOperator`
    // whether it may act on every job (none: no session may).
    JobAccess(bool keyRequired, std::function<bool(const QString&)> isLive,
              std::function<bool(const QString&)> isOperator = {});
    // `keyRequired` asked at every decision: keys may come and go while the server runs.
    JobAccess(std::function<bool()> keyRequired, std::function<bool(const QString&)> isLive,
              std::function<bool(const QString&)> isOperator = {});

    bool mayRead(const http::HttpRequest& request, const QString& session, const Submission& job) const;
    bool mayChange(const http::HttpRequest& request, const QString& session, const Submission& job) const;
    // A browser sent it from a page of another site.
    static bool isCrossSite(const http::HttpRequest& request);

private:
    bool actsFor(const QString& session, const Submission& job) const;

    std::function<bool()> keyRequired;
    std::function<bool(const QString&)> isLive;
    std::function<bool(const QString&)> isOperator;
};

}  // namespace siderama
