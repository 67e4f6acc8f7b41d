// POSIX files and folders. Every descriptor is opened close-on-exec so game servers started by the
// program never inherit our stores or locks, and every read and write loops over short transfers and
// EINTR, so a signal never turns into a truncated file.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include "platform/files.h"

namespace hm::fs {
namespace {

constexpr uint32_t kForever = 0xFFFFFFFFu;

int OpenRetry(const char* path, int flags, mode_t mode = 0) {
  int fd;
  do {
    fd = ::open(path, flags | O_CLOEXEC, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool WriteAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(fd, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool WriteFileWithFlags(const std::string& path, const std::string& data, int flags) {
  int fd = OpenRetry(path.c_str(), O_WRONLY | O_CREAT | flags, 0666);
  if (fd < 0) return false;
  bool ok = WriteAll(fd, data.data(), data.size());
  if (::close(fd) != 0) ok = false;  // a delayed write error shows up here
  return ok;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

constexpr const char* kTemporaryMark = ".tmp";
constexpr size_t kTemporaryDigits = 12;

// A name for a temporary that no other thread or process picks at the same moment.
std::string UniqueSuffix() {
  static std::atomic<uint64_t> counter{0};
  uint64_t n = counter.fetch_add(1, std::memory_order_relaxed);
  uint64_t t = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  uint64_t mix = (static_cast<uint64_t>(::getpid()) << 40) ^ (n << 20) ^ t;
  mix ^= mix >> 33;
  mix *= 0xff51afd7ed558ccdULL;
  mix ^= mix >> 33;
  static const char hex[] = "0123456789abcdef";
  std::string s = kTemporaryMark;
  for (size_t i = 0; i < kTemporaryDigits; ++i) s += hex[(mix >> (i * 4)) & 0xF];
  return s;
}

void SyncFolder(const std::string& folder) {
  int fd = OpenRetry(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  ::fsync(fd);  // best effort: the rename is already visible, this only makes it survive a power cut
  ::close(fd);
}

bool RemoveTree(const std::string& path) {
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return false;
  bool ok = true;
  while (dirent* e = ::readdir(dir)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    std::string child = path + "/" + name;
    struct stat st{};
    if (::lstat(child.c_str(), &st) != 0) {
      ok = false;
      continue;
    }
    if (S_ISDIR(st.st_mode)) {
      if (!RemoveTree(child)) ok = false;
    } else if (::unlink(child.c_str()) != 0) {
      ok = false;
    }
  }
  ::closedir(dir);
  if (::rmdir(path.c_str()) != 0) ok = false;
  return ok;
}

}  // namespace

bool FileExists(const std::string& path) {
  struct stat st{};
  return ::lstat(path.c_str(), &st) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

ReadResult Failure(ReadStatus status, std::string reason) { return ReadResult{status, std::move(reason)}; }

ReadResult FromErrno(int error) {
  if (error == ENOENT || error == ENOTDIR) return Failure(ReadStatus::kMissing, std::strerror(error));
  return Failure(ReadStatus::kFailed, std::strerror(error));
}

// Opens for reading without ever blocking (O_NONBLOCK keeps a FIFO without writer from hanging the
// open) and refuses anything that is not a regular file.
int OpenRegular(const std::string& path, ReadResult& result, uint64_t& size) {
  int fd = OpenRetry(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    result = FromErrno(errno);
    return -1;
  }
  struct stat st{};
  if (::fstat(fd, &st) != 0) {
    result = FromErrno(errno);
    ::close(fd);
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    result = Failure(ReadStatus::kNotRegular, S_ISDIR(st.st_mode) ? "a folder, not a file" : "not a regular file");
    ::close(fd);
    return -1;
  }
  // Regular files never block; clear the flag so reads behave as ever.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  size = static_cast<uint64_t>(st.st_size);
  result = ReadResult{};
  return fd;
}

}  // namespace

ReadResult ReadFileLimited(const std::string& path, uint64_t maxBytes, std::string& out) {
  ReadResult result;
  uint64_t size = 0;
  int fd = OpenRegular(path, result, size);
  if (fd < 0) return result;
  if (size > maxBytes) {
    ::close(fd);
    return Failure(ReadStatus::kTooLarge, "larger than " + std::to_string(maxBytes) + " bytes");
  }
  std::string data;
  try {
    data.reserve(static_cast<size_t>(size));
    char buffer[65536];
    for (;;) {
      ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0) {
        if (errno == EINTR) continue;
        result = Failure(ReadStatus::kFailed, std::strerror(errno));
        break;
      }
      if (n == 0) break;
      if (data.size() + static_cast<uint64_t>(n) > maxBytes) {  // it grew while we read
        result = Failure(ReadStatus::kTooLarge, "larger than " + std::to_string(maxBytes) + " bytes");
        break;
      }
      data.append(buffer, static_cast<size_t>(n));
    }
  } catch (const std::bad_alloc&) {
    result = Failure(ReadStatus::kFailed, "out of memory");
  }
  ::close(fd);
  if (result.ok()) out.swap(data);
  return result;
}

bool ReadWholeFile(const std::string& path, std::string& out) {
  constexpr uint64_t kDefaultLimit = 256ull << 20;
  return ReadFileLimited(path, kDefaultLimit, out).ok();
}

bool WriteWholeFile(const std::string& path, const std::string& data) {
  return WriteFileWithFlags(path, data, O_TRUNC);
}

bool AppendToFile(const std::string& path, const std::string& data) {
  return WriteFileWithFlags(path, data, O_APPEND);
}

AtomicFileWriter::AtomicFileWriter() = default;

AtomicFileWriter::~AtomicFileWriter() { Abandon(); }

bool AtomicFileWriter::Open(const std::string& path) {
  Abandon();
  reason_.clear();
  if (path.empty() || path.back() == '/') {
    reason_ = std::strerror(EISDIR);
    return false;
  }
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string temp = path + UniqueSuffix();
    int fd = OpenRetry(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd >= 0) {
      struct stat st{};
      // The new file takes over the permissions of the one it replaces.
      if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::fchmod(fd, st.st_mode & 07777);
      fd_ = fd;
      failed_ = false;
      path_ = path;
      tempPath_ = temp;
      return true;
    }
    if (errno != EEXIST) {
      reason_ = std::strerror(errno);
      return false;
    }
  }
  reason_ = std::strerror(EEXIST);
  return false;
}

bool AtomicFileWriter::Write(const void* data, size_t size) {
  if (fd_ < 0 || failed_) return false;
  if (!WriteAll(fd_, data, size)) {
    failed_ = true;
    reason_ = std::strerror(errno);
  }
  return !failed_;
}

bool AtomicFileWriter::Commit() {
  if (fd_ < 0) return false;
  bool ok = !failed_;
  if (ok && ::fsync(fd_) != 0) {
    ok = false;
    reason_ = std::strerror(errno);
  }
  if (::close(fd_) != 0 && ok) {  // a delayed write error shows up here
    ok = false;
    reason_ = std::strerror(errno);
  }
  fd_ = -1;
  if (ok && ::rename(tempPath_.c_str(), path_.c_str()) != 0) {
    ok = false;
    reason_ = std::strerror(errno);
  }
  if (!ok) {
    ::unlink(tempPath_.c_str());
    tempPath_.clear();
    return false;
  }
  tempPath_.clear();
  SyncFolder(FolderOf(path_));
  return true;
}

void AtomicFileWriter::Abandon() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!tempPath_.empty()) {
    ::unlink(tempPath_.c_str());
    tempPath_.clear();
  }
  failed_ = false;
}

FileReader::FileReader() = default;

FileReader::~FileReader() { Close(); }

bool FileReader::Open(const std::string& path) {
  Close();
  size_ = 0;
  fd_ = OpenRegular(path, result_, size_);
  return fd_ >= 0;
}

size_t FileReader::Read(void* buffer, size_t size) {
  if (fd_ < 0 || size == 0) return 0;
  // Fill the caller's buffer as far as the file goes, so a short count means end of file.
  char* p = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::read(fd_, p + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      result_ = Failure(ReadStatus::kFailed, std::strerror(errno));
      break;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

void FileReader::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

FileAttributes GetAttributes(const std::string& path) {
  FileAttributes a;
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0) return a;
  a.exists = true;
  a.isDirectory = S_ISDIR(st.st_mode);
  a.readOnly = (st.st_mode & S_IWUSR) == 0;
  a.size = a.isDirectory ? 0 : static_cast<uint64_t>(st.st_size);
  a.modifiedTime = static_cast<int64_t>(st.st_mtim.tv_sec);
  return a;
}

bool SetReadOnly(const std::string& path, bool readOnly) {
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0) return false;
  mode_t mode = st.st_mode & 07777;
  mode = readOnly ? (mode & ~static_cast<mode_t>(0222)) : (mode | S_IWUSR);
  return ::chmod(path.c_str(), mode) == 0;
}

std::vector<std::string> FindFiles(const std::string& folder, const std::string& wildcard, bool includeFolders) {
  std::vector<std::string> names;
  std::string base = folder.empty() ? "." : folder;
  DIR* dir = ::opendir(base.c_str());
  if (!dir) return names;
  while (dirent* e = ::readdir(dir)) {
    std::string name = e->d_name;
    if (name == "." || name == ".." || !WildcardMatch(wildcard, name)) continue;
    bool isDir = e->d_type == DT_DIR;
    if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) isDir = IsDirectory(base + "/" + name);
    if (isDir && !includeFolders) continue;
    names.push_back(std::move(name));
  }
  ::closedir(dir);
  SortNames(names);
  return names;
}

bool DeleteFile(const std::string& path) {
  struct stat st{};
  if (::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
  return ::unlink(path.c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) == 0) return true;
  if (errno != EXDEV) return false;
  // Another file system: copy, then remove the original only once the copy is safely in place.
  struct stat st{};
  if (::lstat(from.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  return CopyFile(from, to) && ::unlink(from.c_str()) == 0;
}

bool CopyFile(const std::string& from, const std::string& to) {
  FileReader reader;
  if (!reader.Open(from)) return false;
  AtomicFileWriter writer;
  if (!writer.Open(to)) return false;
  char buffer[65536];
  for (;;) {
    size_t n = reader.Read(buffer, sizeof buffer);
    if (n == 0) break;
    if (!writer.Write(buffer, n)) return false;
  }
  if (!writer.Commit()) return false;
  struct stat st{};
  if (::stat(from.c_str(), &st) == 0) ::chmod(to.c_str(), st.st_mode & 07777);
  return true;
}

bool CreateFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0777) == 0) return true;
  return errno == EEXIST && IsDirectory(path);
}

bool CreateFolders(const std::string& path) {
  if (path.empty()) return false;
  std::string sofar;
  size_t pos = 0;
  if (path[0] == '/') {
    sofar = "/";
    pos = 1;
  }
  while (pos <= path.size()) {
    size_t slash = path.find('/', pos);
    if (slash == std::string::npos) slash = path.size();
    std::string part = path.substr(pos, slash - pos);
    pos = slash + 1;
    if (part.empty()) continue;
    if (!sofar.empty() && sofar.back() != '/') sofar += '/';
    sofar += part;
    if (!CreateFolder(sofar)) return false;
  }
  return IsDirectory(path);
}

bool RemoveFolder(const std::string& path, bool recursive) {
  struct stat st{};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  if (!recursive) return ::rmdir(path.c_str()) == 0;
  return RemoveTree(path);
}

std::string CurrentDirectory() {
  std::string buffer(256, '\0');
  for (;;) {
    if (::getcwd(buffer.data(), buffer.size())) {
      buffer.resize(buffer.find('\0'));
      return buffer;
    }
    if (errno != ERANGE) return std::string();
    buffer.resize(buffer.size() * 2);
  }
}

bool SetCurrentDirectory(const std::string& path) { return ::chdir(path.c_str()) == 0; }

std::string ExecutablePath() {
  std::string buffer(256, '\0');
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<size_t>(n));
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::string ExecutableFolder() {
  std::string exe = ExecutablePath();
  if (exe.empty()) return exe;
  return FolderOf(exe);
}

FileLock::~FileLock() { Unlock(); }

bool FileLock::Lock(const std::string& lockPath, uint32_t timeoutMs) {
  Unlock();
  // Opening without O_CREAT first keeps working where the kernel refuses O_CREAT on another user's
  // file in a sticky folder.
  int fd = OpenRetry(lockPath.c_str(), O_RDWR);
  if (fd < 0 && errno == ENOENT) fd = OpenRetry(lockPath.c_str(), O_RDWR | O_CREAT, 0666);
  if (fd < 0) return false;
  if (timeoutMs == kForever) {
    int rc;
    do {
      rc = ::flock(fd, LOCK_EX);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
      ::close(fd);
      return false;
    }
    fd_ = fd;
    return true;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      fd_ = fd;
      return true;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    auto now = std::chrono::steady_clock::now();
    if (now >= deadline) break;
    std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(pause, deadline - now));
    if (pause < std::chrono::milliseconds(5)) pause += std::chrono::milliseconds(1);
  }
  ::close(fd);
  return false;
}

