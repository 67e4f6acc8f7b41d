#include "launch/mission_description.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "launch/mission_archive.h"
#include "platform/files.h"

namespace hm {

namespace {

enum class Key {
    Msn, Name, NumLevels, Author, Url, Single, Multi, Keywords, Description, Ship, EndMission,
    Level, Briefing, Score, Mine, IntroDefault, IntroMovie, Progress, EndMovie, Branch, Secret, None
};

struct KeyName {
    const char* text;
    Key key;
};

// Tried in this order; a key matches the start of a line over its own length, ignoring case.
constexpr KeyName kKeys[] = {
    {"MSN", Key::Msn},           {"NAME", Key::Name},         {"NUMLEVELS", Key::NumLevels},
    {"AUTHOR", Key::Author},     {"URL", Key::Url},           {"SINGLE", Key::Single},
    {"MULTI", Key::Multi},       {"KEYWORDS", Key::Keywords}, {"DESCRIPTION", Key::Description},
    {"SHIP", Key::Ship},         {"ENDMISSION", Key::EndMission}, {"LEVEL", Key::Level},
    {"BRIEFING", Key::Briefing}, {"SCORE", Key::Score},       {"MINE", Key::Mine},
    {"INTRODEFAULT", Key::IntroDefault}, {"INTROMOVIE", Key::IntroMovie}, {"PROGRESS", Key::Progress},
    {"ENDMOVIE", Key::EndMovie}, {"BRANCH", Key::Branch},     {"SECRET", Key::Secret},
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r'; }

bool StartsWithNoCase(const std::string& text, size_t at, const char* prefix) {
    for (size_t i = 0; prefix[i] != '\0'; ++i) {
        if (at + i >= text.size() || ToUpper1252(text[at + i]) != ToUpper1252(prefix[i])) return false;
    }
    return true;
}

size_t SkipBlanks(const std::string& text, size_t at) {
    while (at < text.size() && IsBlank(text[at])) ++at;
    return at;
}

// The number at the start of the value as the C library reads it: garbage gives 0, and a number
// beyond the 32-bit range is held at its end.
int32_t ToNumber(const std::string& value) {
    const long long n = std::strtoll(value.c_str(), nullptr, 10);
    if (n > INT32_MAX) return INT32_MAX;
    if (n < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(n);
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.front() == '\r') line.erase(0, 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

// A level number that the description may use so far: 1 to the declared number of levels.
// Once broken, a description stays broken: a later "NUMLEVELS" line does not mend it.
int32_t CheckedLevel(CMissionInfo& mission, bool& broken, int32_t number) {
    if (number < 1 || number > mission.numLevels) {
        mission.numLevels = -1;
        broken = true;
        return -1;
    }
    return number;
}

// Values are the archive's or the operator's text and go in as data, never as a format.
void AddLine(std::string& text, const char* key, const std::string& value) {
    text += key;
    text += value;
    text += "\r\n";
}

void AddNumberLine(std::string& text, const char* key, long long value) {
    char line[64];
    std::snprintf(line, sizeof line, "%s %lld\r\n", key, value);
    text += line;
}

std::string DescriptionPath(const std::string& gameFolder, const std::string& missionFile) {
    const std::string name = MissionDescriptionFileName(missionFile);
    if (name.empty() || gameFolder.empty()) return std::string();
    return gameFolder.back() == '/' ? gameFolder + name : gameFolder + "/" + name;
}

}  // namespace

void ParseMissionDescription(CMissionInfo& mission, const std::string& text) {
    mission.descriptionHeader.clear();
    mission.missionName.clear();
    mission.numLevels = -1;
    mission.author.clear();
    mission.urls.clear();
    mission.singlePlayer = mission.multiPlayer = 0;
    mission.keywords.clear();
    mission.description.clear();
    mission.ship.clear();
    mission.endMission = 0;
    mission.levels.clear();
    CLevelInfo current;
    bool broken = false;

    for (const std::string& line : SplitLines(text)) {
        Key key = Key::None;
        size_t keyLength = 0;
        for (const KeyName& k : kKeys) {
            if (StartsWithNoCase(line, 0, k.text)) {
                key = k.key;
                keyLength = std::char_traits<char>::length(k.text);
                break;
            }
        }
        if (key == Key::None) continue;
        const std::string value = line.substr(SkipBlanks(line, keyLength));

        switch (key) {
            case Key::Msn: {
                size_t at = 0;
                if (StartsWithNoCase(value, 0, "File")) at = SkipBlanks(value, 4);
                std::string header = value.substr(at);
                if (!header.empty() && header.back() == ':') header.pop_back();
                mission.descriptionHeader = std::move(header);
                break;
            }
            case Key::Name:
                mission.missionName = CapitalizeFirst(value);
                mission.title = mission.missionName;
                break;
            case Key::NumLevels:
                if (!broken) mission.numLevels = ToNumber(value);
                break;
            case Key::Author: mission.author = value; break;
            case Key::Url: mission.urls.push_back(value); break;
            case Key::Single: mission.singlePlayer = StartsWithNoCase(value, 0, "YES") ? 1 : 0; break;
            case Key::Multi: mission.multiPlayer = StartsWithNoCase(value, 0, "YES") ? 1 : 0; break;
            case Key::Keywords: mission.keywords = value; break;
            case Key::Description: mission.description = value; break;
            case Key::Ship: mission.ship = value; break;
            case Key::EndMission: mission.endMission = 1; break;
            case Key::Level:
                if (current.levelNumber > 0) mission.levels.push_back(current);
                current = CLevelInfo{};
                current.levelNumber = CheckedLevel(mission, broken, ToNumber(value));
                break;
            case Key::Briefing: current.briefing = value; break;
            case Key::Score: current.score = value; break;
            case Key::Mine:
                current.mineFile = value;
                current.mineTitle = CutExtension(CapitalizeFirst(value));
                break;
            case Key::IntroDefault: current.introDefault = value; break;
            case Key::IntroMovie: current.introMovie = value; break;
            case Key::Progress: current.progress = value; break;
            case Key::EndMovie: current.endMovie = value; break;
            case Key::Branch: current.branch = CheckedLevel(mission, broken, ToNumber(value)); break;
            case Key::Secret: current.secret = CheckedLevel(mission, broken, ToNumber(value)); break;
            case Key::None: break;
        }
    }
    if (current.levelNumber > 0) mission.levels.push_back(current);

    auto& levels = mission.levels;
    for (size_t i = 0; i < levels.size(); ++i) {
        for (size_t j = i + 1; j < levels.size(); ++j) {
            if (levels[j].levelNumber < levels[i].levelNumber) std::swap(levels[i], levels[j]);
        }
    }

    // A later "NUMLEVELS" may lower the count below numbers that were checked against a higher one;
    // such a mission has levels it does not declare, and its looping description would be broken.
    for (const CLevelInfo& level : levels) {
        if (level.levelNumber > mission.numLevels || level.branch > mission.numLevels ||
            level.secret > mission.numLevels) {
            mission.numLevels = -1;
        }
    }
    if (mission.missionName.empty() || mission.numLevels == 0 ||
        mission.numLevels != static_cast<int64_t>(levels.size())) {
        mission.missionName.clear();
        mission.title.clear();
        levels.clear();
    }
}

bool IsUsableMission(const CMissionInfo& mission) {
    return !mission.missionName.empty() && !mission.title.empty() && !mission.levels.empty();
}

std::string BuildMissionDescription(const CMissionInfo& mission) {
    std::string text;
    if (!mission.descriptionHeader.empty()) AddLine(text, "MSN File ", mission.descriptionHeader);
    AddLine(text, "NAME ", mission.missionName);
    AddNumberLine(text, "NUMLEVELS", mission.numLevels);
    if (!mission.author.empty()) AddLine(text, "AUTHOR ", mission.author);
    for (const std::string& url : mission.urls) AddLine(text, "URL ", url);
    AddLine(text, "SINGLE ", mission.singlePlayer ? "YES" : "NO");
    AddLine(text, "MULTI ", mission.multiPlayer ? "YES" : "NO");
    if (!mission.keywords.empty()) AddLine(text, "KEYWORDS ", mission.keywords);
    if (!mission.description.empty()) AddLine(text, "DESCRIPTION ", mission.description);
    if (!mission.ship.empty()) AddLine(text, "SHIP ", mission.ship);
    text += "\r\n";

    long long position = 0;
    for (const CLevelInfo& level : mission.levels) {
        ++position;
        AddNumberLine(text, "LEVEL", level.levelNumber);
        const struct {
            const char* key;
            const std::string& value;
        } fields[] = {
            {"BRIEFING ", level.briefing},         {"SCORE ", level.score},
            {"MINE ", level.mineFile},             {"INTRODEFAULT ", level.introDefault},
            {"INTROMOVIE ", level.introMovie},     {"PROGRESS ", level.progress},
            {"ENDMOVIE ", level.endMovie},
        };
        for (const auto& field : fields) {
            if (!field.value.empty()) AddLine(text, field.key, field.value);
        }
        AddNumberLine(text, "BRANCH", position);  // every level repeats itself
        text += "\r\n";
    }
    if (mission.endMission) text += "ENDMISSION\r\n";
    return text;
}

std::string MapMissionFileName(const std::string& missionFile) {
    return EqualsNoCase(missionFile, "k3_2.mn3") ? std::string("K3.mn3") : missionFile;
}

std::string MissionDescriptionFileName(const std::string& missionFile) {
    std::string name = MapMissionFileName(missionFile);
    if (!IsPlainFileName(name)) return std::string();
    bool replaced = false;
    for (size_t at = name.find(".mn3"); at != std::string::npos; at = name.find(".mn3", at + 4)) {
        name.replace(at, 4, ".msn");
        replaced = true;
    }
    return replaced ? name : std::string();
}

bool PrepareMissionDescriptionFile(EventLogList& events, unsigned serverPort, const std::string& gameFolder,
                                   const std::string& missionFile, bool customDescription,
                                   const std::string& customDescriptionText) {
    const std::string path = DescriptionPath(gameFolder, missionFile);
    if (path.empty()) return true;
    const fs::FileAttributes attributes = fs::GetAttributes(path);
    if (customDescription && !customDescriptionText.empty()) {
        events.AddEvent("Server %u: Writing msn file...", serverPort);
        // A read-only file is the operator's: never changed, whoever the program runs as.
        if (attributes.readOnly) {
            events.AddEvent("Server %u: Read-only file '%s' ignored.", serverPort, path.c_str());
            return false;
        }
        // Opening a FIFO for writing waits for a reader that never comes; a launch must not hang on it.
        fs::FileReader probe;
        if (attributes.exists && !probe.Open(path) && probe.result().status == fs::ReadStatus::kNotRegular) {
            events.AddEvent("Server %u: '%s' is not a regular file; msn file not written.", serverPort, path.c_str());
            return false;
        }
        probe.Close();
        return fs::WriteWholeFile(path, customDescriptionText);
    }
    if (!attributes.exists || attributes.isDirectory) return true;
    if (attributes.readOnly) {
        events.AddEvent("Server %u: Read-only file '%s' ignored.", serverPort, path.c_str());
    } else if (fs::DeleteFile(path)) {
        events.AddEvent("Server %u: File '%s' removed.", serverPort, path.c_str());
    } else {
        events.AddEvent("Server %u: Error removing '%s'.", serverPort, path.c_str());
    }
    return true;
}

void RemoveMissionDescriptionFile(EventLogList& events, unsigned serverPort, const std::string& gameFolder,
                                  const std::string& missionFile, bool customDescription,
                                  const std::string& customDescriptionText) {
    if (!customDescription || customDescriptionText.empty()) return;
    // The same name as the launch wrote: on a file system that tells case apart, a lower-cased name
    // would miss that file or hit another mission's.
    const std::string path = DescriptionPath(gameFolder, missionFile);
    if (path.empty()) return;
    const fs::FileAttributes attributes = fs::GetAttributes(path);
    if (!attributes.exists || attributes.isDirectory) return;
    if (attributes.readOnly) {
        events.AddEvent("Server %u: Read-only file '%s' ignored.", serverPort, path.c_str());
    } else {
        fs::DeleteFile(path);
    }
}

}  // namespace hm
