#include "config.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

#include <sys/stat.h>
#include <sys/statfs.h>

#include "naming.h"
#include "per_process.h"
#include "writer.h"

namespace hm::jotwell {

namespace {

constexpr size_t kMaxValue = 49;
constexpr unsigned long kMsdosMagic = 0x4d44;  // vfat and msdos

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
    return s.substr(b, e - b);
}

struct CacheEntry {
    std::string prefix;
    SectionSettings settings;
};

struct ConfigCache {
    pid_t pid = 0;
    std::mutex lock;
    std::vector<CacheEntry> entries;
};

std::atomic<ConfigCache*> g_config{nullptr};  // one per process; emptied on unload

bool RealFatProbe(const std::string& path) {
    std::string probe = path;
    struct statfs fs {};
    // Walk up to the nearest folder that exists: the log folder may not be there yet.
    for (int i = 0; i < 64 && !probe.empty(); ++i) {
        if (statfs(probe.c_str(), &fs) == 0) return static_cast<unsigned long>(fs.f_type) == kMsdosMagic;
        const size_t slash = probe.find_last_of('/', probe.size() > 1 ? probe.size() - 2 : 0);
        if (slash == std::string::npos || slash == 0) break;
        probe.resize(slash);
    }
    const char* root = (!path.empty() && path[0] == '/') ? "/" : ".";
    return statfs(root, &fs) == 0 && static_cast<unsigned long>(fs.f_type) == kMsdosMagic;
}

std::atomic<FatProbe> g_fatProbe{nullptr};

uint32_t ParseDecimal(const std::string& value) {
    return static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
}

// The first key found among the names decides.
std::optional<bool> FirstBool(const IniFile& ini, const std::vector<std::pair<std::string, std::string>>& lookups) {
    for (const auto& [section, key] : lookups) {
        if (auto v = ini.Value(section, key)) return ParseBool(*v);
    }
    return std::nullopt;
}

SectionSettings ReadSection(const std::string& prefix, Work& caller, Work& messages, bool& quiet) {
    SectionSettings settings;
    const std::string& file = caller.Strings().configFile;
    auto say = [&](const std::string& text) {
        if (!quiet) WriteOwnMessage(prefix, messages, text);
    };

    struct stat st {};
    if (stat(file.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
        say(Format("Configuration file '%s' not found.", file.c_str()));
        return settings;
    }
    IniFile ini;
    if (!ini.Load(file)) {
        say(Format("Configuration file '%s' not found.", file.c_str()));
        return settings;
    }

    if (!quiet) {
        const auto dontLog = FirstBool(ini, {{prefix, "DONT_LOG_CONFIG"},
                                             {prefix, "LE_DONT_LOG_CONFIG"},
                                             {"Default", "DONT_LOG_CONFIG"},
                                             {"Default", "LE_DONT_LOG_CONFIG"}});
        if (dontLog.value_or(false)) {
            caller.extOptions |= LE_DONT_LOG_CONFIG;
            messages.extOptions |= LE_DONT_LOG_CONFIG;
            quiet = true;
        } else {
            say(Format("Reading configuration section [%s] from '%s'...", prefix.c_str(), file.c_str()));
        }
    }

    // The volume of the log itself decides, not the current folder.
    const bool fat = IsFatVolume(FolderOf(FullPrefix(prefix) + "x"));
    if (fat) {
        settings.extOptions |= LE_SORTED_LISTING;
        say("Logging file system is FAT or FAT32: Directory listing needs to be sorted.");
    }

    std::string section = prefix;
    if (!ini.HasSection(prefix)) {
        say(Format("Configuration section [%s] in '%s' does not exist.", prefix.c_str(), file.c_str()));
        say(Format("Reading configuration section [%s] from '%s'...", "Default", file.c_str()));
        section = "Default";
    }
    const SectionSettings read = ReadSectionSettings(ini, section);
    settings.logOptions |= read.logOptions;
    settings.extOptions |= read.extOptions;
    settings.limit1 = read.limit1;
    settings.limit2 = read.limit2;

    if (fat && (settings.extOptions & LE_NTFS_COMPRESS)) {
        settings.extOptions &= ~LE_NTFS_COMPRESS;
        say("Logging file system is FAT or FAT32: Unsupported NTFS compression turned off.");
    }
    return settings;
}

}  // namespace

bool IniFile::Load(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    Parse(text.str());
    return true;
}

void IniFile::Parse(const std::string& text) {
    sections_.clear();
    Section* current = nullptr;
    std::istringstream lines(text);
    std::string raw;
    while (std::getline(lines, raw)) {
        const std::string line = Trim(raw);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line[0] == '[') {
            const size_t close = line.find(']');
            const std::string name = Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1));
            auto [it, added] = sections_.try_emplace(Lower(name));
            if (added) it->second.name = name;
            current = &it->second;
            continue;
        }
        const size_t eq = line.find('=');
        if (!current || eq == std::string::npos) continue;
        const std::string key = Lower(Trim(line.substr(0, eq)));
        std::string value = Trim(line.substr(eq + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
        current->values.try_emplace(key, value);
    }
}

