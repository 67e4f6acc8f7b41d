// Reading a launch batch file written by hand (the .bat or .cmd that started a game server before
// this program took it over) into a server's launch settings, for the import of a server from
// existing files.
//
// Stateless functions, called on the user-interface thread by the server import. They only read the
// batch file and test whether named files exist; they never start anything the batch names.
//
// A line counts when, trimmed, it is longer than 15 characters, does not begin with "rem", has no
// white space as its fifth character, and its first word names an existing file (the executable).
// A leading "call" and the blanks after it are stepped over first. Options begin with a '-' at the
// start of a word, so a hyphen inside a path (".../Kelvane-3/...") stays part of the path; a value is
// the next word, or a double-quoted text with its quotes removed (which may hold blanks).
#pragma once

#include <cstdint>
#include <string>

#include "servers/game_config_files.h"
#include "servers/launch_settings.h"

namespace hm {

// A batch file that starts a server is a few lines; anything larger is not one.
inline constexpr uint64_t kLaunchBatchLimit = 64u << 10;

// Reads lines until one leaves launch.configFile set (true). An empty path imports nothing and
// succeeds; a file that cannot be opened, is no regular file or is larger than kLaunchBatchLimit shows
// "Cannot open %s for reading!" (with the reason for the last two) and gives false, as does
// a file without any line naming an existing "-dedicated" file.
bool ImportLaunchBatch(CLaunchSettings& launch, const std::string& path, const InformationBox& inform);

// Applies one option of a batch line (the word after '-', matched by its beginning, any case); an
// empty value means the option had none. Unknown options are kept in extraArguments.
void ApplyLaunchOption(CLaunchSettings& launch, const std::string& option, const std::string& value);

}  // namespace hm
