// The console log of one server: the lines its remote console prints, written either to a plain file
// that grows across connections and program runs (each connection adds a block between a begin and
// an end marker) or through the logging library, which stamps, rotates and compresses itself.
//
// One ConsoleLog belongs to one remote console connection and is used only by that connection's
// worker thread (the parser writes lines, the thread opens and closes it). It never throws, never
// reports a failure to the operator (a log that cannot be written is simply absent), and never
// treats a line's text as anything but data.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "servers/console_settings.h"

namespace hm {

class Clock;
class JotwellBinding;
struct LocalTime;

inline constexpr const char* kConsoleLogBegin = "***** Begin server log *****";
inline constexpr const char* kConsoleLogEnd = "***** End of server log *****\r\n";

class ConsoleLog {
public:
    // `settings` must outlive the log (it is the connection's own copy). `jotwell` may be null.
    ConsoleLog(const ConsoleSettings& settings, Clock& clock, JotwellBinding* jotwell);
    ~ConsoleLog();
    ConsoleLog(const ConsoleLog&) = delete;
    ConsoleLog& operator=(const ConsoleLog&) = delete;

    // After a successful login: opens the plain file for appending (or nothing for the library) and
    // writes the begin marker. Without logging or without a name it does nothing.
    void Open();
    // When the connection's receive loop ends: writes the end marker and closes the plain file.
    void Close();
    // Writes one line (without line end) as the settings say; silently nothing when filtered out,
    // switched off or not open.
    void Write(std::string_view line);

    bool IsFileOpen() const { return file_ != nullptr; }

    // True for lines left out unless all output is logged: command echoes ("$", "["), lines that
    // begin with a time ("12:"), "logout" and "say " in any case.
    static bool IsFilteredOut(std::string_view line);
    // The library's file-name prefix for a console log name: without a trailing ".log", then "_".
    static std::string JotwellPrefix(const std::string& consoleLogName);
    // The plain-file form of a line: optional local time stamp, the line, CR LF.
    static std::string PlainLine(std::string_view line, const LocalTime* stamp);

private:
    const ConsoleSettings& settings_;
    Clock& clock_;
    JotwellBinding* jotwell_;
    std::FILE* file_ = nullptr;
};

}  // namespace hm
