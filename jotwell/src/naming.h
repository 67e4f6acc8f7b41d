// Names of things on disk: the library's folder, prefix checks, the dated log file path and the
// names of the cross-process locks derived from file paths.
//
// Pure string work apart from locating the library once; any thread may call these.
#pragma once

#include <cstdint>
#include <string>

#include "work.h"

namespace hm::jotwell {

// The folder holding the library, with a trailing '/'. Relative prefixes and the default
// configuration file live here. Determined once, at load.
std::string LibraryFolder();
// Replaces the folder. For tests only.
void SetLibraryFolder(const std::string& folder);
// Forgets the folder (unload).
void ReleaseLibraryFolder();
// Changes whenever the folder is replaced (lets callers cache what they derive from it).
uint64_t LibraryFolderGeneration();

// 0 when the prefix is usable, else -3: null, longer than 260 characters, or a network path
// (more than 2 characters beginning with two slashes or backslashes).
int ValidatePrefix(const char* prefix);

// A prefix of "STDOUT" in any case means: echo only.
bool IsStdoutPrefix(const std::string& prefix);

// Base folder + prefix with every '\' taken as '/'; the base is omitted for absolute prefixes.
std::string FullPrefix(const std::string& prefix);

// The date part of the file name for the naming options (weekly over monthly over yearly; daily by
// default).
std::string DatePart(uint32_t logOptions, const DateStamps& stamps);

// The log file path for this line: full prefix + date part + log extension.
std::string ResolveLogPath(const std::string& prefix, const Work& work);

// Name of a lock derived from a path: kind + the path without ':', '\' and '/'.
std::string LockName(const char* kind, const std::string& path);

// The folder part (with trailing '/') and the name part of a path.
std::string FolderOf(const std::string& path);
std::string NameOf(const std::string& path);

}  // namespace hm::jotwell
