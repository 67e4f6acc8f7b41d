// Named mutexes on lock files with open-file-description (OFD) locks, which belong to one open of the
// file rather than to the process, so two objects in one process exclude each other like two
// processes do, and the kernel drops them when the last descriptor goes (also when a holder is killed).
//
// Layout of one lock file:
//   byte 0  every opener holds a shared lock on it for the life of its object; a new opener first tries
//           an exclusive lock without waiting, and when that fails another opener exists.
//   byte 1  an exclusive lock on it is ownership.
//   byte 2  (file data) 1 while owned, 0 after a clean Unlock: finding 1 on acquiring means the last
//           owner went away without unlocking, i.e. the mutex was abandoned.
//
// Ownership within the process is per thread (recursive, like the Windows object) and shared by all
// objects of the same lock file, so the process keeps one record per lock file. Records and their table
// are allocated once and never destroyed by static destructors, so a logging thread that runs while
// the process exits, or a copy of this code linked into a shared library, never touches a dead object.
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/named_mutex.h"

namespace hm {
namespace {

using SteadyClock = std::chrono::steady_clock;

const char kGlobalFolder[] = "/tmp/haldmoor3-locks-global";
constexpr size_t kMaxEncodedName = 200;
constexpr size_t kHashedPrefix = 160;

struct LockState {
  pid_t pid = 0;  // the process that made the record; a forked child must not use its parent's
  dev_t dev = 0;
  ino_t ino = 0;
  int fd = -1;  // this process's own open of the file: ownership lock and abandon marker
  int refs = 0;
  bool owned = false;
  std::thread::id owner;
  uint32_t count = 0;
  bool acquiring = false;  // a thread of this process is waiting for the file lock
  std::condition_variable changed;
};

struct Table {
  std::mutex mutex;
  std::vector<LockState*> states;
};

void ForkPrepare();
void ForkParent();
void ForkChild();

Table& GetTable() {
  static Table* table = [] {
    auto* t = new Table();
    pthread_atfork(ForkPrepare, ForkParent, ForkChild);
    return t;
  }();
  return *table;
}

// Around fork the table is held so the child never inherits it locked halfway through a change.
void ForkPrepare() { GetTable().mutex.lock(); }
void ForkParent() { GetTable().mutex.unlock(); }
void ForkChild() {
  Table& t = GetTable();
  // The child's copies of our descriptors would keep the parent's locks alive; ownership stays with
  // the parent. The records are left to leak because objects copied into the child still point at them.
  for (LockState* s : t.states) {
    if (s->fd >= 0) ::close(s->fd);
    s->fd = -1;
  }
  t.states.clear();
  t.mutex.unlock();
}

std::string HashHex(const std::string& s) {
  // FNV-1a, 128 bits: enough that two different names never meet in practice.
  unsigned __int128 h = (static_cast<unsigned __int128>(0x6c62272e07bb0142ULL) << 64) | 0x62b821756295c58dULL;
  const unsigned __int128 prime = (static_cast<unsigned __int128>(1) << 88) | 0x13B;
  for (unsigned char c : s) {
    h ^= c;
    h *= prime;
  }
  static const char hex[] = "0123456789abcdef";
  std::string out;
  for (int i = 31; i >= 0; --i) out += hex[static_cast<unsigned>(h >> (i * 4)) & 15];
  return out;
}

// Escapes every byte that is not plainly safe in a file name as %XX, which keeps distinct names distinct.
std::string EncodeName(const std::string& name) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : name) {
    bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                c == '_' || c == '.';
    if (safe) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  if (out.size() > kMaxEncodedName) {
    // '~' never appears in an escaped name, so a hashed name cannot meet a plain one.
    size_t cut = kHashedPrefix;
    while (cut > 0 && (out[cut - 1] == '%' || (cut >= 2 && out[cut - 2] == '%'))) --cut;  // no half escapes
    out = out.substr(0, cut) + "~" + HashHex(name);
  }
  return out;
}

bool StartsWithNoCase(const std::string& s, const char* prefix) {
  size_t i = 0;
  for (; prefix[i]; ++i) {
    if (i >= s.size()) return false;
    char a = s[i], b = prefix[i];
    if (a >= 'A' && a <= 'Z') a = static_cast<char>(a + 32);
    if (b >= 'A' && b <= 'Z') b = static_cast<char>(b + 32);
    if (a != b) return false;
  }
  return true;
}

std::string LocalFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime && *runtime) {
    struct stat st{};
    if (::stat(runtime, &st) == 0 && S_ISDIR(st.st_mode)) return std::string(runtime) + "/haldmoor3-locks";
  }
  return "/tmp/haldmoor3-locks-" + std::to_string(::geteuid());
}

