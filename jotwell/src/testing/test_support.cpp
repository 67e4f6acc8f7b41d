#include "test_support.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

namespace hm::jotwell::testing {

namespace {

void RemoveTree(const std::string& path) {
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        if (DIR* dir = opendir(path.c_str())) {
            while (struct dirent* e = readdir(dir)) {
                const std::string name = e->d_name;
                if (name != "." && name != "..") RemoveTree(path + "/" + name);
            }
            closedir(dir);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

}  // namespace

TempFolder::TempFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && base[0] ? base : "/tmp") + "/jotwell-test-XXXXXX";
    if (mkdtemp(pattern.data())) path_ = pattern + "/";
    owner_ = getpid();
}

TempFolder::~TempFolder() {
    if (!path_.empty() && owner_ == getpid()) RemoveTree(path_.substr(0, path_.size() - 1));
}

void SetEnv(const std::string& name, const std::string& value) { setenv(name.c_str(), value.c_str(), 1); }

int ForkChild(const std::function<int()>& body) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        int code = body();
        std::fflush(nullptr);
        _exit(code);
    }
    return pid;
}

int WaitChild(int pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

void KillChild(int pid) { kill(pid, SIGKILL); }

ProcessSignal::ProcessSignal() {
    if (pipe(fds_) != 0) fds_[0] = fds_[1] = -1;
}

ProcessSignal::~ProcessSignal() {
    for (int fd : fds_) {
        if (fd >= 0) close(fd);
    }
}

void ProcessSignal::Notify() {
    const char c = 1;
    (void)!write(fds_[1], &c, 1);
}

bool ProcessSignal::Wait(uint32_t timeoutMs) {
    struct pollfd p {fds_[0], POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(timeoutMs)) != 1) return false;
    char c;
    return read(fds_[0], &c, 1) == 1;
}

StalledPipe::StalledPipe(const std::string& path) {
    if (mkfifo(path.c_str(), 0600) == 0) reader_ = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
}

StalledPipe::~StalledPipe() {
    if (reader_ >= 0) close(reader_);
}

std::string StalledPipe::Drain() {
    std::string out;
    char buffer[4096];
    ssize_t n;
    while (reader_ >= 0 && (n = read(reader_, buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<size_t>(n));
    return out;
}

bool ReadFile(const std::string& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    out = s.str();
    return true;
}

bool WriteFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
    return static_cast<bool>(out);
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::string data;
    std::vector<std::string> lines;
    if (!ReadFile(path, data)) return lines;
    size_t start = 0;
    while (start < data.size()) {
        size_t end = data.find('\n', start);
        if (end == std::string::npos) end = data.size();
        std::string line = data.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> ListFolder(const std::string& folder) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.c_str())) {
        while (struct dirent* e = readdir(dir)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") names.push_back(name);
        }
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool ReadGzip(const std::string& path, std::string& out) {
    // Check the magic bytes: gzread would pass a plain file through unchanged.
    std::string raw;
    if (!ReadFile(path, raw) || raw.size() < 18 || static_cast<unsigned char>(raw[0]) != 0x1f ||
        static_cast<unsigned char>(raw[1]) != 0x8b) {
        return false;
    }
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) return false;
    z.next_in = reinterpret_cast<Bytef*>(raw.data());
    z.avail_in = static_cast<uInt>(raw.size());
    out.clear();
    char buffer[65536];
    int rc;
    do {
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        rc = inflate(&z, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - z.avail_out);
    } while (rc == Z_OK);
    inflateEnd(&z);
    return rc == Z_STREAM_END;
}

void* LoadLibrary(const std::string& path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }

void* Symbol(void* library, const char* name) { return library ? dlsym(library, name) : nullptr; }

void UnloadLibrary(void* library) {
    if (library) dlclose(library);
}

void StdoutCapture::Begin(const std::string& file) {
    std::fflush(stdout);
    file_ = file;
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    saved_ = dup(STDOUT_FILENO);
    dup2(fd, STDOUT_FILENO);
    close(fd);
}

std::string StdoutCapture::End() {
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
    std::string text;
    ReadFile(file_, text);
    unlink(file_.c_str());
    return text;
}

}  // namespace hm::jotwell::testing
