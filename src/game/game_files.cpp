#include "game/game_files.h"

#include <chrono>
#include <filesystem>
#include <system_error>

namespace hm {

char ToUpper1252(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 'a' && u <= 'z') return static_cast<char>(u - 32);
    if (u >= 0xE0 && u <= 0xFE && u != 0xF7) return static_cast<char>(u - 32);
    switch (u) {
        case 0x9A: return static_cast<char>(0x8A);
        case 0x9C: return static_cast<char>(0x8C);
        case 0x9E: return static_cast<char>(0x8E);
        case 0xFF: return static_cast<char>(0x9F);
        default: return c;
    }
}

char ToLower1252(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 'A' && u <= 'Z') return static_cast<char>(u + 32);
    if (u >= 0xC0 && u <= 0xDE && u != 0xD7) return static_cast<char>(u + 32);
    switch (u) {
        case 0x8A: return static_cast<char>(0x9A);
        case 0x8C: return static_cast<char>(0x9C);
        case 0x8E: return static_cast<char>(0x9E);
        case 0x9F: return static_cast<char>(0xFF);
        default: return c;
    }
}

std::string ToUpper1252(const std::string& text) {
    std::string out = text;
    for (char& c : out) c = ToUpper1252(c);
    return out;
}

std::string ToLower1252(const std::string& text) {
    std::string out = text;
    for (char& c : out) c = ToLower1252(c);
    return out;
}

int CompareNoCase(const std::string& a, const std::string& b) {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        const unsigned char x = static_cast<unsigned char>(ToLower1252(a[i]));
        const unsigned char y = static_cast<unsigned char>(ToLower1252(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

std::string CapitalizeFirst(const std::string& text) {
    if (text.size() <= 3) return ToUpper1252(text);
    std::string out = text;
    out[0] = ToUpper1252(out[0]);
    return out;
}

std::string CutExtension(const std::string& name) {
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string MakeDisplayTitle(const std::string& fileName) {
    std::string title = CutExtension(CapitalizeFirst(fileName));
    if (title.size() < 4) title = ToUpper1252(title);
    return title;
}

uint64_t FileTimeOf(const std::string& path) {
    // Nanosecond precision where the file system has it, so a file replaced within the same second as
    // the last scan is still seen as changed.
    std::error_code error;
    const auto written = std::filesystem::last_write_time(path, error);
    if (error) return 0;
    const auto sinceUnix = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::file_clock::to_sys(written).time_since_epoch());
    constexpr int64_t kUnixEpochAsFileTime = 116444736000000000LL;  // 1970-01-01 in 100 ns since 1601
    const int64_t fileTime = sinceUnix.count() / 100 + kUnixEpochAsFileTime;
    return fileTime > 0 ? static_cast<uint64_t>(fileTime) : 0;
}

}  // namespace hm
