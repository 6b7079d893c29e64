#pragma once

#include "http/HttpRequest.h"
#include "remote/api/ApiKeys.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <string>

namespace siderama {

class JobAccess;
struct Submission;

// Who a browser request comes from, and the token the forms of the pages
// shown to that person carry: a request that changes something must send
// it back, which a page of another site cannot read. The session travels in
// an HttpOnly, SameSite=Strict cookie (Secure over HTTPS).
class WebSession {
public:
    struct Viewer {
        QString session;                        // "" when none
        std::optional<ApiKeys::Account> account;  // the session's, when keys are required
    };
    static constexpr const char* cookieName = "siderama-session";

    WebSession(ApiKeys& keys, const JobAccess& access);

    // The session in the request's cookie; "" when none.
    static QString cookieSession(const http::HttpRequest& request);

    bool keysRequired() const { return keys.required(); }
    Viewer viewer(const http::HttpRequest& request) const;
    // Logged in, or no login needed.
    bool admitted(const Viewer& viewer) const { return viewer.account || !keysRequired(); }
    bool seesEverything(const Viewer& viewer) const;

    QString token(const Viewer& viewer) const;
    bool tokenMatches(const Viewer& viewer, const std::string& token) const;

    // Set-Cookie values that start and end a session.
    static std::string cookie(const QString& session, bool secure);
    static std::string endedCookie(bool secure);

    // Whether the job of `submission` is shown to the viewer (JobAccess).
    bool maySee(const http::HttpRequest& request, const Viewer& viewer, const Submission& submission) const;
    // The name of the account that made a submission; "" when unknown.
    QString owner(const Submission& submission) const;

private:
    ApiKeys& keys;
    const JobAccess& access;
    QByteArray secret;  // for the tokens, new at every start
};

}  // namespace siderama
