// What every binary store of the configuration folder shares: the outcome of a load, the path of a
// store file, the read of a list, and keeping a damaged file aside.
//
// Used by the stores on the user-interface thread at start-up, shutdown and the periodic save. A
// damaged file is never overwritten or deleted here: it is renamed to a name that no earlier copy has,
// so the operator can still look at it after the program went on with what it could read.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "servers/archive.h"
#include "servers/progress.h"

namespace hm {

enum class StoreLoad {
    Absent,   // no file (or it cannot be opened): defaults stay
    Loaded,   // read completely
    Damaged,  // short or impossible data: what was read completely is kept, the file was set aside
};

// folder + name; folder may or may not end with '/' ("" = the current folder).
std::string StorePath(const std::string& folder, const std::string& name);

// Renames path to "<path>.damaged", or "<path>.damaged.1", ".2", ... when earlier copies exist.
// Returns the new path, or "" when the file could not be moved.
std::string KeepDamagedFile(const std::string& path);

// Where a store keeps what its last load found wrong with the file.
struct StoreFileState {
    std::string lastDamagedPath;  // where the damaged file went; "" when it was fine or could not be moved
    bool storeBlocked = false;    // a damaged file could not be set aside: never write over it
};

// Opens path and reads it with read. Absent: no file (nothing read). Damaged: the reader stopped
// early; the file is set aside and state tells where (or blocks later stores when it cannot be moved).
StoreLoad LoadStoreFile(const std::string& path, const std::function<void(ArchiveReader&)>& read,
                        StoreFileState& state);
// Writes the store through a temporary file renamed over path; the progress step is shown only once
// the temporary exists. False when nothing was written (the old file then stays as it was).
bool StoreStoreFile(const std::string& path, ProgressSteps* progress, const char* step,
                    const std::function<void(ArchiveWriter&)>& write, const StoreFileState& state);

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
