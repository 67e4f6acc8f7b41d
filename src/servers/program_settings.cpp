#include "servers/program_settings.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>

#include "platform/files.h"

namespace hm {
namespace {

constexpr const char* kHeader =
    "; Haldmoor3 program settings. The program reads this file at start-up and rewrites it only when a\n"
    "; setting is changed through the program; comments and keys it does not know are kept as they are.\n"
    "; A line starting with ; is a comment. A bad value is reported in the event list and its default used.\n"
    ";\n"
    "; Notifications: any number of sections [notify NAME], each a web hook that hears of the chosen\n"
    "; event lines, for example\n"
    ";   [notify admins]\n"
    ";   url=https://chat.example.org/hooks/1234\n"
    ";   format=discord\n"
    ";   events=crash,error\n";

// One key of the file: where it lives, what the comment above it says, how its value is read and written.
struct KeyDef {
    const char* section;
    const char* name;
    const char* comment;  // lines, each starting with "; ", separated by '\n'
    const char* expected; // what a valid value is, for the warning
    bool (*parse)(std::string_view value, CProgramSettings& s);
    std::string (*format)(const CProgramSettings& s);
};

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n'))
        s.remove_suffix(1);
    return s;
}

std::string Lower(std::string_view s) {
    std::string out(s);
    for (char& ch : out)
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    return out;
}

bool ParseSwitch(std::string_view value, bool& out) {
    const std::string v = Lower(value);
    if (v == "on") return out = true, true;
    if (v == "off") return out = false, true;
    return false;
}

bool ParseNumber(std::string_view value, uint32_t low, uint32_t high, uint32_t& out) {
    if (value.empty() || value.size() > 9) return false;
    uint32_t n = 0;
    for (char ch : value) {
        if (ch < '0' || ch > '9') return false;
        n = n * 10 + static_cast<uint32_t>(ch - '0');
    }
    if (n < low || n > high) return false;
    out = n;
    return true;
}

// From the longest to the shortest, each at most a day, at most 16 of them.
bool ParseTimes(std::string_view value, std::vector<uint32_t>& out) {
    std::vector<uint32_t> times;
    while (true) {
        const size_t comma = value.find(',');
        uint32_t t = 0;
        if (!ParseNumber(Trim(value.substr(0, comma)), 1, 86400, t)) return false;
        if (!times.empty() && t >= times.back()) return false;
        times.push_back(t);
        if (comma == std::string_view::npos) break;
        value.remove_prefix(comma + 1);
    }
    if (times.size() > 16) return false;
    out = std::move(times);
    return true;
}

// The text becomes a format with the time left as its one argument, so it may hold exactly one %s and
// otherwise only %% (and no control characters, which the console would take as line ends).
bool ParseWarningText(std::string_view value, std::string& out) {
    if (value.empty() || value.size() > 200) return false;
    int args = 0;
    for (size_t i = 0; i < value.size(); ++i) {
        if (static_cast<unsigned char>(value[i]) < 0x20) return false;
        if (value[i] != '%') continue;
        if (i + 1 >= value.size()) return false;
        if (value[i + 1] == 's') ++args;
        else if (value[i + 1] != '%') return false;
        ++i;
    }
    if (args != 1) return false;
    out = std::string(value);
    return true;
}

std::string Switch(bool on) { return on ? "on" : "off"; }

const KeyDef kKeys[] = {
    {"restarts", "backoff",
     "; on: a server that keeps dying soon after its launch is restarted less and less often, and a server\n"
     "; whose game port another program holds is tried less and less often. off: every dead server is\n"
     "; restarted at the next supervisor pass.",
     "on or off",
     [](std::string_view v, CProgramSettings& s) { return ParseSwitch(v, s.restarts.backoff); },
     [](const CProgramSettings& s) { return Switch(s.restarts.backoff); }},
    {"restarts", "quick_death_seconds",
     "; A server that dies within this many seconds of its launch has died quickly. The first quick death\n"
     "; is restarted at once, the following ones after a wait.",
     "a whole number from 1 to 86400",
     [](std::string_view v, CProgramSettings& s) { return ParseNumber(v, 1, 86400, s.restarts.quickDeathSeconds); },
     [](const CProgramSettings& s) { return std::to_string(s.restarts.quickDeathSeconds); }},
    {"restarts", "first_wait_seconds",
     "; The wait after the second quick death in a row; it doubles with each further one.",
     "a whole number from 1 to 86400",
     [](std::string_view v, CProgramSettings& s) { return ParseNumber(v, 1, 86400, s.restarts.firstWaitSeconds); },
     [](const CProgramSettings& s) { return std::to_string(s.restarts.firstWaitSeconds); }},
    {"restarts", "max_wait_minutes",
     "; The longest wait between two tries.",
     "a whole number from 1 to 1440",
     [](std::string_view v, CProgramSettings& s) { return ParseNumber(v, 1, 1440, s.restarts.maxWaitMinutes); },
     [](const CProgramSettings& s) { return std::to_string(s.restarts.maxWaitMinutes); }},
    {"restarts", "trusted_after_minutes",
     "; A server that has run this many minutes is trusted again: its quick deaths are forgotten.",
     "a whole number from 1 to 10080",
     [](std::string_view v, CProgramSettings& s) { return ParseNumber(v, 1, 10080, s.restarts.trustedAfterMinutes); },
     [](const CProgramSettings& s) { return std::to_string(s.restarts.trustedAfterMinutes); }},
    {"warnings", "before_stop",
     "; on: the players of a server are warned on its console before the program stops it.",
     "on or off",
     [](std::string_view v, CProgramSettings& s) { return ParseSwitch(v, s.warnings.beforeStop); },
     [](const CProgramSettings& s) { return Switch(s.warnings.beforeStop); }},
    {"warnings", "times",
     "; When the warnings are given: seconds before the stop, from the longest to the shortest.",
     "up to 16 whole numbers from 1 to 86400, separated by commas, each smaller than the one before",
     [](std::string_view v, CProgramSettings& s) { return ParseTimes(v, s.warnings.times); },
     [](const CProgramSettings& s) {
         std::string out;
         for (uint32_t t : s.warnings.times) {
             if (!out.empty()) out += ',';
             out += std::to_string(t);
         }
         return out;
     }},
    {"warnings", "text",
     "; The warning; %s stands for the time left (\"5 min\", \"10 s\"). Write %% for a percent sign.",
     "a text of at most 200 characters with exactly one %s",
     [](std::string_view v, CProgramSettings& s) { return ParseWarningText(v, s.warnings.text); },
     [](const CProgramSettings& s) { return s.warnings.text; }},
};

const KeyDef* FindKey(const std::string& section, const std::string& name) {
    for (const KeyDef& k : kKeys)
        if (section == k.section && name == k.name) return &k;
    return nullptr;
}

// [notify NAME] (the section as read, in lower case): one notification target per section.
bool IsNotifySection(const std::string& section) {
    return section == "notify" || (section.size() > 6 && section.compare(0, 6, "notify") == 0 &&
                                   (section[6] == ' ' || section[6] == '\t'));
}

bool KnownSection(const std::string& section) {
    if (IsNotifySection(section)) return true;
    for (const KeyDef& k : kKeys)
        if (section == k.section) return true;
    return false;
}

// One key of a [notify NAME] section. `fallback` ends the warning of a bad value.
struct NotifyKeyDef {
    const char* name;
    const char* comment;
    const char* expected;
    const char* fallback;
    bool (*parse)(std::string_view value, CNotifyTarget& t);
    std::string (*format)(const CNotifyTarget& t);
};

const NotifyKeyDef kNotifyKeys[] = {
    {"url", "; Where the messages go: the web hook's http:// or https:// address.",
     "an http:// or https:// address of at most 2048 characters without blanks", "nothing is sent to this target.",
     [](std::string_view v, CNotifyTarget& t) {
         if (!v.empty() && !ValidNotifyUrl(v)) return false;
         t.url = std::string(v);
         return true;
     },
     [](const CNotifyTarget& t) { return t.url; }},
    {"format",
     "; discord: the body chat web hooks take ({\"content\": \"...\"}); json: an object with the time, the\n"
     "; server's port and name, the kind of event and its text.",
     "discord or json", "json is used.",
     [](std::string_view v, CNotifyTarget& t) {
         const std::string lower = Lower(v);
         if (lower == "json") return t.format = NotifyFormat::Json, true;
         if (lower == "discord") return t.format = NotifyFormat::Discord, true;
         return false;
     },
     [](const CNotifyTarget& t) { return std::string(t.format == NotifyFormat::Discord ? "discord" : "json"); }},
    {"events",
     "; The kinds of event lines sent, separated by commas: start, stop, crash, restart, kick, ban,\n"
     "; update, error. Empty: every kind.",
     "a list of start, stop, crash, restart, kick, ban, update and error separated by commas",
     "every kind is sent.",
     [](std::string_view v, CNotifyTarget& t) { return ParseNotifyKinds(v, t.kinds); },
     [](const CNotifyTarget& t) { return NotifyKindsText(t.kinds); }},
};

const NotifyKeyDef* FindNotifyKey(const std::string& name) {
    for (const NotifyKeyDef& k : kNotifyKeys)
        if (name == k.name) return &k;
    return nullptr;
}

bool EqualIgnoringCase(std::string_view a, std::string_view b) { return Lower(a) == Lower(b); }

// One line of the file as read: its bytes (end included) and what it is.
struct Line {
    std::string_view raw;
    std::string_view body;  // without its line end
    std::string section;    // the section it lies in (lower case), or for a header the section it opens
    size_t sectionNumber = 0;  // counts the headers up to this line: tells two sections of one name apart
    bool header = false;
    const KeyDef* key = nullptr;
    std::string targetName;  // in a [notify NAME] section: NAME as written
    const NotifyKeyDef* notifyKey = nullptr;
    size_t valueBegin = 0, valueEnd = 0;  // the trimmed value within body
};

std::vector<Line> SplitLines(std::string_view text) {
    std::vector<Line> lines;
    std::string section, targetName;
    size_t sectionNumber = 0;
    while (!text.empty()) {
        const size_t nl = text.find('\n');
        Line line;
        line.raw = text.substr(0, nl == std::string_view::npos ? text.size() : nl + 1);
        text.remove_prefix(line.raw.size());
        line.body = line.raw;
        while (!line.body.empty() && (line.body.back() == '\n' || line.body.back() == '\r')) line.body.remove_suffix(1);
        const std::string_view t = Trim(line.body);
        if (!t.empty() && t.front() == '[' && t.back() == ']') {
            const std::string_view inside = Trim(t.substr(1, t.size() - 2));
            section = Lower(inside);
            targetName = IsNotifySection(section) ? std::string(Trim(inside.substr(6))) : std::string();
            line.header = true;
            ++sectionNumber;
        } else if (!t.empty() && t.front() != ';' && t.front() != '#') {
            const size_t eq = line.body.find('=');
            if (eq != std::string_view::npos) {
                const std::string name = Lower(Trim(line.body.substr(0, eq)));
                if (IsNotifySection(section)) {
                    line.notifyKey = FindNotifyKey(name);
                } else {
                    line.key = FindKey(section, name);
                }
                const std::string_view value = Trim(line.body.substr(eq + 1));
                line.valueBegin = value.empty() ? line.body.size() : static_cast<size_t>(value.data() - line.body.data());
                line.valueEnd = line.valueBegin + value.size();
            }
        }
        line.section = section;
        line.sectionNumber = sectionNumber;
        line.targetName = targetName;
        lines.push_back(line);
    }
    return lines;
}

std::string LineEnd(std::string_view text) {
    const size_t nl = text.find('\n');
    if (nl == std::string_view::npos) return "\r\n";
    return nl > 0 && text[nl - 1] == '\r' ? "\r\n" : "\n";
}

// The comment and key line of one key, each line ended by eol.
std::string KeyBlock(const KeyDef& k, const CProgramSettings& s, const std::string& eol) {
    std::string out;
    for (std::string_view c = k.comment; !c.empty();) {
        const size_t nl = c.find('\n');
        out += c.substr(0, nl);
        out += eol;
        c.remove_prefix(nl == std::string_view::npos ? c.size() : nl + 1);
    }
    return out + k.name + "=" + k.format(s) + eol;
}

// What each section of the text is to the notification targets, by section number.
enum class SectionUse { Other, Target, BadName, Repeated };

std::vector<SectionUse> NotifySectionUses(const std::vector<Line>& lines) {
    std::vector<SectionUse> uses(1, SectionUse::Other);  // number 0: before the first header
    std::vector<std::string> seen;
    for (const Line& line : lines) {
        if (!line.header) continue;
        SectionUse use = SectionUse::Other;
        if (IsNotifySection(line.section)) {
            const std::string lower = Lower(line.targetName);
            if (!ValidNotifyName(line.targetName)) {
                use = SectionUse::BadName;
            } else if (std::find(seen.begin(), seen.end(), lower) != seen.end()) {
                use = SectionUse::Repeated;
            } else {
                seen.push_back(lower);
                use = SectionUse::Target;
            }
        }
        uses.push_back(use);
    }
    return uses;
}

std::string NotifyKeyBlock(const NotifyKeyDef& k, const CNotifyTarget& t, const std::string& eol) {
    std::string out;
    for (std::string_view c = k.comment; !c.empty();) {
        const size_t nl = c.find('\n');
        out += c.substr(0, nl);
        out += eol;
        c.remove_prefix(nl == std::string_view::npos ? c.size() : nl + 1);
    }
    return out + k.name + "=" + k.format(t) + eol;
}

// The value part of a key line replaced by `wanted` when it does not already read as that.
template <class Parse>
bool Rewrite(const Line& line, const std::string& wanted, Parse readsAs, std::string& out, std::string_view& raw) {
    const std::string_view value = line.body.substr(line.valueBegin, line.valueEnd - line.valueBegin);
    if (readsAs(value) == std::optional<std::string>(wanted)) return false;
    out += line.body.substr(0, line.valueBegin);
    out += wanted;
    out += line.body.substr(line.valueEnd);
    raw.remove_prefix(line.body.size());  // its line end as it was
    return true;
}

}  // namespace