void FileLock::Unlock() {
  if (fd_ >= 0) {
    ::close(fd_);  // closing the only descriptor drops the lock
    fd_ = -1;
  }
}

std::string ResolvedPath(const std::string& path) {
  if (path.empty()) return "";
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (!resolved) return "";
  std::string result(resolved);
  std::free(resolved);
  return result;
}

bool LiesInsideFolder(const std::string& path, const std::string& folder) {
  const std::string inner = ResolvedPath(path);
  std::string outer = ResolvedPath(folder);
  if (inner.empty() || outer.empty()) return false;
  if (outer.back() != '/') outer += '/';
  return inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0;
}

bool FileReader::Seek(uint64_t offset) {
  if (fd_ < 0) {
    result_ = Failure(ReadStatus::kFailed, "no file open");
    return false;
  }
  if (offset > static_cast<uint64_t>(INT64_MAX) || ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) {
    result_ = Failure(ReadStatus::kFailed, offset > static_cast<uint64_t>(INT64_MAX) ? "offset out of range"
                                                                                   : std::strerror(errno));
    return false;
  }
  return true;
}

bool IsTemporaryNameOf(const std::string& name, const std::string& fileName) {
  const std::string stem = fileName + kTemporaryMark;
  if (fileName.empty() || name.size() != stem.size() + kTemporaryDigits || name.compare(0, stem.size(), stem) != 0)
    return false;
  return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(stem.size()), name.end(),
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

size_t RemoveLeftTemporaries(const std::string& folder, const std::vector<std::string>& fileNames) {
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return 0;
  std::vector<std::string> left;
  while (const dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    for (const std::string& fileName : fileNames) {
      if (IsTemporaryNameOf(name, fileName)) {
        left.push_back(name);
        break;
      }
    }
  }
  ::closedir(dir);
  size_t removed = 0;
  const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  for (const std::string& name : left) {
    struct stat st{};
    if (::lstat((prefix + name).c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::unlink((prefix + name).c_str()) == 0)
      ++removed;
  }
  return removed;
}

}  // namespace hm::fs
