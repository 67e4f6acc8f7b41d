#include "servers/config_text.h"

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <optional>
#include <string_view>
#include <variant>

#include "servers/schedule_text.h"
#include "servers/server_config_rules.h"

namespace hm {

namespace {

using FieldRef = std::variant<uint32_t*, int32_t*, uint16_t*, float*, std::string*>;
using StringList = std::vector<std::string>;
using F = ServerConfigField;

enum class ListKind { Text, Schedule, Address };

// One key of a section: a single value, or a numbered list. Fields that the configuration dialog
// checks name their form field: the reader hands their numbers to the dialog's rules as entered.
struct Field {
    const char* key;
    FieldRef (*scalar)(CServerConfig&);
    StringList* (*list)(CServerConfig&);
    ListKind listKind;
    ServerConfigField form;
};

#define HM_SCALAR(key, member) \
    Field { key, [](CServerConfig& c) -> FieldRef { return &c.member; }, nullptr, ListKind::Text, F::None }
#define HM_FORM(key, member, field) \
    Field { key, [](CServerConfig& c) -> FieldRef { return &c.member; }, nullptr, ListKind::Text, field }
#define HM_LIST(key, member) \
    Field { key, nullptr, [](CServerConfig& c) { return &c.member; }, ListKind::Text, F::None }

// Every stored field of CServerConfig, block by block in stored order (the name is the section's).
const Field kFields[] = {
    HM_SCALAR("game.connectionKind", game.connectionKind),
    HM_FORM("game.packetsPerSecond", game.packetsPerSecond, F::PacketsPerSecond),
    HM_FORM("game.timeLimit", game.timeLimit, F::TimeLimit),
    HM_FORM("game.killGoal", game.killGoal, F::KillGoal),
    HM_SCALAR("game.maxPlayers", game.maxPlayers),
    HM_SCALAR("game.multiSettingsFile", game.multiSettingsFile),
    HM_SCALAR("game.missionTitle", game.missionTitle),
    HM_SCALAR("game.missionFileName", game.missionFileName),
    HM_SCALAR("game.scriptName", game.scriptName),
    HM_SCALAR("game.connectionName", game.connectionName),
    HM_SCALAR("game.startLevel", game.startLevel),
    HM_SCALAR("game.difficulty", game.difficulty),
    HM_SCALAR("game.gameSpyPort", game.gameSpyPort),
    HM_SCALAR("game.numTeams", game.numTeams),
    HM_SCALAR("game.teamDamage", game.teamDamage),
    HM_SCALAR("game.accurateCollisions", game.accurateCollisions),
    HM_SCALAR("game.sendRotVel", game.sendRotVel),
    HM_SCALAR("game.brightPlayers", game.brightPlayers),
    HM_SCALAR("game.peerMode", game.peerMode),
    HM_SCALAR("game.useSmoothing", game.useSmoothing),
    HM_SCALAR("game.allowMouselook", game.allowMouselook),
    HM_SCALAR("game.allowRemoteConsole", game.allowRemoteConsole),
    HM_SCALAR("game.remoteConsolePort", game.remoteConsolePort),
    HM_SCALAR("game.consolePassword", game.consolePassword),
    HM_SCALAR("game.remoteAdmin", game.remoteAdmin),
    HM_SCALAR("game.remoteAdminPassword", game.remoteAdminPassword),
    HM_SCALAR("game.allowAudioTaunts", game.allowAudioTaunts),
    HM_FORM("game.audioTauntDelay", game.audioTauntDelay, F::TauntDelay),
    HM_SCALAR("game.randomizeRespawn", game.randomizeRespawn),
    HM_FORM("game.minRespawnTime", game.minRespawnTime, F::MinRespawn),
    HM_FORM("game.maxRespawnTime", game.maxRespawnTime, F::MaxRespawn),
    HM_SCALAR("game.lobbyUserName", game.lobbyUserName),
    HM_SCALAR("game.lobbyPassword", game.lobbyPassword),
    HM_SCALAR("game.hostingLobby", game.hostingLobby),
    HM_FORM("game.motd", game.motd, F::Motd),
    HM_LIST("game.primaryWeapons.allowed", game.powerups[kPrimaryWeapons].allowed),
    HM_LIST("game.primaryWeapons.disallowed", game.powerups[kPrimaryWeapons].disallowed),
    HM_LIST("game.secondaryWeapons.allowed", game.powerups[kSecondaryWeapons].allowed),
    HM_LIST("game.secondaryWeapons.disallowed", game.powerups[kSecondaryWeapons].disallowed),
    HM_LIST("game.powerups.allowed", game.powerups[kPowerups].allowed),
    HM_LIST("game.powerups.disallowed", game.powerups[kPowerups].disallowed),
    HM_LIST("game.others.allowed", game.powerups[kOthers].allowed),
    HM_LIST("game.others.disallowed", game.powerups[kOthers].disallowed),
    HM_SCALAR("game.customDescription", game.customDescription),
    HM_SCALAR("game.missionLevelCount", game.missionLevelCount),
    HM_SCALAR("game.selective", game.selective),
    HM_SCALAR("game.targetMaxPlayers", game.targetMaxPlayers),
    HM_SCALAR("game.appliedMaxPlayers", game.appliedMaxPlayers),
    HM_SCALAR("game.autoLaunchAllowed", game.autoLaunchAllowed),
    HM_LIST("ships.allowed", ships.allowedShips),
    HM_LIST("ships.disallowed", ships.disallowedShips),
    HM_SCALAR("autoexec.allowTeamChange", autoexec.allowTeamChange),
    HM_SCALAR("autoexec.autoBalance", autoexec.autoBalance),
    HM_SCALAR("autoexec.autoSaveDisconnect", autoexec.autoSaveDisconnect),
    HM_SCALAR("autoexec.autoSaveLevel", autoexec.autoSaveLevel),
    HM_SCALAR("autoexec.minCount", autoexec.minCount),
    HM_SCALAR("autoexec.maxCount", autoexec.maxCount),
    HM_SCALAR("autoexec.serverHudNames", autoexec.serverHudNames),
    HM_SCALAR("autoexec.killMsgFilter", autoexec.killMsgFilter),
    HM_SCALAR("autoexec.teamName0", autoexec.teamNames[0]),
    HM_SCALAR("autoexec.teamName1", autoexec.teamNames[1]),
    HM_SCALAR("autoexec.teamName2", autoexec.teamNames[2]),
    HM_SCALAR("autoexec.teamName3", autoexec.teamNames[3]),
    HM_SCALAR("launch.executable", launch.executable),
    HM_SCALAR("launch.extraName", launch.extraName),
    HM_SCALAR("launch.configFile", launch.configFile),
    HM_SCALAR("launch.autoexecFile", launch.autoexecFile),
    HM_SCALAR("launch.gameSpyFile", launch.gameSpyFile),
    HM_SCALAR("launch.gameSpyPort", launch.gameSpyPort),
    HM_SCALAR("launch.launchFlag", launch.launchFlag),
    HM_SCALAR("launch.tempDir", launch.tempDir),
    HM_SCALAR("launch.setDir", launch.setDir),
    HM_SCALAR("launch.bindAddress", launch.bindAddress),
    HM_FORM("launch.serverPort", launch.serverPort, F::ServerPort),
    HM_FORM("launch.framesPerSecond", launch.framesPerSecond, F::FramesPerSecond),
    HM_SCALAR("launch.disableShipLogos", launch.disableShipLogos),
    HM_SCALAR("launch.extraArguments", launch.extraArguments),
    HM_SCALAR("trackers.enabled", trackers.enabled),
    HM_SCALAR("trackers.postToWebTracker", trackers.postToWebTracker),
    HM_LIST("trackers", trackers.trackers),
    HM_SCALAR("schedule.enabled", schedule.enabled),
    Field{"schedule", nullptr, nullptr, ListKind::Schedule, F::None},
    HM_SCALAR("console.password", console.password),
    HM_SCALAR("console.port", console.port),
    HM_SCALAR("console.logPlayerAddresses", console.logPlayerAddresses),
    HM_SCALAR("console.logConsole", console.logConsole),
    HM_SCALAR("console.logTimestamps", console.logTimestamps),
    HM_SCALAR("console.consoleLogName", console.consoleLogName),
    HM_SCALAR("console.playerSlots", console.playerSlots),
    HM_SCALAR("console.minRespawnTime", console.minRespawnTime),
    HM_SCALAR("console.maxRespawnTime", console.maxRespawnTime),
    HM_SCALAR("console.respawnStep", console.respawnStep),
    Field{"console.address", nullptr, nullptr, ListKind::Address, F::None},
    HM_LIST("console.autoCommand", console.autoCommands),
    HM_SCALAR("console.logAllOutput", console.logAllOutput),
    HM_SCALAR("console.useJotwell", console.useJotwell),
    HM_SCALAR("console.autoRandom", console.autoRandom),
    HM_SCALAR("console.autoRepeat", console.autoRepeat),
    HM_SCALAR("console.autoRepeatMinutes", console.autoRepeatMinutes),
    HM_SCALAR("console.autoOnlyOne", console.autoOnlyOne),
    HM_SCALAR("console.nextAutoCommand", console.nextAutoCommand),
    HM_SCALAR("customDescriptionText", customDescriptionText),
};

#undef HM_SCALAR
#undef HM_FORM
#undef HM_LIST

constexpr size_t kFieldCount = std::size(kFields);
constexpr const char* kSectionPrefix = "[Server ";
constexpr const char* kBadEscapeText = "Unknown escape; write \\\\ for a backslash.";
// Far above any real list, and bounded so that a count can never ask for more than a text can hold.
constexpr uint32_t kMaxListIndex = 1000000;

// ---- values ----

std::string Escape(const std::string& value) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size());
    for (const char c : value) {
        const auto b = static_cast<unsigned char>(c);
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (b < 0x20 || b == 0x7F) {
                    out += "\\x";
                    out += kHex[b >> 4];
                    out += kHex[b & 0xF];
                } else {
                    out += c;  // Windows-1252 bytes above 127 stay as they are
                }
        }
    }
    return out;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool Unescape(std::string_view text, std::string& out) {
    out.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i >= text.size()) return false;
        switch (text[i]) {
            case '\\': out += '\\'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'x': {
                const int high = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
                const int low = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
                if (high < 0 || low < 0) return false;
                out += static_cast<char>(high * 16 + low);
                i += 2;
                break;
            }
            default: return false;
        }
    }
    return true;
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// A decimal integer with an optional minus sign and nothing else (blanks around it allowed).
std::optional<int64_t> ParseInteger(std::string_view text) {
    text = TrimBlanks(text);
    int64_t value = 0;
    const char* end = text.data() + text.size();
    if (text.empty() || text.front() == '+') return std::nullopt;
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

std::string FloatText(float value) {
    if (!std::isfinite(value)) {
        char bits[16];
        std::snprintf(bits, sizeof bits, "0x%08X", std::bit_cast<uint32_t>(value));
        return bits;
    }
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);  // shortest form that reads back exactly
    return std::string(text, result.ptr);
}

