// Player records: for every nickname seen with an address, the last ten distinct IPv4 addresses it
// played from and when it was last seen. Kept across runs in "PlayerInfo.dat" in the configuration
// folder and mirrored for people in "PlayerInfo.txt" in the log folder.
//
// One store per program, owned by the server manager. The console workers of all servers call Update
// and Save at any time while the user-interface thread loads and stores, so the records sit behind one
// lock and callers only ever get copies; Save is serialised on its own so the text file always ends up
// showing the latest records. A nickname is data only: it is compared ignoring case and written out
// verbatim, never used as a format or as part of a path. Records are only added and changed, never
// removed. A damaged store file is set aside, never overwritten.
//
// Scale: a name is found through an index of case-folded names, so a new address costs the same with
// a million records as with ten; and the text file, a full rewrite, is rewritten at most once every
// kTextPeriodMs while new addresses keep coming (the supervisor tick and every store write what
// waits), never once per address.
#pragma once

#include <cstddef>
#include <cstdint>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <string>
#include <unordered_map>
#include <vector>

#include "servers/archive.h"
#include "servers/progress.h"
#include "servers/store_file.h"

namespace hm {

class Clock;
struct LocalTime;

// Local time as a file time: 100-ns units since 1601-01-01 (of the same zone), and back.
uint64_t LocalTimeToFileTime(const LocalTime& time);
LocalTime FileTimeToLocalTime(uint64_t fileTime);

struct PlayerRecord {
    static constexpr uint32_t kVersion = 1;
    static constexpr size_t kMaxAddresses = 10;

    int32_t ringIndex = -1;  // slot written last; -1 for a new record
    int32_t current = -1;    // index of the most recent address; -1 for a new record
    std::string name;        // as first seen
    uint64_t lastSeen = 0;   // local file time
    std::vector<std::string> addresses;  // distinct dotted IPv4 addresses, at most ten

    bool operator==(const PlayerRecord&) const = default;

    // Notes the address at time now: 1 when it was new for this record, else 0 (lastSeen moves
    // either way). The eleventh distinct address takes the place of the oldest.
    int AddAddress(const std::string& address, uint64_t now);

    // "YYYY-MM-DD name - current, other, ...\r\n"
    std::string TextLine() const;

    void Write(ArchiveWriter& ar) const;
    void Read(ArchiveReader& ar);  // version 0: nothing more follows for the record
};

class PlayerInfoStore {
public:
    static constexpr const char* kFileName = "PlayerInfo.dat";
    static constexpr const char* kTextName = "PlayerInfo.txt";
    static constexpr uint32_t kVersion = 1;
    static constexpr uint32_t kTextPeriodMs = 10000;  // least time between two text file rewrites

    explicit PlayerInfoStore(Clock& clock);
    ~PlayerInfoStore();

    // Finds the record of name ignoring case (a new one is appended when there is none) and adds the
    // address to it. 1 when the address was new for that name, else 0.
    int Update(const std::string& name, const std::string& address);

    // Notes that the text file (textPath) must show a change: rewrites it at once when the last
    // rewrite is at least kTextPeriodMs ago, else leaves it to SaveIfDue or Store. False when it could
    // not be written or no text path is set yet.
    bool Save();
    // Rewrites the text file when a change waits for it and its period has passed, or at once with
    // force. True when nothing waits or the file was written.
    bool SaveIfDue(bool force = false);
    // SaveIfDue carried out on a writer thread of the store's own (started by the first call), so the
    // caller, the supervisor's pass on the user-interface thread, never waits for a large file (a
    // rewrite of 100 000 records takes about a tenth of a second, most of it the flush to disk). Never
    // blocks. After StopWriter it does nothing: Store writes what is left.
    void SaveIfDueSoon();
    void StopWriter();

    // Sets the text path to logFolder + "PlayerInfo.txt" and reads the store file of configFolder.
    // Absent: the store stays empty. Damaged: what was read completely is kept and the file set aside
    // (see LastDamagedPath).
    StoreLoad Load(const std::string& configFolder, const std::string& logFolder,
                   ProgressSteps* progress);
    // Writes the store file (temporary file renamed over the old one), and the text file when a change
    // waits for it. False when the store file was not written, also when a damaged file could not be
    // set aside at the load.
    bool Store(const std::string& configFolder, ProgressSteps* progress);

    void SetTextPath(const std::string& path);
    std::string TextPath() const;
    const std::string& LastDamagedPath() const { return fileState_.lastDamagedPath; }
    // How the last load and write of the file went (see store_file.h).
    StoreFileState& FileState() { return fileState_; }

    std::vector<PlayerRecord> Records() const;
    size_t Count() const;

    // The text file's content and the store file's bytes for the current records.
    std::string Text() const;
    std::string Serialize() const;
    // Replaces the records with those of an archive; the reader's Failed() tells about damage.
    void ReadFrom(ArchiveReader& ar);

private:
    static void WriteRecords(ArchiveWriter& ar, const std::vector<PlayerRecord>& records);
    void RebuildIndex();            // under lock_
    bool WriteTextFile(uint32_t now);  // under saveLock_

    Clock& clock_;
    mutable std::mutex lock_;  // guards records_, index_ and textPath_
    std::vector<PlayerRecord> records_;
    std::unordered_map<std::string, size_t> index_;  // folded name -> first record of that name
    std::string textPath_;
    std::mutex saveLock_;      // one text file rewrite at a time; guards the three fields below
    bool textPending_ = false;
    bool textWritten_ = false;  // lastTextTick_ holds a time
    uint32_t lastTextTick_ = 0;

    StoreFileState fileState_;  // user-interface thread only, like Load and Store

    void WriterLoop();
    std::mutex writerLock_;     // guards the writer's thread handle and the two flags below
    std::condition_variable writerWake_;
    std::thread writer_;
    bool writerWanted_ = false;
    bool writerStopped_ = false;
};

}  // namespace hm
