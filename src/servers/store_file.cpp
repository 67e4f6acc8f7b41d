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
                        StoreFileState& state, bool blockUnreadable) {
    state.lastDamagedPath.clear();
    state.unreadableReason.clear();
    // The whole file is read first, so an I/O error half-way can never pass for a short file.
    std::string bytes;
    const fs::ReadResult result = fs::ReadFileLimited(path, kStoreFileLimit, bytes);
    if (result.status == fs::ReadStatus::kMissing) return StoreLoad::Absent;
    if (!result.ok()) {
        state.unreadableReason = result.reason.empty() ? std::string("unknown error") : result.reason;
        if (blockUnreadable) state.storeBlocked = true;
        return StoreLoad::Unreadable;
    }
    ArchiveReader ar(std::move(bytes));
    read(ar);
    if (!ar.Failed()) return StoreLoad::Loaded;
    state.lastDamagedPath = KeepDamagedFile(path);
    state.storeBlocked = state.lastDamagedPath.empty();
    return StoreLoad::Damaged;
}

bool StoreStoreFile(const std::string& path, ProgressSteps* progress, const char* step,
                    const std::function<void(ArchiveWriter&)>& write, StoreFileState& state) {
    if (state.storeBlocked) return false;
    fs::AtomicFileWriter file;
    if (!file.Open(path)) {
        NoteStoreWriteFailed(state, file.reason());
        return false;
    }
    if (progress) progress->Step(step);
    ArchiveWriter ar(&file);
    write(ar);
    if (!ar.Flush()) {
        const std::string reason = file.reason();
        file.Abandon();
        NoteStoreWriteFailed(state, reason);
        return false;
    }
    const bool committed = file.Commit();
    if (committed) {
        NoteStoreWriteDone(state);
    } else {
        NoteStoreWriteFailed(state, file.reason());
    }
    return committed;
}

void NoteStoreWriteDone(StoreFileState& state) {
    state.writeFailure.clear();
    state.reportedFailures.clear();
}

void NoteStoreWriteFailed(StoreFileState& state, const std::string& reason) {
    state.writeFailure = reason.empty() ? std::string("unknown error") : reason;
}

std::string TakeWriteFailureToReport(StoreFileState& state) {
    if (state.writeFailure.empty()) return std::string();
    if (!state.reportedFailures.insert(state.writeFailure).second) return std::string();
    return state.writeFailure;
}

}  // namespace hm
