#pragma once

#include <string>

namespace bench {

// What other clients get while one client (from 127.0.0.2) holds `count`
// connections open, sending their request heads at `bytesPerSecond` in
// total and reconnecting whenever the server drops one.
struct SlowClientsResult {
    double servedPerSecond = 0;  // GETs answered 200, one new connection each
    int refused = 0;             // GETs refused or not answered in time
};

SlowClientsResult underSlowClients(int port, const std::string& path, int count, double bytesPerSecond,
                                   double seconds);

}  // namespace bench
