#include "launch/mission_archive.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "launch/mission_description.h"
#include "platform/files.h"

namespace hm {

namespace {

uint32_t Le32(const char* p) {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

bool HasExtension(const std::string& name, const char* extension) {
    const size_t dot = name.rfind('.');
    return dot != std::string::npos && EqualsNoCase(name.substr(dot), extension);
}

}  // namespace

bool ParseHog2Header(const char* header, Hog2Header& out) {
    if (std::memcmp(header, "HOG2", 4) != 0) return false;
    out.fileCount = Le32(header + 4);
    out.dataOffset = Le32(header + 8);
    return true;
}

bool Hog2DirectoryFits(const Hog2Header& header, uint64_t fileSize) {
    return fileSize >= kHog2HeaderSize &&
           static_cast<uint64_t>(header.fileCount) * kHog2EntrySize <= fileSize - kHog2HeaderSize;
}

bool Hog2DataFits(const Hog2Entry& entry, uint64_t fileSize) {
    return entry.offset <= fileSize && entry.length <= fileSize - entry.offset;
}

bool IsPlainFileName(const std::string& name) {
    if (name.empty() || name == ".") return false;
    if (name.find_first_of("/\\:") != std::string::npos) return false;
    // Control bytes (NUL, line breaks, ...) are never part of a file name of the game's platform, and
    // a line break would split the name in the one-name-per-line object lists.
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 0x20) return false;
    }
    return name.find("..") == std::string::npos;
}

Hog2Archive::Opened Hog2Archive::Open(const std::string& path, uint64_t minSize) {
    header_ = Hog2Header{};
    block_.clear();
    blockPos_ = 0;
    failed_ = false;
    if (!file_.Open(path)) return Opened::kOpenFailed;
    if (file_.size() < minSize || file_.size() < kHog2HeaderSize) return Opened::kTooSmall;
    char bytes[kHog2HeaderSize];
    if (file_.Read(bytes, sizeof bytes) != sizeof bytes) return Opened::kReadFailed;
    if (!ParseHog2Header(bytes, header_)) return Opened::kNotHog2;
    if (!Hog2DirectoryFits(header_, file_.size())) return Opened::kDamaged;
    Rewind();
    return Opened::kOk;
}

void Hog2Archive::Rewind() {
    nextIndex_ = 0;
    nextOffset_ = header_.dataOffset;  // 64 bits: a sum of 32-bit lengths cannot wrap around
    block_.clear();
    blockPos_ = 0;
    failed_ = false;
}

bool Hog2Archive::Next(Hog2Entry& entry) {
    if (failed_ || nextIndex_ >= header_.fileCount) return false;
    if (blockPos_ >= block_.size()) {
        // Data reads move the file position, so every block is read from where it lies.
        constexpr uint32_t kEntriesPerBlock = 1024;
        const uint32_t count = std::min(kEntriesPerBlock, header_.fileCount - nextIndex_);
        block_.resize(static_cast<size_t>(count) * kHog2EntrySize);
        blockPos_ = 0;
        const uint64_t at = kHog2HeaderSize + static_cast<uint64_t>(nextIndex_) * kHog2EntrySize;
        if (!file_.Seek(at) || file_.Read(block_.data(), block_.size()) != block_.size()) {
            failed_ = true;
            block_.clear();
            return false;
        }
    }
    const char* bytes = block_.data() + blockPos_;
    entry.name.assign(bytes, strnlen(bytes, kHog2NameField));
    entry.length = Le32(bytes + kHog2NameField);
    entry.offset = nextOffset_;
    nextOffset_ += entry.length;
    blockPos_ += kHog2EntrySize;
    ++nextIndex_;
    return true;
}

bool Hog2Archive::ReadData(const Hog2Entry& entry, uint64_t maxBytes, std::string& out) {
    if (!Hog2DataFits(entry, file_.size()) || entry.length > maxBytes) return false;
    try {
        out.assign(entry.length, '\0');
    } catch (const std::bad_alloc&) {
        return false;
    }
    return file_.Seek(entry.offset) && file_.Read(out.data(), out.size()) == out.size();
}

bool Hog2Archive::CopyData(const Hog2Entry& entry, fs::AtomicFileWriter& writer) {
    if (!Hog2DataFits(entry, file_.size()) || !file_.Seek(entry.offset)) return false;
    char buffer[65536];
    uint64_t left = entry.length;
    while (left > 0) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(left, sizeof buffer));
        if (file_.Read(buffer, want) != want || !writer.Write(buffer, want)) return false;
        left -= want;
    }
    return true;
}

bool ReadMissionDescriptionFromArchive(const std::string& path, CMissionInfo& mission) {
    Hog2Archive archive;
    if (archive.Open(path) != Hog2Archive::Opened::kOk) return false;
    std::string description;
    Hog2Entry entry;
    bool found = false;
    while (archive.Next(entry)) {
        if (!HasExtension(entry.name, ".msn")) continue;
        if (!archive.ReadData(entry, kMaxMissionDescription, description)) return false;
        found = true;
        break;
    }
    if (!found) return false;
    // The description is text up to its first zero byte, as the game reads it.
    description.resize(strnlen(description.c_str(), description.size()));
    ParseMissionDescription(mission, description);
    return true;
}

void ReadMissionArchive(CMissionList& list, const std::string& folder, CMissionInfo mission) {
    if (!IsPlainFileName(mission.fileName)) return;
    const std::string path = folder.empty() || folder.back() == '/' ? folder + mission.fileName
                                                                     : folder + "/" + mission.fileName;
    if (!ReadMissionDescriptionFromArchive(path, mission)) return;
    if (IsUsableMission(mission)) list.push_back(std::move(mission));
}

}  // namespace hm
