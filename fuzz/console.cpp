// Console output of a game server, as the remote console hands it over: chunks of arbitrary bytes
// through the normaliser (checked against its promises) and then through one parser that keeps its
// state across the chunks. Input: a settings byte, a chunk-size byte, then the stream.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "supervision/console_normalize.h"
#include "supervision/console_parser.h"

namespace {

// Plays the connection: answers the parser's questions from the name itself so that every verdict
// and reply path is reachable, and records nothing that could grow across inputs.
class Actions : public hm::ConsoleActions {
public:
    bool ThreadRunning() override { return true; }
    void SendCommand(const std::string& line) override {
        // One command per call: its own CR LF at the end and no line break from the peer inside,
        // or a nickname could smuggle a second command onto the console.
        if (line.size() < 2 || line.compare(line.size() - 2, 2, "\r\n") != 0) std::abort();
        OneLine(line.substr(0, line.size() - 2));
    }
    void RequestPlayerInfo(int) override {}
    void SetRespawnTime(uint32_t) override {}
    void Kick(int, const std::optional<std::string>& message) override {
        if (message) OneLine(*message);
    }
    void Ban(int, const std::optional<std::string>& message) override {
        if (message) OneLine(*message);
    }
    void OnLevelStart() override {}
    void Pause(uint32_t) override {}
    hm::PlayerVerdict NicknameVerdict(const std::string& name) override {
        if (name.empty()) return hm::PlayerVerdict::TooShort;
        return static_cast<hm::PlayerVerdict>(static_cast<unsigned char>(name[0]) % 5);
    }
    bool UpdatePlayer(const std::string& name, const std::string& address) override { return name.size() & 1; }
    void SavePlayers() override {}
    void AddEvent(const std::string& text) override { OneLine(text); }
    void WriteConsoleLog(std::string_view line) override {
        // Every line handed out must be a view into live memory: touch all of it.
        volatile size_t sum = 0;
        for (char c : line) sum = sum + static_cast<unsigned char>(c);
    }

private:
    static void OneLine(const std::string& text) {
        if (text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) std::abort();
    }
};

void CheckNormalizer(const char* chunk, size_t size, size_t capacity) {
    std::vector<char> out(capacity + 16, '\x55');
    size_t written = 0;
    std::vector<size_t> ends;
    const hm::NormalizeResult result = hm::NormalizeConsoleChunk(chunk, size, out.data(), capacity, &written, &ends);
    for (size_t i = capacity; i < out.size(); ++i) {
        if (out[i] != '\x55') std::abort();  // wrote past the room it was given
    }
    if (result != hm::NormalizeResult::Ok) return;
    if (written < 4 || written > capacity) std::abort();
    if (std::memcmp(out.data() + written - 4, "\0\0\0\0", 4) != 0) std::abort();
    size_t last = 0;
    for (size_t i = 0; i < ends.size(); ++i) {
        if (ends[i] >= written || out[ends[i]] != '\0') std::abort();
        if (i > 0 && ends[i] <= last) std::abort();
        last = ends[i];
    }
    if (ends.empty() || ends.back() != written - 4) std::abort();  // the first end byte comes last
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint8_t flags = data[0];
    const size_t chunkSize = static_cast<size_t>(data[1]) * 16 + 1;
    data += 2;
    size -= 2;

    hm::ManualClock clock;
    hm::ConsoleSettings settings;
    settings.logPlayerAddresses = flags & 1;
    settings.logConsole = (flags >> 1) & 1;
    settings.logAllOutput = (flags >> 2) & 1;
    settings.respawnStep = (flags & 8) ? 2.0f : -1.0f;
    settings.playerSlots = (flags >> 4) & 0x0F;
    hm::ConsoleState console(settings, 2092, clock.TickCount());
    Actions actions;
    hm::ConsoleParser parser(console, actions, clock);

    const char* text = reinterpret_cast<const char*>(data);
    for (size_t offset = 0; offset < size || offset == 0; offset += chunkSize) {
        const size_t n = std::min(chunkSize, size - offset);
        CheckNormalizer(text + offset, n, hm::NormalizedCapacity(n));
        CheckNormalizer(text + offset, n, 4 + n / 2);   // too little room: cut, end bytes still last
        clock.Advance(1200);
        console.lastReceiveTick = clock.TickCount();
        parser.Parse(text + offset, n);
        if (size == 0) break;
    }
    return 0;
}
