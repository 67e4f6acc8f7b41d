// The game's tracker file: the list of GameSpy-compatible master trackers a game server announces
// itself to, read when a server is imported from existing files and written before every launch; and
// the add rule of the trackers dialog.
//
// Stateless functions on a TrackerList, called on the user-interface thread (import, launch
// preparation, dialogs). The import never reads past what a line holds and never lets a long line
// overflow anything: a line longer than 1023 characters is taken as several lines.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "servers/tracker_list.h"

namespace hm {

// The port a tracker gets when its text names none.
constexpr uint16_t kDefaultTrackerPort = 27900;

// Replaces list.trackers with the trackers of the file at path: each line is trimmed; lines of two
// characters or fewer are skipped, and so are lines of digits only (the number lines of a file written
// by WriteTrackerFile, so such a file imports as the trackers it names). "host:port" keeps its port
// (kept in 16 bits, raised to 1024 when lower); a bare host gets 27900. An empty path imports nothing
// and succeeds. A file that cannot be opened, is no regular file or is larger than 1 MiB leaves the
// list untouched, shows "Cannot open %s for reading!" (with the reason for the last two) through
// inform (when given) and gives false.
bool ImportTrackerFile(TrackerList& list, const std::string& path,
                       const std::function<void(const std::string&)>& inform = {});

// The text of the tracker file: for each tracker in order " <number> " and the tracker, each line ending
// CR LF; empty when the list is not enabled.
std::string TrackerFileText(const TrackerList& list, unsigned number);
// Creates the file anew (replacing an old one) with TrackerFileText; false when it cannot be written.
bool WriteTrackerFile(const TrackerList& list, const std::string& path, unsigned number);

// The trackers dialog's "Add": the text as typed, with ":27900" appended when it holds no ':'.
std::string TrackerFromInput(const std::string& text);
// Appends TrackerFromInput(text) to the dialog's lines; nothing (false) for an empty text, which is
// when the dialog keeps "Add" disabled.
bool AddTrackerLine(std::vector<std::string>& lines, const std::string& text);

}  // namespace hm
