// Starting, watching and stopping the game's dedicated servers (and other helper programs).
//
// A Process object is owned by whoever started or re-attached the server (a server entry, the
// logging library's packer call); it may be used from any thread, its state is locked. A server
// runs in a session of its own so that it outlives this program, which is why the destructor never
// kills anything. Own children are reaped so that no zombies pile up, also when the object is
// dropped while the child still runs. A re-attached pid is only ever signalled after its command
// line proved that it is still the server we think it is: a pid reused by an unrelated program must
// never receive our signals.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace hm {

// Windows command-line rules: blanks separate arguments, double quotes group, \" is a literal quote,
// backslashes are literal unless they precede a quote (2n -> n and the quote acts; 2n+1 -> n and a literal quote).
// A quote toggles grouping, so "" on its own is one empty argument and a""b is ab.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// True when `argument` is one whole argument of argumentList, the arguments separated by NUL as
// /proc/PID/cmdline holds them. Only a whole argument proves a server's identity: the cache folder
// of port 2092 is a prefix of the one of port 20921. A trailing '/' on either side is ignored, as
// both name the same folder. An empty argument matches nothing.
bool CommandLineHasArgument(const std::string& argumentList, const std::string& argument);

class Process {
public:
    enum class WaitResult { Exited, Timeout, Failed };
    static constexpr uint32_t kInfinite = 0xFFFFFFFFu;   // Wait() without a limit

    // Starts exePath in a new session (survives our exit) with current folder workingDir. argv[0] = exePath,
    // the rest = SplitCommandLine(arguments). stdout+stderr go to outputFile (appended; "" = /dev/null). stdin = /dev/null.
    // A relative exePath is taken relative to our own current folder, not to workingDir.
    // On failure the result is null, nothing keeps running, and *error says why.
    static std::unique_ptr<Process> Spawn(const std::string& exePath, const std::string& arguments,
                                          const std::string& workingDir, const std::string& outputFile,
                                          std::string* error = nullptr);
    // Starts exePath in a new session (survives our exit) as our direct child, for a program that takes
    // over from us: stdin = /dev/null, stdout and stderr, current folder and environment are ours.
    // argv[0] = exePath, the rest = arguments exactly as given (no splitting). A relative exePath is
    // taken relative to our current folder. On failure the result is null and *error says why.
    static std::unique_ptr<Process> SpawnInheriting(const std::string& exePath, const std::vector<std::string>& arguments,
                                                    std::string* error = nullptr);
    // Re-attaches to a running process that is not our child. Returns null when the pid is gone (a zombie
    // counts as gone), or when identity is not empty and is not one whole argument of the process's
    // command line (CommandLineHasArgument).
    static std::unique_ptr<Process> Attach(uint32_t pid, const std::string& identity);
    // Attaches the running process that has `argument` as one whole argument of its command line (the
    // first one found, lowest pid first); null when there is none or argument is empty. For a process
    // whose identifier was never recorded.
    static std::unique_ptr<Process> FindByArgument(const std::string& argument);

    virtual ~Process();                          // never kills the process
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    uint32_t Pid() const;
    WaitResult Wait(uint32_t timeoutMs);         // Exited once the process is gone (own children are reaped)
    bool IsRunning();                            // Wait(0) == Timeout
    bool Terminate();                            // SIGKILL, like TerminateProcess; true if signalled or already gone
    bool RequestStop();                          // SIGTERM
    int ExitCode() const;                        // valid after Exited for own children, else -1;
                                                 // a child ended by signal n reports 128 + n

private:
    Process(uint32_t pid, int pidfd, bool ownChild);
    bool CheckExited();                          // non-blocking; caller holds lock_
    bool Signal(int signalNumber);

    mutable std::mutex lock_;
    uint32_t pid_ = 0;
    int pidfd_ = -1;                             // -1 when the kernel has no pidfd: then kill(pid, 0) polling
    bool ownChild_ = false;
    bool exited_ = false;
    int exitCode_ = -1;
};

}  // namespace hm
