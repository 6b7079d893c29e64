#include "NginxPeer.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "support/RawHttpClient.h"
#include "http/Socket.h"

extern char** environ;

namespace bench {

int freeLoopbackPort() { return http::Socket::tcpSocketForListen(0, 1, "127.0.0.1").port(); }

bool NginxPeer::available() { return access(executable, X_OK) == 0; }

NginxPeer::NginxPeer(const std::string& fileName, const std::string& content, std::optional<Tls> tls) {
    prefix_ = std::filesystem::temp_directory_path() / ("siderama-bench-nginx-" + std::to_string(getpid()));
    std::filesystem::create_directories(prefix_ / "www");
    std::filesystem::permissions(prefix_, std::filesystem::perms::all);  // workers run as nobody
    port_ = freeLoopbackPort();
    writeConfig(fileName, content, tls);
    const std::string config = (prefix_ / "nginx.conf").string();
    const std::string prefix = prefix_.string() + "/";
    const char* argv[] = {executable, "-p", prefix.c_str(), "-c", config.c_str(), nullptr};
    if (posix_spawn(&child_, executable, nullptr, nullptr, const_cast<char**>(argv), environ) != 0) child_ = -1;
    if (child_ < 0 || !waitUntilListening()) throw std::runtime_error("nginx did not start");
}

NginxPeer::~NginxPeer() {
    if (child_ > 0) {
        kill(child_, SIGTERM);
        waitpid(child_, nullptr, 0);
    }
    std::error_code ignored;
    std::filesystem::remove_all(prefix_, ignored);
}

void NginxPeer::writeConfig(const std::string& fileName, const std::string& content,
                            const std::optional<Tls>& tls) const {
    std::ofstream(prefix_ / "www" / fileName, std::ios::binary) << content;
    const std::string dir = prefix_.string();
    std::ofstream config(prefix_ / "nginx.conf");
    config << "daemon off;\nworker_processes auto;\npid " << dir << "/nginx.pid;\nerror_log " << dir << "/error.log;\n"
           << "events { worker_connections 4096; }\n"
           << "http {\n  access_log off;\n  keepalive_requests 100000000;\n  default_type application/json;\n"
           << "  client_body_temp_path " << dir << "/body;\n  proxy_temp_path " << dir << "/proxy;\n"
           << "  fastcgi_temp_path " << dir << "/fastcgi;\n  uwsgi_temp_path " << dir << "/uwsgi;\n"
           << "  scgi_temp_path " << dir << "/scgi;\n"
           << "  server { listen 127.0.0.1:" << port_ << (tls ? " ssl" : "") << "; root " << dir << "/www;\n";
    if (tls)
        config << "    ssl_certificate " << tls->certificateFile << ";\n    ssl_certificate_key " << tls->keyFile
               << ";\n    ssl_protocols TLSv1.2 TLSv1.3;\n";
    config << "  }\n}\n";
}

bool NginxPeer::waitUntilListening() const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        if (testsupport::RawHttpClient(port_).connected()) return true;
        if (waitpid(child_, nullptr, WNOHANG) == child_) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

}  // namespace bench
