// The recording file that lets tests see what the dedicated server was started with and what it was
// told: "<tempdir>/k3ded.record", appended to (a restarted server adds to the same file), one item per
// line, each line "<kind> <text>" with control bytes shown as '?'. Kinds: start, argv, cwd, login,
// command, exit. Written only by the main thread; every line is appended and flushed at once, so a
// crash never loses what was already recorded.
#pragma once

#include <string>

namespace hm::k3ded {

class Recorder {
public:
    // folder "" = record nothing.
    void Open(const std::string& folder);
    void Add(const std::string& kind, const std::string& text);
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

constexpr const char* kRecordFileName = "k3ded.record";

}  // namespace hm::k3ded
