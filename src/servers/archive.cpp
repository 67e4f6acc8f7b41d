#include "servers/archive.h"

#include <algorithm>
#include <cstring>

namespace hm {

namespace {
constexpr uint8_t kLongStringByte = 0xFF;
constexpr uint16_t kLongStringWord = 0xFFFF;
// A word of 0xFFFE after the 0xFF byte marks a wide-character string in the framework that wrote these
// files first; the program never wrote one, so meeting it means the data is damaged.
constexpr uint16_t kWideStringMarker = 0xFFFE;
constexpr uint16_t kLongCountWord = 0xFFFF;
}  // namespace

// ---- writer ----

ArchiveWriter::ArchiveWriter(std::string* sink) : stringSink_(sink) {}
ArchiveWriter::ArchiveWriter(fs::AtomicFileWriter* sink) : fileSink_(sink) {}
ArchiveWriter::~ArchiveWriter() { Flush(); }

bool ArchiveWriter::Flush() {
    if (used_ == 0 || failed_) {
        used_ = 0;
        return !failed_;
    }
    if (stringSink_) {
        stringSink_->append(reinterpret_cast<const char*>(buffer_.data()), used_);
    } else if (!fileSink_ || !fileSink_->Write(buffer_.data(), used_)) {
        failed_ = true;
    }
    used_ = 0;
    return !failed_;
}

void ArchiveWriter::Bytes(const void* data, size_t size) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    while (size > 0 && !failed_) {
        if (used_ == buffer_.size()) Flush();
        const size_t chunk = std::min(size, buffer_.size() - used_);
        std::memcpy(buffer_.data() + used_, bytes, chunk);
        used_ += chunk;
        bytes += chunk;
        size -= chunk;
    }
}

void ArchiveWriter::Byte(uint8_t value) { Bytes(&value, 1); }

void ArchiveWriter::Word(uint16_t value) {
    const uint8_t bytes[2] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)};
    Bytes(bytes, 2);
}

void ArchiveWriter::Dword(uint32_t value) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                              static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    Bytes(bytes, 4);
}

void ArchiveWriter::String(const std::string& text) {
    const size_t length = text.size();
    if (length < kLongStringByte) {
        Byte(static_cast<uint8_t>(length));
    } else if (length < kWideStringMarker) {
        Byte(kLongStringByte);
        Word(static_cast<uint16_t>(length));
    } else {
        Byte(kLongStringByte);
        Word(kLongStringWord);
        Dword(static_cast<uint32_t>(length));
    }
    Bytes(text.data(), length);
}

void ArchiveWriter::Count(size_t count) {
    if (count < kLongCountWord) {
        Word(static_cast<uint16_t>(count));
    } else {
        Word(kLongCountWord);
        Dword(static_cast<uint32_t>(count));
    }
}

void ArchiveWriter::StringList(const std::vector<std::string>& list) {
    Count(list.size());
    for (const std::string& text : list) String(text);
}

void ArchiveWriter::AddressList(const std::vector<uint32_t>& list) {
    Count(list.size());
    for (uint32_t address : list) Dword(address);
}

// ---- reader ----

ArchiveReader::ArchiveReader(std::string data) : memory_(std::move(data)) { size_ = memory_.size(); }

bool ArchiveReader::OpenFile(const std::string& path) {
    Close();
    if (!file_.Open(path)) return false;
    fromFile_ = true;
    size_ = fs::GetAttributes(path).size;
    buffer_.resize(kBufferSize);
    return true;
}

void ArchiveReader::Close() {
    if (fromFile_) file_.Close();
    fromFile_ = false;
}

bool ArchiveReader::Refill() {
    bufferPos_ = 0;
    bufferEnd_ = 0;
    if (!fromFile_) return false;  // memory is served straight from memory_
    const uint64_t left = size_ - consumed_;
    const size_t want = static_cast<size_t>(std::min<uint64_t>(left, buffer_.size()));
    if (want == 0) return false;
    bufferEnd_ = file_.Read(buffer_.data(), want);
    return bufferEnd_ > 0;
}

