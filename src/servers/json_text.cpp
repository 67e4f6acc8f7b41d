#include "servers/json_text.h"

#include <cstdint>
#include <cstdio>

namespace hm {
namespace {

// Windows-1252 0x80 ... 0x9F; 0 where the code page defines no character.
constexpr uint16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
                                0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
                                0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

uint32_t CodePoint(char ch) {
    const unsigned char c = static_cast<unsigned char>(ch);
    return c >= 0x80 && c < 0xA0 && kHigh[c - 0x80] ? kHigh[c - 0x80] : c;
}

}  // namespace

std::string Cp1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char ch : bytes) AppendUtf8(out, CodePoint(ch));
    return out;
}

std::string JsonString(std::string_view cp1252) {
    std::string out = "\"";
    out.reserve(cp1252.size() + 2);
    for (char ch : cp1252) {
        const uint32_t cp = CodePoint(ch);
        switch (cp) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (cp < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(cp));
                    out += escaped;
                } else {
                    AppendUtf8(out, cp);
                }
        }
    }
    return out + "\"";
}

std::string PrometheusLabelValue(std::string_view cp1252) {
    std::string out;
    out.reserve(cp1252.size());
    for (char ch : cp1252) {
        if (ch == '\\') out += "\\\\";
        else if (ch == '"') out += "\\\"";
        else if (ch == '\n') out += "\\n";
        else AppendUtf8(out, CodePoint(ch));
    }
    return out;
}

size_t Utf8Prefix(std::string_view utf8, size_t maxCharacters) {
    size_t characters = 0;
    for (size_t i = 0; i < utf8.size(); ++i) {
        // A continuation byte belongs to the character before it.
        if ((static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) continue;
        if (characters++ == maxCharacters) return i;
    }
    return utf8.size();
}

std::string IsoLocalTime(const LocalTime& t) {
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute, t.second);
    return text;
}

}  // namespace hm