std::optional<float> ParseFloat(std::string_view text) {
    text = TrimBlanks(text);
    const char* end = text.data() + text.size();
    if (text.size() == 10 && text.substr(0, 2) == "0x") {
        uint32_t bits = 0;
        const auto [ptr, ec] = std::from_chars(text.data() + 2, end, bits, 16);
        if (ec != std::errc() || ptr != end) return std::nullopt;
        return std::bit_cast<float>(bits);
    }
    if (text.empty() || text.front() == '+') return std::nullopt;
    float value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::string ScalarText(const FieldRef& ref) {
    return std::visit(
        [](auto* p) -> std::string {
            using T = std::remove_pointer_t<decltype(p)>;
            if constexpr (std::is_same_v<T, std::string>) {
                return Escape(*p);
            } else if constexpr (std::is_same_v<T, float>) {
                return FloatText(*p);
            } else {
                return std::to_string(*p);
            }
        },
        ref);
}

// Sets the field from its text; the message for the operator when the text is no value of the field.
std::string SetScalar(const FieldRef& ref, std::string_view text) {
    return std::visit(
        [&](auto* p) -> std::string {
            using T = std::remove_pointer_t<decltype(p)>;
            if constexpr (std::is_same_v<T, std::string>) {
                if (!Unescape(text, *p)) return kBadEscapeText;
                return {};
            } else if constexpr (std::is_same_v<T, float>) {
                const std::optional<float> value = ParseFloat(text);
                if (!value) return "Please enter a number.";
                *p = *value;
                return {};
            } else {
                constexpr int64_t low = std::numeric_limits<T>::min(), high = std::numeric_limits<T>::max();
                const std::optional<int64_t> value = ParseInteger(text);
                if (!value || *value < low || *value > high) return RangeMessage(low, high);
                *p = static_cast<T>(*value);
                return {};
            }
        },
        ref);
}

// The dialog's number that stands for a field it checks.
int64_t* FormNumber(ServerConfigForm& form, ServerConfigField field) {
    switch (field) {
        case F::TimeLimit: return &form.timeLimit;
        case F::KillGoal: return &form.killGoal;
        case F::TauntDelay: return &form.tauntDelay;
        case F::MinRespawn: return &form.minRespawn;
        case F::MaxRespawn: return &form.maxRespawn;
        case F::ServerPort: return &form.serverPort;
        case F::PacketsPerSecond: return &form.packetsPerSecond;
        case F::FramesPerSecond: return &form.framesPerSecond;
        default: return nullptr;
    }
}

// IPv4 addresses are kept in network byte order: the first number is the first byte.
std::string AddressText(uint32_t address) {
    return std::to_string(address & 0xFF) + "." + std::to_string((address >> 8) & 0xFF) + "." +
           std::to_string((address >> 16) & 0xFF) + "." + std::to_string(address >> 24);
}

std::optional<uint32_t> ParseAddress(std::string_view text) {
    uint32_t address = 0;
    for (int part = 0; part < 4; ++part) {
        const size_t dot = part < 3 ? text.find('.') : text.size();
        if (dot == std::string_view::npos || dot == 0 || dot > 3) return std::nullopt;
        unsigned value = 0;
        const auto [ptr, ec] = std::from_chars(text.data(), text.data() + dot, value);
        if (ec != std::errc() || ptr != text.data() + dot || value > 255) return std::nullopt;
        address |= value << (8 * part);
        text.remove_prefix(part < 3 ? dot + 1 : dot);
    }
    return address;
}

StringList ListTexts(const Field& field, CServerConfig& config) {
    StringList texts;
    switch (field.listKind) {
        case ListKind::Text:
            for (const std::string& item : *field.list(config)) texts.push_back(Escape(item));
            break;
        case ListKind::Schedule:
            for (const ScheduleEntry& entry : config.schedule.entries) texts.push_back(ScheduleEntryText(entry));
            break;
        case ListKind::Address:
            for (uint32_t address : config.console.addresses) texts.push_back(AddressText(address));
            break;
    }
    return texts;
}

// Checks one entry's text; "" when it is good.
std::string CheckListEntry(const Field& field, std::string_view text) {
    switch (field.listKind) {
        case ListKind::Text: {
            std::string value;
            return Unescape(text, value) ? std::string() : kBadEscapeText;
        }
        case ListKind::Schedule: {
            const std::string entryText(text);
            const ScheduleEntry entry = ParseScheduleEntry(entryText);
            const bool inDay = entry.start.hour < 24 && entry.start.minute < 60 && entry.stop.hour < 24 &&
                               entry.stop.minute < 60;
            if (inDay && ScheduleEntryText(entry) == entryText) return {};
            return "Please enter a schedule entry such as \"Mon, 08:00 - Mon, 20:00\" (days Sun to Sat or All).";
        }
        case ListKind::Address:
            return ParseAddress(text) ? std::string() : "Please enter an IPv4 address such as 127.0.0.1.";
    }
    return {};
}

void SetList(const Field& field, CServerConfig& config, const StringList& texts) {
    switch (field.listKind) {
        case ListKind::Text: {
            StringList& list = *field.list(config);
            list.assign(texts.size(), std::string());
            for (size_t i = 0; i < texts.size(); ++i) Unescape(texts[i], list[i]);
            break;
        }
        case ListKind::Schedule:
            config.schedule.entries.clear();
            for (const std::string& text : texts) config.schedule.entries.push_back(ParseScheduleEntry(text));
            break;
        case ListKind::Address:
            config.console.addresses.clear();
            for (const std::string& text : texts) config.console.addresses.push_back(*ParseAddress(text));
            break;
    }
}

// ---- reading ----

struct ListInput {
    std::map<uint32_t, std::pair<std::string, size_t>> entries;  // index -> text, line
    std::optional<uint32_t> count;
    size_t countLine = 0;
};

struct Section {
    size_t headerLine = 0;
    ServerConfigForm form;
    std::map<std::string, size_t> keyLines;  // scalar key -> line
    std::vector<ListInput> lists = std::vector<ListInput>(kFieldCount);
    bool failed = false;
};

class TextReader {
public:
    TextReader(const CGlobalOptions& defaults, std::vector<ConfigTextError>& errors)
        : defaults_(defaults), errors_(errors) {}

    void Line(size_t number, std::string_view line) {
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const std::string_view trimmed = TrimBlanks(line);
        if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#') return;
        if (trimmed.front() == '[') return Header(number, trimmed);
        const size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            return Error(number, "Not a key=value line, a [Server NAME] header, a comment or a blank line.");
        }
        if (!section_) return Error(number, "A key=value line before the first [Server NAME] header.");
        Key(number, TrimBlanks(line.substr(0, equals)), line.substr(equals + 1));
    }

    void Finish() { EndSection(); }
    // Every error met, also those beyond the listed ones.
    size_t ErrorCount() const { return errorCount_; }

    std::vector<CServerConfig> configs;

private:
    void Error(size_t line, std::string message) {
        if (section_) section_->failed = true;
        ++errorCount_;
        if (errors_.size() < kMaxConfigTextErrors) errors_.push_back({line, std::move(message)});
    }

    void Header(size_t number, std::string_view header) {
        EndSection();
        const std::string_view prefix = kSectionPrefix;
        if (header.size() < prefix.size() + 1 || header.substr(0, prefix.size()) != prefix || header.back() != ']') {
            return Error(number, "Not a section header; a section begins with [Server NAME].");
        }
        section_.emplace();
        section_->headerLine = number;
        section_->form = FormFromConfig(CServerConfig(defaults_));
        if (!Unescape(header.substr(prefix.size(), header.size() - prefix.size() - 1),
                      section_->form.config.game.gameName)) {
            Error(number, kBadEscapeText);
        }
    }

    void Key(size_t number, std::string_view key, std::string_view value) {
        for (const Field& field : kFields) {
            if (field.scalar && key == field.key) return Scalar(number, field, value);
        }
        for (size_t i = 0; i < kFieldCount; ++i) {
            const Field& field = kFields[i];
            const std::string_view name = field.key;
            if (!field.scalar && key.size() > name.size() + 1 && key.substr(0, name.size()) == name &&
                key[name.size()] == '.') {
                return ListKey(number, i, key.substr(name.size() + 1), value);
            }
        }
        Error(number, "Unknown key " + std::string(key) + ".");
    }

    void Scalar(size_t number, const Field& field, std::string_view value) {
        if (!section_->keyLines.emplace(field.key, number).second) {
            return Error(number, std::string(field.key) + " is given twice in this section.");
        }
        if (int64_t* formNumber = FormNumber(section_->form, field.form)) {
            // The dialog's rules judge the number as entered; text that is no number fails their range.
            *formNumber = ParseInteger(value).value_or(std::numeric_limits<int64_t>::min());
            return;
        }
        const std::string message = SetScalar(field.scalar(section_->form.config), value);
        if (!message.empty()) Error(number, message);
    }

    void ListKey(size_t number, size_t fieldIndex, std::string_view suffix, std::string_view value) {
        const std::string key = std::string(kFields[fieldIndex].key) + "." + std::string(suffix);
        ListInput& input = section_->lists[fieldIndex];
        if (suffix == "count") {
            if (input.count) return Error(number, key + " is given twice in this section.");
            const std::optional<int64_t> count = ParseInteger(value);
            if (!count || *count < 0 || *count > kMaxListIndex) return Error(number, RangeMessage(0, kMaxListIndex));
            input.count = static_cast<uint32_t>(*count);
            input.countLine = number;
            return;
        }
        uint32_t index = 0;
        const auto [ptr, ec] = std::from_chars(suffix.data(), suffix.data() + suffix.size(), index);
        if (ec != std::errc() || ptr != suffix.data() + suffix.size() || suffix.front() == '0' || index > kMaxListIndex) {
            return Error(number, "Unknown key " + key + "; list entries are numbered from 1.");
        }
        const std::string message = CheckListEntry(kFields[fieldIndex], value);
        if (!message.empty()) return Error(number, message);
        if (!input.entries.emplace(index, std::make_pair(std::string(value), number)).second) {
            Error(number, key + " is given twice in this section.");
        }
    }

    // A list is complete when its entries run from 1 without a gap, up to its count when one is given.
    bool CheckList(size_t fieldIndex, const ListInput& input) {
        const std::string name = kFields[fieldIndex].key;
        uint32_t expected = 1;
        for (const auto& [index, entry] : input.entries) {
            if (input.count && index > *input.count) {
                Error(entry.second, name + "." + std::to_string(index) + " lies beyond " + name +
                                        ".count=" + std::to_string(*input.count) + ".");
                return false;
            }
            if (index != expected) {
                Error(entry.second, name + "." + std::to_string(expected) + " is missing before this entry.");
                return false;
            }
            ++expected;
        }
        if (input.count && expected <= *input.count) {
            Error(input.countLine, name + "." + std::to_string(expected) + " is missing.");
            return false;
        }
        return true;
    }

    void EndSection() {
        if (!section_) return;
        Section& s = *section_;
        for (size_t i = 0; i < kFieldCount; ++i) {
            const ListInput& input = s.lists[i];
            if (input.entries.empty() && !input.count) continue;  // not in the text: the default stays
            if (!CheckList(i, input)) continue;
            StringList texts;
            for (const auto& [index, entry] : input.entries) texts.push_back(entry.first);
            SetList(kFields[i], s.form.config, texts);
        }
        if (!s.failed) {
            const ServerConfigCheck check = ApplyForm(s.form);
            if (!check.ok()) {
                size_t line = s.headerLine;
                for (const Field& field : kFields) {
                    if (field.form != check.field) continue;
                    const auto given = s.keyLines.find(field.key);
                    if (given != s.keyLines.end()) line = given->second;
                }
                Error(line, check.message);
            }
        }
        if (!s.failed) {
            s.form.config.schedule.RebuildMinuteTable();
            configs.push_back(std::move(s.form.config));
        }
        section_.reset();
    }

    const CGlobalOptions& defaults_;
    std::vector<ConfigTextError>& errors_;
    std::optional<Section> section_;
    size_t errorCount_ = 0;
};

}  // namespace

