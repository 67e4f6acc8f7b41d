#include "launch/launch_batch.h"

#include <string_view>
#include <vector>

#include "platform/files.h"
#include "servers/game_config_text.h"

namespace hm {

namespace {

// The batch reader's line buffer, terminator included.
constexpr size_t kBatchLineBuffer = 2048;
// Shorter lines cannot hold an executable and a "-dedicated" file.
constexpr size_t kShortestLine = 16;

bool StartsWithNoCase(std::string_view text, std::string_view word) {
    return text.size() >= word.size() && fs::EqualsIgnoreCase(std::string(text.substr(0, word.size())), std::string(word));
}

uint16_t PortValue(const std::string& value) {
    const uint16_t port = static_cast<uint16_t>(ParseUnsigned(value));
    return port < 1024 ? 1024 : port;
}

// One word of a batch line starting at pos: up to the next blank, or a double-quoted text without its
// quotes. pos ends after the word.
std::string TakeWord(std::string_view text, size_t& pos) {
    if (pos < text.size() && text[pos] == '"') {
        const size_t close = text.find('"', pos + 1);
        const size_t end = close == std::string_view::npos ? text.size() : close;
        std::string word(text.substr(pos + 1, end - pos - 1));
        pos = close == std::string_view::npos ? text.size() : close + 1;
        return word;
    }
    size_t end = text.find(' ', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string word(text.substr(pos, end - pos));
    pos = end;
    return word;
}

bool StartsOption(std::string_view text, size_t pos) {
    return text[pos] == '-' && (pos == 0 || IsTextSpace(text[pos - 1]));
}

void ApplyOptions(CLaunchSettings& launch, std::string_view rest) {
    size_t pos = 0;
    while (pos < rest.size()) {
        if (!StartsOption(rest, pos)) {
            ++pos;
            continue;
        }
        size_t end = pos + 1;
        while (end < rest.size() && rest[end] != ' ') ++end;
        const std::string option(rest.substr(pos + 1, end - pos - 1));
        std::string value;
        pos = end;
        if (pos < rest.size()) {  // a blank follows: the next word is the value unless it is an option
            size_t start = pos + 1;
            while (start < rest.size() && IsTextSpace(rest[start])) ++start;
            if (start < rest.size() && rest[start] != '-') {
                value = TakeWord(rest, start);
                pos = start;
            }
        }
        if (!option.empty()) ApplyLaunchOption(launch, option, value);
    }
}

}  // namespace

void ApplyLaunchOption(CLaunchSettings& launch, const std::string& option, const std::string& value) {
    const auto is = [&](std::string_view word) { return StartsWithNoCase(option, word); };
    if (is("launched")) {
        // written by the game's own launcher; nothing to keep
    } else if (is("dedicated")) {
        if (FileExists(value)) launch.configFile = value;
    } else if (is("autoexec")) {
        if (FileExists(value)) launch.autoexecFile = value;
    } else if (is("setdir")) {
        if (FileExists(value)) launch.setDir = value;
    } else if (is("tempdir")) {
        if (FileExists(value)) launch.tempDir = value;
    } else if (is("mroport") || is("useport")) {
        launch.serverPort = PortValue(value);
    } else if (is("framecap")) {
        const uint32_t frames = ParseUnsigned(value);
        launch.framesPerSecond = frames >= 1000 ? 999 : frames;
    } else if (is("useip")) {
        // the bind address follows the global options at every launch
    } else if (is("gamespyport")) {
        launch.gameSpyPort = PortValue(value);
    } else if (is("gspyfile")) {
        launch.gameSpyFile = value;  // relative to the game folder as a rule, so not tested here
    } else if (is("nomultibmp")) {
        launch.disableShipLogos = 1;
    } else {
        if (!launch.extraArguments.empty()) launch.extraArguments += ' ';
        launch.extraArguments += '-';
        launch.extraArguments += option;
        if (!value.empty()) {
            // A value that came quoted with blanks goes back quoted, so the command line keeps it whole.
            const bool quote = value.find(' ') != std::string::npos;
            launch.extraArguments += quote ? " \"" + value + "\"" : " " + value;
        }
    }
}

bool ImportLaunchBatch(CLaunchSettings& launch, const std::string& path, const InformationBox& inform) {
    if (path.empty()) return true;
    std::vector<std::string> lines;
    if (const fs::ReadResult read = ReadBufferedLines(path, kBatchLineBuffer, kLaunchBatchLimit, lines); !read.ok()) {
        if (inform) inform(CannotReadMessage(path, read));
        return false;
    }
    for (const std::string& raw : lines) {
        std::string_view line = Trim(raw);
        if (line.size() > 4 && StartsWithNoCase(line, "call") && IsTextSpace(line[4])) line = TrimLeft(line.substr(4));
        const bool considered = line.size() >= kShortestLine && !StartsWithNoCase(line, "rem") && !IsTextSpace(line[4]);
        if (considered) {
            size_t pos = 0;
            const std::string executable = TakeWord(line, pos);
            if (FileExists(executable)) {
                launch.executable = executable;
                ApplyOptions(launch, line.substr(pos));
            }
        }
        if (!launch.configFile.empty()) return true;
    }
    return false;
}

}  // namespace hm
