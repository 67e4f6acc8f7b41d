#include "anticheat/hosts_deny.h"

#include <cstdint>
#include <unordered_set>
#include <vector>

#include "eventlog/event_log.h"
#include "platform/files.h"

namespace hm {
namespace {

// Far more than any list of banned addresses; a bigger file is not one the game can use either.
constexpr uint64_t kFileLimit = 64ull << 20;

// White space as the C library's isspace sees it in the "C" locale.
bool IsWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The lines of the file as the game wrote or read them: split at LF, a CR in front of the LF belongs
// to the line end. Lines are kept whole, however long: they are the operator's and never cut.
std::vector<std::string> FileLines(const std::string& content) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < content.size()) {
        size_t end = content.find('\n', pos);
        const bool lastWithoutEnd = end == std::string::npos;
        if (lastWithoutEnd) end = content.size();
        std::string line = content.substr(pos, end - pos);
        if (!lastWithoutEnd && !line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(std::move(line));
        pos = end + 1;
    }
    return lines;
}

// The lines of a download: they end at CR LF, CR or LF; the text ends at a NUL byte, as C text does.
std::vector<std::string> DownloadLines(const std::string& text) {
    const std::string body = text.substr(0, text.find('\0'));
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < body.size()) {
        size_t end = body.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = body.size();
        lines.push_back(body.substr(pos, end - pos));
        pos = end + 1;
        if (end < body.size() && body[end] == '\r' && pos < body.size() && body[pos] == '\n') ++pos;
    }
    return lines;
}

int NothingAdded(const std::string& path, EventLogList* events) {
    fs::SetReadOnly(path, false);
    if (events) events->AddEvent("No addresses added to hosts.deny");
    return 0;
}

}  // namespace

std::string HostsDenyPath(const std::string& gameFolder) {
    if (gameFolder.empty()) return std::string();
    return gameFolder + "/netgames/hosts.deny";
}

bool IsHostsDenyEntry(const std::string& line) {
    return line.size() >= 3 && line[0] >= '0' && line[0] <= '9' && !IsWhiteSpace(line[1]);
}

int MergeHostsDeny(const std::string& gameFolder, EventLogList* events, const std::string* text,
                   std::string& updateLog, bool removePrevious) {
    if (text == nullptr) return 0;
    const std::string path = HostsDenyPath(gameFolder);

    std::string content;
    bool read = false;
    if (!path.empty()) {
        fs::SetReadOnly(path, false);
        fs::ReadResult result = fs::ReadFileLimited(path, kFileLimit, content);
        // Only a missing file is created; anything else in its place (a folder, a FIFO, a file we may
        // not read) is left alone and never written over.
        if (result.status == fs::ReadStatus::kMissing && fs::AppendToFile(path, std::string())) {
            fs::SetReadOnly(path, false);
            result = fs::ReadFileLimited(path, kFileLimit, content);
        }
        read = result.ok();
    }
    if (!read) {
        if (events) events->AddEvent("Error: Cannot open hosts.deny for reading!");
        return NothingAdded(path, events);
    }

    std::vector<std::string> kept = FileLines(content);
    if (removePrevious) kept.clear();
    std::unordered_set<std::string> known(kept.begin(), kept.end());

    int added = 0;
    int tooLong = 0;
    for (const std::string& line : DownloadLines(*text)) {
        if (!IsHostsDenyEntry(line)) continue;
        if (line.size() > kMaxHostsDenyEntry) {
            ++tooLong;
            continue;
        }
        if (!known.insert(line).second) continue;
        kept.push_back(line);
        updateLog += "-> added " + line + " to hosts.deny\r\n";
        if (added == 0 && events) events->AddEvent("Updating hosts.deny...");
        ++added;
        if (events) events->AddEvent("hosts.deny: added %s", line.c_str());
    }
    if (tooLong > 0 && events) {
        events->AddEvent("hosts.deny: skipped %d lines longer than %zu characters", tooLong, kMaxHostsDenyEntry);
    }
    if (added == 0) return NothingAdded(path, events);

    std::string written;
    for (const std::string& line : kept) written += line + "\r\n";
    if (!fs::ReplaceFileAtomically(path, written)) {
        if (events) events->AddEvent("Error: Cannot open hosts.deny for writing!");
        return NothingAdded(path, events);
    }
    if (events) events->AddEvent("Added %d addresses or ranges to netgames\\hosts.deny", added);
    return 1;
}

bool HostsDenyExists(const std::string& gameFolder) {
    const std::string path = HostsDenyPath(gameFolder);
    return !path.empty() && fs::FileExists(path);
}

HostsDenyDeletion DeleteHostsDeny(const std::string& gameFolder) {
    if (!HostsDenyExists(gameFolder)) return HostsDenyDeletion::Missing;
    return fs::DeleteFile(HostsDenyPath(gameFolder)) ? HostsDenyDeletion::Deleted : HostsDenyDeletion::Failed;
}

}  // namespace hm
