// A mutex shared by every process that opens the same name: the single-instance check of the program
// ("Haldmoor3", "Global\Haldmoor3") and the per-file mutexes of the logging library, which builds
// names from long file paths and links this class statically into its shared library.
// Name "Global\X" lives in /tmp/haldmoor3-locks-global (open to every user), others in
// $XDG_RUNTIME_DIR/haldmoor3-locks (or /tmp/haldmoor3-locks-<uid>); "Local\" is the default namespace.
// Names keep their case. Characters that are not safe in a file name are escaped, and names that
// would make too long a file name become a prefix plus a 128-bit hash, so distinct names stay distinct.
// Each name is one lock file that is never deleted; the kernel drops a dead holder's locks, and a
// holder that died (or closed its last object) without unlocking makes the next Lock() return
// Abandoned, which counts as acquired. Like the Windows object, ownership belongs to a thread and is
// recursive, also across different NamedMutex objects of the same name in one process; Unlock() from a
// thread that does not own it fails.
// Thread-safety: Lock() and Unlock() of one object may be called from several threads at once; Create()
// and Close() must not race with other calls on the same object. Holds no state that needs static
// destruction, so threads still logging at process exit are safe.
// An empty name makes an unnamed mutex that only this process can use.
#pragma once

#include <cstdint>
#include <string>

namespace hm {

class NamedMutex {
 public:
  enum class WaitResult { Acquired, Abandoned, Timeout, Failed };
  static constexpr uint32_t kInfinite = 0xFFFFFFFFu;

  NamedMutex();
  ~NamedMutex();
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  // Opens or creates. alreadyExists: set when another process (or another NamedMutex object) has it open.
  bool Create(const std::string& name, bool* alreadyExists = nullptr);
  WaitResult Lock(uint32_t timeoutMs);  // 0xFFFFFFFF = infinite
  bool Unlock();
  void Close();

  // The lock file that stands for a name, e.g. for diagnostics and tests; "" for an empty name.
  static std::string LockFilePath(const std::string& name);

 private:
  int fd_ = -1;              // this object's descriptor; its shared lock on byte 0 says "open"
  void* state_ = nullptr;    // the per-process record of this lock file (ownership, recursion)
};

}  // namespace hm
