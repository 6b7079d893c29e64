#pragma once

#include <map>
#include <string>

// A one-request HTTP/1.1 client over a loopback TCP socket ("Connection:
// close", the answer read to the end).
struct LoopbackAnswer {
    int statusCode = 0;
    std::map<std::string, std::string> headers;  // lower-cased names
    std::string body;
};

LoopbackAnswer exchange(int port, const std::string& method, const std::string& target,
                        const std::map<std::string, std::string>& headers = {}, const std::string& body = {});

// A multipart/form-data body: one part per (field name, content).
std::string multipartBody(const std::string& boundary,
                          const std::initializer_list<std::pair<std::string, std::string>>& parts);
