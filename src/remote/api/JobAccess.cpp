#include "remote/api/JobAccess.h"

#include "remote/api/JobStore.h"

#include <QUrl>

namespace siderama {

namespace {

std::string header(const http::HttpRequest& request, const char* name) {
    const auto found = request.headers.find(name);
    return found == request.headers.end() ? std::string() : found->second;
}

}  // namespace

JobAccess::JobAccess(bool keyRequired, std::function<bool(const QString&)> isLive,
                     std::function<bool(const QString&)> isOperator)
    : JobAccess([keyRequired] { return keyRequired; }, std::move(isLive), std::move(isOperator)) {}

JobAccess::JobAccess(std::function<bool()> keyRequired, std::function<bool(const QString&)> isLive,
                     std::function<bool(const QString&)> isOperator)
    : keyRequired(std::move(keyRequired)), isLive(std::move(isLive)), isOperator(std::move(isOperator)) {}

bool JobAccess::actsFor(const QString& session, const Submission& job) const {
    if (session.isEmpty() || !isLive(session)) return false;
    return session == job.session || (isOperator && isOperator(session));
}

bool JobAccess::mayRead(const http::HttpRequest& request, const QString& session, const Submission& job) const {
    if (!keyRequired()) return true;
    const bool sameAddress = request.address && !request.address->empty() &&
                             QString::fromStdString(*request.address) == job.address;
    return sameAddress || actsFor(session, job);
}

bool JobAccess::mayChange(const http::HttpRequest& request, const QString& session, const Submission& job) const {
    if (isCrossSite(request)) return false;
    return !keyRequired() || actsFor(session, job);
}

// "Origin: null" (a sandboxed page, a redirect) counts as another site.
bool JobAccess::isCrossSite(const http::HttpRequest& request) {
    if (header(request, "sec-fetch-site") == "cross-site") return true;
    const std::string origin = header(request, "origin");
    if (origin.empty()) return false;
    const QUrl url(QString::fromStdString(origin));
    if (!url.isValid() || url.host().isEmpty()) return true;
    const QString authority = url.port() < 0 ? url.host() : url.host() + ":" + QString::number(url.port());
    return authority.compare(QString::fromStdString(header(request, "host")), Qt::CaseInsensitive) != 0;
}

}  // namespace siderama
