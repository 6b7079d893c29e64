#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace siderama {

struct ServerNames;

// The server's TLS files in one directory (mode 0700):
//   ca.crt, ca.key          the local certificate authority that clients
//                           trust (ten years)
//   server.crt, server.key  the server's certificate, signed by it
// Private keys are readable by the user only (0600): a key or folder found
// open to others is restricted, and said so (a folder that cannot be changed,
// read-only say, is used as it is). Files are replaced by renaming, so a
// crash never leaves half a file.
class CertificateStore {
public:
    static constexpr int authorityDays = 3650;
    static constexpr int serverDays = 365;
    // A certificate with fewer days left is replaced at the next start.
    static constexpr int renewalDays = 30;

    explicit CertificateStore(std::filesystem::path directory);

    std::filesystem::path authorityFile() const { return directory_ / "ca.crt"; }
    std::filesystem::path certificateFile() const { return directory_ / "server.crt"; }
    std::filesystem::path keyFile() const { return directory_ / "server.key"; }

    // Creates the authority when there is none (or it is about to expire)
    // and issues a server certificate for `names` valid `days` unless the
    // present one names them all, was signed by the authority, belongs to
    // the key beside it and has renewalDays left. Returns what it did, one
    // line each for the log. Throws std::runtime_error; an authority that
    // exists but cannot be read is never replaced.
    std::vector<std::string> prepare(const ServerNames& names, int days = serverDays) const;

private:
    std::filesystem::path authorityKeyFile() const { return directory_ / "ca.key"; }

    std::filesystem::path directory_;
};

}  // namespace siderama
