// Run-time binding of the logging library (libjotwell.so) and the global log written through it.
//
// Owned by the application object for the life of the process. The library is looked for in the
// program's own folder only, bound once at start-up and never unloaded; without it the program runs
// unchanged and writes no log files. WriteGlobalLog may be called from any thread once binding is
// done (the library serialises file access itself); the prefix is built on first use under a lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "jotwell.h"
#include "platform/library.h"

namespace hm {

class Registry;

// The game's registry key and the switch value that decides whether the global log is written.
inline constexpr const char* kGameRegistryKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Brannock\\Kelvane3";
inline constexpr const char* kUseGlobalJotwellValue = "Haldmoor3UseGlobalJotwell";
// File name of the library in the program's folder.
inline constexpr const char* kJotwellFileName = "libjotwell.so";

class JotwellBinding {
public:
    using JotwellFn = int (*)(const char*, const char*, uint32_t, uint32_t, uint32_t);
    using JotwellExFn = int (*)(const char*, const char*, JotwellOptions*);

    JotwellBinding();
    ~JotwellBinding();

    // Start-up binding: looks for the library in programFolder; when present binds it and reads the
    // switch from the registry. Result ignored by the start-up (a missing export only makes
    // WriteGlobalLog return -50).
    void BindAtStartup(const std::string& programFolder, Registry& registry);
    // Loads the library from path (null or empty: by plain name) and looks up the six exports in
    // order. 1 when all six were found, else 0.
    int BindJotwell(const std::string& path);

    // Writes one line to the global log only. 0 written, negative library error, -50 not bound,
    // -51 prefix not available.
    int WriteGlobalLog(const std::string& text);

    // Writes the switch as REG_BINARY, 4 bytes, little-endian.
    static bool StoreSwitch(Registry& registry, bool on);
    // Reads the switch: first byte of the value, non-zero = on; unreadable = off.
    static bool ReadSwitch(Registry& registry);

    bool jotwellPresent() const { return present_; }
    // The switch is set on the user-interface thread and read by every thread that adds an event.
    bool useGlobalJotwell() const { return useGlobal_.load(std::memory_order_acquire); }
    void setUseGlobalJotwell(bool on) { useGlobal_.store(on, std::memory_order_release); }
    const std::string& globalLogPrefix() const { return prefix_; }

    // Export pointers as looked up (null when missing).
    JotwellFn jotwell = nullptr;
    JotwellExFn jotwellEx = nullptr;
    JotwellExFn jotwellExQ = nullptr;
    JotwellFn sJotwell = nullptr;
    JotwellExFn sJotwellEx = nullptr;
    JotwellExFn sJotwellExQ = nullptr;

private:
    bool BuildPrefix();

    SharedLibrary library_;
    bool present_ = false;
    std::atomic<bool> useGlobal_{false};
    std::mutex prefixLock_;
    std::string prefix_;
};

}  // namespace hm
