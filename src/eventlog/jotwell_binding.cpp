#include "eventlog/jotwell_binding.h"

#include <vector>

#include "platform/files.h"
#include "platform/registry.h"

namespace hm {

JotwellBinding::JotwellBinding() = default;
JotwellBinding::~JotwellBinding() = default;  // the library stays loaded until the process ends

namespace {

// Debian's multiarch folder name of the architecture this program was built for ("" when unknown).
constexpr const char* kMultiarch =
#if defined(__x86_64__) && defined(__LP64__)
    "x86_64-linux-gnu";
#elif defined(__aarch64__)
    "aarch64-linux-gnu";
#elif defined(__i386__)
    "i386-linux-gnu";
#elif defined(__arm__) && defined(__ARM_PCS_VFP)
    "arm-linux-gnueabihf";
#elif defined(__riscv) && __riscv_xlen == 64
    "riscv64-linux-gnu";
#else
    "";
#endif

// The library beside the program (a build folder, an unpacked release), else where an installation
// under a prefix keeps it: the program in PREFIX/bin, the library in PREFIX/lib/<multiarch> or PREFIX/lib.
std::string FindJotwell(const std::string& programFolder) {
    std::vector<std::string> candidates = {programFolder + "/" + kJotwellFileName};
    const size_t slash = programFolder.find_last_of('/');
    if (slash != std::string::npos && programFolder.compare(slash, std::string::npos, "/bin") == 0) {
        const std::string lib = programFolder.substr(0, slash) + "/lib/";
        if (*kMultiarch) candidates.push_back(lib + kMultiarch + "/" + kJotwellFileName);
        candidates.push_back(lib + kJotwellFileName);
    }
    for (const std::string& path : candidates)
        if (fs::FileExists(path)) return path;
    return "";
}

}  // namespace

void JotwellBinding::BindAtStartup(const std::string& programFolder, Registry& registry) {
    const std::string path = FindJotwell(programFolder);
    if (path.empty()) {
        present_ = false;
        setUseGlobalJotwell(false);
        return;
    }
    present_ = true;
    BindJotwell(path);
    setUseGlobalJotwell(ReadSwitch(registry));
}

int JotwellBinding::BindJotwell(const std::string& path) {
    if (!library_.IsLoaded() && !library_.Load(path.empty() ? std::string(kJotwellFileName) : path)) return 0;
    jotwell = reinterpret_cast<JotwellFn>(library_.Symbol("Jotwell"));
    jotwellEx = reinterpret_cast<JotwellExFn>(library_.Symbol("JotwellEx"));
    jotwellExQ = reinterpret_cast<JotwellExFn>(library_.Symbol("JotwellExQ"));
    sJotwell = reinterpret_cast<JotwellFn>(library_.Symbol("sJotwell"));
    sJotwellEx = reinterpret_cast<JotwellExFn>(library_.Symbol("sJotwellEx"));
    sJotwellExQ = reinterpret_cast<JotwellExFn>(library_.Symbol("sJotwellExQ"));
    return (jotwell && jotwellEx && jotwellExQ && sJotwell && sJotwellEx && sJotwellExQ) ? 1 : 0;
}

bool JotwellBinding::BuildPrefix() {
    std::lock_guard<std::mutex> lock(prefixLock_);
    if (!prefix_.empty()) return true;
    std::string folder = fs::CurrentDirectory();
    if (folder.empty() || folder.size() >= 1948) folder = fs::ExecutableFolder();
    if (folder.empty()) return false;
    if (folder.back() != '/') folder += '/';
    prefix_ = folder + "log/Haldmoor3_";
    return true;
}

int JotwellBinding::WriteGlobalLog(const std::string& text) {
    if (!jotwellEx) return -50;
    if (!BuildPrefix()) return -51;
    // The library fills the string members of the record during a call and clears them again at its
    // end; one shared record would be written by two threads at once, so every call gets its own
    // all-zero record, which means exactly the same thing.
    JotwellOptions options{};
    return jotwellEx(prefix_.c_str(), text.c_str(), &options);
}

bool JotwellBinding::StoreSwitch(Registry& registry, bool on) {
    RegValue value;
    value.type = RegType::Binary;
    value.binary = std::string("\0\0\0\0", 4);
    value.binary[0] = on ? 1 : 0;
    return registry.Write(kGameRegistryKey, kUseGlobalJotwellValue, value);
}

bool JotwellBinding::ReadSwitch(Registry& registry) {
    RegValue value;
    if (!registry.Read(kGameRegistryKey, kUseGlobalJotwellValue, value)) return false;
    switch (value.type) {
        case RegType::Binary: return !value.binary.empty() && static_cast<signed char>(value.binary[0]) != 0;
        case RegType::Dword: return (value.dword & 0xFF) != 0;
        default: return false;
    }
}

}  // namespace hm
