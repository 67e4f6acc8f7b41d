// The game's banned-address file "netgames/hosts.deny" of the installation: merging a downloaded list
// of banned addresses and ranges into it, and the operator's delete.
//
// Free functions on the game folder; the merge runs on the update thread, the delete on the
// user-interface thread (the anti-cheat dialog). The game servers read the file on their own and
// without a lock, so the file is only ever replaced whole (a complete temporary renamed over it): a
// server never sees half a list. Entries are never interpreted, only compared and copied; a downloaded
// line is never used as a format or a path, and nothing is written outside the netgames folder.
#pragma once

#include <string>

namespace hm {

class EventLogList;

// Texts the anti-cheat dialog shows for the delete button.
inline constexpr const char* kHostsDenyMissingText = "File \"netgames\\hosts.deny\" doesn't exist.";
inline constexpr const char* kHostsDenyDeleteFailedText = "Error deleting file \"netgames\\hosts.deny\".";

// Longest downloaded entry the merge takes: its line buffer holds 1024 bytes with line feed and
// terminator. Longer lines are skipped (never cut: half an address range would ban the wrong players).
inline constexpr size_t kMaxHostsDenyEntry = 1022;

// gameFolder + "/netgames/hosts.deny"; "" when no game folder is known.
std::string HostsDenyPath(const std::string& gameFolder);

// A downloaded line is an entry when it has at least 3 characters, begins with a decimal digit and its
// second character is not white space (comments, blank lines and text are not).
bool IsHostsDenyEntry(const std::string& line);

// Merges the downloaded text (null: the download failed) into the file: entries not yet in the file
// (case counts) are appended in order; with removePrevious the old lines go, but only when at least one
// entry came. A read-only file is made writable first. Each added entry is appended to updateLog and
// reported to events (may be null). 1 when the file was rewritten with at least one new entry, else 0.
int MergeHostsDeny(const std::string& gameFolder, EventLogList* events, const std::string* text,
                   std::string& updateLog, bool removePrevious);

// Whether anything of that name is there (a folder of that name counts: it blocks the file).
bool HostsDenyExists(const std::string& gameFolder);

enum class HostsDenyDeletion { Deleted, Missing, Failed };
// The operator's delete: Missing when there is nothing to delete, Failed when the entry is there but
// could not be removed (a folder of that name, no permission).
HostsDenyDeletion DeleteHostsDeny(const std::string& gameFolder);

}  // namespace hm
