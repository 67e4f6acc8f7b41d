// Run-time binding of shared libraries: the program binds the logging library (libjotwell.so) from
// its own folder when the file is there and runs unchanged without it.
// Owned by whoever binds the library and used by one thread at a time; the function pointers it hands
// out may be called from any thread. A library is never unloaded by the destructor, because code of the library
// (its logging thread, its exit handlers) may still run after the object is gone; only an explicit
// Unload() closes it. Symbols are looked up by their plain C names.
#pragma once

#include <string>

namespace hm {

class SharedLibrary {
 public:
  SharedLibrary() = default;
  ~SharedLibrary();  // never unloads
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  // Binds every symbol at once, so a library with a missing dependency fails here, not mid-call.
  // Loading again while loaded keeps the old library bound (never unloaded) and switches to the new one.
  bool Load(const std::string& path);
  void* Symbol(const char* name) const;  // nullptr when missing or nothing is loaded
  bool IsLoaded() const;
  std::string Error() const;  // why the last Load() or Symbol() failed; "" after success
  bool Unload();              // the explicit unload; false when nothing is loaded or closing fails

 private:
  void* handle_ = nullptr;
  mutable std::string error_;
};

}  // namespace hm
