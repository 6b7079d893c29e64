#include "certificates/OpenSsl.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include <cstdio>
#include <stdexcept>

namespace siderama::openssl {

void fail(const std::string& what) {
    char reason[256] = "unknown reason";
    if (const unsigned long error = ERR_get_error()) ERR_error_string_n(error, reason, sizeof reason);
    ERR_clear_error();
    throw std::runtime_error(what + " (" + reason + ")");
}

namespace {

std::string text(BIO* memory) {
    char* data = nullptr;
    const long size = BIO_get_mem_data(memory, &data);
    return std::string(data, static_cast<std::size_t>(size));
}

// Opens `file` for PEM_read_*; none when it does not exist.
std::unique_ptr<FILE, int (*)(FILE*)> open(const std::filesystem::path& file) {
    std::unique_ptr<FILE, int (*)(FILE*)> stream(std::fopen(file.c_str(), "rb"), std::fclose);
    if (!stream && std::filesystem::exists(file)) throw std::runtime_error("Cannot open " + file.string());
    return stream;
}

}  // namespace

std::string pem(X509* certificate) {
    Bio memory(BIO_new(BIO_s_mem()));
    if (!memory || PEM_write_bio_X509(memory.get(), certificate) != 1) fail("Cannot write a certificate");
    return text(memory.get());
}

std::string pem(EVP_PKEY* key) {
    Bio memory(BIO_new(BIO_s_mem()));
    if (!memory || PEM_write_bio_PrivateKey(memory.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
        fail("Cannot write a private key");
    return text(memory.get());
}

Certificate readCertificate(const std::filesystem::path& file) {
    const auto stream = open(file);
    if (!stream) return nullptr;
    Certificate certificate(PEM_read_X509(stream.get(), nullptr, nullptr, nullptr));
    if (!certificate) fail("Cannot read the certificate " + file.string());
    return certificate;
}

Key readKey(const std::filesystem::path& file) {
    const auto stream = open(file);
    if (!stream) return nullptr;
    Key key(PEM_read_PrivateKey(stream.get(), nullptr, nullptr, nullptr));
    if (!key) fail("Cannot read the private key " + file.string());
    return key;
}

std::string fingerprint(X509* certificate) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest, &length) != 1) fail("Cannot take a fingerprint");
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        char pair[4];
        std::snprintf(pair, sizeof pair, i + 1 < length ? "%02X:" : "%02X", digest[i]);
        text += pair;
    }
    return text;
}

int daysLeft(X509* certificate) {
    int days = 0, seconds = 0;
    if (ASN1_TIME_diff(&days, &seconds, nullptr, X509_get0_notAfter(certificate)) != 1) return -1;
    return seconds < 0 ? days - 1 : days;
}

}  // namespace siderama::openssl
