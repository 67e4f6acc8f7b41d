#include "trackers/tracker_file.h"

#include <algorithm>
#include <limits>

#include "platform/files.h"
#include "servers/game_config_text.h"

namespace hm {

namespace {

// The game reads the file with a 1024-byte line buffer; longer lines arrive as several.
constexpr size_t kLineChunk = 1023;
constexpr uint16_t kLowestPort = 1024;

std::string Trimmed(const std::string& text) { return std::string(Trim(text)); }

// The lines of a text file, each at most kLineChunk characters.
std::vector<std::string> SplitLines(const std::string& data) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < data.size()) {
        size_t end = data.find('\n', pos);
        if (end == std::string::npos) end = data.size();
        for (size_t at = pos; at < end || at == pos; at += kLineChunk) {
            lines.push_back(data.substr(at, std::min(kLineChunk, end - at)));
            if (end - at <= kLineChunk) break;
        }
        pos = end + 1;
    }
    return lines;
}

// atoi's reading (blanks, sign, digits up to the first other character), saturated instead of
// overflowing, then the low 16 bits as the port field keeps them.
uint16_t PortNumber(const std::string& text) { return static_cast<uint16_t>(ParseNumber(text)); }

// The number lines of the file the game reads (" 20142 ") name a region, not a tracker.
bool IsNumberLine(const std::string& line) {
    return std::all_of(line.begin(), line.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

bool ImportTrackerFile(TrackerList& list, const std::string& path,
                       const std::function<void(const std::string&)>& inform) {
    if (path.empty()) return true;
    std::string data;
    if (const fs::ReadResult read = fs::ReadFileLimited(path, kTextFileLimit, data); !read.ok()) {
        if (inform) inform(CannotReadMessage(path, read));
        return false;
    }
    list.trackers.clear();
    for (const std::string& raw : SplitLines(data)) {
        const std::string line = Trimmed(raw);
        if (line.size() <= 2 || IsNumberLine(line)) continue;
        const size_t colon = line.find(':');
        std::string host = line;
        uint16_t port = kDefaultTrackerPort;
        if (colon != std::string::npos) {
            host = line.substr(0, colon);
            port = std::max(PortNumber(line.substr(colon + 1)), kLowestPort);
        }
        list.trackers.push_back(host + ":" + std::to_string(port));
    }
    return true;
}

std::string TrackerFileText(const TrackerList& list, unsigned number) {
    std::string text;
    if (list.enabled == 0) return text;
    const std::string numberLine = " " + std::to_string(number) + " \r\n";
    for (const std::string& tracker : list.trackers) text += numberLine + tracker + "\r\n";
    return text;
}

bool WriteTrackerFile(const TrackerList& list, const std::string& path, unsigned number) {
    return fs::WriteWholeFile(path, TrackerFileText(list, number));
}

std::string TrackerFromInput(const std::string& text) {
    if (text.find(':') != std::string::npos) return text;
    return text + ":" + std::to_string(kDefaultTrackerPort);
}

bool AddTrackerLine(std::vector<std::string>& lines, const std::string& text) {
    if (text.empty()) return false;
    lines.push_back(TrackerFromInput(text));
    return true;
}

}  // namespace hm
