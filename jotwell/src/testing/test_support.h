// Helpers for the library's tests: temporary folders, child processes, loading the library by
// hand, reading gzip archives and log files.
//
// Test code only (never linked into the library). Used on the test's main thread; forked children
// run a function and leave with _exit so nothing of the test framework runs twice.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace hm::jotwell::testing {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it on destruction (only by the
// process that made it, so a forked child that exits never removes its parent's folder).
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    const std::string& Path() const { return path_; }  // with trailing '/'
    std::string operator/(const std::string& name) const { return path_ + name; }

private:
    std::string path_;
    int owner_ = 0;
};

void SetEnv(const std::string& name, const std::string& value);

// Runs body in a child process; its result is the child's exit code.
int ForkChild(const std::function<int()>& body);
// Exit code of the child, or 128 + signal number when a signal ended it.
int WaitChild(int pid);
void KillChild(int pid);

// A one-shot signal between processes (a pipe).
class ProcessSignal {
public:
    ProcessSignal();
    ~ProcessSignal();
    void Notify();
    bool Wait(uint32_t timeoutMs);

private:
    int fds_[2] = {-1, -1};
};

// A named pipe at path with a reader that never reads (once its buffer is full, writers wait).
class StalledPipe {
public:
    explicit StalledPipe(const std::string& path);
    ~StalledPipe();
    bool Open() const { return reader_ >= 0; }
    // What writers put into the pipe so far (reads it empty).
    std::string Drain();

private:
    int reader_ = -1;
};

bool ReadFile(const std::string& path, std::string& out);
bool WriteFile(const std::string& path, const std::string& data);
bool FileExists(const std::string& path);
// The lines of a file, each without its CR LF.
std::vector<std::string> ReadLines(const std::string& path);
// Names in a folder, sorted.
std::vector<std::string> ListFolder(const std::string& folder);
// The whole decompressed content of a gzip file; false when it is not a valid gzip stream.
bool ReadGzip(const std::string& path, std::string& out);

// Loading the library by hand, to test what happens on unload.
void* LoadLibrary(const std::string& path);
void* Symbol(void* library, const char* name);
void UnloadLibrary(void* library);

// Captures what the process writes to standard output between Begin and End (through file).
class StdoutCapture {
public:
    void Begin(const std::string& file);
    std::string End();

private:
    int saved_ = -1;
    std::string file_;
};

}  // namespace hm::jotwell::testing
