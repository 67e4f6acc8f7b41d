#include "servers/schedule_text.h"
#include "servers/game_config_text.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace hm {

const char* const kShortDayNames[8] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "All"};
const char* const kLongDayNames[8] = {"Sunday",   "Monday", "Tuesday",  "Wednesday",
                                      "Thursday", "Friday", "Saturday", "All days"};

namespace {

constexpr size_t kHourAt = 5;
constexpr size_t kMinuteAt = 8;
constexpr size_t kStopAt = 13;


// The number at a position the way atoi reads it (blanks, a sign, digits up to the first other
// character); 0 when the text is shorter. Saturates instead of overflowing, then keeps the low 16 bits
// as the word field of the entry does.
uint16_t NumberAt(const std::string& text, size_t at) {
    return at < text.size() ? static_cast<uint16_t>(ParseNumber(std::string_view(text).substr(at))) : 0;
}

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

std::string ScheduleTimeText(const ScheduleTime& time) {
    const char* day = kShortDayNames[std::min<unsigned>(time.day, ScheduleTime::kEveryDay)];
    char text[32];
    std::snprintf(text, sizeof text, "%s, %02u:%02u", day, static_cast<unsigned>(time.hour),
                  static_cast<unsigned>(time.minute));
    return text;
}

std::string ScheduleEntryText(const ScheduleEntry& entry) {
    return ScheduleTimeText(entry.start) + " - " + ScheduleTimeText(entry.stop);
}

ScheduleTime ParseScheduleTime(const std::string& text) {
    ScheduleTime time;
    const std::string name = text.substr(0, 3);
    time.day = ScheduleTime::kEveryDay;
    for (uint16_t day = 0; day < 7; ++day) {
        if (name == kShortDayNames[day]) {
            time.day = day;
            break;
        }
    }
    time.hour = NumberAt(text, kHourAt);
    time.minute = NumberAt(text, kMinuteAt);
    return time;
}

ScheduleEntry ParseScheduleEntry(const std::string& text) {
    ScheduleEntry entry;
    entry.start = ParseScheduleTime(text);
    entry.stop = ParseScheduleTime(text.size() > kStopAt ? text.substr(kStopAt) : std::string());
    return entry;
}

bool ScheduleTextLess(const std::string& a, const std::string& b) {
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
        const char x = Lower(a[i]);
        const char y = Lower(b[i]);
        if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    }
    return a.size() < b.size();
}

ScheduleEntryList::ScheduleEntryList(const std::vector<ScheduleEntry>& entries) {
    for (const ScheduleEntry& entry : entries) Insert(ScheduleEntryText(entry));
}

void ScheduleEntryList::Insert(std::string text) {
    // After the equal ones, as a sorted list box places a new line.
    const auto at = std::upper_bound(lines_.begin(), lines_.end(), text, ScheduleTextLess);
    lines_.insert(at, std::move(text));
}

bool ScheduleEntryList::Add(const ScheduleEntry& entry) {
    if (entry.start == entry.stop) return false;
    std::string text = ScheduleEntryText(entry);
    if (std::find(lines_.begin(), lines_.end(), text) != lines_.end()) return false;
    Insert(std::move(text));
    return true;
}

void ScheduleEntryList::Remove(const std::vector<size_t>& selected) {
    std::vector<size_t> indexes = selected;
    std::sort(indexes.begin(), indexes.end());
    indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
    // From the back, so the earlier indexes still name the same lines.
    for (auto it = indexes.rbegin(); it != indexes.rend(); ++it) {
        if (*it < lines_.size()) lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(*it));
    }
}

std::vector<ScheduleEntry> ScheduleEntryList::Entries() const {
    std::vector<ScheduleEntry> entries;
    entries.reserve(lines_.size());
    for (const std::string& line : lines_) entries.push_back(ParseScheduleEntry(line));
    return entries;
}

}  // namespace hm
