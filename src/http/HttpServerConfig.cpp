#include "http/HttpServerConfig.h"

#include <iostream>

namespace http {

void HttpServerConfig::printLine(const std::string& line) { std::cout << line << std::endl; }

}  // namespace http
