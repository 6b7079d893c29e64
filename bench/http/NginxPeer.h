#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>

namespace bench {

// Debian's nginx serving one static file on a loopback port, run in the
// foreground as a child process with its own temporary prefix; over TLS
// (1.2 and 1.3) when given a certificate and key.
class NginxPeer {
public:
    static constexpr const char* executable = "/usr/sbin/nginx";
    static bool available();

    struct Tls {
        std::string certificateFile;
        std::string keyFile;
    };

    // Serves `content` at "/" + `fileName`. Throws std::runtime_error.
    NginxPeer(const std::string& fileName, const std::string& content, std::optional<Tls> tls = std::nullopt);
    ~NginxPeer();
    NginxPeer(const NginxPeer&) = delete;
    NginxPeer& operator=(const NginxPeer&) = delete;

    int port() const { return port_; }

private:
    void writeConfig(const std::string& fileName, const std::string& content, const std::optional<Tls>& tls) const;
    bool waitUntilListening() const;

    std::filesystem::path prefix_;
    int port_ = 0;
    pid_t child_ = -1;
};

// A port that was free a moment ago.
int freeLoopbackPort();

}  // namespace bench
