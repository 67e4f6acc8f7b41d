// haldmoor3-updater: puts a new program file in place of the running program once that program has
// ended, and starts the program again (also without a new file: the restart after a long uptime).
//
//   haldmoor3-updater NAME NEWFILE TARGET /A /E [PROGRAM-ARGUMENTS...]
//
// NAME is the program's single-instance mutex, NEWFILE the new program file ("" for a plain restart),
// TARGET the program's path; every argument after /E goes to the restarted program. The program starts
// this updater as its direct child and then ends. The updater
//   1. refuses (exit 1, nothing touched) unless TARGET is the file its parent is running: it never
//      replaces or starts any other file;
//   2. waits until its parent has ended and nobody holds NAME open any more (at most 10 minutes; a
//      program that takes longer is presumably hung, and a second one must not start beside it);
//   3. replaces TARGET with a copy of NEWFILE in one rename, the old program kept as TARGET.previous;
//      when that fails TARGET stays as it was;
//   4. starts TARGET in a session of its own with our folder, environment and output, and exits 0
//      (1 when it could not be started). A new file that cannot be started is rolled back, so the
//      service comes back in every case the updater can detect.
// Single-threaded. Every line it prints goes to stderr and starts with "haldmoor3-updater: ".
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/named_mutex.h"
#include "platform/process.h"

