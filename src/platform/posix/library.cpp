// Shared libraries through dlopen. Libraries are opened with their own symbol scope (RTLD_LOCAL) so a
// library's symbols never replace the program's, and the loader's error text is kept per object
// because dlerror() is cleared by the next call of any thread's loader functions.
#include <dlfcn.h>

#include "platform/library.h"

namespace hm {

SharedLibrary::~SharedLibrary() = default;

bool SharedLibrary::Load(const std::string& path) {
  if (path.empty()) {
    error_ = "no library path given";
    return false;
  }
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = ::dlerror();
    error_ = why ? why : "cannot load " + path;
    return false;
  }
  handle_ = handle;
  error_.clear();
  return true;
}

void* SharedLibrary::Symbol(const char* name) const {
  if (!handle_) {
    error_ = "no library loaded";
    return nullptr;
  }
  if (!name || !*name) {
    error_ = "no symbol name given";
    return nullptr;
  }
  ::dlerror();  // a null symbol value is legal, so only dlerror() tells a miss apart
  void* address = ::dlsym(handle_, name);
  if (const char* why = ::dlerror()) {
    error_ = why;
    return nullptr;
  }
  if (!address) {
    error_ = std::string("symbol ") + name + " is null";
    return nullptr;
  }
  error_.clear();
  return address;
}

bool SharedLibrary::IsLoaded() const { return handle_ != nullptr; }

std::string SharedLibrary::Error() const { return error_; }

bool SharedLibrary::Unload() {
  if (!handle_) {
    error_ = "no library loaded";
    return false;
  }
  void* handle = handle_;
  handle_ = nullptr;
  if (::dlclose(handle) != 0) {
    const char* why = ::dlerror();
    error_ = why ? why : "cannot unload library";
    return false;
  }
  error_.clear();
  return true;
}

}  // namespace hm
