// The process-wide tracker information store: key/value entries that a remote tool sets and removes
// through the remote info server, kept across program runs in "TrackerInfo.dat" in the configuration
// folder.
//
// Owned by the server manager. The remote info server thread changes it while the user-interface
// thread loads, stores and lists it, so every access goes through one lock; callers get copies, never
// references into the array. A damaged store file is set aside, never overwritten: when that fails the
// store refuses to write, so unread entries are never lost silently.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

#include "servers/archive.h"
#include "servers/progress.h"
#include "servers/store_file.h"

namespace hm {

struct TrackerInfo {
    static constexpr uint32_t kVersion = 1;

    std::string key;
    std::string value;
    std::string extra;

    bool operator==(const TrackerInfo&) const = default;
    void Write(ArchiveWriter& ar) const;
    void Read(ArchiveReader& ar);  // version 0: an empty entry
};

class TrackerInfoStore {
public:
    static constexpr const char* kFileName = "TrackerInfo.dat";
    static constexpr uint32_t kVersion = 1;

    // The entry with exactly this key (case counts) gets the value; without one a new entry is
    // appended. Always true.
    bool Set(const std::string& key, const std::string& value);
    // Removes the first entry with this key, keeping the order of the rest; false when there is none.
    bool Remove(const std::string& key);

    std::vector<TrackerInfo> Entries() const;
    size_t Count() const;

    // Absent: the entries stay as they are. Loaded: replaced by the file's. Damaged: what was read
    // completely is kept and the file set aside (see LastDamagedPath). Unreadable: the entries stay
    // and the file is never written in this run.
    StoreLoad Load(const std::string& configFolder, ProgressSteps* progress);
    // Writes the file (temporary file renamed over the old one) when the store holds entries, or when
    // the file it last loaded or stored held entries that have all been removed since, so removed
    // entries do not come back at the next start. Otherwise nothing is written, and that succeeds.
    // False when a write was due and failed, or when the file could not be read or set aside.
    bool Store(const std::string& configFolder, ProgressSteps* progress);

    const std::string& LastDamagedPath() const { return fileState_.lastDamagedPath; }
    // How the last load and write of the file went (see store_file.h).
    StoreFileState& FileState() { return fileState_; }

    // The file's bytes for the current entries.
    std::string Serialize() const;
    // Replaces the entries with those of an archive; the reader's Failed() tells about damage.
    void ReadFrom(ArchiveReader& ar);

private:
    static void WriteEntries(ArchiveWriter& ar, const std::vector<TrackerInfo>& entries);

    mutable std::mutex lock_;
    std::vector<TrackerInfo> entries_;

    // User-interface thread only, like Load and Store.
    bool fileHoldsEntries_ = false;  // what the last load read or the last store wrote
    StoreFileState fileState_;
};

}  // namespace hm
