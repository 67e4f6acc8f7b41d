// Files and folders for every module: whole-file reads and writes, the atomic replace that every store
// uses, wildcard listing, attributes and folder handling. Paths are std::string with '/' separators and
// the bytes are Windows-1252 exactly as given; nothing here converts encodings.
// Stateless free functions, callable from any thread; a FileReader or AtomicFileWriter belongs to one
// thread at a time. Nothing here throws, and nothing may ever leave a half-written store behind: a
// store is replaced only by a complete, flushed file (ReplaceFileAtomically / AtomicFileWriter).
// What this platform cannot do: the read-only attribute is the owner's write permission (root writes
// anyway), and there are no 8.3 short names for wildcards to match.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hm::fs {

bool FileExists(const std::string& path);  // any kind of entry
bool IsDirectory(const std::string& path);

// Why a read could not give a file's bytes. Only kMissing means "there is no such file"; every other
// failure means a file may be there that we could not read, and whatever stands in for it must not be
// written over it without the operator knowing.
enum class ReadStatus { kOk, kMissing, kNotRegular, kTooLarge, kFailed };
struct ReadResult {
  ReadStatus status = ReadStatus::kOk;
  std::string reason;  // the system's reason in words ("Permission denied", "not a regular file", ...)
  bool ok() const { return status == ReadStatus::kOk; }
};
// Reads a whole regular file of at most maxBytes. Never blocks on a FIFO or device (they are refused
// as not regular), never allocates more than the limit, never throws.
ReadResult ReadFileLimited(const std::string& path, uint64_t maxBytes, std::string& out);
// ReadFileLimited with a 256 MiB limit; false on any failure.
bool ReadWholeFile(const std::string& path, std::string& out);
bool WriteWholeFile(const std::string& path, const std::string& data);  // create or truncate
bool AppendToFile(const std::string& path, const std::string& data);

// Writes data to a temporary file in the same folder, flushes it to disk, renames it over path.
// On any failure the old file is untouched and the temporary removed. A replaced file keeps its
// permission bits.
bool ReplaceFileAtomically(const std::string& path, const std::string& data);

class AtomicFileWriter {  // streaming form of the above
 public:
  AtomicFileWriter();
  ~AtomicFileWriter();  // abandons an uncommitted file
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  bool Open(const std::string& path);  // creates the temporary; false when impossible
  bool Write(const void* data, size_t size);
  bool Commit();  // fsync + rename; false (old file kept) on failure
  void Abandon();
  // The system's reason in words for the last failed Open, Write or Commit; "" while none failed.
  const std::string& reason() const { return reason_; }

 private:
  int fd_ = -1;
  bool failed_ = false;
  std::string reason_;
  std::string path_;
  std::string tempPath_;
};

class FileReader {  // plain buffered-by-caller reader
 public:
  FileReader();
  ~FileReader();
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  // Opens a regular file only (a FIFO, device or folder is refused without blocking).
  bool Open(const std::string& path);
  size_t Read(void* buffer, size_t size);  // 0 at end of file or on error; a short count otherwise means the end
  void Close();
  // What the last Open or Read met: kOk, or why the file could not be opened or read to its end.
  const ReadResult& result() const { return result_; }
  uint64_t size() const { return size_; }  // of the open file, as it was at Open
  // Moves to offset from the start of the file, so that an archive's entries are read where they lie
  // instead of reading the whole file. False (result() says why) when no file is open or the seek fails.
  bool Seek(uint64_t offset);

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
  ReadResult result_;
};

struct FileAttributes {
  bool exists = false, isDirectory = false, readOnly = false;
  uint64_t size = 0;
  int64_t modifiedTime = 0;  // unix seconds
};
FileAttributes GetAttributes(const std::string& path);
bool SetReadOnly(const std::string& path, bool readOnly);

// Names (not paths) of the entries of folder matching a Windows wildcard ('*', '?', case-insensitive
// for ASCII and Windows-1252 letters), sorted by name ignoring case (ties by bytes). "*.*" matches every
// name, with or without a dot. "." and ".." are never listed.
std::vector<std::string> FindFiles(const std::string& folder, const std::string& wildcard,
                                   bool includeFolders = false);
// The matcher used by FindFiles, for callers that filter names of their own.
bool WildcardMatch(const std::string& wildcard, const std::string& name);
// Sorts names in the order FindFiles returns them.
void SortNames(std::vector<std::string>& names);
// Compares as Windows compares file and key names: ASCII and Windows-1252 letters ignore case.
bool EqualsIgnoreCase(const std::string& a, const std::string& b);
// The key of a name under EqualsIgnoreCase: two names are equal ignoring case exactly when their keys
// are equal, so a hash map of keys finds what a search with EqualsIgnoreCase would.
std::string FoldCase(std::string name);

bool DeleteFile(const std::string& path);                        // files (and links) only
bool RenameFile(const std::string& from, const std::string& to);  // replaces an existing target
bool CopyFile(const std::string& from, const std::string& to);    // replaces an existing target atomically
bool CreateFolder(const std::string& path);                       // one level; true if it exists already
bool CreateFolders(const std::string& path);                      // all levels
bool RemoveFolder(const std::string& path, bool recursive);       // never follows links out of the tree
std::string CurrentDirectory();
bool SetCurrentDirectory(const std::string& path);
std::string ExecutablePath();                            // /proc/self/exe
std::string ExecutableFolder();                          // without trailing slash
std::string ToPosixPath(std::string windowsStylePath);   // every '\' becomes '/'

// An exclusive lock on a file (created when missing) that the kernel drops when the holder dies, so
// a crashed writer never blocks the others. Each object is its own lock, also within one process.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock();  // unlocks
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Waits up to timeoutMs (0xFFFFFFFF = forever) for the lock; false on time-out or when the lock file
  // cannot be created.
  bool Lock(const std::string& lockPath, uint32_t timeoutMs);
  void Unlock();

 private:
  int fd_ = -1;
};

// The absolute path with every link, "." and ".." resolved; "" when it does not exist or cannot be
// resolved.
std::string ResolvedPath(const std::string& path);
// Whether path, once resolved, lies below folder (also resolved); folder itself is not below itself.
// False when either does not exist. For guards before anything is deleted.
bool LiesInsideFolder(const std::string& path, const std::string& folder);

}  // namespace hm::fs

namespace hm::fs {

// Temporaries of the atomic replace: a kill between creating and renaming one leaves it behind,
// named after the file it was to replace, ".tmp" and 12 lower-case hex digits.
bool IsTemporaryNameOf(const std::string& name, const std::string& fileName);
// Removes from folder the temporaries of the named files that an interrupted replace left behind:
// regular files of exactly that name pattern only, never the files themselves, links or folders.
// For start-up, while nobody writes these files. Returns the count removed.
size_t RemoveLeftTemporaries(const std::string& folder, const std::vector<std::string>& fileNames);

}  // namespace hm::fs
