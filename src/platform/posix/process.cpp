#include "platform/process.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace hm {

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
    std::vector<std::string> result;
    const size_t n = commandLine.size();
    size_t i = 0;
    for (;;) {
        while (i < n && (commandLine[i] == ' ' || commandLine[i] == '\t')) ++i;
        if (i == n) break;
        std::string argument;
        bool quoted = false;
        while (i < n) {
            const char c = commandLine[i];
            if (!quoted && (c == ' ' || c == '\t')) break;
            if (c == '\\') {
                size_t end = i;
                while (end < n && commandLine[end] == '\\') ++end;
                const size_t count = end - i;
                if (end < n && commandLine[end] == '"') {
                    argument.append(count / 2, '\\');
                    if (count % 2 == 1) {
                        argument += '"';
                        i = end + 1;
                    } else {
                        i = end;  // the quote still groups; handled on the next round
                    }
                } else {
                    argument.append(count, '\\');
                    i = end;
                }
                continue;
            }
            if (c == '"') {
                quoted = !quoted;
                ++i;
                continue;
            }
            argument += c;
            ++i;
        }
        result.push_back(std::move(argument));
    }
    return result;
}

namespace {

// "x/" and "x" name the same folder; "/" itself stays "/".
std::string_view WithoutTrailingSlashes(std::string_view text) {
    while (text.size() > 1 && text.back() == '/') text.remove_suffix(1);
    return text;
}

}  // namespace

bool CommandLineHasArgument(const std::string& argumentList, const std::string& argument) {
    if (argument.empty()) return false;
    const std::string_view wanted = WithoutTrailingSlashes(argument);
    std::string_view rest = argumentList;
    while (!rest.empty()) {
        const size_t end = rest.find('\0');
        const std::string_view one = rest.substr(0, end);
        if (WithoutTrailingSlashes(one) == wanted) return true;
        if (end == std::string_view::npos) break;
        rest.remove_prefix(end + 1);
    }
    return false;
}

namespace {

int PidfdOpen(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    errno = ENOSYS;
    return -1;
#endif
}

int PidfdSendSignal(int pidfd, int signalNumber) {
#ifdef SYS_pidfd_send_signal
    return static_cast<int>(::syscall(SYS_pidfd_send_signal, pidfd, signalNumber, nullptr, 0));
#else
    errno = ENOSYS;
    return -1;
#endif
}

// Children whose Process object went away while they still ran. They are reaped whenever the
// module is used again, and Attach() takes one back as an own child.
std::mutex g_orphanLock;
std::vector<pid_t> g_orphans;

void ReapOrphans() {
    std::lock_guard<std::mutex> guard(g_orphanLock);
    g_orphans.erase(std::remove_if(g_orphans.begin(), g_orphans.end(),
                                   [](pid_t pid) {
                                       const pid_t r = ::waitpid(pid, nullptr, WNOHANG);
                                       return r == pid || (r < 0 && errno == ECHILD);
                                   }),
                    g_orphans.end());
}

bool TakeOrphan(pid_t pid) {
    std::lock_guard<std::mutex> guard(g_orphanLock);
    auto it = std::find(g_orphans.begin(), g_orphans.end(), pid);
    if (it == g_orphans.end()) return false;
    g_orphans.erase(it);
    return true;
}

void AddOrphan(pid_t pid) {
    std::lock_guard<std::mutex> guard(g_orphanLock);
    g_orphans.push_back(pid);
}

bool ReadSmallFile(const std::string& path, std::string& out) {
    out.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            ::close(fd);
            return got == 0;
        }
        out.append(buffer, static_cast<size_t>(got));
    }
}

// State letter of /proc/<pid>/stat; 0 when the process does not exist.
char ProcessState(pid_t pid) {
    std::string stat;
    if (!ReadSmallFile("/proc/" + std::to_string(pid) + "/stat", stat)) return 0;
    // The command name may contain blanks and parentheses; the state follows the last ')'.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos || close + 2 >= stat.size()) return 0;
    return stat[close + 2];
}

bool IsGoneState(char state) { return state == 0 || state == 'Z' || state == 'X' || state == 'x'; }

// Moves fd to a number of at least 3 so that the dup2 actions onto 0..2 cannot clobber it.
int AboveStandardFds(int fd) {
    if (fd < 0 || fd > 2) return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

std::string ErrnoText(int code) { return std::strerror(code); }

}  // namespace

Process::Process(uint32_t pid, int pidfd, bool ownChild) : pid_(pid), pidfd_(pidfd), ownChild_(ownChild) {}

Process::~Process() {
    std::lock_guard<std::mutex> guard(lock_);
    if (ownChild_ && !CheckExited()) AddOrphan(static_cast<pid_t>(pid_));
    if (pidfd_ >= 0) ::close(pidfd_);
}

