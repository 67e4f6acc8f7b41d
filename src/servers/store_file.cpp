#include "servers/store_file.h"

#include "platform/files.h"

namespace hm {

std::string StorePath(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

std::string KeepDamagedFile(const std::string& path) {
    // Enough names for any number of damaged starts an operator could let pass unnoticed.
    constexpr unsigned kMaxCopies = 10000;
    const std::string base = path + ".damaged";
    for (unsigned n = 0; n < kMaxCopies; ++n) {
        const std::string target = n == 0 ? base : base + "." + std::to_string(n);
        if (fs::FileExists(target)) continue;
        return fs::RenameFile(path, target) ? target : std::string();
    }
    return std::string();
}

}  // namespace hm
