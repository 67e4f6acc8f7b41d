// Builds HOG2 archives, the container format of the game's mission files ("*.mn3"), for the demo
// installation. Layout: "HOG2", file count, offset of the first file's data, 56 bytes of 0xFF, then
// one 48-byte directory entry per file (name zero-terminated in 36 bytes, flags, length at offset 40,
// time stamp), then the files' data one after the other in directory order. All numbers are unsigned
// 32-bit little-endian. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hm::k3ded {

struct Hog2File {
    std::string name;  // at most 35 bytes
    std::string data;
};

constexpr size_t kHog2HeaderSize = 68;
constexpr size_t kHog2EntrySize = 48;
constexpr size_t kHog2MaxName = 35;

// false (and nothing built) when a name is empty or too long.
bool BuildHog2(const std::vector<Hog2File>& files, std::string& archive, uint32_t timeStamp = 0);

}  // namespace hm::k3ded