namespace {

// Makes a relative exePath absolute against our own folder (posix_spawn would resolve it after the
// chdir, and we mean ours) and checks that it names a file we may run.
bool ResolveProgram(const std::string& exePath, std::string& program, std::string& why) {
    if (exePath.empty()) {
        why = "No program to start.";
        return false;
    }
    program = exePath;
    if (program[0] != '/') {
        char cwd[PATH_MAX];
        if (!::getcwd(cwd, sizeof cwd)) {
            why = "Cannot determine the current folder: " + ErrnoText(errno);
            return false;
        }
        program = std::string(cwd) + "/" + program;
    }
    struct stat info {};
    if (::stat(program.c_str(), &info) != 0) {
        why = "Cannot start " + exePath + ": " + ErrnoText(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        why = "Cannot start " + exePath + ": not a file";
        return false;
    }
    if (::access(program.c_str(), X_OK) != 0) {
        why = "Cannot start " + exePath + ": " + ErrnoText(errno);
        return false;
    }
    return true;
}

// Starts program in a session of its own with stdin on /dev/null. output < 0 leaves stdout and stderr
// to be inherited from us; otherwise both go to output. Returns the pid, or -1 with why set; on
// failure nothing keeps running (glibc has already reaped the short-lived child).
pid_t StartInNewSession(const std::string& program, const std::string& exePath, std::vector<std::string> words,
                        const std::string& workingDir, int output, std::string& why) {
    const int input = AboveStandardFds(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (input < 0) {
        why = "Cannot open /dev/null: " + ErrnoText(errno);
        return -1;
    }

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(exePath.c_str()));
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_adddup2(&actions, input, 0);
    if (output >= 0) {
        posix_spawn_file_actions_adddup2(&actions, output, 1);
        posix_spawn_file_actions_adddup2(&actions, output, 2);
    }
    if (!workingDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workingDir.c_str());
    // Whatever another thread opened without close-on-exec must not leak into a long-lived process.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);

    sigset_t noSignals, allSignals;
    sigemptyset(&noSignals);
    sigfillset(&allSignals);
    sigdelset(&allSignals, SIGKILL);
    sigdelset(&allSignals, SIGSTOP);
    posix_spawnattr_setsigmask(&attributes, &noSignals);
    posix_spawnattr_setsigdefault(&attributes, &allSignals);  // e.g. our ignored SIGPIPE stays ours
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(input);
    if (rc != 0) {
        why = "Cannot start " + exePath + " in " + (workingDir.empty() ? "." : workingDir) + ": " + ErrnoText(rc);
        return -1;
    }
    return pid;
}

}  // namespace

std::unique_ptr<Process> Process::Spawn(const std::string& exePath, const std::string& arguments,
                                        const std::string& workingDir, const std::string& outputFile,
                                        std::string* error) {
    auto fail = [error](const std::string& text) -> std::unique_ptr<Process> {
        if (error) *error = text;
        return nullptr;
    };
    ReapOrphans();
    std::string program, why;
    if (!ResolveProgram(exePath, program, why)) return fail(why);
    if (!workingDir.empty()) {
        struct stat folder {};
        if (::stat(workingDir.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode))
            return fail("Cannot start " + exePath + ": the working folder " + workingDir + " does not exist");
    }

    const std::string outputPath = outputFile.empty() ? "/dev/null" : outputFile;
    const int output = AboveStandardFds(::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (output < 0) return fail("Cannot open the output file " + outputPath + ": " + ErrnoText(errno));
    const pid_t pid = StartInNewSession(program, exePath, SplitCommandLine(arguments), workingDir, output, why);
    ::close(output);
    if (pid < 0) return fail(why);

    const int pidfd = PidfdOpen(pid);  // safe: the child cannot be reaped before we do it
    return std::unique_ptr<Process>(new Process(static_cast<uint32_t>(pid), pidfd, true));
}

std::unique_ptr<Process> Process::SpawnInheriting(const std::string& exePath, const std::vector<std::string>& arguments,
                                                  std::string* error) {
    ReapOrphans();
    std::string program, why;
    pid_t pid = -1;
    if (ResolveProgram(exePath, program, why)) pid = StartInNewSession(program, exePath, arguments, "", -1, why);
    if (pid < 0) {
        if (error) *error = why;
        return nullptr;
    }
    const int pidfd = PidfdOpen(pid);
    return std::unique_ptr<Process>(new Process(static_cast<uint32_t>(pid), pidfd, true));
}

std::unique_ptr<Process> Process::Attach(uint32_t pid, const std::string& identity) {
    if (pid == 0 || pid > static_cast<uint32_t>(INT_MAX)) return nullptr;
    ReapOrphans();
    const pid_t id = static_cast<pid_t>(pid);
    const bool ownChild = TakeOrphan(id);
    auto refuse = [&](int pidfd) -> std::unique_ptr<Process> {
        if (pidfd >= 0) ::close(pidfd);
        if (ownChild) AddOrphan(id);  // still ours to reap
        return nullptr;
    };

    // The pidfd pins the process: if it is still open and not readable after the checks below,
    // everything read from /proc belonged to this very process and not to a pid successor.
    const int pidfd = PidfdOpen(id);
    if (pidfd < 0 && errno == ESRCH) return refuse(-1);
    if (IsGoneState(ProcessState(id))) return refuse(pidfd);
    if (!identity.empty()) {
        std::string commandLine;
        // A process caught in the middle of exec shows an empty command line for a moment.
        for (int attempt = 0; attempt < 50; ++attempt) {
            if (!ReadSmallFile("/proc/" + std::to_string(pid) + "/cmdline", commandLine)) return refuse(pidfd);
            if (!commandLine.empty()) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        if (!CommandLineHasArgument(commandLine, identity)) return refuse(pidfd);
    }
    if (pidfd >= 0) {
        pollfd p{pidfd, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0) return refuse(pidfd);
    } else if (::kill(id, 0) != 0 && errno == ESRCH) {
        return refuse(-1);
    }
    std::unique_ptr<Process> process(new Process(pid, pidfd, ownChild));
    return process;
}

std::unique_ptr<Process> Process::FindByArgument(const std::string& argument) {
    if (argument.empty()) return nullptr;
    std::vector<uint32_t> pids;
    if (DIR* proc = ::opendir("/proc")) {
        while (const dirent* item = ::readdir(proc)) {
            char* end = nullptr;
            const unsigned long pid = std::strtoul(item->d_name, &end, 10);
            if (end && *end == '\0' && pid > 0 && pid <= static_cast<unsigned long>(INT_MAX)) {
                pids.push_back(static_cast<uint32_t>(pid));
            }
        }
        ::closedir(proc);
    }
    std::sort(pids.begin(), pids.end());
    for (uint32_t pid : pids) {
        std::string commandLine;
        if (!ReadSmallFile("/proc/" + std::to_string(pid) + "/cmdline", commandLine)) continue;
        if (!CommandLineHasArgument(commandLine, argument)) continue;
        // Attach pins the process and checks once more that it is still the one that was read.
        if (std::unique_ptr<Process> process = Attach(pid, argument)) return process;
    }
    return nullptr;
}

uint32_t Process::Pid() const { return pid_; }

bool Process::CheckExited() {
    if (exited_) return true;
    if (ownChild_) {
        int status = 0;
        const pid_t r = ::waitpid(static_cast<pid_t>(pid_), &status, WNOHANG);
        if (r == static_cast<pid_t>(pid_)) {
            exited_ = true;
            if (WIFEXITED(status)) exitCode_ = WEXITSTATUS(status);
            else if (WIFSIGNALED(status)) exitCode_ = 128 + WTERMSIG(status);
        } else if (r < 0 && errno == ECHILD) {
            exited_ = true;  // reaped elsewhere (SIGCHLD ignored): gone, exit code unknown
        }
        return exited_;
    }
    if (pidfd_ >= 0) {
        pollfd p{pidfd_, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0) exited_ = true;
        return exited_;
    }
    if ((::kill(static_cast<pid_t>(pid_), 0) != 0 && errno == ESRCH) || IsGoneState(ProcessState(static_cast<pid_t>(pid_))))
        exited_ = true;
    return exited_;
}

Process::WaitResult Process::Wait(uint32_t timeoutMs) {
    using Clock = std::chrono::steady_clock;
    const bool infinite = timeoutMs == kInfinite;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(lock_);
            if (CheckExited()) return WaitResult::Exited;
        }
        int sliceMs = -1;
        if (!infinite) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) return WaitResult::Timeout;
            sliceMs = static_cast<int>(std::min<long long>(left, INT_MAX));
        }
        if (pidfd_ >= 0) {
            pollfd p{pidfd_, POLLIN, 0};
            const int r = ::poll(&p, 1, sliceMs);
            if (r < 0 && errno != EINTR) return WaitResult::Failed;
        } else {
            // Without a pidfd there is nothing to block on; poll the pid.
            const int step = sliceMs < 0 ? 20 : std::min(sliceMs, 20);
            std::this_thread::sleep_for(std::chrono::milliseconds(step));
        }
    }
}

bool Process::IsRunning() { return Wait(0) == WaitResult::Timeout; }

bool Process::Signal(int signalNumber) {
    // Holding the lock keeps an own child from being reaped (and its pid reused) under our feet.
    std::lock_guard<std::mutex> guard(lock_);
    if (CheckExited()) return true;
    if (pidfd_ >= 0) {
        if (PidfdSendSignal(pidfd_, signalNumber) == 0) return true;
        if (errno == ESRCH) return true;
        if (errno != ENOSYS) return false;
    }
    if (!ownChild_ && pidfd_ < 0 && IsGoneState(ProcessState(static_cast<pid_t>(pid_)))) return true;
    if (::kill(static_cast<pid_t>(pid_), signalNumber) == 0) return true;
    return errno == ESRCH;
}

bool Process::Terminate() { return Signal(SIGKILL); }

bool Process::RequestStop() { return Signal(SIGTERM); }

int Process::ExitCode() const {
    std::lock_guard<std::mutex> guard(lock_);
    return ownChild_ && exited_ ? exitCode_ : -1;
}

}  // namespace hm
