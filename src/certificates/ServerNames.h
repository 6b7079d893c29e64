#pragma once

#include <string>
#include <vector>

namespace siderama {

// The names clients may use to reach this machine, as a server
// certificate's subject alternative names list them.
struct ServerNames {
    std::vector<std::string> hosts;      // DNS names
    std::vector<std::string> addresses;  // numeric IPv4 and IPv6 addresses

    // The host name, "localhost", the host's ".local" (multicast DNS) name
    // and the addresses of every interface, IPv6 link-local ones excepted
    // (they are useless without an interface name).
    static ServerNames ofThisMachine();

    // "host, localhost, ..., 127.0.0.1, ..."
    std::string text() const;
};

}  // namespace siderama