// Makes the lock folder. The per-user one must really be ours: a folder planted in /tmp by someone
// else would let them hold our locks.
bool EnsureFolder(const std::string& folder, bool global) {
  if (::mkdir(folder.c_str(), global ? 01777 : 0700) == 0) {
    if (global) ::chmod(folder.c_str(), 01777);  // past the umask, so every user can add lock files
    return true;
  }
  if (errno != EEXIST) return false;
  struct stat st{};
  if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  return global || st.st_uid == ::geteuid();
}

int OpenLockFile(const std::string& path, bool global) {
  for (int attempt = 0; attempt < 10; ++attempt) {
    // Without O_CREAT first: the kernel may refuse O_CREAT on another user's file in a sticky folder.
    int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd >= 0 || errno != ENOENT) return fd;
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, global ? 0666 : 0600);
    if (fd >= 0) {
      if (global) ::fchmod(fd, 0666);
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

int SetLock(int fd, int cmd, short type, off_t start) {
  struct flock fl{};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = start;
  fl.l_len = 1;
  int rc;
  do {
    rc = ::fcntl(fd, cmd, &fl);
  } while (rc != 0 && errno == EINTR && cmd == F_OFD_SETLKW);
  return rc;
}

bool Busy(int err) { return err == EAGAIN || err == EACCES || err == EINTR; }

// Waits for the exclusive lock on byte 1 and reads the abandon marker.
NamedMutex::WaitResult AcquireFileLock(int fd, bool infinite, SteadyClock::time_point deadline) {
  if (infinite) {
    if (SetLock(fd, F_OFD_SETLKW, F_WRLCK, 1) != 0) return NamedMutex::WaitResult::Failed;
  } else {
    auto pause = std::chrono::milliseconds(1);
    while (SetLock(fd, F_OFD_SETLK, F_WRLCK, 1) != 0) {
      if (!Busy(errno)) return NamedMutex::WaitResult::Failed;
      auto now = SteadyClock::now();
      if (now >= deadline) return NamedMutex::WaitResult::Timeout;
      std::this_thread::sleep_for(std::min<SteadyClock::duration>(pause, deadline - now));
      if (pause < std::chrono::milliseconds(4)) pause += std::chrono::milliseconds(1);
    }
  }
  char marker = 0;
  bool abandoned = ::pread(fd, &marker, 1, 2) == 1 && marker == 1;
  const char owned = 1;
  (void)!::pwrite(fd, &owned, 1, 2);
  return abandoned ? NamedMutex::WaitResult::Abandoned : NamedMutex::WaitResult::Acquired;
}

}  // namespace

NamedMutex::NamedMutex() = default;

NamedMutex::~NamedMutex() { Close(); }

std::string NamedMutex::LockFilePath(const std::string& name) {
  if (name.empty()) return std::string();
  if (StartsWithNoCase(name, "Global\\")) return std::string(kGlobalFolder) + "/" + EncodeName(name.substr(7)) + ".lock";
  std::string rest = StartsWithNoCase(name, "Local\\") ? name.substr(6) : name;
  return LocalFolder() + "/" + EncodeName(rest) + ".lock";
}

