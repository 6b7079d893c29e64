#include "http/TlsContext.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <stdexcept>

#include "http/TlsStream.h"

namespace http {

namespace {

[[noreturn]] void fail(const std::string& what) {
    char reason[256] = "unknown reason";
    if (const unsigned long error = ERR_get_error()) ERR_error_string_n(error, reason, sizeof reason);
    ERR_clear_error();
    throw std::runtime_error(what + ": " + reason);
}

}  // namespace

TlsContext::TlsContext(const std::string& certificateChainFile, const std::string& privateKeyFile) {
    ERR_clear_error();
    context_.reset(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
    SSL_CTX* context = context_.get();
    if (!context) fail("Cannot create a TLS context");
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_options(context, SSL_OP_NO_RENEGOTIATION);
    // Idle keep-alive connections keep no record buffers.
    SSL_CTX_set_mode(context, SSL_MODE_RELEASE_BUFFERS);
    if (SSL_CTX_use_certificate_chain_file(context, certificateChainFile.c_str()) != 1)
        fail("Cannot read the certificate " + certificateChainFile);
    if (SSL_CTX_use_PrivateKey_file(context, privateKeyFile.c_str(), SSL_FILETYPE_PEM) != 1)
        fail("Cannot read the private key " + privateKeyFile);
    if (SSL_CTX_check_private_key(context) != 1) fail(privateKeyFile + " is not the key of " + certificateChainFile);
}

SecureHandshake TlsContext::handshake() const {
    return [context = context_](Socket& socket) -> std::unique_ptr<SecureStream> {
        return TlsStream::accept(context.get(), socket);
    };
}

}  // namespace http
