#include "certificates/CertificateAuthority.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>

#include "certificates/ServerNames.h"

namespace siderama {

namespace {

using openssl::fail;

// A certificate with a random serial, `key`'s public half, subject `CN=name`
// and validity from an hour ago (clocks differ) for `days`.
openssl::Certificate blank(EVP_PKEY* key, const std::string& commonName, int days) {
    openssl::Certificate made(X509_new());
    BIGNUM* serial = BN_new();
    const bool ok = made && serial && X509_set_version(made.get(), X509_VERSION_3) &&
                    BN_rand(serial, 127, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) &&
                    BN_to_ASN1_INTEGER(serial, X509_get_serialNumber(made.get())) &&
                    X509_gmtime_adj(X509_getm_notBefore(made.get()), -3600) &&
                    X509_gmtime_adj(X509_getm_notAfter(made.get()), 86400L * days) &&
                    X509_set_pubkey(made.get(), key) &&
                    X509_NAME_add_entry_by_txt(X509_get_subject_name(made.get()), "CN", MBSTRING_UTF8,
                                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1,
                                               -1, 0);
    BN_free(serial);
    if (!ok) fail("Cannot make a certificate for " + commonName);
    return made;
}

// Adds extensions given in openssl's configuration syntax.
void extend(X509* subject, X509* issuer, std::initializer_list<std::pair<int, std::string>> extensions) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, subject, nullptr, nullptr, 0);
    for (const auto& [nid, value] : extensions) {
        X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
        const bool added = extension && X509_add_ext(subject, extension, -1);
        X509_EXTENSION_free(extension);
        if (!added) fail("Cannot add the certificate extension " + value);
    }
}

void sign(X509* certificate, EVP_PKEY* key) {
    if (X509_sign(certificate, key, EVP_sha256()) <= 0) fail("Cannot sign a certificate");
}

openssl::Key newKey() {
    openssl::Key key(EVP_EC_gen("P-256"));
    if (!key) fail("Cannot make a key");
    return key;
}

std::string alternativeNames(const ServerNames& names) {
    std::string list;
    for (const std::string& host : names.hosts) list += (list.empty() ? "DNS:" : ",DNS:") + host;
    for (const std::string& address : names.addresses) list += (list.empty() ? "IP:" : ",IP:") + address;
    return list;
}

}  // namespace

CertificateAuthority CertificateAuthority::create(const std::string& commonName, int days) {
    openssl::Key key = newKey();
    openssl::Certificate certificate = blank(key.get(), commonName, days);
    X509_set_issuer_name(certificate.get(), X509_get_subject_name(certificate.get()));
    extend(certificate.get(), certificate.get(),
           {{NID_basic_constraints, "critical,CA:TRUE,pathlen:0"},
            {NID_key_usage, "critical,keyCertSign,cRLSign"},
            {NID_subject_key_identifier, "hash"}});
    sign(certificate.get(), key.get());
    return CertificateAuthority(std::move(key), std::move(certificate));
}

CertificateAuthority::CertificateAuthority(openssl::Key key, openssl::Certificate certificate)
    : key_(std::move(key)), certificate_(std::move(certificate)) {}

CertificateAuthority::Issued CertificateAuthority::issue(const ServerNames& names, int days) const {
    openssl::Key key = newKey();
    const std::string commonName = names.hosts.empty() ? "localhost" : names.hosts.front();
    openssl::Certificate certificate = blank(key.get(), commonName, days);
    X509_set_issuer_name(certificate.get(), X509_get_subject_name(certificate_.get()));
    extend(certificate.get(), certificate_.get(),
           {{NID_basic_constraints, "critical,CA:FALSE"},
            {NID_key_usage, "critical,digitalSignature"},
            {NID_ext_key_usage, "serverAuth"},
            {NID_subject_key_identifier, "hash"},
            {NID_authority_key_identifier, "keyid:always"},
            {NID_subject_alt_name, alternativeNames(names)}});
    sign(certificate.get(), key_.get());
    return {std::move(key), std::move(certificate)};
}

bool CertificateAuthority::hasSigned(X509* certificate) const {
    const bool verified = X509_verify(certificate, key_.get()) == 1;
    ERR_clear_error();
    return verified;
}

}  // namespace siderama
