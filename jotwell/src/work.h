// The library's working copy of a caller's option record, and the table of option names.
//
// Every entry point turns the caller's JotwellOptions into a Work record first and only ever writes
// back the members the caller is meant to see (checkCountdown, logFileName, the stamps buffer it
// passed). The Work record owns copies of all strings, so a queued line never points into caller
// memory and the library never frees or replaces a string the caller set. Used on any thread; a Work
// record itself belongs to one call (or one queue entry) and is never shared between threads.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "jotwell.h"

namespace hm::jotwell {

// The string members, shared between records that use the same values (most callers use the
// defaults, so a full queue holds one copy instead of a hundred thousand).
struct WorkStrings {
    std::string logWildcard = "*.log";
    std::string logExtension = ".log";
    std::string archiveWildcard = "*.gz";
    std::string archiveExtension = ".gz";
    std::string tempExtension = ".~tmp.bak";
    std::string configFile;          // library folder + "jotwell.ini" by default
    std::string compressorProgram;   // empty with hasProgram false: none
    std::string compressorArguments;
    bool hasProgram = false;
    bool hasArguments = false;
    bool operator==(const WorkStrings&) const = default;
};

struct Work {
    uint32_t logOptions = 0;
    uint32_t extOptions = 0;
    uint32_t checkInterval = 0;
    uint32_t checkCountdown = 0;
    uint32_t limit1 = 0;
    uint32_t limit2 = 0;
    uint32_t waitMs = 0;
    uint32_t textLength = 0;
    uint32_t dumpWidth = 0;
    std::shared_ptr<const WorkStrings> strings;
    DateStamps stamps{};
    // Set for the lines the library writes about itself (banner, configuration, rotation): they never
    // count towards checkInterval, never rotate and never read the configuration.
    bool ownMessage = false;

    const WorkStrings& Strings() const { return *strings; }
};

// The defaults, shared by every record that leaves all string members null.
std::shared_ptr<const WorkStrings> DefaultStrings();
void ReleaseDefaults();

// Copies the caller's record (null = all defaults) and fills missing strings with the defaults.
// Does not compute the stamps.
void LoadWork(const JotwellOptions* options, Work& work);

// The numbers of a caller's option record that travel with every line (not the text length, the
// strings or the stamps), copied into a Work or a queue entry alike.
template <class Target>
void CopyLineNumbers(const JotwellOptions& options, Target& target) {
    target.logOptions = options.logOptions;
    target.extOptions = options.extOptions;
    target.checkInterval = options.checkInterval;
    target.checkCountdown = options.checkCountdown;
    target.limit1 = options.limit1;
    target.limit2 = options.limit2;
    target.waitMs = options.waitMs;
    target.dumpWidth = options.dumpWidth;
}

// The record names a file, a folder part or a program of its own instead of the defaults.
bool HasCustomStrings(const JotwellOptions& options);

// True when every stamp text is filled in.
bool StampsComplete(const DateStamps& stamps);

// The checkInterval rule: with an interval set, rotation runs on every N-th call. Changes
// logOptions and checkCountdown of the record.
void ApplyCheckInterval(uint32_t& logOptions, uint32_t checkInterval, uint32_t& checkCountdown);

// One accepted option name with the word it lives in and its bits (0 = accepted, no effect).
struct OptionName {
    const char* name;
    bool extWord;
    uint32_t bits;
};
// All accepted names, in the documented order (the configuration reader depends on this order).
std::span<const OptionName> OptionNames();

}  // namespace hm::jotwell
