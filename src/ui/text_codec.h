// Text at the edge between the core and the window: the core's strings are bytes in Windows-1252
// (the code page of the stores and the game), the window's are QString.
//
// Pure functions, any thread. ToQt never fails (bytes that code page leaves undefined show as the
// control character of the same number); FromQt refuses a text with a character that has no
// Windows-1252 form instead of replacing it, so nothing the operator typed is silently changed.
#pragma once

#include <QString>

#include <optional>
#include <string>

namespace hm {

QString ToQt(const std::string& cp1252);
// nullopt when a character has no Windows-1252 form; `bad` then holds the first such character.
std::optional<std::string> FromQt(const QString& text, QString* bad = nullptr);

}  // namespace hm