namespace {

using namespace hm;

constexpr auto kPollInterval = std::chrono::milliseconds(100);
constexpr auto kGiveUpAfter = std::chrono::minutes(10);

void Say(const std::string& text) { std::fprintf(stderr, "haldmoor3-updater: %s\n", text.c_str()); }

// Our parent's pid as the kernel reports it; 0 when it cannot be read.
uint32_t ParentPid() {
    std::string status;
    if (!fs::ReadWholeFile("/proc/self/status", status)) return 0;
    const size_t at = status.find("\nPPid:");
    if (at == std::string::npos) return 0;
    return static_cast<uint32_t>(std::strtoul(status.c_str() + at + 6, nullptr, 10));
}

bool IsRegularFile(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

// True once `parent` (null: unknown) has ended.
bool Ended(const std::unique_ptr<Process>& parent) { return !parent || !parent->IsRunning(); }

// Waits until the parent has ended and no process has the mutex `name` open. Opening it ourselves to
// look is the only way to ask; the object is closed again at once, so we never hold it while the
// program starts. When the mutex cannot be opened at all, the parent's end is all we can wait for.
bool WaitForProgramEnd(const std::string& name, const std::unique_ptr<Process>& parent) {
    const auto giveUp = std::chrono::steady_clock::now() + kGiveUpAfter;
    bool toldCannotOpen = false;
    for (;;) {
        bool held = false;
        NamedMutex probe;
        if (probe.Create(name, &held)) {
            probe.Close();
        } else if (!toldCannotOpen) {
            Say("cannot open the mutex " + name + "; waiting for the program to end instead");
            toldCannotOpen = true;
        }
        if (!held && Ended(parent)) return true;
        if (std::chrono::steady_clock::now() >= giveUp) return false;
        std::this_thread::sleep_for(kPollInterval);
    }
}

// Makes `to` a second name of `from` (a copy where the file system has no hard links), replacing what
// was at `to` in one rename.
bool LinkOrCopy(const std::string& from, const std::string& to) {
    const std::string link = to + ".tmp-link";
    fs::DeleteFile(link);  // left by an interrupted run
    std::error_code error;
    std::filesystem::create_hard_link(from, link, error);
    if (!error) {
        if (fs::RenameFile(link, to)) return true;
        fs::DeleteFile(link);
        return false;
    }
    return fs::CopyFile(from, to);
}

// Copies newFile over target in one rename, the old program kept as target.previous first. On failure
// target is as it was and why says what went wrong.
bool ReplaceProgram(const std::string& target, const std::string& newFile, std::string& why) {
    fs::FileReader reader;
    if (!reader.Open(newFile)) {
        why = "cannot read " + newFile + ": " + reader.result().reason;
        return false;
    }
    if (reader.size() == 0) {
        why = newFile + " is empty";
        return false;
    }
    if (!LinkOrCopy(target, target + ".previous")) {
        why = "cannot keep the old program as " + target + ".previous";
        return false;
    }
    // The temporary lies beside target (one file system, so the rename is atomic), takes target's
    // permission bits, and is flushed before the rename and the folder after it.
    fs::AtomicFileWriter writer;
    if (!writer.Open(target)) {
        why = "cannot create a file beside " + target + ": " + writer.reason();
        return false;
    }
    char buffer[65536];
    for (;;) {
        const size_t got = reader.Read(buffer, sizeof buffer);
        if (got == 0) break;
        if (!writer.Write(buffer, got)) {
            why = "cannot write beside " + target + ": " + writer.reason();
            return false;  // the writer removes its temporary
        }
    }
    if (!reader.result().ok()) {
        why = "cannot read " + newFile + ": " + reader.result().reason;
        return false;
    }
    if (!writer.Commit()) {
        why = "cannot put the new file in place of " + target + ": " + writer.reason();
        return false;
    }
    return true;
}

int Usage() {
    std::fputs("usage: haldmoor3-updater NAME NEWFILE TARGET /A /E [PROGRAM-ARGUMENTS...]\n"
               "  NEWFILE \"\" restarts TARGET without replacing it.\n",
               stderr);
    return 2;
}

bool IsSwitch(const char* argument, char letter) {
    return argument[0] == '/' && (argument[1] == letter || argument[1] == letter + ('a' - 'A')) && argument[2] == '\0';
}

}  // namespace

int main(int argc, char** argv) {
    // Our stderr is the program's; if whoever read it has gone, a message must not end us before the
    // program is back. The started program gets the default action again.
    std::signal(SIGPIPE, SIG_IGN);
    if (argc < 6 || argv[1][0] == '\0' || !IsSwitch(argv[4], 'A') || !IsSwitch(argv[5], 'E')) return Usage();
    const std::string name = argv[1];
    const std::string newFile = argv[2];
    const std::string targetArgument = argv[3];
    const std::vector<std::string> programArguments(argv + 6, argv + argc);

    // The parent is pinned before its executable is read, so what is read belongs to it and not to a
    // process that took over its pid.
    const uint32_t parentPid = ParentPid();
    std::unique_ptr<Process> parent = parentPid > 1 ? Process::Attach(parentPid, "") : nullptr;
    const std::string parentExecutable = parent ? fs::ResolvedPath("/proc/" + std::to_string(parentPid) + "/exe") : "";
    const std::string target = fs::ResolvedPath(targetArgument);
    if (target.empty() || !IsRegularFile(target)) {
        Say("refused: " + targetArgument + " is not a file");
        return 1;
    }
    if (Ended(parent) || parentExecutable != target) {
        Say("refused: " + targetArgument + " is not the program that started the updater");
        return 1;
    }

    if (!WaitForProgramEnd(name, parent)) {
        Say("gave up: " + name + " still runs after 10 minutes; nothing was replaced or started");
        return 1;
    }
    parent.reset();

    bool replaced = false;
    if (!newFile.empty()) {
        std::string why;
        replaced = ReplaceProgram(target, newFile, why);
        if (replaced) {
            Say("replaced " + target + " with " + newFile + "; the old program is " + target + ".previous");
        } else {
            Say(why + "; " + target + " is left as it was");
        }
    }

    std::string why;
    std::unique_ptr<Process> program = Process::SpawnInheriting(target, programArguments, &why);
    if (!program && replaced) {
        // A new file that cannot even be started must not leave the service down.
        Say(why + "; putting the old program back");
        if (LinkOrCopy(target + ".previous", target)) {
            program = Process::SpawnInheriting(target, programArguments, &why);
        } else {
            Say("cannot put " + target + ".previous back in place of " + target);
        }
    }
    if (!program) {
        Say(why);
        return 1;
    }
    Say("started " + target);
    return 0;
}
