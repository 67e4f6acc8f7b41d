// Text rules shared by the readers of the game's own files (main configuration, multi settings,
// autoexec, launch batch): C-locale white space, trimming, the number parse that the game and its
// hand-written files expect (leading blanks and sign allowed, stops at the first non-digit), and the
// line reader that hands out a file as a fixed-size line buffer would, so a line longer than the
// buffer arrives as several lines instead of overflowing anything.
//
// Pure helpers, usable on any thread. They never write a file, and never read more of a file than
// the limit its kind allows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace hm {

// ' ', TAB, LF, VT, FF, CR: the white space of the C locale. Bytes above 127 are never white space.
constexpr bool IsTextSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string_view TrimLeft(std::string_view text);
std::string_view TrimRight(std::string_view text);
std::string_view Trim(std::string_view text);

// Parses like atoi: leading white space, an optional sign, then digits up to the first non-digit;
// 0 when there is none. Values beyond the 32-bit range saturate instead of being undefined.
int32_t ParseNumber(std::string_view text);
// The parse above as the unsigned field it is stored in (a negative number wraps, as the game does).
inline uint32_t ParseUnsigned(std::string_view text) { return static_cast<uint32_t>(ParseNumber(text)); }

// Splits text as a line buffer of bufferSize bytes (terminator included) would read it in text mode:
// CR LF becomes LF, each piece ends after a LF or after bufferSize - 1 characters, and the LF stays
// with its piece. A last line without LF is still a line.
std::vector<std::string> SplitBufferedLines(const std::string& text, size_t bufferSize);

// The largest text file of the game's or the operator's that is read on request (configuration,
// multi settings, autoexec, tracker and object list files): far above any real one, far below what
// could exhaust memory once split into lines.
inline constexpr uint64_t kTextFileLimit = 1u << 20;

// Reads the whole file (a regular file of at most maxBytes; a FIFO or device is refused without
// blocking) and splits it as above. On failure the lines are untouched and the result says why.
fs::ReadResult ReadBufferedLines(const std::string& path, size_t bufferSize, uint64_t maxBytes,
                                 std::vector<std::string>& lines);

// The message for a file that could not be read: "Cannot open %s for reading!", with the reason
// behind it when the file is there but is too large or neither a file nor a folder.
std::string CannotReadMessage(const std::string& path, const fs::ReadResult& result);

}  // namespace hm
