#include "solver/ToolProcess.h"

#include <QFileInfo>
#include <algorithm>
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

// The environment with the program's own folder first on PATH.
std::vector<QByteArray> environmentFor(const QByteArray& program) {
    const QByteArray folder = program.left(program.lastIndexOf('/'));
    std::vector<QByteArray> variables;
    bool hadPath = false;
    for (char** variable = environ; *variable; ++variable) {
        QByteArray entry(*variable);
        if (entry.startsWith("PATH=")) {
            entry = "PATH=" + folder + ":" + entry.mid(5);
            hadPath = true;
        }
        variables.push_back(entry);
    }
    if (!hadPath) variables.push_back("PATH=" + folder + ":/usr/bin:/bin");
    return variables;
}

std::vector<char*> pointers(std::vector<QByteArray>& words) {
    std::vector<char*> result;
    for (QByteArray& word : words) result.push_back(word.data());
    result.push_back(nullptr);
    return result;
}

}  // namespace

ToolProcess::~ToolProcess() {
    std::lock_guard guard(lock);
    if (pid > 0 && !reaped) {
        ::kill(-pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
}

// A pipe whose read end stays here (close-on-exec); its inode is noted in
// `outputPipes`, for killOutputHolders().
bool ToolProcess::openPipe(int ends[2]) {
    if (::pipe2(ends, O_CLOEXEC) != 0) return false;
    struct stat pipeInfo {};
    if (::fstat(ends[0], &pipeInfo) == 0) outputPipes.push_back(pipeInfo.st_ino);
    return true;
}

int ToolProcess::start(const QString& program, const QStringList& arguments, int* errorOutput) {
    int pipeEnds[2], errorEnds[2] = {-1, -1};
    if (!openPipe(pipeEnds)) return -1;
    if (errorOutput && !openPipe(errorEnds)) {
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
        return -1;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, errorOutput ? errorEnds[1] : pipeEnds[1], STDERR_FILENO);
    posix_spawnattr_t attributes;
    prepareAttributes(attributes);

    // The real path: solve-field looks for its Python beside the path it was
    // started by, and through a link elsewhere it would take whichever
    // python3 (conda, a virtualenv) comes first on PATH.
    const QString real = QFileInfo(program).canonicalFilePath();
    const QByteArray path = (real.isEmpty() ? program : real).toLocal8Bit();
    std::vector<QByteArray> words{path};
    for (const QString& argument : arguments) words.push_back(argument.toLocal8Bit());
    std::vector<QByteArray> variables = environmentFor(path);
    std::vector<char*> argv = pointers(words), envp = pointers(variables);

    pid_t child = -1;
    const int error = ::posix_spawn(&child, path.constData(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(pipeEnds[1]);
    if (errorOutput) ::close(errorEnds[1]);
    if (error != 0) {
        ::close(pipeEnds[0]);
        if (errorOutput) ::close(errorEnds[0]);
        return -1;
    }
    if (errorOutput) *errorOutput = errorEnds[0];
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
    std::vector<fs::path> targets;
    for (const ino_t pipe : outputPipes) targets.push_back("pipe:[" + std::to_string(pipe) + "]");
    std::error_code error;
    for (auto entry = fs::directory_iterator("/proc", error); !error && entry != fs::directory_iterator();
         entry.increment(error)) {
        const pid_t holder = std::atoi(entry->path().filename().c_str());
        if (holder <= 0 || holder == ::getpid()) continue;
        std::error_code missing;
        for (auto fd = fs::directory_iterator(entry->path() / "fd", missing); !missing && fd != fs::directory_iterator();
             fd.increment(missing)) {
            std::error_code unreadable;
            if (std::find(targets.begin(), targets.end(), fs::read_symlink(fd->path(), unreadable)) == targets.end())
                continue;
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
