#include "servers/game_config_text.h"

#include <limits>
#include <new>

#include "platform/files.h"

namespace hm {

std::string_view TrimLeft(std::string_view text) {
    size_t first = 0;
    while (first < text.size() && IsTextSpace(text[first])) ++first;
    return text.substr(first);
}

std::string_view TrimRight(std::string_view text) {
    size_t end = text.size();
    while (end > 0 && IsTextSpace(text[end - 1])) --end;
    return text.substr(0, end);
}

std::string_view Trim(std::string_view text) { return TrimRight(TrimLeft(text)); }

int32_t ParseNumber(std::string_view text) {
    text = TrimLeft(text);
    bool negative = false;
    size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int64_t value = 0;
    constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > kLimit) value = kLimit;  // saturate; further digits cannot bring it back
    }
    if (negative) return static_cast<int32_t>(-value);
    return value >= kLimit ? std::numeric_limits<int32_t>::max() : static_cast<int32_t>(value);
}

std::vector<std::string> SplitBufferedLines(const std::string& text, size_t bufferSize) {
    std::vector<std::string> lines;
    const size_t room = bufferSize > 1 ? bufferSize - 1 : 1;
    std::string current;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        // Text mode: the CR of a CR LF pair is dropped before the reader sees the line.
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        current.push_back(c);
        if (c == '\n' || current.size() == room) {
            lines.push_back(std::move(current));
            current.clear();
        }
    }
    if (!current.empty()) lines.push_back(std::move(current));
    return lines;
}

fs::ReadResult ReadBufferedLines(const std::string& path, size_t bufferSize, uint64_t maxBytes,
                                 std::vector<std::string>& lines) {
    if (path.empty()) return fs::ReadResult{fs::ReadStatus::kMissing, "no file name"};
    std::string text;
    fs::ReadResult result = fs::ReadFileLimited(path, maxBytes, text);
    if (!result.ok()) return result;
    try {
        lines = SplitBufferedLines(text, bufferSize);
    } catch (const std::bad_alloc&) {
        return fs::ReadResult{fs::ReadStatus::kFailed, "out of memory"};
    }
    return result;
}

std::string CannotReadMessage(const std::string& path, const fs::ReadResult& result) {
    std::string message = "Cannot open " + path + " for reading!";
    // A folder fails to open on every platform and needs no more words; a FIFO, a device or a huge
    // file would look like a plain file to the operator.
    const bool folder = result.status == fs::ReadStatus::kNotRegular && fs::IsDirectory(path);
    if ((result.status == fs::ReadStatus::kNotRegular && !folder) || result.status == fs::ReadStatus::kTooLarge) {
        message += " (" + result.reason + ")";
    }
    return message;
}

}  // namespace hm
