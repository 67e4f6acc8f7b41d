// Keeping the set of log files bounded after a line was written: trimming one file by size or
// lines, or for dated files compressing the oldest plain logs, deleting surplus archives and the
// leftovers of weekly naming.
//
// Runs on the thread that wrote the line. Trimming holds the file's named lock so no append of any
// process interleaves with it; each old log is compressed only by the process that holds its
// compression lock, others skip it (-99). Listings are always sorted by name, so the oldest file
// goes first whatever order the file system returns. Never touches files outside the log's folder
// that do not match the log's own wildcards.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "work.h"

namespace hm::jotwell {

// The rotation step for the line just written to logPath. 0, -1, -4 or -99.
int RunRotation(const std::string& prefix, const Work& work, const std::string& logPath);

// Trims one file to its last Min bytes (bySize) or last Min lines once it grew beyond Max. With Max
// 0 the single Min bounds the file. 0 (also when nothing was to do), -2 open, -3 size, -6 write.
int TrimFile(const std::string& path, uint32_t minimum, uint32_t maximum, bool bySize);

// '*' and '?' wildcard match of a file name (case counts, as file names do here).
bool WildcardMatch(const std::string& pattern, const std::string& name);

// Names of the regular files in folder that match the wildcard, sorted by name (bytes ascending).
std::vector<std::string> ListMatching(const std::string& folder, const std::string& wildcard);

}  // namespace hm::jotwell
