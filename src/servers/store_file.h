// What every binary store of the configuration folder shares: the outcome of a load, the path of a
// store file, the read of a list, keeping a damaged file aside, and what a failed load or write
// leaves for the operator to hear about.
//
// Used by the stores on the user-interface thread at start-up, shutdown and the periodic save. A
// damaged file is never overwritten or deleted here: it is renamed to a name that no earlier copy has,
// so the operator can still look at it after the program went on with what it could read. A file that
// is there but cannot be read (permissions, a folder in its place, an I/O error) is never written over
// in that run, and a failed write is never taken for a done one.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "servers/archive.h"
#include "servers/progress.h"

namespace hm {

enum class StoreLoad {
    Absent,      // no such file: defaults stay
    Loaded,      // read completely
    Damaged,     // short or impossible data: what was read completely is kept, the file was set aside
    Unreadable,  // a file may be there but could not be read: defaults stay (see unreadableReason)
};

// The largest store file that is read; anything bigger is not a store this program wrote.
inline constexpr uint64_t kStoreFileLimit = 256ull << 20;

// Event texts about store files: the file's full path, then the system's reason.
inline constexpr const char* kStoreUnreadableText =
    "Error: Cannot read %s (%s); it is left as it is and not written in this run.";
inline constexpr const char* kCacheUnreadableText = "Error: Cannot read %s (%s); it is rebuilt from the game folder.";
inline constexpr const char* kStoreWriteFailedText = "Error: Cannot write %s (%s); the previous copy is kept.";

// folder + name; folder may or may not end with '/' ("" = the current folder).
std::string StorePath(const std::string& folder, const std::string& name);

// Renames path to "<path>.damaged", or "<path>.damaged.1", ".2", ... when earlier copies exist.
// Returns the new path, or "" when the file could not be moved.
std::string KeepDamagedFile(const std::string& path);

// Where a store keeps what its last load found wrong with the file.
// Where a store keeps what its last load found wrong with the file, and how its writes went.
struct StoreFileState {
    std::string lastDamagedPath;   // where the damaged file went; "" when it was fine or could not be moved
    std::string unreadableReason;  // why the last load could not read the file; "" when it could
    bool storeBlocked = false;     // the file could not be read or set aside: never write over it
    std::string writeFailure;      // why the last write failed; "" when it succeeded or none was tried
    std::set<std::string> reportedFailures;  // causes told since the last successful write
};

// Reads path whole (at most kStoreFileLimit) and hands it to read. Absent: no such file. Unreadable:
// something is there that could not be read; state says why and, when blockUnreadable is set, later
// stores are refused for the rest of the run. Damaged: the reader stopped early; the file is set
// aside and state tells where (or blocks later stores when it cannot be moved).
StoreLoad LoadStoreFile(const std::string& path, const std::function<void(ArchiveReader&)>& read,
                        StoreFileState& state, bool blockUnreadable = true);
// Writes the store through a temporary file renamed over path; the progress step is shown only once
// the temporary exists. False when nothing was written (the old file then stays as it was); the cause
// is then in state.writeFailure, unless the store was blocked on purpose.
bool StoreStoreFile(const std::string& path, ProgressSteps* progress, const char* step,
                    const std::function<void(ArchiveWriter&)>& write, StoreFileState& state);
// Record how a write of a store ended, for stores that write through a path of their own. After a
// success every cause may be told again when it comes back.
void NoteStoreWriteDone(StoreFileState& state);
void NoteStoreWriteFailed(StoreFileState& state, const std::string& reason);
// The cause of the last failed write when it has not been told since the last successful write, and
// marks it told; "" when there is nothing new to tell. Each cause is told once per store.
std::string TakeWriteFailureToReport(StoreFileState& state);

// Reads the list part of a store: a leading dword (0: no list follows), a count, then each element's
// block. Elements are appended one by one as they are read completely, so a damaged count can never
// allocate more than the file really holds, and an element cut short by damage is dropped.
template <class T, class ReadElement>
void ReadStoreList(ArchiveReader& ar, std::vector<T>& list, ReadElement readElement) {
    uint32_t present = 0;
    if (!ar.Get(present) || present == 0) return;
    uint32_t count = 0;
    if (!ar.GetCount(count, 4)) return;  // every element block holds at least its version dword
    for (uint32_t i = 0; i < count; ++i) {
        T element;
        readElement(ar, element);
        if (ar.Failed()) return;
        list.push_back(std::move(element));
    }
}

}  // namespace hm
