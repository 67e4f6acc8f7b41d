// Small text helpers shared by every k3ded module: trimming, case-insensitive comparison, strict and
// lenient number parsing, and the checks that keep network text harmless (player names, record lines).
// Stateless; any thread. Nothing here ever formats network text with printf-style functions.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hm::k3ded {

std::string Trim(const std::string& text);
std::string TrimRight(const std::string& text);
std::string ToLower(std::string text);
bool EqualsNoCase(const std::string& a, const std::string& b);
bool StartsWithNoCase(const std::string& text, const std::string& prefix);

// Whole text must be decimal digits (no sign, no blanks) with a value in [min, max].
bool ParseNumber(const std::string& text, uint32_t min, uint32_t max, uint32_t& value);
// Like the C function atoi: leading blanks and a sign allowed, stops at the first non-digit, 0 when
// there is none; saturates instead of overflowing.
long ParseLenient(const std::string& text);

// Splits at blanks, dropping empty words.
std::vector<std::string> SplitWords(const std::string& text);

// A player name is 1 to 31 bytes, printable ASCII or Windows-1252 letters (0xA0 and above), without
// leading or trailing blanks.
bool IsValidPlayerName(const std::string& name);
constexpr size_t kMaxPlayerName = 31;

// Replaces every control byte with '?', so that a recorded or printed line is always one line.
std::string OneLine(const std::string& text);

// Writes one line to standard output and flushes it, so that whoever reads our output sees it at once.
void PrintLine(const std::string& line);

}  // namespace hm::k3ded
