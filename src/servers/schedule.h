// The weekly schedule of one server: start and stop events, and the table with one cell per minute of
// the week that the supervisor asks "should this server run now?".
//
// Member of every CServerConfig; edited by the scheduler dialog and rebuilt by the load and the launch
// on the user-interface thread, read by the supervisor tick on the same thread. Copying a schedule
// copies the events and the switch, never the table: whoever needs the table after a copy copies it
// explicitly or rebuilds it.
//
// The table costs 10 kB, and only an enabled schedule is ever asked for it, so a schedule holds cells
// only once they were built for it: an empty table reads as all 0 (the state of a copy), and the load
// and the launch build it only while the schedule is enabled. Ten thousand configurations without a
// schedule thus cost nothing for their tables.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "servers/archive.h"

namespace hm {

struct ScheduleTime {
    static constexpr uint32_t kVersion = 1;
    static constexpr uint16_t kEveryDay = 7;

    uint16_t day = kEveryDay;  // 0 Sunday .. 6 Saturday, 7 every day
    uint16_t hour = 0;
    uint16_t minute = 0;

    bool operator==(const ScheduleTime&) const = default;
    void Write(ArchiveWriter& ar) const;
    void Read(ArchiveReader& ar);
};

struct ScheduleEntry {
    static constexpr uint32_t kVersion = 1;

    ScheduleTime start;
    ScheduleTime stop;

    bool operator==(const ScheduleEntry&) const = default;
    void Write(ArchiveWriter& ar) const;
    void Read(ArchiveReader& ar);
};

class CSchedule {
public:
    static constexpr uint32_t kVersion = 1;
    static constexpr size_t kMinutesPerWeek = 7 * 24 * 60;

    CSchedule();
    CSchedule(const CSchedule& other);
    CSchedule& operator=(const CSchedule& other);
    // A move relocates the whole schedule, table included.
    CSchedule(CSchedule&& other) noexcept = default;
    CSchedule& operator=(CSchedule&& other) noexcept = default;

    uint32_t enabled = 0;
    std::vector<ScheduleEntry> entries;
    std::vector<uint8_t> minuteTable;  // kMinutesPerWeek cells: 1 run, 0 do not run; empty = all 0

    static size_t CellIndex(unsigned day, unsigned hour, unsigned minute) { return (day * 24 + hour) * 60 + minute; }

    // Rebuilds the minute table from the entries: each cell takes the state of the latest start (run) or
    // stop (do not run) at or before it, counted around the week.
    void BuildMinuteTable();
    // The hook the load and the launch call after the entries changed: builds the table while the
    // schedule is enabled, else gives its memory back (nobody asks a disabled schedule).
    void RebuildMinuteTable();
    // Not enabled: always true; else the cell of the local time's day of week, hour and minute.
    bool IsRunTime(const LocalTime& now) const;
    bool HasAnyRunMinute() const;
    void CopyMinuteTable(const CSchedule& from);

    void Write(ArchiveWriter& ar) const;
    // Reads the block and rebuilds the minute table.
    void Read(ArchiveReader& ar);
};

}  // namespace hm
