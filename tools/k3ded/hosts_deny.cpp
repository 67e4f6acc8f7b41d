#include "hosts_deny.h"

#include "config_files.h"
#include "platform/files.h"
#include "text_util.h"

namespace hm::k3ded {

bool HostsDeny::ParseEntry(const std::string& word, Entry& entry) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t dot = word.find('.', start);
        parts.push_back(word.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    if (parts.empty() || parts.size() > 4) return false;
    if (parts.size() < 4 && parts.back() != "*") return false;
    for (int i = 0; i < 4; ++i) {
        if (i >= static_cast<int>(parts.size())) {
            entry.parts[i] = -1;
            continue;
        }
        uint32_t v = 0;
        if (parts[i] == "*") entry.parts[i] = -1;
        else if (ParseNumber(parts[i], 0, 255, v)) entry.parts[i] = static_cast<int>(v);
        else return false;
    }
    return true;
}

void HostsDeny::LoadText(const std::string& text) {
    entries_.clear();
    for (const std::string& raw : SplitConfigLines(text)) {
        const std::string line = Trim(raw);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        const std::vector<std::string> words = SplitWords(line);
        Entry entry{};
        if (!words.empty() && ParseEntry(words[0], entry)) entries_.push_back(entry);
    }
}

size_t HostsDeny::Load(const std::string& path) {
    std::string text, error;
    if (!ReadSmallFile(path, text, error)) text.clear();
    LoadText(text);
    return entries_.size();
}

bool HostsDeny::IsDenied(const std::string& address) const {
    Entry a{};
    if (!ParseEntry(address, a)) return false;
    for (int i = 0; i < 4; ++i)
        if (a.parts[i] < 0) return false;  // only concrete addresses are ever tested
    for (const Entry& e : entries_) {
        bool match = true;
        for (int i = 0; i < 4 && match; ++i) match = e.parts[i] < 0 || e.parts[i] == a.parts[i];
        if (match) return true;
    }
    return false;
}

bool HostsDeny::Ban(const std::string& path, const std::string& address) {
    Entry entry{};
    if (!ParseEntry(address, entry)) return false;
    if (IsDenied(address)) return true;
    std::string existing;
    fs::ReadWholeFile(path, existing);
    std::string line;
    // Never glue our entry to a last line that lacks its line end.
    if (!existing.empty() && existing.back() != '\n') line = "\r\n";
    line += address + "\r\n";
    if (!fs::AppendToFile(path, line)) return false;
    entries_.push_back(entry);
    return true;
}

}  // namespace hm::k3ded
