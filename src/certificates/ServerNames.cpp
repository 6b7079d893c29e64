#include "certificates/ServerNames.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

namespace siderama {

namespace {

void addOnce(std::vector<std::string>& list, const std::string& value) {
    if (!value.empty() && std::find(list.begin(), list.end(), value) == list.end()) list.push_back(value);
}

std::string numericAddress(const sockaddr* address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (address->sa_family == AF_INET) {
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
    } else if (address->sa_family == AF_INET6) {
        const in6_addr& v6 = reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr;
        if (!IN6_IS_ADDR_LINKLOCAL(&v6)) inet_ntop(AF_INET6, &v6, text, sizeof text);
    }
    return text;
}

}  // namespace

ServerNames ServerNames::ofThisMachine() {
    ServerNames names;
    char host[HOST_NAME_MAX + 1] = {};
    gethostname(host, sizeof host - 1);
    const std::string hostName = host;
    addOnce(names.hosts, hostName);
    addOnce(names.hosts, "localhost");
    if (!hostName.empty()) addOnce(names.hosts, hostName.substr(0, hostName.find('.')) + ".local");
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) == 0) {
        for (const ifaddrs* entry = interfaces; entry; entry = entry->ifa_next)
            if (entry->ifa_addr) addOnce(names.addresses, numericAddress(entry->ifa_addr));
        freeifaddrs(interfaces);
    }
    return names;
}

std::string ServerNames::text() const {
    std::string joined;
    for (const auto* list : {&hosts, &addresses})
        for (const std::string& name : *list) joined += (joined.empty() ? "" : ", ") + name;
    return joined;
}

}  // namespace siderama
