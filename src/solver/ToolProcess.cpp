#include "solver/ToolProcess.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace siderama {

namespace {

constexpr auto terminateGrace = std::chrono::seconds(3);

// The child gets default signal handling and an empty signal mask, whatever
// the application itself blocks or ignores.
void prepareAttributes(posix_spawnattr_t& attributes) {
    posix_spawnattr_init(&attributes);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
}

}  // namespace

ToolProcess::~ToolProcess() {
    std::lock_guard guard(lock);
    if (pid > 0 && !reaped) {
        ::kill(-pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
}

int ToolProcess::start(const QString& program, const QStringList& arguments) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) return -1;

    struct stat pipeInfo {};
    if (::fstat(pipeEnds[0], &pipeInfo) == 0) outputPipe = pipeInfo.st_ino;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDERR_FILENO);
    posix_spawnattr_t attributes;
    prepareAttributes(attributes);

    const QByteArray path = program.toLocal8Bit();
    std::vector<QByteArray> words{path};
    for (const QString& argument : arguments) words.push_back(argument.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    pid_t child = -1;
    const int error = ::posix_spawn(&child, path.constData(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(pipeEnds[1]);
    if (error != 0) {
        ::close(pipeEnds[0]);
        return -1;
    }
    std::lock_guard guard(lock);
    pid = child;
    if (terminated) signalGroup();  // terminate() came while starting
    return pipeEnds[0];
}

QString ToolExit::describe(const QString& tool) const {
    if (!signal) return tool + " terminated (status " + QString::number(code) + ")";
    const char* abbreviation = sigabbrev_np(*signal);
    return tool + " terminated by signal " + (abbreviation ? QString("SIG") + abbreviation : QString::number(*signal));
}

ToolExit ToolProcess::waitForExit() {
    // Wait without reaping, so terminate() never signals a recycled pid.
    siginfo_t info{};
    while (::waitid(P_PID, pid, &info, WEXITED | WNOWAIT) != 0 && errno == EINTR) {}
    int status = 0;
    {
        std::lock_guard guard(lock);
        ::waitpid(pid, &status, 0);
        reaped = true;
    }
    if (WIFSIGNALED(status)) return {.signal = WTERMSIG(status)};
    return {.code = WEXITSTATUS(status), .signal = std::nullopt};
}

void ToolProcess::terminate() {
    std::lock_guard guard(lock);
    if (terminated || reaped) return;
    terminated = true;
    if (pid > 0) signalGroup();
}

void ToolProcess::signalGroup() {
    ::kill(-pid, SIGTERM);
    std::thread([self = shared_from_this()] { self->killGroupAfterGrace(); }).detach();
}

void ToolProcess::killGroupAfterGrace() {
    std::this_thread::sleep_for(terminateGrace);
    std::lock_guard guard(lock);
    // Reaping happens only after the output pipe closed, so a group that is
    // not reaped yet may still hold members that ignore SIGTERM.
    if (!reaped) ::kill(-pid, SIGKILL);
}

bool ToolProcess::endedLongerThan(std::chrono::milliseconds grace) {
    std::lock_guard guard(lock);
    const auto now = std::chrono::steady_clock::now();
    if (!endSeen && pid > 0) {
        siginfo_t info{};
        if (reaped || (::waitid(P_PID, pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid))
            endSeen = now;
    }
    return endSeen && now - *endSeen >= grace;
}

void ToolProcess::killOutputHolders() const {
    namespace fs = std::filesystem;
    const fs::path target = "pipe:[" + std::to_string(outputPipe) + "]";
    std::error_code error;
    for (auto entry = fs::directory_iterator("/proc", error); !error && entry != fs::directory_iterator();
         entry.increment(error)) {
        const pid_t holder = std::atoi(entry->path().filename().c_str());
        if (holder <= 0 || holder == ::getpid()) continue;
        std::error_code missing;
        for (auto fd = fs::directory_iterator(entry->path() / "fd", missing); !missing && fd != fs::directory_iterator();
             fd.increment(missing)) {
            std::error_code unreadable;
            if (fs::read_symlink(fd->path(), unreadable) != target) continue;
            ::kill(holder, SIGKILL);
            break;
        }
    }
}

bool ToolProcess::wasTerminated() const {
    std::lock_guard guard(lock);
    return terminated;
}

}  // namespace siderama
