// Turning a caller's text into the bytes of log lines: the stamp, the optional prefix, blanks and
// full stop, removal of control characters, and the hexadecimal dump for binary data.
//
// Pure functions on values; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "work.h"

namespace hm::jotwell {

// The stamp of a line as the options ask for it (milliseconds, seconds, offset).
std::string StampText(uint32_t extOptions, const DateStamps& stamps);

// True when text ends in one of ! ( * , . : < ? [ (no full stop is added then).
bool EndsInStopCharacter(std::string_view text);

// One composed line without its line end: stamp, blank, [prefix blank], [two blanks], text
// [full stop], with every character below 32 removed.
std::string ComposeLine(const std::string& prefix, std::string_view text, uint32_t logOptions, uint32_t extOptions,
                        const DateStamps& stamps);

// The same line appended to out, followed by CR LF (no temporary strings: the queue writes many).
void AppendComposedLine(std::string& out, const std::string& prefix, std::string_view text, uint32_t logOptions,
                        uint32_t extOptions, const DateStamps& stamps);

// True when the text must be logged as a hexadecimal dump: forced, or a byte below 32 other than
// TAB, LF and CR.
bool NeedsDump(std::string_view text, bool forced);

// The dump texts (one per width bytes): offset, the bytes in hex, the bytes as characters.
std::vector<std::string> HexDumpLines(std::string_view data, uint32_t width, bool threeBlanks);

}  // namespace hm::jotwell
