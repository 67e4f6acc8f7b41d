#include "rotation.h"

#include <algorithm>
#include <cerrno>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "compress.h"
#include "named_lock.h"
#include "naming.h"

namespace hm::jotwell {

namespace {

bool StartsWith(const std::string& s, const std::string& head) { return s.compare(0, head.size(), head) == 0; }

bool WriteAllAt(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = pwrite(fd, data.data() + done, data.size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool ReadAllAt(int fd, std::string& data, off_t offset) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = pread(fd, data.data() + done, data.size() - done, offset + static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

int TrimOpenFile(int fd, uint32_t minimum, uint32_t maximum, bool bySize) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return -3;
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    std::string kept;
    if (bySize) {
        if (size <= maximum) return 0;
        std::string tail(std::min<uint64_t>(minimum, size), '\0');
        if (!ReadAllAt(fd, tail, static_cast<off_t>(size - tail.size()))) return -3;
        const size_t lf = tail.find('\n');
        kept = lf == std::string::npos ? std::move(tail) : tail.substr(lf + 1);
    } else {
        std::string all(size, '\0');
        if (!ReadAllAt(fd, all, 0)) return -3;
        const uint64_t lines = static_cast<uint64_t>(std::count(all.begin(), all.end(), '\n'));
        if (lines <= maximum) return 0;
        uint64_t skip = lines - minimum;
        size_t pos = 0;
        while (skip > 0) {
            pos = all.find('\n', pos) + 1;
            --skip;
        }
        kept = all.substr(pos);
    }
    if (!WriteAllAt(fd, kept)) return -6;
    if (ftruncate(fd, static_cast<off_t>(kept.size())) != 0) return -6;
    return 0;
}

// The bounded single file: trimming under the file lock.
int BoundSingleFile(const Work& work, const std::string& logPath) {
    const bool bySize = (work.logOptions & LO_SIZE) != 0;
    NamedLock lock;
    switch (lock.Acquire(LockName("JotwellShr", logPath), work.waitMs)) {
        case LockStatus::Acquired: break;
        case LockStatus::Timeout: return JOTWELL_TIMEOUT;
        case LockStatus::Failed: return 0;
    }
    TrimFile(logPath, work.limit1, work.limit2, bySize);
    return 0;
}

}  // namespace

bool WildcardMatch(const std::string& pattern, const std::string& name) {
    size_t p = 0, n = 0, starP = std::string::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::vector<std::string> ListMatching(const std::string& folder, const std::string& wildcard) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return names;
    while (struct dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == ".." || !WildcardMatch(wildcard, name)) continue;
        bool regular = e->d_type == DT_REG;
        if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
            struct stat st {};
            regular = stat((folder + name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
        }
        if (regular) names.push_back(name);
    }
    closedir(dir);
    // Directory order means nothing here; the names carry the date, so name order is age order.
    std::sort(names.begin(), names.end());
    return names;
}

int TrimFile(const std::string& path, uint32_t minimum, uint32_t maximum, bool bySize) {
    if (minimum == 0 && maximum == 0) return 0;
    if (maximum == 0) {
        // One value given: it bounds the file, and a trim keeps half of it so the next one is far away.
        maximum = minimum;
        minimum /= 2;
    } else if (maximum < minimum) {
        minimum = maximum;
    }
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return -2;
    const int result = TrimOpenFile(fd, minimum, maximum, bySize);
    close(fd);
    return result;
}

int RunRotation(const std::string& prefix, const Work& work, const std::string& logPath) {
    const uint32_t lo = work.logOptions;
    if (lo & (LO_SIZE | LO_LINES)) return BoundSingleFile(work, logPath);
    const uint32_t maxLogs = work.limit1, maxZips = work.limit2;
    if (lo & LO_NO_DATE) return 0;
    if (maxLogs == 0 && maxZips == 0 && !(lo & (LO_DELETE_ZIPS | LO_DELETE_LOGS))) return 0;

    const WorkStrings& s = work.Strings();
    const std::string full = FullPrefix(prefix);
    const std::string folder = FolderOf(logPath);
    const std::string current = NameOf(logPath);
    const std::string leftoverHead = NameOf(full + work.stamps.weekShort);
    const bool leftoverRule = (lo & (LO_DAILY | LO_MONTHLY | LO_YEARLY)) && maxLogs != 0;

    // Plain logs: the weekly leftovers go; the rest up to the current file are counted, oldest first.
    std::vector<std::string> counted;
    bool currentSeen = false;
    for (const std::string& name : ListMatching(folder, NameOf(full + s.logWildcard))) {
        const std::string path = folder + name;
        if (leftoverRule && name != current && StartsWith(name, leftoverHead)) {
            DeleteWithMessages(prefix, work, path);
            continue;
        }
        if (currentSeen) continue;
        if (name == current) currentSeen = true;
        // Deleting old logs never takes the file that holds the line just written.
        if ((lo & LO_DELETE_LOGS) && name != current) {
            unlink(path.c_str());
            continue;
        }
        counted.push_back(path);
    }

    size_t count = counted.size();
    if (maxLogs != 0 && count > maxLogs) {
        for (const std::string& path : counted) {
            if (count <= maxLogs) break;
            --count;
            if (lo & LO_DONT_ZIP) {
                DeleteWithMessages(prefix, work, path);
                continue;
            }
            NamedLock zip;
            const LockStatus status = zip.TryAcquire(LockName("JotwellZip", path));
            if (status == LockStatus::Timeout) return JOTWELL_ROTATION_BUSY;
            if (status != LockStatus::Acquired) continue;
            // Another process may have finished this file while we listed.
            if (access(path.c_str(), F_OK) != 0) continue;
            CompressOldLog(prefix, work, path);
        }
    }

    const bool zipCleanup = maxZips != 0 || (lo & LO_DELETE_ZIPS);
    if ((work.extOptions & LE_NTFS_COMPRESS) && !(work.extOptions & LE_SORTED_LISTING) && zipCleanup) {
        std::vector<std::string> compressed;
        for (const std::string& name : ListMatching(folder, NameOf(full + s.logWildcard))) {
            if (name != current && HasCompressedAttribute(folder + name)) compressed.push_back(folder + name);
        }
        size_t left = compressed.size();
        for (const std::string& path : compressed) {
            if (left <= maxZips) break;
            DeleteWithMessages(prefix, work, path);
            --left;
        }
    }

    if (!(lo & LO_DONT_ZIP) && zipCleanup) {
        std::vector<std::string> archives;
        for (const std::string& name : ListMatching(folder, NameOf(full + s.archiveWildcard))) {
            if (leftoverRule && StartsWith(name, leftoverHead)) {
                DeleteWithMessages(prefix, work, folder + name);
                continue;
            }
            archives.push_back(folder + name);
        }
        size_t left = archives.size();
        for (const std::string& path : archives) {
            if (left <= maxZips) break;
            DeleteWithMessages(prefix, work, path);
            --left;
        }
    }
    return 0;
}

}  // namespace hm::jotwell