std::string ConfigsToText(const std::vector<CServerConfig>& configs) {
    std::string text =
        "; Haldmoor3 server configurations: one [Server NAME] section per configuration.\r\n"
        "; Lists give their length in NAME.count and their entries as NAME.1, NAME.2, ...\r\n"
        "; Texts are Windows-1252; \\\\, \\r, \\n, \\t and \\xHH stand for a backslash and control characters.\r\n";
    for (const CServerConfig& stored : configs) {
        CServerConfig config(stored);  // the field table reaches fields through a writable record
        text += "\r\n";
        text += kSectionPrefix + Escape(config.game.gameName) + "]\r\n";
        for (const Field& field : kFields) {
            if (field.scalar) {
                text += std::string(field.key) + "=" + ScalarText(field.scalar(config)) + "\r\n";
                continue;
            }
            const StringList texts = ListTexts(field, config);
            text += std::string(field.key) + ".count=" + std::to_string(texts.size()) + "\r\n";
            for (size_t i = 0; i < texts.size(); ++i) {
                text += std::string(field.key) + "." + std::to_string(i + 1) + "=" + texts[i] + "\r\n";
            }
        }
    }
    return text;
}

std::string ConfigTextErrorLine(const ConfigTextError& error) {
    if (error.line == 0) return "Error: " + error.message;
    return "Error: line " + std::to_string(error.line) + ": " + error.message;
}

