// Text for the machine-readable outputs: JSON strings and Prometheus label values of texts that are
// Windows-1252 bytes (server, player and mission names, event lines), and ISO 8601 local times.
//
// Pure functions, any thread. Whatever bytes a name holds, the result is valid UTF-8 and correctly
// escaped: a byte the code page leaves undefined becomes the control character of the same number,
// as the window shows it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace hm {

std::string Cp1252ToUtf8(std::string_view bytes);
// The Windows-1252 text as a quoted JSON string (UTF-8; quote, backslash and control characters escaped).
std::string JsonString(std::string_view cp1252);
// The Windows-1252 text as a Prometheus label value without its quotes: UTF-8 with backslash, double
// quote and line feed escaped.
std::string PrometheusLabelValue(std::string_view cp1252);
// The byte length of the first maxCharacters characters of a UTF-8 text (all of it when shorter).
size_t Utf8Prefix(std::string_view utf8, size_t maxCharacters);
// "2026-01-05T12:00:00": local time without a zone.
std::string IsoLocalTime(const LocalTime& time);

}  // namespace hm
