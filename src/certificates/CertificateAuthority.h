#pragma once

#include <string>

#include "certificates/OpenSsl.h"

namespace siderama {

struct ServerNames;

// A small certificate authority of one machine: an EC P-256 key and its
// self-signed certificate, which signs the certificates of the server.
class CertificateAuthority {
public:
    // A server key and the certificate the authority signed for it.
    struct Issued {
        openssl::Key key;
        openssl::Certificate certificate;
    };

    // A new authority named `commonName`, valid `days`.
    static CertificateAuthority create(const std::string& commonName, int days);
    CertificateAuthority(openssl::Key key, openssl::Certificate certificate);

    // A new key and a certificate for `names` (subject alternative names,
    // server authentication), valid `days`. Throws std::runtime_error.
    Issued issue(const ServerNames& names, int days) const;
    // Whether this authority signed `certificate`.
    bool hasSigned(X509* certificate) const;

    EVP_PKEY* key() const { return key_.get(); }
    X509* certificate() const { return certificate_.get(); }

private:
    openssl::Key key_;
    openssl::Certificate certificate_;
};

}  // namespace siderama
