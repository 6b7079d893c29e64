#include "certificates/CertificateStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "certificates/CertificateAuthority.h"
#include "certificates/ServerNames.h"

namespace siderama {

namespace {

namespace fs = std::filesystem;

// Writes `text` to a new file of `mode` beside `file`, then renames it onto `file`.
void writeFile(const fs::path& file, const std::string& text, mode_t mode) {
    const fs::path temporary = file.string() + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    bool written = fd >= 0 && fchmod(fd, mode) == 0 && ::write(fd, text.data(), text.size()) == ssize_t(text.size());
    if (fd >= 0) written = ::close(fd) == 0 && written;
    if (!written || ::rename(temporary.c_str(), file.c_str()) != 0) {
        ::unlink(temporary.c_str());
        throw std::runtime_error("Cannot write " + file.string());
    }
}

bool names(X509* certificate, const ServerNames& wanted) {
    bool all = true;
    for (const std::string& host : wanted.hosts)
        all = all && X509_check_host(certificate, host.c_str(), host.size(), 0, nullptr) == 1;
    for (const std::string& address : wanted.addresses)
        all = all && X509_check_ip_asc(certificate, address.c_str(), 0) == 1;
    ERR_clear_error();
    return all;
}

// Takes group and other access away from `path` when it has any (`mode`
// the owner's part to keep); a line for the log when it had.
std::optional<std::string> restrict(const fs::path& path, mode_t mode) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || (info.st_mode & 077) == 0) return std::nullopt;
    if (::chmod(path.c_str(), mode) == 0) return path.string() + " was open to other users: now to its owner only";
    return path.string() + " is open to other users and cannot be restricted: " + std::strerror(errno);
}

std::string expiry(X509* certificate) {
    return "valid for " + std::to_string(openssl::daysLeft(certificate)) + " days";
}

}  // namespace

CertificateStore::CertificateStore(fs::path directory) : directory_(std::move(directory)) {}

std::vector<std::string> CertificateStore::prepare(const ServerNames& wanted, int days) const {
    std::vector<std::string> done;
    fs::create_directories(directory_.parent_path());
    ::mkdir(directory_.c_str(), 0700);  // an existing one is checked below
    for (const auto& [path, mode] : {std::pair{directory_, mode_t(0700)}, {authorityKeyFile(), 0600}, {keyFile(), 0600}})
        if (const auto line = restrict(path, mode)) done.push_back(*line);

    openssl::Certificate authorityCertificate = openssl::readCertificate(authorityFile());
    openssl::Key authorityKey = openssl::readKey(authorityKeyFile());
    if (authorityCertificate && !authorityKey) throw std::runtime_error(authorityKeyFile().string() + " is missing");
    if (!authorityCertificate || openssl::daysLeft(authorityCertificate.get()) < renewalDays) {
        const std::string host = wanted.hosts.empty() ? "localhost" : wanted.hosts.front();
        CertificateAuthority made = CertificateAuthority::create("Siderama local CA on " + host, authorityDays);
        writeFile(authorityKeyFile(), openssl::pem(made.key()), 0600);
        writeFile(authorityFile(), openssl::pem(made.certificate()), 0644);
        done.push_back("New certificate authority " + authorityFile().string() + ": clients must trust it");
        authorityCertificate = openssl::readCertificate(authorityFile());
        authorityKey = openssl::readKey(authorityKeyFile());
    }
    const CertificateAuthority authority(std::move(authorityKey), std::move(authorityCertificate));

    const openssl::Certificate present = openssl::readCertificate(certificateFile());
    const openssl::Key presentKey = present ? openssl::readKey(keyFile()) : nullptr;
    if (present && presentKey && X509_check_private_key(present.get(), presentKey.get()) == 1 &&
        authority.hasSigned(present.get()) && openssl::daysLeft(present.get()) >= renewalDays &&
        names(present.get(), wanted))
        return done;
    ERR_clear_error();
    const CertificateAuthority::Issued issued = authority.issue(wanted, days);
    writeFile(keyFile(), openssl::pem(issued.key.get()), 0600);
    writeFile(certificateFile(), openssl::pem(issued.certificate.get()), 0644);
    done.push_back("New server certificate " + certificateFile().string() + " for " + wanted.text() + ", " +
                   expiry(issued.certificate.get()));
    return done;
}

}  // namespace siderama