const char* NotifyKindName(NotifyKind kind) {
    static constexpr const char* kNames[kNotifyKindCount] = {"start", "stop",   "crash",  "restart",
                                                             "kick",  "ban",    "update", "error"};
    const unsigned i = static_cast<unsigned>(kind);
    return i < kNotifyKindCount ? kNames[i] : "";
}

bool ValidNotifyName(std::string_view name) {
    if (name.empty() || name.size() > 64 || Trim(name).size() != name.size()) return false;
    for (char ch : name) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F || ch == '[' || ch == ']') return false;
    }
    return true;
}

bool ValidNotifyUrl(std::string_view url) {
    if (url.size() > 2048) return false;
    const std::string lower = Lower(url.substr(0, 8));
    size_t host = 0;
    if (lower.compare(0, 7, "http://") == 0) host = 7;
    else if (lower.compare(0, 8, "https://") == 0) host = 8;
    else return false;
    if (url.size() <= host || url[host] == '/' || url[host] == '?' || url[host] == '#') return false;
    for (char ch : url) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c >= 0x7F) return false;  // a blank, a control character, or beyond ASCII
    }
    return true;
}

bool ParseNotifyKinds(std::string_view text, uint32_t& kinds) {
    text = Trim(text);
    if (text.empty()) {
        kinds = kAllNotifyKinds;
        return true;
    }
    uint32_t bits = 0;
    while (true) {
        const size_t comma = text.find(',');
        const std::string word = Lower(Trim(text.substr(0, comma)));
        unsigned k = 0;
        while (k < kNotifyKindCount && word != NotifyKindName(static_cast<NotifyKind>(k))) ++k;
        if (k == kNotifyKindCount) return false;  // also an empty item
        bits |= 1u << k;
        if (comma == std::string_view::npos) break;
        text.remove_prefix(comma + 1);
    }
    kinds = bits;
    return true;
}

