// The binary encoding of the program's store files: little-endian words and dwords, length-prefixed
// strings, counts, string lists and address lists, exactly as earlier releases wrote them.
//
// Used by the stores (server configurations, supervised servers, tracker infos, ...) on whichever thread
// loads or stores them; one writer or reader belongs to one load or store and is never shared. Both go
// through a 4096-byte buffer. The reader must never trust the file: a short file or a count or length
// that cannot fit in the bytes left puts it into a sticky failed state instead of reading on or
// allocating for it, so a damaged file can neither crash the program nor make it allocate gigabytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/files.h"

namespace hm {

class ArchiveWriter {
public:
    static constexpr size_t kBufferSize = 4096;

    explicit ArchiveWriter(std::string* sink);          // appends to a string (tests, in-memory copies)
    explicit ArchiveWriter(fs::AtomicFileWriter* sink);  // streams into an opened atomic file
    ~ArchiveWriter();                                   // flushes what is still buffered
    ArchiveWriter(const ArchiveWriter&) = delete;
    ArchiveWriter& operator=(const ArchiveWriter&) = delete;

    void Byte(uint8_t value);
    void Word(uint16_t value);
    void Dword(uint32_t value);
    void Bytes(const void* data, size_t size);
    // Length as one byte below 255; else 0xFF and a word below 0xFFFE; else 0xFF, 0xFFFF and a dword.
    void String(const std::string& text);
    // A word below 0xFFFF; else 0xFFFF and a dword.
    void Count(size_t count);
    void StringList(const std::vector<std::string>& list);
    void AddressList(const std::vector<uint32_t>& list);  // network byte order dwords

    // Hands the buffered bytes to the sink; false once any write to the sink failed.
    bool Flush();
    bool Failed() const { return failed_; }

private:
    std::string* stringSink_ = nullptr;
    fs::AtomicFileWriter* fileSink_ = nullptr;
    std::array<uint8_t, kBufferSize> buffer_{};
    size_t used_ = 0;
    bool failed_ = false;
};

class ArchiveReader {
public:
    static constexpr size_t kBufferSize = 4096;

    ArchiveReader() = default;
    explicit ArchiveReader(std::string data);  // reads from memory
    ArchiveReader(const ArchiveReader&) = delete;
    ArchiveReader& operator=(const ArchiveReader&) = delete;

    // Opens a file for reading; false (nothing to read) when it cannot be opened.
    bool OpenFile(const std::string& path);
    void Close();

    // Each read leaves its target unchanged and returns false once the reader has failed, so fields
    // that could not be read keep their defaults. The value forms return 0 or empty on failure.
    bool Get(uint8_t& value);
    bool Get(uint16_t& value);
    bool Get(uint32_t& value);
    bool Get(int32_t& value);
    bool GetString(std::string& text);
    // minBytesEach: the fewest bytes one element can take in the file; a count whose elements could not
    // fit in what is left fails the reader.
    bool GetCount(uint32_t& count, size_t minBytesEach);
    bool GetStringList(std::vector<std::string>& list);
    bool GetAddressList(std::vector<uint32_t>& list);

    uint16_t Word();
    uint32_t Dword();
    std::string String();

    bool Failed() const { return failed_; }
    // Marks the data as damaged (a value that no earlier release can have written).
    void Fail() { failed_ = true; }
    uint64_t Remaining() const { return failed_ ? 0 : size_ - consumed_; }

private:
    bool ReadBytes(void* out, size_t size);
    bool Refill();

    fs::FileReader file_;
    bool fromFile_ = false;
    std::string memory_;
    std::vector<uint8_t> buffer_;
    size_t bufferPos_ = 0;
    size_t bufferEnd_ = 0;
    uint64_t size_ = 0;      // bytes of the whole source
    uint64_t consumed_ = 0;  // bytes handed out so far
    bool failed_ = false;
};

}  // namespace hm
