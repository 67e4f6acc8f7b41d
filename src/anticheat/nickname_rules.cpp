#include "anticheat/nickname_rules.h"

#include <algorithm>
#include <cstdio>

#include "eventlog/event_log.h"
#include "platform/files.h"
#include "servers/store_file.h"

namespace hm {
namespace {

bool IsPrintableAscii(unsigned char c) { return c >= 0x20 && c <= 0x7E; }

// White space as the C library's isspace sees it in the "C" locale, without depending on the locale.
bool IsWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool ListHolds(const std::vector<std::string>& list, const std::string& name) {
    return std::any_of(list.begin(), list.end(),
                       [&](const std::string& entry) { return fs::EqualsIgnoreCase(entry, name); });
}

}  // namespace

bool NicknameInvalidByPercent(const std::string& name) {
    for (const char c : name) {
        if (c == '%') return true;
        if (!IsPrintableAscii(static_cast<unsigned char>(c))) return false;
    }
    return false;
}

bool NicknamePatternMatches(const std::string& pattern, const std::string& name) {
    if (!pattern.empty() && pattern.back() == '*') {
        const size_t prefixLength = pattern.size() - 1;
        if (name.size() < 2 || name.size() < prefixLength) return false;
        return fs::EqualsIgnoreCase(name.substr(0, prefixLength), pattern.substr(0, prefixLength));
    }
    return fs::EqualsIgnoreCase(pattern, name);
}

NicknameVerdictResult NicknameVerdict(const std::string& name, const AntiCheatOptions& options) {
    if (name.empty() || NicknameInvalidByPercent(name)) return NicknameVerdictResult::Invalid;
    if (options.disallowHacked) {
        const bool unprintable = std::any_of(name.begin(), name.end(), [](char c) {
            return !IsPrintableAscii(static_cast<unsigned char>(c));
        });
        if (unprintable) return NicknameVerdictResult::Hacked;
    }
    if (options.disallowShort) {
        // A stored length outside the dialog's range would otherwise refuse every player (or none).
        const int32_t shortLength = std::clamp(options.shortLength, kMinShortLength, kMaxShortLength);
        if (name.size() <= static_cast<size_t>(shortLength)) return NicknameVerdictResult::TooShort;
    }
    for (const std::string& pattern : options.disallowedNicknames) {
        if (NicknamePatternMatches(pattern, name)) return NicknameVerdictResult::Disallowed;
    }
    return NicknameVerdictResult::None;
}

int MergeNicknames(EventLogList* events, std::vector<std::string>& list, const std::string* text,
                   std::string& updateLog, bool removePrevious) {
    if (text == nullptr) return 0;
    if (removePrevious) list.clear();

    // The list arrives as C text: whatever follows a NUL byte was never part of it.
    const std::string body = text->substr(0, text->find('\0'));
    int added = 0;
    size_t pos = 0;
    while (pos <= body.size()) {
        size_t end = body.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = body.size();
        std::string line = body.substr(pos, end - pos);
        if (end < body.size() && body[end] == '\r' && end + 1 < body.size() && body[end + 1] == '\n') {
            pos = end + 2;
        } else {
            pos = end + 1;
        }

        if (line.size() >= 2 && line[0] == ';' && IsWhiteSpace(line[1])) continue;
        size_t first = 0;
        while (first < line.size() && IsWhiteSpace(line[first])) ++first;
        line.erase(0, first);
        if (line.empty() || ListHolds(list, line)) continue;

        list.push_back(line);
        if (added == 0 && events) events->AddEvent("Updating banned nicknames...");
        ++added;
        updateLog += "-> added " + line + " to disallowed nicknames\r\n";
        if (events) events->AddEvent("banned nicknames: added %s", line.c_str());
    }

    if (added == 0) {
        if (events) events->AddEvent("No nicknames added to banned list");
        return 0;
    }
    if (events) events->AddEvent("Added %d addresses to banned nicknames list", added);
    return 1;
}

bool AddDisallowedNickname(std::vector<std::string>& list, const std::string& name) {
    if (name.empty() || ListHolds(list, name)) return false;
    list.push_back(name);
    return true;
}

AntiCheatOptions AcceptAntiCheatDialog(const AntiCheatOptions& before, AntiCheatOptions edited) {
    edited.shortLength = std::clamp(edited.shortLength, kMinShortLength, kMaxShortLength);
    if (!before.autoUpdateHostsDeny && edited.autoUpdateHostsDeny) edited.hostsDenyLastUpdate = 0;
    if (!before.autoUpdateNicknames && edited.autoUpdateNicknames) edited.nicknamesLastUpdate = 0;
    return edited;
}

bool NicknameUpdateDue(const AntiCheatOptions& options, Tick now, bool hostsDenyDueThisPass) {
    if (!options.autoUpdateNicknames || options.nicknamesUri.empty() || hostsDenyDueThisPass) return false;
    return options.nicknamesLastUpdate == 0 ||
           Elapsed(now, options.nicknamesLastUpdate) > kNicknameUpdatePeriodMs;
}

std::string NicknameUpdateLogHeader(const LocalTime& now, const std::string& uri, const std::string& text) {
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "Update %04u-%02u-%02u %02u:%02u (", static_cast<unsigned>(now.year),
                  static_cast<unsigned>(now.month), static_cast<unsigned>(now.day),
                  static_cast<unsigned>(now.hour), static_cast<unsigned>(now.minute));
    return stamp + uri + "):\r\n" + text + "\r\n";
}

