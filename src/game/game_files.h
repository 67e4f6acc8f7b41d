// The records of what a Kelvane 3 installation holds (executables, missions with their levels, network
// game types, online connection types) and the text rules the lists share: display titles made from
// file names, case-insensitive comparison as Windows compares names, the title order of every list,
// and the last-write time of a file in the form the cache stores it.
//
// Plain data and pure helpers, usable on any thread; the lists themselves belong to CGameInstallation,
// which changes them on the user-interface thread only. Nothing here touches the registry or writes a
// file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace hm {

struct CGameFile {
    std::string fileName;  // as the folder listing gives it
    std::string title;     // display title
    uint64_t fileTime = 0; // last write, 100 ns units since 1601-01-01 (stored as low then high dword)
};

struct CLevelInfo {
    int32_t levelNumber = 0;
    std::string briefing, score, mineFile, mineTitle, introDefault, introMovie, progress, endMovie;
    int32_t branch = 0;  // -1 when the description named an impossible level
    int32_t secret = 0;
};

struct CMissionInfo : CGameFile {
    std::string descriptionHeader;  // "MSN"
    std::string missionName;        // "NAME"
    int32_t numLevels = 0;          // "NUMLEVELS"; -1 marks a broken description
    std::string author;
    std::vector<std::string> urls;
    uint32_t singlePlayer = 0;
    uint32_t multiPlayer = 0;
    std::string keywords, description, ship;
    uint32_t endMission = 0;
    std::vector<CLevelInfo> levels;
};

using CGameFileList = std::vector<CGameFile>;
using CMissionList = std::vector<CMissionInfo>;

// Windows-1252 case mapping (ASCII letters and the accented letters of the code page).
char ToUpper1252(char c);
char ToLower1252(char c);
std::string ToUpper1252(const std::string& text);
std::string ToLower1252(const std::string& text);
// <0, 0, >0 as the names compare when case is ignored.
int CompareNoCase(const std::string& a, const std::string& b);
bool EqualsNoCase(const std::string& a, const std::string& b);

// First character upper case; the whole text when it has at most 3 characters.
std::string CapitalizeFirst(const std::string& text);
// Everything before the last '.', or the whole text without one.
std::string CutExtension(const std::string& name);
// The title a new list entry gets from its file name: "anarchy.k3m" -> "Anarchy", "ctf.k3m" -> "CTF".
std::string MakeDisplayTitle(const std::string& fileName);

// The file's last-write time in 100 ns units since 1601; 0 when it cannot be read.
uint64_t FileTimeOf(const std::string& path);

// Sorts by display title, ascending, ignoring case: quicksort with a median-of-three pivot on every span
// whose first and last index differ by kQuickSortSpan or more, then one insertion sort over the whole
// list. Works on CGameFile and everything derived from it.
inline constexpr size_t kQuickSortSpan = 701;

template <class T>
void SortByTitle(std::vector<T>& list) {
    auto less = [](const T& a, const T& b) { return CompareNoCase(a.title, b.title) < 0; };
    // Spans left to split, as [first, last] index pairs; an explicit stack keeps the depth bounded.
    std::vector<std::pair<size_t, size_t>> spans;
    if (list.size() > kQuickSortSpan) spans.emplace_back(0, list.size() - 1);
    while (!spans.empty()) {
        auto [first, last] = spans.back();
        spans.pop_back();
        if (last - first < kQuickSortSpan) continue;
        const size_t middle = first + (last - first) / 2;
        if (less(list[middle], list[first])) std::swap(list[middle], list[first]);
        if (less(list[last], list[first])) std::swap(list[last], list[first]);
        if (less(list[last], list[middle])) std::swap(list[last], list[middle]);
        const T pivot = list[middle];
        size_t i = first, j = last;
        for (;;) {
            while (less(list[i], pivot)) ++i;
            while (less(pivot, list[j])) --j;
            if (i >= j) break;
            std::swap(list[i], list[j]);
            ++i;
            --j;
        }
        // [first, j] and [j + 1, last] are both non-empty and ordered against each other.
        spans.emplace_back(first, j);
        spans.emplace_back(j + 1, last);
    }
    for (size_t k = 1; k < list.size(); ++k) {
        T item = std::move(list[k]);
        size_t m = k;
        while (m > 0 && less(item, list[m - 1])) {
            list[m] = std::move(list[m - 1]);
            --m;
        }
        list[m] = std::move(item);
    }
}

}  // namespace hm
