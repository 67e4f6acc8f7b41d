// Mission archives: the HOG2 files ("*.mn3") of the game's "missions" folder. Reads an archive's
// directory and its mission description for the mission list, and gives the extraction of custom
// objects the same directory reader.
//
// Pure file reading, usable on any thread (the mission list is built on the user-interface thread).
// An archive is outside data: every count, length and offset is checked against the file's size
// before it is used, so a damaged or hostile archive is simply not listed. An archive is never read
// whole: the directory is read a block at a time and the reader seeks to the entries it needs, so the
// memory used does not grow with the archive's size. Nothing here writes, and nothing opens a FIFO or
// device (they are refused without blocking).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "game/game_files.h"
#include "platform/files.h"

namespace hm {

inline constexpr size_t kHog2HeaderSize = 68;
inline constexpr size_t kHog2EntrySize = 48;
inline constexpr size_t kHog2NameField = 40;  // the name is zero-terminated within it; the length follows

struct Hog2Header {
    uint32_t fileCount = 0;
    uint32_t dataOffset = 0;  // where the first file's data starts
};

struct Hog2Entry {
    std::string name;
    uint64_t offset = 0;  // from the start of the archive
    uint32_t length = 0;
};

// `header` holds the first kHog2HeaderSize bytes; false unless they begin with "HOG2".
bool ParseHog2Header(const char* header, Hog2Header& out);
// True when the directory and the data of `entry` lie inside a file of `fileSize` bytes.
bool Hog2DirectoryFits(const Hog2Header& header, uint64_t fileSize);
bool Hog2DataFits(const Hog2Entry& entry, uint64_t fileSize);

// One open archive: its header, then its directory entry by entry (each file's data follows the ones
// before it), and the data of single entries read by seeking to them. Holds one directory block and
// one copy block at most, whatever the archive's size.
class Hog2Archive {
public:
    enum class Opened {
        kOk,
        kOpenFailed,  // missing, not a regular file, or unreadable: result() says why
        kTooSmall,    // shorter than minSize
        kReadFailed,  // the header could not be read
        kNotHog2,
        kDamaged,     // the directory reaches beyond the end of the file
    };
    // Opens the archive, reads and checks its header. An archive of fewer than minSize bytes is
    // refused as kTooSmall before anything is read.
    Opened Open(const std::string& path, uint64_t minSize = kHog2HeaderSize);
    const fs::ReadResult& result() const { return file_.result(); }
    uint64_t size() const { return file_.size(); }
    const Hog2Header& header() const { return header_; }

    // Starts the directory over at its first entry.
    void Rewind();
    // The next directory entry; false after the last one or when it cannot be read (failed()).
    bool Next(Hog2Entry& entry);
    bool failed() const { return failed_; }

    // The data of `entry`, which must lie inside the file; false when it does not, when it is longer
    // than maxBytes, or when it cannot be read.
    bool ReadData(const Hog2Entry& entry, uint64_t maxBytes, std::string& out);
    // Copies the data of `entry` to `writer` a block at a time.
    bool CopyData(const Hog2Entry& entry, fs::AtomicFileWriter& writer);

private:
    fs::FileReader file_;
    Hog2Header header_;
    uint32_t nextIndex_ = 0;      // of the next entry Next returns
    uint64_t nextOffset_ = 0;     // running data offset of that entry
    std::string block_;           // directory entries read ahead
    size_t blockPos_ = 0;
    bool failed_ = false;
};

// A name that may be used as a file name inside one folder: not empty, no path separator, no drive,
// no "..", no control bytes. Names from archives and object lists that fail this are never written or deleted.
bool IsPlainFileName(const std::string& name);

// The longest mission description read out of an archive: a text file of the game, never near this.
inline constexpr uint64_t kMaxMissionDescription = 1u << 20;

// Reads the first ".msn" file of the archive at `path` into `mission` (ParseMissionDescription).
// False when the archive cannot be read, is not HOG2, is damaged or holds no description.
bool ReadMissionDescriptionFromArchive(const std::string& path, CMissionInfo& mission);

// Reads the archive `mission.fileName` of `folder` and appends the mission to `list` when it is usable
// (named, with at least one level). The reader CGameInstallation uses for new and changed archives.
void ReadMissionArchive(CMissionList& list, const std::string& folder, CMissionInfo mission);

}  // namespace hm