bool ArchiveReader::ReadBytes(void* out, size_t size) {
    if (failed_) return false;
    if (size > size_ - consumed_) {
        failed_ = true;
        return false;
    }
    uint8_t* target = static_cast<uint8_t*>(out);
    if (!fromFile_) {
        std::memcpy(target, memory_.data() + consumed_, size);
        consumed_ += size;
        return true;
    }
    while (size > 0) {
        if (bufferPos_ == bufferEnd_ && !Refill()) {
            failed_ = true;  // the file ended before the size it had when opened
            return false;
        }
        const size_t chunk = std::min(size, bufferEnd_ - bufferPos_);
        std::memcpy(target, buffer_.data() + bufferPos_, chunk);
        bufferPos_ += chunk;
        consumed_ += chunk;
        target += chunk;
        size -= chunk;
    }
    return true;
}

bool ArchiveReader::Get(uint8_t& value) {
    uint8_t byte;
    if (!ReadBytes(&byte, 1)) return false;
    value = byte;
    return true;
}

bool ArchiveReader::Get(uint16_t& value) {
    uint8_t bytes[2];
    if (!ReadBytes(bytes, 2)) return false;
    value = static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
    return true;
}

bool ArchiveReader::Get(uint32_t& value) {
    uint8_t bytes[4];
    if (!ReadBytes(bytes, 4)) return false;
    value = static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
            (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
    return true;
}

bool ArchiveReader::Get(int32_t& value) {
    uint32_t raw;
    if (!Get(raw)) return false;
    value = static_cast<int32_t>(raw);
    return true;
}

bool ArchiveReader::GetString(std::string& text) {
    uint8_t shortLength = 0;
    if (!Get(shortLength)) return false;
    uint32_t length = shortLength;
    if (shortLength == kLongStringByte) {
        uint16_t wordLength = 0;
        if (!Get(wordLength)) return false;
        if (wordLength == kWideStringMarker) {
            failed_ = true;
            return false;
        }
        length = wordLength;
        if (wordLength == kLongStringWord && !Get(length)) return false;
    }
    if (length > Remaining()) {
        failed_ = true;
        return false;
    }
    std::string value(length, '\0');
    if (length > 0 && !ReadBytes(value.data(), length)) return false;
    text = std::move(value);
    return true;
}

bool ArchiveReader::GetCount(uint32_t& count, size_t minBytesEach) {
    uint16_t shortCount = 0;
    if (!Get(shortCount)) return false;
    uint32_t value = shortCount;
    if (shortCount == kLongCountWord && !Get(value)) return false;
    if (minBytesEach > 0 && value > Remaining() / minBytesEach) {
        failed_ = true;
        return false;
    }
    count = value;
    return true;
}

bool ArchiveReader::GetStringList(std::vector<std::string>& list) {
    uint32_t count = 0;
    if (!GetCount(count, 1)) return false;
    std::vector<std::string> values;
    values.reserve(std::min<uint32_t>(count, 4096));
    for (uint32_t i = 0; i < count; ++i) {
        std::string text;
        if (!GetString(text)) return false;
        values.push_back(std::move(text));
    }
    list = std::move(values);
    return true;
}

bool ArchiveReader::GetAddressList(std::vector<uint32_t>& list) {
    uint32_t count = 0;
    if (!GetCount(count, 4)) return false;
    std::vector<uint32_t> values(count);
    for (uint32_t& address : values) {
        if (!Get(address)) return false;
    }
    list = std::move(values);
    return true;
}

uint16_t ArchiveReader::Word() {
    uint16_t value = 0;
    Get(value);
    return value;
}

uint32_t ArchiveReader::Dword() {
    uint32_t value = 0;
    Get(value);
    return value;
}

std::string ArchiveReader::String() {
    std::string text;
    GetString(text);
    return text;
}

}  // namespace hm