std::string NotifyKindsText(uint32_t kinds) {
    if ((kinds & kAllNotifyKinds) == kAllNotifyKinds) return std::string();
    std::string text;
    for (unsigned k = 0; k < kNotifyKindCount; ++k) {
        if (!(kinds & (1u << k))) continue;
        if (!text.empty()) text += ',';
        text += NotifyKindName(static_cast<NotifyKind>(k));
    }
    return text;
}

std::string CheckNotifyTargets(const std::vector<CNotifyTarget>& targets) {
    for (size_t i = 0; i < targets.size(); ++i) {
        const CNotifyTarget& t = targets[i];
        if (!ValidNotifyName(t.name))
            return "A notification target needs a name of 1 to 64 characters, without square brackets and without "
                   "blanks at its ends.";
        for (size_t j = 0; j < i; ++j)
            if (EqualIgnoringCase(targets[j].name, t.name)) return "Two notification targets are named \"" + t.name + "\".";
        if (!ValidNotifyUrl(t.url))
            return "The address of \"" + t.name + "\" must begin with http:// or https:// and hold no blanks.";
        if ((t.kinds & kAllNotifyKinds) == 0) return "\"" + t.name + "\" has no kind of event to send.";
    }
    return std::string();
}

ParsedProgramSettings ParseProgramSettings(std::string_view text) {
    ParsedProgramSettings out;
    const CProgramSettings defaults;
    const std::vector<Line> lines = SplitLines(text);
    const std::vector<SectionUse> uses = NotifySectionUses(lines);
    std::vector<bool> hasUrl(uses.size(), false);
    for (const Line& line : lines)
        if (line.notifyKey && line.valueEnd > line.valueBegin && std::string_view(line.notifyKey->name) == "url")
            hasUrl[line.sectionNumber] = true;
    char prefix[48];
    size_t number = 0;
    for (const Line& line : lines) {
        std::snprintf(prefix, sizeof prefix, "haldmoor3.ini line %zu: ", ++number);
        const std::string_view t = Trim(line.body);
        if (t.empty() || t.front() == ';' || t.front() == '#') continue;
        const SectionUse use = uses[line.sectionNumber];
        const std::string target = "[notify " + line.targetName + "]";
        if (line.header) {
            if (use == SectionUse::BadName) {
                out.warnings.push_back(prefix + std::string("a notification target needs a name of 1 to 64 characters "
                                                            "without brackets ([notify NAME]); the section is left out."));
            } else if (use == SectionUse::Repeated) {
                out.warnings.push_back(prefix + target + " is there a second time; only the first is used.");
            } else if (use == SectionUse::Target) {
                out.settings.notify.emplace_back().name = line.targetName;
                if (!hasUrl[line.sectionNumber])
                    out.warnings.push_back(prefix + target + " has no url=; nothing is sent to it.");
            } else if (!KnownSection(line.section)) {
                out.warnings.push_back(prefix + ("unknown section [" + line.section + "]; kept as it is."));
            }
            continue;
        }
        const size_t eq = line.body.find('=');
        if (eq == std::string_view::npos) {
            out.warnings.push_back(prefix + std::string("not a key=value line; kept as it is."));
            continue;
        }
        const std::string_view value = line.body.substr(line.valueBegin, line.valueEnd - line.valueBegin);
        if (IsNotifySection(line.section)) {
            if (use != SectionUse::Target) continue;  // announced with its section
            CNotifyTarget& current = out.settings.notify.back();
            const NotifyKeyDef* key = line.notifyKey;
            if (!key) {
                out.warnings.push_back(prefix + ("unknown key \"" + std::string(Trim(line.body.substr(0, eq))) +
                                                 "\" in " + target + "; kept as it is."));
            } else if (!key->parse(value, current)) {
                out.warnings.push_back(prefix + (std::string(key->name) + "=" + std::string(value) + " is not " +
                                                 key->expected + "; " + key->fallback));
                key->parse(key->format(CNotifyTarget{}), current);  // the default stands in
            }
            continue;
        }
        if (!line.key) {
            // The keys of an unknown section were announced with their section.
            if (KnownSection(line.section) || line.section.empty())
                out.warnings.push_back(prefix + ("unknown key \"" + std::string(Trim(line.body.substr(0, eq))) +
                                                 "\" in [" + line.section + "]; kept as it is."));
            continue;
        }
        if (!line.key->parse(value, out.settings)) {
            out.warnings.push_back(prefix + (std::string(line.key->name) + "=" + std::string(value) + " is not " +
                                             line.key->expected + "; the default " + line.key->format(defaults) +
                                             " is used."));
            CProgramSettings restore = out.settings;  // the default stands in (a key may appear twice)
            line.key->parse(line.key->format(defaults), restore);
            out.settings = restore;
        }
    }
    return out;
}

