#include "compose.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace hm::jotwell {

namespace {

std::string_view StampView(uint32_t extOptions, const DateStamps& stamps) {
    std::string_view stamp = (extOptions & LE_DONT_LOG_MS)
                                 ? std::string_view(stamps.dateTimeText, strnlen(stamps.dateTimeText, 25))
                                 : std::string_view(stamps.dtmsText, strnlen(stamps.dtmsText, 29));
    if (extOptions & LE_DONT_LOG_SEC) {
        stamp = stamp.substr(0, 16);
    } else if (extOptions & LE_NO_OFFSET) {
        stamp = stamp.substr(0, (extOptions & LE_DONT_LOG_MS) ? 19 : 23);
    }
    return stamp;
}

// Whether any byte of text is below 32, eight bytes at a time (lines are mostly plain text).
bool AnyControl(std::string_view text) {
    constexpr uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
    size_t i = 0;
    for (; i + 8 <= text.size(); i += 8) {
        uint64_t word;
        std::memcpy(&word, text.data() + i, 8);
        // Sets the high bit of each byte below 32 (bytes of 128 and more never count).
        if ((word - kOnes * 32) & ~word & kHigh) return true;
    }
    for (; i < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) < 32) return true;
    }
    return false;
}

}  // namespace

std::string StampText(uint32_t extOptions, const DateStamps& stamps) { return std::string(StampView(extOptions, stamps)); }

bool EndsInStopCharacter(std::string_view text) {
    if (text.empty()) return false;
    return std::strchr("!(*,.:<?[", text.back()) != nullptr && text.back() != '\0';
}

void AppendComposedLine(std::string& out, const std::string& prefix, std::string_view text, uint32_t logOptions,
                        uint32_t extOptions, const DateStamps& stamps) {
    const size_t begin = out.size();
    out += StampView(extOptions, stamps);
    out += ' ';
    if (logOptions & LO_INCLUDE_APP) {
        out += prefix;
        out += ' ';
    }
    if (extOptions & LE_THREE_BLANKS) out += "  ";
    out += text;
    if ((extOptions & LE_ADD_DOT) && !EndsInStopCharacter(text)) out += '.';
    if (AnyControl(std::string_view(out).substr(begin))) {
        auto control = [](char c) { return static_cast<unsigned char>(c) < 32; };
        auto first = std::find_if(out.begin() + static_cast<std::ptrdiff_t>(begin), out.end(), control);
        out.erase(std::remove_if(first, out.end(), control), out.end());
    }
    out += "\r\n";
}

std::string ComposeLine(const std::string& prefix, std::string_view text, uint32_t logOptions, uint32_t extOptions,
                        const DateStamps& stamps) {
    std::string line;
    AppendComposedLine(line, prefix, text, logOptions, extOptions, stamps);
    line.resize(line.size() - 2);
    return line;
}

bool NeedsDump(std::string_view text, bool forced) {
    if (forced) return true;
    if (!AnyControl(text)) return false;
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 32 && b != '\t' && b != '\n' && b != '\r') return true;
    }
    return false;
}

std::vector<std::string> HexDumpLines(std::string_view data, uint32_t width, bool threeBlanks) {
    if (width == 0) width = 16;
    std::vector<std::string> lines;
    for (size_t offset = 0; offset < data.size(); offset += width) {
        std::string hex, chars;
        hex.reserve(width * 3);
        for (uint32_t i = 0; i < width; ++i) {
            if (offset + i < data.size()) {
                const auto b = static_cast<unsigned char>(data[offset + i]);
                char cell[4];
                std::snprintf(cell, sizeof cell, "%.2X ", b);
                hex += cell;
                chars += (b < 32 || b > 127) ? '.' : static_cast<char>(b);
            } else {
                hex += "   ";
            }
        }
        char off[24];
        std::snprintf(off, sizeof off, "%.9zX", offset);
        std::string line = threeBlanks ? "  " : "";
        line += off;
        line += ' ';
        line += hex;
        line += ' ';
        line += chars;
        lines.push_back(std::move(line));
    }
    return lines;
}

}  // namespace hm::jotwell
