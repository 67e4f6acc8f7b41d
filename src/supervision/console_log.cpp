#include "supervision/console_log.h"

#include <cstring>

#include "eventlog/jotwell_binding.h"
#include "platform/clock.h"

namespace hm {

namespace {

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        char a = text[i], b = prefix[i];
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = static_cast<char>(b - 'A' + 'a');
        if (a != b) return false;
    }
    return true;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

ConsoleLog::ConsoleLog(const ConsoleSettings& settings, Clock& clock, JotwellBinding* jotwell)
    : settings_(settings), clock_(clock), jotwell_(jotwell) {}

ConsoleLog::~ConsoleLog() {
    if (file_) std::fclose(file_);
}

bool ConsoleLog::IsFilteredOut(std::string_view line) {
    if (!line.empty() && (line[0] == '$' || line[0] == '[')) return true;
    if (line.size() >= 3 && IsDigit(line[0]) && IsDigit(line[1]) && line[2] == ':') return true;
    return StartsWithIgnoreCase(line, "logout") || StartsWithIgnoreCase(line, "say ");
}

std::string ConsoleLog::JotwellPrefix(const std::string& consoleLogName) {
    std::string prefix = consoleLogName;
    if (prefix.size() >= 4 && prefix.compare(prefix.size() - 4, 4, ".log") == 0) prefix.resize(prefix.size() - 4);
    prefix += '_';
    return prefix;
}

std::string ConsoleLog::PlainLine(std::string_view line, const LocalTime* stamp) {
    std::string text;
    if (stamp) {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02u %02u:%02u:%02u.%03u - ",
                      static_cast<unsigned>(stamp->year), static_cast<unsigned>(stamp->month),
                      static_cast<unsigned>(stamp->day), static_cast<unsigned>(stamp->hour),
                      static_cast<unsigned>(stamp->minute), static_cast<unsigned>(stamp->second),
                      static_cast<unsigned>(stamp->millisecond));
        text = buffer;
    }
    text.append(line);
    text += "\r\n";
    return text;
}

void ConsoleLog::Write(std::string_view line) {
    if (!settings_.logConsole) return;
    if (!settings_.logAllOutput && IsFilteredOut(line)) return;
    if (settings_.useJotwell) {
        if (settings_.consoleLogName.empty() || jotwell_ == nullptr || jotwell_->jotwellEx == nullptr) return;
        const std::string prefix = JotwellPrefix(settings_.consoleLogName);
        const std::string text(line);
        // A fresh all-zero record per call: the library fills and clears its string members during a
        // call, and connections write concurrently.
        JotwellOptions options;
        std::memset(&options, 0, sizeof options);
        jotwell_->jotwellEx(prefix.c_str(), text.c_str(), &options);
        return;
    }
    if (file_ == nullptr) return;
    LocalTime now{};
    if (settings_.logTimestamps) now = clock_.Now();
    const std::string text = PlainLine(line, settings_.logTimestamps ? &now : nullptr);
    std::fwrite(text.data(), 1, text.size(), file_);
    // Flushed per line so that the log survives a crash of the program.
    std::fflush(file_);
}

void ConsoleLog::Open() {
    if (!settings_.logConsole || settings_.consoleLogName.empty()) return;
    if (!settings_.useJotwell) {
        if (file_) std::fclose(file_);
        // Append mode keeps what earlier connections and runs wrote; every write lands at the end.
        file_ = std::fopen(settings_.consoleLogName.c_str(), "ab");
        if (file_ == nullptr) return;
    }
    Write(kConsoleLogBegin);
}

void ConsoleLog::Close() {
    if (settings_.useJotwell) {
        Write(kConsoleLogEnd);
        return;
    }
    if (file_ == nullptr) return;
    Write(kConsoleLogEnd);
    std::fclose(file_);
    file_ = nullptr;
}

}  // namespace hm
