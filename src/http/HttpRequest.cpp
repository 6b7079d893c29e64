#include "http/HttpRequest.h"

#include "http/FormReader.h"

namespace http {

HttpRequest::Pairs HttpRequest::parseUrlencodedForm() const { return FormReader::urlencoded(headers, body); }

std::vector<HttpRequest::MultiPart> HttpRequest::parseMultiPartFormData() const {
    return FormReader::multipart(headers, body);
}

}  // namespace http
