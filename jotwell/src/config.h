// The configuration file: per-prefix (or "Default") sections of an INI file that add options and
// limits to a caller's record without changing the caller.
//
// Each process reads a prefix's section once and keeps it in a cache until the library is unloaded;
// the cache is guarded by one mutex per process, which also orders the configuration messages of
// several threads. Never clears an option the caller set. Any thread.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "work.h"

namespace hm::jotwell {

// A parsed INI file: sections and keys compared without regard to case; the first occurrence wins.
class IniFile {
public:
    bool Load(const std::string& path);
    void Parse(const std::string& text);
    bool HasSection(const std::string& section) const;
    // The value as the system reads it: trimmed, at most 49 characters; missing key = nullopt,
    // and so is the value "ERROR".
    std::optional<std::string> Value(const std::string& section, const std::string& key) const;

private:
    struct Section {
        std::string name;
        std::map<std::string, std::string> values;  // lower-case key -> value
    };
    const Section* Find(const std::string& section) const;
    std::map<std::string, Section> sections_;       // lower-case name -> section
};

// The boolean words of the configuration file.
bool ParseBool(const std::string& value);

// The options and limits one section contributes.
struct SectionSettings {
    uint32_t logOptions = 0;
    uint32_t extOptions = 0;
    uint32_t checkInterval = 0;
    uint32_t checkCountdown = 0;
    uint32_t limit1 = 0;
    uint32_t limit2 = 0;
    uint32_t waitMs = 0;
};

// Reads the options and limits of one section (steps without messages), for tests and the reader.
SectionSettings ReadSectionSettings(const IniFile& ini, const std::string& section);

// Merges the configuration of prefix into work, reading it on first use in this process.
void MergeConfiguration(const std::string& prefix, Work& work);

// Whether the section of prefix is cached already (reading it would write no messages).
bool IsConfigurationCached(const std::string& prefix);

// Forgets every cached section (tests).
void ClearConfigurationCache();
// Frees the cache (unload).
void ReleaseConfiguration();

// Whether the volume holding path is FAT. Replaceable for tests.
using FatProbe = bool (*)(const std::string& path);
void SetFatProbe(FatProbe probe);
bool IsFatVolume(const std::string& path);

}  // namespace hm::jotwell