std::string FormatProgramSettings(std::string_view text, const CProgramSettings& settings) {
    const std::string eol = LineEnd(text);
    std::string out;
    if (text.empty())
        for (const char* ch = kHeader; *ch; ++ch) out += *ch == '\n' ? eol : std::string(1, *ch);
    const std::vector<Line> lines = SplitLines(text);
    std::vector<bool> present(std::size(kKeys), false);
    for (const Line& line : lines)
        if (line.key) present[static_cast<size_t>(line.key - kKeys)] = true;

    // The target each [notify NAME] section writes (by section number; -1: gone, its section too), and
    // the notify keys each of them holds.
    const std::vector<SectionUse> uses = NotifySectionUses(lines);
    std::vector<int> targetOf(uses.size(), -1);
    std::vector<bool> written(settings.notify.size(), false);
    std::vector<uint32_t> notifyKeysIn(uses.size(), 0);
    bool anyTargetSection = false;
    for (const Line& line : lines) {
        if (line.notifyKey) notifyKeysIn[line.sectionNumber] |= 1u << (line.notifyKey - kNotifyKeys);
        if (!line.header || uses[line.sectionNumber] != SectionUse::Target) continue;
        anyTargetSection = true;
        for (size_t k = 0; k < settings.notify.size(); ++k)
            if (!written[k] && EqualIgnoringCase(settings.notify[k].name, line.targetName)) {
                targetOf[line.sectionNumber] = static_cast<int>(k);
                written[k] = true;
                break;
            }
    }
    auto targetLine = [&](const Line& line) {
        return IsNotifySection(line.section) && uses[line.sectionNumber] == SectionUse::Target;
    };

    // The missing keys of a section go behind its last key line (or its header).
    auto missingOf = [&](const std::string& section) {
        std::string block;
        for (size_t k = 0; k < std::size(kKeys); ++k)
            if (!present[k] && section == kKeys[k].section) {
                block += KeyBlock(kKeys[k], settings, eol);
                present[k] = true;
            }
        return block;
    };
    auto missingNotifyOf = [&](const Line& line) {
        std::string block;
        const CNotifyTarget& target = settings.notify[static_cast<size_t>(targetOf[line.sectionNumber])];
        for (size_t k = 0; k < std::size(kNotifyKeys); ++k)
            if (!(notifyKeysIn[line.sectionNumber] & (1u << k))) block += NotifyKeyBlock(kNotifyKeys[k], target, eol);
        return block;
    };
    // A fixed section by its name, a target's section by its number.
    std::map<std::pair<std::string, size_t>, size_t> lastLineOf;
    for (size_t i = 0; i < lines.size(); ++i) {
        const Line& line = lines[i];
        if (targetLine(line) && targetOf[line.sectionNumber] >= 0 && (line.header || line.notifyKey))
            lastLineOf[{std::string(), line.sectionNumber}] = i;
        else if ((line.header || line.key) && KnownSection(line.section) && !IsNotifySection(line.section))
            lastLineOf[{line.section, 0}] = i;
    }
    std::vector<bool> insertAfter(lines.size(), false);
    for (const auto& [slot, i] : lastLineOf) insertAfter[i] = true;

    for (size_t i = 0; i < lines.size(); ++i) {
        const Line& line = lines[i];
        const bool target = targetLine(line);
        if (target && targetOf[line.sectionNumber] < 0) continue;  // a target taken away goes with its section
        std::string_view raw = line.raw;
        if (target) {
            const CNotifyTarget& t = settings.notify[static_cast<size_t>(targetOf[line.sectionNumber])];
            if (line.header && line.targetName != t.name) {
                out += "[notify " + t.name + "]";
                raw.remove_prefix(line.body.size());
            } else if (line.notifyKey) {
                const NotifyKeyDef& key = *line.notifyKey;
                Rewrite(line, key.format(t), [&](std::string_view value) {
                    CNotifyTarget read = t;
                    return key.parse(value, read) ? std::optional<std::string>(key.format(read)) : std::nullopt;
                }, out, raw);
            }
        } else if (line.key) {
            const KeyDef& key = *line.key;
            Rewrite(line, key.format(settings), [&](std::string_view value) {
                CProgramSettings read = settings;
                return key.parse(value, read) ? std::optional<std::string>(key.format(read)) : std::nullopt;
            }, out, raw);
        }
        out += raw;
        if (insertAfter[i]) {
            if (raw.empty() || raw.back() != '\n') out += eol;  // a last line without its end
            out += target ? missingNotifyOf(line) : missingOf(line.section);
        }
    }
    for (const KeyDef& k : kKeys) {
        const std::string block = missingOf(k.section);
        if (block.empty()) continue;
        if (!out.empty() && out.back() != '\n') out += eol;
        out += eol + "[" + k.section + "]" + eol + block;
    }
    for (size_t k = 0; k < settings.notify.size(); ++k) {
        if (written[k]) continue;
        if (!out.empty() && out.back() != '\n') out += eol;
        out += eol;
        if (!anyTargetSection) out += "; Each [notify NAME] section is one web hook that hears of chosen event lines." + eol;
        anyTargetSection = true;
        out += "[notify " + settings.notify[k].name + "]" + eol;
        for (const NotifyKeyDef& key : kNotifyKeys) out += NotifyKeyBlock(key, settings.notify[k], eol);
    }
    return out;
}

std::vector<std::string> CProgramSettingsFile::Load(const std::string& configFolder) {
    settings = {};
    text_.clear();
    unreadable_ = false;
    std::string text;
    const fs::ReadResult read = fs::ReadFileLimited(configFolder + kFileName, 1 << 20, text);
    if (read.status == fs::ReadStatus::kMissing) return {};
    if (!read.ok()) {
        unreadable_ = true;
        return {"haldmoor3.ini cannot be read (" + read.reason + "); the defaults are used and the file is left as it is."};
    }
    ParsedProgramSettings parsed = ParseProgramSettings(text);
    settings = std::move(parsed.settings);
    text_ = std::move(text);
    return std::move(parsed.warnings);
}

bool CProgramSettingsFile::Store(const std::string& configFolder) {
    if (unreadable_) return false;  // never over a file whose contents we do not know
    const std::string text = FormatProgramSettings(text_, settings);
    if (text == text_) return true;
    if (!fs::ReplaceFileAtomically(configFolder + kFileName, text)) return false;
    text_ = text;
    return true;
}

}  // namespace hm
