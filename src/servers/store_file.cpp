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

StoreLoad LoadStoreFile(const std::string& path, const std::function<void(ArchiveReader&)>& read,
                        StoreFileState& state) {
    state.lastDamagedPath.clear();
    ArchiveReader ar;
    if (!ar.OpenFile(path)) return StoreLoad::Absent;
    read(ar);
    ar.Close();
    if (!ar.Failed()) return StoreLoad::Loaded;
    state.lastDamagedPath = KeepDamagedFile(path);
    state.storeBlocked = state.lastDamagedPath.empty();
    return StoreLoad::Damaged;
}

bool StoreStoreFile(const std::string& path, ProgressSteps* progress, const char* step,
                    const std::function<void(ArchiveWriter&)>& write, const StoreFileState& state) {
    if (state.storeBlocked) return false;
    fs::AtomicFileWriter file;
    if (!file.Open(path)) return false;
    if (progress) progress->Step(step);
    ArchiveWriter ar(&file);
    write(ar);
    if (!ar.Flush()) {
        file.Abandon();
        return false;
    }
    return file.Commit();
}

}  // namespace hm
