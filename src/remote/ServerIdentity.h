#pragma once

#include "http/SecureStream.h"

#include <QString>
#include <QStringList>
#include <string>

namespace siderama {

struct ServerSettings;

// The certificate the HTTPS server presents: the user's own pair
// (tls-certificate and tls-key) or one issued by the local certificate
// authority in FOLDER/tls for this machine's names, renewed as needed.
class ServerIdentity {
public:
    // Makes the files ready and loads them; what was created goes to `log`.
    // Throws std::runtime_error with a message for the user.
    ServerIdentity(const ServerSettings& settings, QStringList& log);

    http::SecureHandshake handshake() const { return handshake_; }
    // The certificate (PEM) of the authority clients must trust; empty
    // with the user's own pair.
    const std::string& authority() const { return authority_; }

    // FOLDER/tls
    static QString directory();

private:
    http::SecureHandshake handshake_;
    std::string authority_;
};

}  // namespace siderama