bool NamedMutex::Create(const std::string& name, bool* alreadyExists) {
  Close();
  if (alreadyExists) *alreadyExists = false;
  int fd = -1;
  if (name.empty()) {
    std::string folder = LocalFolder();
    if (!EnsureFolder(folder, false)) return false;
    fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);  // nobody else can open it
  } else {
    bool global = StartsWithNoCase(name, "Global\\");
    std::string path = LockFilePath(name);
    std::string folder = path.substr(0, path.find_last_of('/'));
    if (!EnsureFolder(folder, global)) return false;
    fd = OpenLockFile(path, global);
  }
  if (fd < 0) return false;

  bool exists = false;
  if (SetLock(fd, F_OFD_SETLK, F_WRLCK, 0) == 0) {
    // Alone: turn the probe into the shared "open" lock in place, with no gap for another probe.
    if (SetLock(fd, F_OFD_SETLK, F_RDLCK, 0) != 0) {
      ::close(fd);
      return false;
    }
  } else if (Busy(errno)) {
    exists = true;
    // Another opener may be probing right now; its exclusive hold lasts only a moment.
    if (SetLock(fd, F_OFD_SETLKW, F_RDLCK, 0) != 0) {
      ::close(fd);
      return false;
    }
  } else {
    ::close(fd);
    return false;
  }

  struct stat st{};
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return false;
  }
  Table& table = GetTable();
  std::lock_guard<std::mutex> guard(table.mutex);
  LockState* state = nullptr;
  for (LockState* s : table.states) {
    if (s->dev == st.st_dev && s->ino == st.st_ino) state = s;
  }
  if (!state) {
    // A second, independent open of the same file, so the ownership lock outlives this object.
    std::string self = "/proc/self/fd/" + std::to_string(fd);
    int ownerFd = ::open(self.c_str(), O_RDWR | O_CLOEXEC);
    if (ownerFd < 0) {
      ::close(fd);
      return false;
    }
    state = new LockState();
    state->pid = ::getpid();
    state->dev = st.st_dev;
    state->ino = st.st_ino;
    state->fd = ownerFd;
    table.states.push_back(state);
  }
  ++state->refs;
  fd_ = fd;
  state_ = state;
  if (alreadyExists) *alreadyExists = exists;
  return true;
}

NamedMutex::WaitResult NamedMutex::Lock(uint32_t timeoutMs) {
  auto* st = static_cast<LockState*>(state_);
  if (!st) return WaitResult::Failed;
  bool infinite = timeoutMs == kInfinite;
  auto deadline = SteadyClock::now() + std::chrono::milliseconds(infinite ? 0 : timeoutMs);
  Table& table = GetTable();
  std::unique_lock<std::mutex> guard(table.mutex);
  if (st->pid != ::getpid() || st->fd < 0) return WaitResult::Failed;
  auto self = std::this_thread::get_id();
  if (st->owned && st->owner == self) {
    if (st->count == UINT32_MAX) return WaitResult::Failed;
    ++st->count;
    return WaitResult::Acquired;
  }
  // Threads of this process queue here; only one at a time waits for the file lock.
  auto busy = [st] { return st->owned || st->acquiring; };
  if (infinite) {
    st->changed.wait(guard, [&] { return !busy(); });
  } else if (!st->changed.wait_until(guard, deadline, [&] { return !busy(); })) {
    return WaitResult::Timeout;
  }
  st->acquiring = true;
  int fd = st->fd;
  guard.unlock();
  WaitResult result = AcquireFileLock(fd, infinite, deadline);
  guard.lock();
  st->acquiring = false;
  if (result == WaitResult::Acquired || result == WaitResult::Abandoned) {
    st->owned = true;
    st->owner = self;
    st->count = 1;
  } else {
    st->changed.notify_all();
  }
  return result;
}

bool NamedMutex::Unlock() {
  auto* st = static_cast<LockState*>(state_);
  if (!st) return false;
  Table& table = GetTable();
  std::lock_guard<std::mutex> guard(table.mutex);
  if (st->pid != ::getpid() || st->fd < 0) return false;
  if (!st->owned || st->owner != std::this_thread::get_id()) return false;
  if (--st->count == 0) {
    const char released = 0;
    (void)!::pwrite(st->fd, &released, 1, 2);
    SetLock(st->fd, F_OFD_SETLK, F_UNLCK, 1);
    st->owned = false;
    st->owner = std::thread::id();
    st->changed.notify_all();
  }
  return true;
}

void NamedMutex::Close() {
  if (auto* st = static_cast<LockState*>(state_)) {
    Table& table = GetTable();
    std::lock_guard<std::mutex> guard(table.mutex);
    if (st->pid == ::getpid() && --st->refs == 0) {
      // Closing the last object while owned leaves the marker set: the next owner sees Abandoned.
      table.states.erase(std::find(table.states.begin(), table.states.end(), st));
      if (st->fd >= 0) ::close(st->fd);
      delete st;
    }
    state_ = nullptr;
  }
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

}  // namespace hm
