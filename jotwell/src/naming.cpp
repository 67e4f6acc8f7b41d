#include "naming.h"

#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include <dlfcn.h>
#include <unistd.h>

namespace hm::jotwell {

namespace {

std::mutex g_folderLock;
std::string* g_folder = nullptr;  // freed on unload (never by static destructors)
std::atomic<uint64_t> g_generation{1};

std::string LocateLibraryFolder() {
    Dl_info info{};
    std::string path;
    if (dladdr(reinterpret_cast<void*>(&LocateLibraryFolder), &info) && info.dli_fname && info.dli_fname[0]) {
        // dli_fname is the name given to the loader, possibly relative to the folder current then.
        char resolved[PATH_MAX];
        if (realpath(info.dli_fname, resolved)) path = resolved;
    }
    if (path.empty()) {
        char exe[PATH_MAX];
        ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n > 0) path.assign(exe, static_cast<size_t>(n));
    }
    std::string folder = FolderOf(path);
    if (folder.empty()) folder = "./";
    return folder;
}

}  // namespace

std::string LibraryFolder() {
    std::lock_guard<std::mutex> lock(g_folderLock);
    if (!g_folder) g_folder = new std::string(LocateLibraryFolder());
    return *g_folder;
}

void SetLibraryFolder(const std::string& folder) {
    std::lock_guard<std::mutex> lock(g_folderLock);
    std::string f = folder;
    if (f.empty() || f.back() != '/') f += '/';
    if (!g_folder) g_folder = new std::string;
    *g_folder = f;
    g_generation.fetch_add(1);
}

uint64_t LibraryFolderGeneration() { return g_generation.load(); }

void ReleaseLibraryFolder() {
    std::lock_guard<std::mutex> lock(g_folderLock);
    delete g_folder;
    g_folder = nullptr;
}

int ValidatePrefix(const char* prefix) {
    if (!prefix) return JOTWELL_BAD_PREFIX;
    const size_t n = std::strlen(prefix);
    if (n > 260) return JOTWELL_BAD_PREFIX;
    auto slash = [](char c) { return c == '/' || c == '\\'; };
    if (n > 2 && slash(prefix[0]) && slash(prefix[1])) return JOTWELL_BAD_PREFIX;
    return 0;
}

bool IsStdoutPrefix(const std::string& prefix) {
    return strcasecmp(prefix.c_str(), "STDOUT") == 0;
}

std::string FullPrefix(const std::string& prefix) {
    std::string p = prefix;
    for (char& c : p) {
        if (c == '\\') c = '/';
    }
    if (!p.empty() && p[0] == '/') return p;
    return LibraryFolder() + p;
}

std::string DatePart(uint32_t logOptions, const DateStamps& stamps) {
    if (logOptions & LO_WEEKLY) return std::string(stamps.weekText, strnlen(stamps.weekText, 8));
    if (logOptions & LO_MONTHLY) return std::string(stamps.dtmsText, strnlen(stamps.dtmsText, 7));
    if (logOptions & LO_YEARLY) return std::string(stamps.dtmsText, strnlen(stamps.dtmsText, 4));
    return std::string(stamps.dtmsText, strnlen(stamps.dtmsText, 10));
}

std::string ResolveLogPath(const std::string& prefix, const Work& work) {
    std::string path = FullPrefix(prefix);
    if (!(work.logOptions & LO_NO_DATE)) path += DatePart(work.logOptions, work.stamps);
    path += work.Strings().logExtension;
    return path;
}

std::string LockName(const char* kind, const std::string& path) {
    std::string name = kind;
    name.reserve(name.size() + path.size());
    for (char c : path) {
        if (c != ':' && c != '\\' && c != '/') name += c;
    }
    return name;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string NameOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace hm::jotwell