NicknameRules::NicknameRules() : NicknameRules(AntiCheatOptions()) {}

NicknameRules::NicknameRules(const AntiCheatOptions& options)
    : current_(std::make_shared<const AntiCheatOptions>(options)) {}

void NicknameRules::Publish(std::shared_ptr<const AntiCheatOptions> next) {
    std::lock_guard<std::mutex> guard(lock_);
    current_ = std::move(next);
}

std::shared_ptr<const AntiCheatOptions> NicknameRules::Snapshot() const {
    std::lock_guard<std::mutex> guard(lock_);
    return current_;
}

void NicknameRules::Set(const AntiCheatOptions& options) {
    std::lock_guard<std::mutex> writer(writeLock_);
    Publish(std::make_shared<const AntiCheatOptions>(options));
}

AntiCheatOptions NicknameRules::Get() const { return *Snapshot(); }

NicknameVerdictResult NicknameRules::Verdict(const std::string& name) const {
    const std::shared_ptr<const AntiCheatOptions> options = Snapshot();
    return NicknameVerdict(name, *options);
}

int NicknameRules::Merge(EventLogList* events, const std::string* text, std::string& updateLog,
                         bool removePrevious) {
    std::lock_guard<std::mutex> writer(writeLock_);
    auto next = std::make_shared<AntiCheatOptions>(*Snapshot());
    const int result = MergeNicknames(events, next->disallowedNicknames, text, updateLog, removePrevious);
    Publish(std::move(next));
    return result;
}

int NicknameRules::ApplyNicknameDownload(EventLogList* events, const std::string& logFolder,
                                         const LocalTime& now, const std::string& uri,
                                         const std::string* text) {
    const bool removePrevious = Snapshot()->removePreviousNicknames != 0;
    std::string updateLog = NicknameUpdateLogHeader(now, uri, text ? *text : std::string());
    if (Merge(events, text, updateLog, removePrevious) == 0) return 0;
    const std::string path = StorePath(logFolder, "BannedNicknamesUpdate.log");
    if (removePrevious) {
        fs::WriteWholeFile(path, updateLog);
    } else {
        fs::AppendToFile(path, updateLog);
    }
    return 1;
}

void NicknameRules::SetNicknamesLastUpdate(uint32_t tick) {
    std::lock_guard<std::mutex> writer(writeLock_);
    auto next = std::make_shared<AntiCheatOptions>(*Snapshot());
    next->nicknamesLastUpdate = tick;
    Publish(std::move(next));
}

void NicknameRules::SetHostsDenyLastUpdate(uint32_t tick) {
    std::lock_guard<std::mutex> writer(writeLock_);
    auto next = std::make_shared<AntiCheatOptions>(*Snapshot());
    next->hostsDenyLastUpdate = tick;
    Publish(std::move(next));
}

}  // namespace hm
