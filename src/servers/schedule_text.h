// The texts of the weekly schedule ("Mon, 18:00 - Tue, 02:00"), their parse, and the scheduler dialog's
// rules for its list of entries, kept free of any screen so that the Qt dialog only shows them.
//
// Used on the user-interface thread by the scheduler dialog and by whoever shows a schedule. The entry
// list of the dialog holds texts, not entries: what OK hands back is parsed from the texts, in the
// list's sorted order, exactly as the operator saw them. Nothing here may read out of a text's bounds,
// whatever a damaged store or a hand-edited line holds.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "servers/schedule.h"

namespace hm {

// Short day names by ScheduleTime::day (7 = every day), as the entry texts show them.
extern const char* const kShortDayNames[8];
// Long day names of the dialog's day lists; list index = ScheduleTime::day.
extern const char* const kLongDayNames[8];

// "%s, %02u:%02u": short day name, hour, minute. A day beyond 7 (damaged store) shows as "All".
std::string ScheduleTimeText(const ScheduleTime& time);
// "%s - %s": start text, stop text.
std::string ScheduleEntryText(const ScheduleEntry& entry);

// A time text: day from the first three characters (first of Sun..Sat that matches, else every day),
// hour from the number at character 5, minute from the number at character 8. Missing characters read
// as no number (0).
ScheduleTime ParseScheduleTime(const std::string& text);
// An entry text: the start text at its beginning, the stop text from character 13.
ScheduleEntry ParseScheduleEntry(const std::string& text);

// The order of the dialog's sorted list: alphabetical, letters without regard to case.
bool ScheduleTextLess(const std::string& a, const std::string& b);

// The scheduler dialog's list of entry texts, sorted at every insertion.
class ScheduleEntryList {
public:
    // Opening: the text of every entry, duplicates included, in sorted order.
    explicit ScheduleEntryList(const std::vector<ScheduleEntry>& entries = {});

    // "Set": does nothing (false) when start and stop are equal or the list already holds the same
    // text; otherwise inserts the text at its sorted place (true). A stop before its start is accepted
    // on purpose: the run time then wraps around the week.
    bool Add(const ScheduleEntry& entry);
    // "Remove": deletes the lines at the given indexes; indexes out of range are ignored.
    void Remove(const std::vector<size_t>& selected);

    const std::vector<std::string>& Lines() const { return lines_; }

    // OK: the entries parsed from the lines, in list order.
    std::vector<ScheduleEntry> Entries() const;

private:
    void Insert(std::string text);

    std::vector<std::string> lines_;
};

}  // namespace hm
