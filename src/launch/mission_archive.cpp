#include "launch/mission_archive.h"

#include <cstring>
#include <fstream>
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

std::vector<Hog2Entry> ParseHog2Directory(const char* directory, const Hog2Header& header) {
    std::vector<Hog2Entry> entries;
    entries.reserve(header.fileCount);
    uint64_t offset = header.dataOffset;  // 64 bits: a sum of 32-bit lengths cannot wrap around
    for (uint32_t i = 0; i < header.fileCount; ++i) {
        const char* entry = directory + static_cast<size_t>(i) * kHog2EntrySize;
        Hog2Entry e;
        e.name.assign(entry, strnlen(entry, kHog2NameField));
        e.length = Le32(entry + kHog2NameField);
        e.offset = offset;
        offset += e.length;
        entries.push_back(std::move(e));
    }
    return entries;
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

bool ReadMissionDescriptionFromArchive(const std::string& path, CMissionInfo& mission) {
    const fs::FileAttributes attributes = fs::GetAttributes(path);
    if (!attributes.exists || attributes.isDirectory) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    const uint64_t size = attributes.size;

    char headerBytes[kHog2HeaderSize];
    if (!in.read(headerBytes, sizeof headerBytes)) return false;
    Hog2Header header;
    if (!ParseHog2Header(headerBytes, header) || !Hog2DirectoryFits(header, size)) return false;

    std::string description;
    bool found = false;
    try {
        std::string directory(static_cast<size_t>(header.fileCount) * kHog2EntrySize, '\0');
        if (!in.read(directory.data(), static_cast<std::streamsize>(directory.size()))) return false;
        for (const Hog2Entry& entry : ParseHog2Directory(directory.data(), header)) {
            if (!HasExtension(entry.name, ".msn")) continue;
            if (!Hog2DataFits(entry, size)) return false;
            description.assign(entry.length, '\0');
            in.seekg(static_cast<std::streamoff>(entry.offset));
            if (!in.read(description.data(), static_cast<std::streamsize>(entry.length))) return false;
            found = true;
            break;
        }
    } catch (const std::bad_alloc&) {
        return false;
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
