#include "remote/web/WebSession.h"

#include "remote/api/JobAccess.h"
#include "remote/api/JobStore.h"

#include <QCryptographicHash>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>

namespace siderama {

namespace {

// The value of cookie `name` in the request's Cookie header.
QString cookieValue(const http::HttpRequest& request, const QString& name) {
    const auto header = request.headers.find("cookie");
    if (header == request.headers.end()) return {};
    for (const QString& pair : QString::fromStdString(header->second).split(';')) {
        const qsizetype equals = pair.indexOf('=');
        if (equals > 0 && pair.left(equals).trimmed() == name) return pair.mid(equals + 1).trimmed();
    }
    return {};
}

}  // namespace

WebSession::WebSession(ApiKeys& keys, const JobAccess& access)
    : keys(keys), access(access), secret(32, Qt::Uninitialized) {
    QRandomGenerator::system()->generate(secret.begin(), secret.end());
}

QString WebSession::cookieSession(const http::HttpRequest& request) { return cookieValue(request, cookieName); }

WebSession::Viewer WebSession::viewer(const http::HttpRequest& request) const {
    Viewer viewer{cookieSession(request), std::nullopt};
    if (!viewer.session.isEmpty()) viewer.account = keys.sessionAccount(viewer.session);
    if (!viewer.account) viewer.session.clear();
    return viewer;
}

bool WebSession::seesEverything(const Viewer& viewer) const {
    return !keysRequired() || (viewer.account && viewer.account->isOperator);
}

QString WebSession::token(const Viewer& viewer) const {
    return QString::fromLatin1(
        QMessageAuthenticationCode::hash(viewer.session.toUtf8(), secret, QCryptographicHash::Sha256).toHex().left(40));
}

bool WebSession::tokenMatches(const Viewer& viewer, const std::string& sent) const {
    const QByteArray expected = token(viewer).toLatin1();
    if (sent.size() != std::size_t(expected.size())) return false;
    int difference = 0;
    for (qsizetype i = 0; i < expected.size(); ++i) difference |= expected[i] ^ sent[std::size_t(i)];
    return difference == 0;
}

std::string WebSession::cookie(const QString& session, bool secure) {
    return std::string(cookieName) + "=" + session.toStdString() + "; Path=/; HttpOnly; SameSite=Strict" +
           (secure ? "; Secure" : "");
}

std::string WebSession::endedCookie(bool secure) {
    return std::string(cookieName) + "=; Path=/; Max-Age=0; HttpOnly; SameSite=Strict" + (secure ? "; Secure" : "");
}

QString WebSession::owner(const Submission& submission) const {
    const std::optional<ApiKeys::Account> account = keys.sessionAccount(submission.session);
    return account ? account->name : QString();
}

bool WebSession::maySee(const http::HttpRequest& request, const Viewer& viewer, const Submission& submission) const {
    return access.mayRead(request, viewer.session, submission);
}

}  // namespace siderama
