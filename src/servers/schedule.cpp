#include "servers/schedule.h"

#include <algorithm>

namespace hm {

void ScheduleTime::Write(ArchiveWriter& ar) const {
    ar.Dword(kVersion);
    ar.Word(day);
    ar.Word(hour);
    ar.Word(minute);
}

void ScheduleTime::Read(ArchiveReader& ar) {
    uint32_t version = 0;
    if (!ar.Get(version) || version == 0) return;
    ar.Get(day);
    ar.Get(hour);
    ar.Get(minute);
}

void ScheduleEntry::Write(ArchiveWriter& ar) const {
    ar.Dword(kVersion);
    start.Write(ar);
    stop.Write(ar);
}

void ScheduleEntry::Read(ArchiveReader& ar) {
    uint32_t version = 0;
    if (!ar.Get(version) || version == 0) return;
    start.Read(ar);
    stop.Read(ar);
}

CSchedule::CSchedule() = default;

CSchedule::CSchedule(const CSchedule& other) : enabled(other.enabled), entries(other.entries) {}

CSchedule& CSchedule::operator=(const CSchedule& other) {
    enabled = other.enabled;
    entries = other.entries;
    return *this;
}

namespace {
constexpr int kUnset = -1;

// Sets the cell of one event; an every-day event sets that hour and minute on all seven days. Times
// out of range (a damaged or hand-made file) mark nothing rather than a cell of another day.
void MarkEvent(std::vector<int>& cells, const ScheduleTime& time, int value) {
    if (time.hour > 23 || time.minute > 59) return;
    if (time.day == ScheduleTime::kEveryDay) {
        for (unsigned day = 0; day < 7; ++day) cells[CSchedule::CellIndex(day, time.hour, time.minute)] = value;
    } else if (time.day < 7) {
        cells[CSchedule::CellIndex(time.day, time.hour, time.minute)] = value;
    }
}
}  // namespace

void CSchedule::BuildMinuteTable() {
    std::vector<int> cells(kMinutesPerWeek, kUnset);
    for (const ScheduleEntry& entry : entries) {
        MarkEvent(cells, entry.start, 1);
        MarkEvent(cells, entry.stop, 0);
    }
    minuteTable.assign(kMinutesPerWeek, 0);
    const auto first = std::find_if(cells.begin(), cells.end(), [](int cell) { return cell != kUnset; });
    if (first == cells.end()) return;
    const size_t start = static_cast<size_t>(first - cells.begin());
    int last = cells[start];
    for (size_t step = 0; step < kMinutesPerWeek; ++step) {
        const size_t i = (start + step) % kMinutesPerWeek;
        if (cells[i] != kUnset) last = cells[i];
        minuteTable[i] = static_cast<uint8_t>(last);
    }
}

void CSchedule::RebuildMinuteTable() {
    if (enabled) {
        BuildMinuteTable();
    } else {
        std::vector<uint8_t>().swap(minuteTable);
    }
}

bool CSchedule::IsRunTime(const LocalTime& now) const {
    if (!enabled) return true;
    if (now.dayOfWeek < 0 || now.dayOfWeek > 6 || now.hour < 0 || now.hour > 23 || now.minute < 0 ||
        now.minute > 59) {
        return false;
    }
    const size_t index = CellIndex(static_cast<unsigned>(now.dayOfWeek), static_cast<unsigned>(now.hour),
                                   static_cast<unsigned>(now.minute));
    return index < minuteTable.size() && minuteTable[index] != 0;
}

bool CSchedule::HasAnyRunMinute() const {
    return std::any_of(minuteTable.begin(), minuteTable.end(), [](uint8_t cell) { return cell != 0; });
}

void CSchedule::CopyMinuteTable(const CSchedule& from) { minuteTable = from.minuteTable; }

void CSchedule::Write(ArchiveWriter& ar) const {
    ar.Dword(kVersion);
    ar.Dword(enabled);
    ar.Count(entries.size());
    for (const ScheduleEntry& entry : entries) entry.Write(ar);
}

void CSchedule::Read(ArchiveReader& ar) {
    uint32_t version = 0;
    if (ar.Get(version) && version != 0) {
        ar.Get(enabled);
        uint32_t count = 0;
        if (ar.GetCount(count, 4)) {
            std::vector<ScheduleEntry> read;
            for (uint32_t i = 0; i < count; ++i) {
                ScheduleEntry entry;
                entry.Read(ar);
                if (ar.Failed()) break;
                read.push_back(entry);
            }
            entries = std::move(read);
        }
    }
    RebuildMinuteTable();
}

}  // namespace hm
