#include "servers/program_settings.h"

#include <cstdio>

#include "platform/files.h"

namespace hm {
namespace {

constexpr const char* kHeader =
    "; Haldmoor3 program settings. The program reads this file at start-up and rewrites it only when a\n"
    "; setting is changed through the program; comments and keys it does not know are kept as they are.\n"
    "; A line starting with ; is a comment. A bad value is reported in the event list and its default used.\n";

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

bool KnownSection(const std::string& section) {
    for (const KeyDef& k : kKeys)
        if (section == k.section) return true;
    return false;
}

// One line of the file as read: its bytes (end included) and what it is.
struct Line {
    std::string_view raw;
    std::string_view body;  // without its line end
    std::string section;    // the section it lies in (lower case), or for a header the section it opens
    bool header = false;
    const KeyDef* key = nullptr;
    size_t valueBegin = 0, valueEnd = 0;  // the trimmed value within body
};

std::vector<Line> SplitLines(std::string_view text) {
    std::vector<Line> lines;
    std::string section;
    while (!text.empty()) {
        const size_t nl = text.find('\n');
        Line line;
        line.raw = text.substr(0, nl == std::string_view::npos ? text.size() : nl + 1);
        text.remove_prefix(line.raw.size());
        line.body = line.raw;
        while (!line.body.empty() && (line.body.back() == '\n' || line.body.back() == '\r')) line.body.remove_suffix(1);
        const std::string_view t = Trim(line.body);
        if (!t.empty() && t.front() == '[' && t.back() == ']') {
            section = Lower(Trim(t.substr(1, t.size() - 2)));
            line.header = true;
        } else if (!t.empty() && t.front() != ';' && t.front() != '#') {
            const size_t eq = line.body.find('=');
            if (eq != std::string_view::npos) {
                line.key = FindKey(section, Lower(Trim(line.body.substr(0, eq))));
                const std::string_view value = Trim(line.body.substr(eq + 1));
                line.valueBegin = value.empty() ? line.body.size() : static_cast<size_t>(value.data() - line.body.data());
                line.valueEnd = line.valueBegin + value.size();
            }
        }
        line.section = section;
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

}  // namespace

ParsedProgramSettings ParseProgramSettings(std::string_view text) {
    ParsedProgramSettings out;
    const CProgramSettings defaults;
    char prefix[48];
    size_t number = 0;
    std::string warnedSection;
    for (const Line& line : SplitLines(text)) {
        std::snprintf(prefix, sizeof prefix, "haldmoor3.ini line %zu: ", ++number);
        const std::string_view t = Trim(line.body);
        if (t.empty() || t.front() == ';' || t.front() == '#') continue;
        if (line.header) {
            if (!KnownSection(line.section))
                out.warnings.push_back(prefix + ("unknown section [" + line.section + "]; kept as it is."));
            continue;
        }
        const size_t eq = line.body.find('=');
        if (eq == std::string_view::npos) {
            out.warnings.push_back(prefix + std::string("not a key=value line; kept as it is."));
            continue;
        }
        const std::string_view value = line.body.substr(line.valueBegin, line.valueEnd - line.valueBegin);
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
    std::vector<size_t> insertAfter(lines.size(), 0);
    for (size_t i = 0; i < lines.size(); ++i)
        if ((lines[i].header || lines[i].key) && KnownSection(lines[i].section)) {
            for (size_t j = 0; j < i; ++j)
                if (insertAfter[j] && lines[j].section == lines[i].section) insertAfter[j] = 0;
            insertAfter[i] = 1;
        }

    for (size_t i = 0; i < lines.size(); ++i) {
        const Line& line = lines[i];
        std::string_view raw = line.raw;
        if (line.key) {
            CProgramSettings read = settings;
            const std::string wanted = line.key->format(settings);
            const std::string_view value = line.body.substr(line.valueBegin, line.valueEnd - line.valueBegin);
            if (!line.key->parse(value, read) || line.key->format(read) != wanted) {
                out += line.body.substr(0, line.valueBegin);
                out += wanted;
                out += line.body.substr(line.valueEnd);
                raw.remove_prefix(line.body.size());  // its line end as it was
            }
        }
        out += raw;
        if (insertAfter[i]) {
            if (raw.empty() || raw.back() != '\n') out += eol;  // a last line without its end
            out += missingOf(line.section);
        }
    }
    for (const KeyDef& k : kKeys) {
        const std::string block = missingOf(k.section);
        if (block.empty()) continue;
        if (!out.empty() && out.back() != '\n') out += eol;
        out += eol + "[" + k.section + "]" + eol + block;
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
