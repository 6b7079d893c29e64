#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <filesystem>
#include <memory>
#include <string>

namespace siderama::openssl {

// Owning handles of OpenSSL objects.
template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* object) const { Free(object); }
};
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Certificate = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using Bio = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

// Throws std::runtime_error: `what`, then OpenSSL's reason for the last failure.
[[noreturn]] void fail(const std::string& what);

// PEM text of a certificate or of an unencrypted private key.
std::string pem(X509* certificate);
std::string pem(EVP_PKEY* key);

// Reads a PEM file; none when it is missing. Throws std::runtime_error when
// it exists but cannot be read.
Certificate readCertificate(const std::filesystem::path& file);
Key readKey(const std::filesystem::path& file);

// SHA-256 fingerprint as colon-separated hexadecimal pairs ("AB:CD:...").
std::string fingerprint(X509* certificate);

// Whole days from now until the certificate expires (negative: expired).
int daysLeft(X509* certificate);

}  // namespace siderama::openssl