bool ConfigsFromText(const std::string& text, const CGlobalOptions& defaults, std::vector<CServerConfig>& configs,
                     std::vector<ConfigTextError>& errors) {
    configs.clear();
    errors.clear();
    TextReader reader(defaults, errors);
    size_t number = 0;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        reader.Line(++number, std::string_view(text).substr(start, end - start));
        start = end + 1;
    }
    reader.Finish();
    if (reader.ErrorCount() == 0) {
        configs = std::move(reader.configs);
        return true;
    }
    if (reader.ErrorCount() > errors.size()) {
        errors.push_back({0, std::to_string(reader.ErrorCount() - errors.size()) + " further errors not listed."});
    }
    return false;
}

ConfigMergeCount MergeConfigs(std::vector<CServerConfig>& stored, std::vector<CServerConfig> imported) {
    ConfigMergeCount count;
    std::map<std::string, size_t> taken;  // name -> how many stored records of that name were replaced
    for (CServerConfig& config : imported) {
        size_t& skip = taken[config.game.gameName];
        size_t seen = 0;
        CServerConfig* target = nullptr;
        for (CServerConfig& candidate : stored) {
            if (candidate.game.gameName == config.game.gameName && seen++ == skip) {
                target = &candidate;
                break;
            }
        }
        ++skip;
        if (target) {
            *target = std::move(config);
            ++count.replaced;
        } else {
            stored.push_back(std::move(config));
            ++count.added;
        }
    }
    return count;
}

}  // namespace hm
