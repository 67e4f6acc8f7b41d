#include "eventlog/jotwell_binding.h"

#include "platform/files.h"
#include "platform/registry.h"

namespace hm {

JotwellBinding::JotwellBinding() = default;
JotwellBinding::~JotwellBinding() = default;  // the library stays loaded until the process ends

void JotwellBinding::BindAtStartup(const std::string& programFolder, Registry& registry) {
    const std::string path = programFolder + "/" + kJotwellFileName;
    if (!fs::FileExists(path)) {
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
