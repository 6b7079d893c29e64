#pragma once

#include <cstddef>
#include <string>

namespace bench {

// Opens a TCP connection to 127.0.0.1 from the loopback address `source`
// (network byte order; 0: the system's choice); -1 on failure.
int connectLoopback(int port, unsigned source = 0);

// One GET of `path` on a new connection; true when answered 200 within
// the time-out.
bool getOnce(int port, const std::string& path, int timeoutSeconds);

// Sends `head` and then a body of `size` bytes (from a reused buffer) to
// 127.0.0.1:`port`, and returns the seconds until the whole answer arrived,
// or a negative number on failure or an answer other than 200.
double upload(int port, const std::string& head, std::size_t size);

}  // namespace bench
