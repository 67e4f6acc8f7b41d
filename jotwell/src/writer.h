// The synchronous write path: from a validated prefix, a text and a completed working record to
// bytes appended to the dated log file, followed by the rotation step.
//
// Runs on the caller's thread (JotwellEx, Jotwell) or on the logging thread (queued lines). Every
// append happens under the file's named lock, in one write, so a line is never split or mixed with
// another writer's line. The library's own messages (banner, configuration, rotation) go through
// the same path with rotation and configuration switched off, so they never recurse.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "work.h"

namespace hm::jotwell {

// Fills the stamps of the record from the clock unless LE_STAMPS_TAKEN says they are taken and
// all of them are present.
void CompleteStamps(Work& work);

// The first steps of a line: configuration, banner, checkInterval, dump, composition, regional
// settings, echo and file name. What is left to do is described by the result.
struct PreparedLine {
    bool finished = false;  // nothing is to be written (echo only, name only); result holds the result
    int result = 0;
    std::string path;       // the resolved log file
    std::string data;       // the composed line(s), each ending in CR LF
    bool append = false;    // false with LE_DONT_LOG
    bool rotate = false;    // the rotation step is to run after the append
};
void PrepareLine(const std::string& prefix, std::string_view text, bool textIsNull, Work& work, PreparedLine& out);

// Appends data to path under the file lock. 0, -2 (file), -4 (time-out), -5 (lock unusable).
int AppendToLog(const std::string& path, std::string_view data, uint32_t waitMs);

// The whole synchronous path for one call; outPath receives the resolved file name (when resolved).
int WriteText(const std::string& prefix, std::string_view text, bool textIsNull, Work& work,
              std::string* outPath = nullptr);

// Writes a line about the library's own work into the log of prefix, with a copy of the caller's
// options (rotation, configuration and regional settings off).
void WriteOwnMessage(const std::string& prefix, const Work& caller, const std::string& text);

// Writes composed lines (CR LF line ends) to standard output or error, flushed.
void EchoLines(std::string_view data, bool toStderr);

// printf-style formatting into a string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The banner is written once per process; a forked child counts as a process of its own.
void ResetBannerForTesting();
bool BannerWritten();

// Sleeps that end early when the library is being unloaded.
void InterruptibleSleep(uint32_t ms);
void WakeSleepers();
void ReleaseSleepers();

}  // namespace hm::jotwell
