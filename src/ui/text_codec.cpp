#include "ui/text_codec.h"

namespace hm {

namespace {

// Windows-1252 bytes 0x80 to 0x9F; 0 where the code page defines no character.
constexpr char16_t kHigh[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

}  // namespace

QString ToQt(const std::string& cp1252) {
    QString text;
    text.reserve(static_cast<qsizetype>(cp1252.size()));
    for (const char c : cp1252) {
        const auto byte = static_cast<unsigned char>(c);
        const char16_t high = byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : 0;
        text.append(QChar(high ? high : static_cast<char16_t>(byte)));
    }
    return text;
}

std::optional<std::string> FromQt(const QString& text, QString* bad) {
    std::string bytes;
    bytes.reserve(static_cast<size_t>(text.size()));
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            bytes.push_back(static_cast<char>(u));
            continue;
        }
        int found = -1;
        for (int i = 0; i < 32 && found < 0; ++i)
            if (kHigh[i] == u) found = i;
        // Undefined bytes come back as themselves (they were shown as controls of that number).
        if (found < 0 && u >= 0x80 && u < 0xA0 && kHigh[u - 0x80] == 0) found = u - 0x80;
        if (found < 0) {
            if (bad) *bad = QString(c);
            return std::nullopt;
        }
        bytes.push_back(static_cast<char>(0x80 + found));
    }
    return bytes;
}

}  // namespace hm