const IniFile::Section* IniFile::Find(const std::string& section) const {
    auto it = sections_.find(Lower(section));
    return it == sections_.end() ? nullptr : &it->second;
}

bool IniFile::HasSection(const std::string& section) const { return Find(section) != nullptr; }

std::optional<std::string> IniFile::Value(const std::string& section, const std::string& key) const {
    const Section* s = Find(section);
    if (!s) return std::nullopt;
    auto it = s->values.find(Lower(key));
    if (it == s->values.end()) return std::nullopt;
    std::string value = it->second.substr(0, kMaxValue);
    if (value == "ERROR") return std::nullopt;
    return value;
}

bool ParseBool(const std::string& value) {
    if (std::strtol(value.c_str(), nullptr, 10) == 1) return true;
    const std::string v = Lower(value);
    return v == "true" || v == "yes" || v == "wahr" || v == "ja";
}

SectionSettings ReadSectionSettings(const IniFile& ini, const std::string& section) {
    SectionSettings s;
    for (const OptionName& option : OptionNames()) {
        const std::string full = option.name;
        auto value = ini.Value(section, full.substr(3));
        if (!value) value = ini.Value(section, full);
        if (!value) continue;
        uint32_t& word = option.extWord ? s.extOptions : s.logOptions;
        if (ParseBool(*value)) word |= option.bits;
        else word &= ~option.bits;
    }
    if (auto v = ini.Value(section, "MaxLogs")) s.limit1 = ParseDecimal(*v);
    if (auto v = ini.Value(section, "MaxZips")) s.limit2 = ParseDecimal(*v);
    if (s.logOptions & LO_SIZE) {
        if (auto v = ini.Value(section, "MinSize")) s.limit1 = ParseDecimal(*v);
        if (auto v = ini.Value(section, "MaxSize")) s.limit2 = ParseDecimal(*v);
    }
    if (s.logOptions & LO_LINES) {
        if (auto v = ini.Value(section, "MinLines")) s.limit1 = ParseDecimal(*v);
        if (auto v = ini.Value(section, "MaxLines")) s.limit2 = ParseDecimal(*v);
    }
    return s;
}

void MergeConfiguration(const std::string& prefix, Work& work) {
    ConfigCache* cache = &PerProcess(g_config);
    std::lock_guard<std::mutex> guard(cache->lock);
    const CacheEntry* found = nullptr;
    for (const CacheEntry& e : cache->entries) {
        if (e.prefix == prefix) {
            found = &e;
            break;
        }
    }
    if (!found) {
        Work messages = work;
        bool quiet = (work.extOptions & LE_DONT_LOG_CONFIG) != 0;
        CacheEntry entry{prefix, ReadSection(prefix, work, messages, quiet)};
        cache->entries.push_back(std::move(entry));
        found = &cache->entries.back();
    }
    const SectionSettings& s = found->settings;
    work.logOptions |= s.logOptions;
    work.extOptions |= s.extOptions;
    if (s.checkInterval) work.checkInterval = s.checkInterval;
    if (s.checkCountdown) work.checkCountdown = s.checkCountdown;
    if (s.limit1) work.limit1 = s.limit1;
    if (s.limit2) work.limit2 = s.limit2;
    if (s.waitMs) work.waitMs = s.waitMs;
}

bool IsConfigurationCached(const std::string& prefix) {
    ConfigCache& cache = PerProcess(g_config);
    std::lock_guard<std::mutex> guard(cache.lock);
    for (const CacheEntry& e : cache.entries) {
        if (e.prefix == prefix) return true;
    }
    return false;
}

void ClearConfigurationCache() {
    ConfigCache& cache = PerProcess(g_config);
    std::lock_guard<std::mutex> guard(cache.lock);
    cache.entries.clear();
}

void ReleaseConfiguration() { ReleasePerProcess(g_config); }

void SetFatProbe(FatProbe probe) { g_fatProbe.store(probe); }

bool IsFatVolume(const std::string& path) {
    FatProbe probe = g_fatProbe.load();
    return probe ? probe(path) : RealFatProbe(path);
}

}  // namespace hm::jotwell
