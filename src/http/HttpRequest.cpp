#include "http/HttpRequest.h"

#include "http/BodyFile.h"
#include "http/FormReader.h"
#include "http/HeaderParameters.h"

namespace http {

namespace {

// The parameters of a content-disposition header (none without the header).
HeaderParameters disposition(const auto& headers) {
    const auto found = headers.find("content-disposition");
    return HeaderParameters::parse(found == headers.end() ? std::string_view() : std::string_view(found->second));
}

}  // namespace

HttpRequest::Pairs HttpRequest::parseUrlencodedForm() const { return FormReader::urlencoded(headers, body); }

std::vector<HttpRequest::MultiPart> HttpRequest::parseMultiPartFormData() const {
    if (!bodyFile) return FormReader::multipart(headers, body);
    return FormReader::multipart(headers, bodyFile->view(), [this](std::string_view seen) { bodyFile->release(seen); });
}

std::optional<std::string> HttpRequest::dispositionFileName() const { return disposition(headers).fileName(); }

std::optional<std::string> HttpRequest::MultiPart::fileName() const { return disposition(headers).fileName(); }

std::optional<std::string> HttpRequest::MultiPart::dispositionParameter(std::string_view parameter) const {
    return disposition(headers).parameter(parameter);
}

}  // namespace http
