#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

namespace siderama {

// What one member of the solving service does, from the command line:
// --database URL (over the user default job-database), --solves N (over
// api-concurrent-solves; 0: serve only) and --no-listen (a pure worker).
struct ServiceRoles {
    std::optional<QString> database;
    std::optional<int> solves;
    bool listen = true;
};

// Where the remote solving service listens and with which certificate,
// from the command line (--port, --tls-port) and the user defaults
// http-port, https-port, tls-certificate and tls-key.
struct ServerSettings {
    static constexpr const char* httpPortKey = "http-port";
    static constexpr const char* httpsPortKey = "https-port";
    static constexpr const char* certificateKey = "tls-certificate";
    static constexpr const char* privateKeyKey = "tls-key";

    std::uint16_t httpPort = 0;               // 0: chosen by the system
    std::optional<std::uint16_t> httpsPort;   // none: no TLS listener; 0: chosen by the system
    QString certificateFile;                  // the user's own pair; empty: generated ones
    QString privateKeyFile;

    // Command-line ports win over the user defaults. A default that is no
    // port number is ignored and told in `problems`.
    static ServerSettings read(std::optional<std::uint16_t> port, std::optional<std::uint16_t> tlsPort,
                               QStringList& problems);

    // A port number 0..65535 from text; none otherwise.
    static std::optional<std::uint16_t> parsePort(const QString& text);
};

}  // namespace siderama
