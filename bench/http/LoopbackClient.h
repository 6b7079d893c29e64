#pragma once

#include <cstddef>
#include <string>

namespace bench {

// Opens a loopback TCP connection; -1 on failure.
int connectLoopback(int port);

// Sends `head` and then a body of `size` bytes (from a reused buffer) to
// 127.0.0.1:`port`, and returns the seconds until the whole answer arrived,
// or a negative number on failure or an answer other than 200.
double upload(int port, const std::string& head, std::size_t size);

}  // namespace bench
