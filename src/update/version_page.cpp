#include "update/version_page.h"

#include <cctype>
#include <cstdio>

namespace hm {

namespace {

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

bool StartsWith(const std::string& text, const char* prefix, std::string* rest = nullptr) {
    const std::string p(prefix);
    if (text.compare(0, p.size(), p) != 0) return false;
    if (rest) *rest = text.substr(p.size());
    return true;
}

// "a.b.c" at the start of text, each number a run of decimal digits.
bool ReadVersion(const std::string& text, uint32_t& version) {
    uint32_t parts[3] = {0, 0, 0};
    size_t at = 0;
    for (int i = 0; i < 3; ++i) {
        if (i > 0) {
            if (at >= text.size() || text[at] != '.') return false;
            ++at;
        }
        const size_t first = at;
        uint32_t value = 0;
        while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) {
            value = (value * 10 + static_cast<uint32_t>(text[at] - '0')) % 256;  // only the low byte counts
            ++at;
        }
        if (at == first) return false;
        parts[i] = value;
    }
    version = parts[0] << 16 | parts[1] << 8 | parts[2];
    return true;
}

}  // namespace

VersionPage ParseVersionPage(const std::string& html) {
    std::string text = html;
    for (const char* tag : {"<br>", "<br />", "<p>", "</p>"}) ReplaceAll(text, tag, "\n");
    ReplaceAll(text, "&nbsp", " ");

    VersionPage page;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);

        std::string rest;
        if (StartsWith(line, "Latest Haldmoor3 version: ", &rest)) {
            uint32_t version = 0;
            if (!page.hasVersion && ReadVersion(rest, version)) {
                page.hasVersion = true;
                page.version = version;
                page.versionLine = line;
            }
        } else if (StartsWith(line, "Release date: ") || StartsWith(line, "Features: ")) {
            page.news.push_back(line);
        } else if (StartsWith(line, "Download URI: ", &rest)) {
            page.downloadUri = rest;
        } else if (StartsWith(line, "Jotwell URI: ", &rest)) {
            if (StartsWith(rest, "http")) page.jotwellUri = rest;
        }
    }
    return page;
}

std::string VersionText(uint32_t version) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u", (version >> 16) & 0xFF, (version >> 8) & 0xFF, version & 0xFF);
    return text;
}

std::string AddressOrigin(const std::string& url) {
    std::string lower;
    for (char c : url) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string scheme, defaultPort;
    if (StartsWith(lower, "http://")) {
        scheme = "http://";
        defaultPort = "80";
    } else if (StartsWith(lower, "https://")) {
        scheme = "https://";
        defaultPort = "443";
    } else {
        return "";
    }
    const size_t hostStart = scheme.size();
    const size_t hostEnd = lower.find_first_of("/?#", hostStart);
    std::string authority = lower.substr(hostStart, hostEnd == std::string::npos ? std::string::npos : hostEnd - hostStart);
    // User names and passwords have no place in an update address: "user@host" could hide the real host.
    if (authority.empty() || authority.find('@') != std::string::npos) return "";
    const size_t colon = authority.rfind(':');
    const size_t bracket = authority.rfind(']');
    const bool hasPort = colon != std::string::npos && (bracket == std::string::npos || colon > bracket);
    if (!hasPort) authority += ":" + defaultPort;
    else if (colon + 1 == authority.size()) authority += defaultPort;
    return scheme + authority;
}

}  // namespace hm
