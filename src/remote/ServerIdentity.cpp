#include "remote/ServerIdentity.h"

#include "core/Constants.h"
#include "certificates/CertificateStore.h"
#include "certificates/OpenSsl.h"
#include "certificates/ServerNames.h"
#include "http/TlsContext.h"
#include "remote/ServerSettings.h"

#include <stdexcept>

namespace siderama {

QString ServerIdentity::directory() { return FOLDER() + "/tls"; }

ServerIdentity::ServerIdentity(const ServerSettings& settings, QStringList& log) {
    if (!settings.certificateFile.isEmpty() || !settings.privateKeyFile.isEmpty()) {
        if (settings.certificateFile.isEmpty() || settings.privateKeyFile.isEmpty())
            throw std::runtime_error("the user defaults tls-certificate and tls-key go together");
        handshake_ = http::TlsContext(settings.certificateFile.toStdString(), settings.privateKeyFile.toStdString())
                         .handshake();
        return;
    }
    const CertificateStore store(directory().toStdString());
    for (const std::string& line : store.prepare(ServerNames::ofThisMachine())) log << QString::fromStdString(line);
    handshake_ = http::TlsContext(store.certificateFile(), store.keyFile()).handshake();
    const openssl::Certificate authority = openssl::readCertificate(store.authorityFile());
    authority_ = openssl::pem(authority.get());
    log << QString::fromStdString("Clients trust " + store.authorityFile().string() + " (SHA-256 " +
                                  openssl::fingerprint(authority.get()) + "), also at /ca.crt");
}

}  // namespace siderama
