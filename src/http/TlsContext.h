#pragma once

#include <memory>
#include <string>

#include "http/SecureStream.h"

typedef struct ssl_ctx_st SSL_CTX;

namespace http {

// Server settings for TLS (OpenSSL): one certificate chain and its key,
// TLS 1.2 and 1.3 only, the library's default ciphers, no renegotiation.
//
//   server.listen(8443, http::TlsContext(certificate, key).handshake());
class TlsContext {
public:
    // Loads PEM files: the server certificate followed by any intermediate
    // ones, and the private key. Throws std::runtime_error naming the file
    // and OpenSSL's reason.
    TlsContext(const std::string& certificateChainFile, const std::string& privateKeyFile);

    // The handshake for HttpServerIO::listen; it keeps these settings alive.
    SecureHandshake handshake() const;

private:
    std::shared_ptr<SSL_CTX> context_;
};

}  // namespace http
