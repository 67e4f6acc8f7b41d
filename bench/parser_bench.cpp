// Console parser throughput on a large synthetic console stream (joins, leaves, player-list and
// player-info replies, chatter), in chunks as the console client hands them over, beside a plain
// memcpy of the same bytes in the same run. Both report bytes per second; the parser's share of a
// connection's time is the ratio of the two.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "supervision/console_parser.h"

namespace {

// Does what the console client would do, minus the network: counts instead of sending.
class QuietConsole : public hm::ConsoleActions {
public:
    size_t sent = 0, logged = 0, events = 0;
    bool ThreadRunning() override { return true; }
    void SendCommand(const std::string&) override { ++sent; }
    void RequestPlayerInfo(int) override { ++sent; }
    void SetRespawnTime(uint32_t) override { ++sent; }
    void Kick(int, const std::optional<std::string>&) override { ++sent; }
    void Ban(int, const std::optional<std::string>&) override { ++sent; }
    void OnLevelStart() override { ++sent; }
    void Pause(uint32_t) override {}
    hm::PlayerVerdict NicknameVerdict(const std::string& name) override {
        return name.size() < 2 ? hm::PlayerVerdict::TooShort : hm::PlayerVerdict::None;
    }
    bool UpdatePlayer(const std::string&, const std::string&) override { return false; }
    void SavePlayers() override {}
    void AddEvent(const std::string&) override { ++events; }
    void WriteConsoleLog(std::string_view line) override { logged += line.size(); }
};

constexpr size_t kChunkBytes = 98304;   // the largest chunk the client hands over

// About 8 MB of console output in chunks.
std::vector<std::string> MakeStream() {
    std::mt19937 random(42);
    const char* names[] = {"Alice", "Bob", "Big Joe", "J\xE4ger", "Pilot_77", "xX_Sniper_Xx", "Max", "Ola"};
    std::vector<std::string> chunks;
    std::string chunk;
    size_t total = 0;
    while (total < 8u << 20) {
        const std::string name = names[random() % 8];
        switch (random() % 10) {
            case 0: chunk += "Incoming connection activity, \"10.0." + std::to_string(random() % 256) + ".7:5000\"\r\n"; break;
            case 1: chunk += ">" + name + " has joined the game\r\n"; break;
            case 2: chunk += ">" + name + " has left the game\r\n"; break;
            case 3: {
                chunk += "[Remote] $players\r\nPNum Name\r\n0   Server\r\n";
                for (int i = 1; i <= 8; ++i) chunk += std::to_string(i) + "   " + names[(i + random()) % 8] + "\r\n";
                break;
            }
            case 4:
                chunk += "[Remote] $playerinfo 3\r\n*Getting playerinfo for " + name + "\r\n" + name +
                         "\r\nTeam: Red\r\nShip: Ember-GL\r\nIP: 10.0.0.9:2092\r\n";
                break;
            case 5: chunk += ">" + name + " starts observing\r\n"; break;
            default: chunk += name + ": gg, that was a close one \x01\x02\x03\x04 really\r\n"; break;
        }
        if (chunk.size() >= kChunkBytes - 512) {
            total += chunk.size();
            chunks.push_back(std::move(chunk));
            chunk.clear();
        }
    }
    return chunks;
}

const std::vector<std::string>& Stream() {
    static const std::vector<std::string> stream = MakeStream();
    return stream;
}

size_t StreamBytes() {
    size_t total = 0;
    for (const std::string& c : Stream()) total += c.size();
    return total;
}

void BM_ParseConsoleStream(benchmark::State& state) {
    hm::ManualClock clock;
    hm::ConsoleSettings settings;
    settings.logPlayerAddresses = 1;
    settings.respawnStep = 2;
    hm::ConsoleState console(settings, 2092, clock.TickCount());
    QuietConsole actions;
    hm::ConsoleParser parser(console, actions, clock);
    for (auto _ : state) {
        for (const std::string& chunk : Stream()) {
            clock.Advance(1200);
            console.lastReceiveTick = clock.TickCount();
            parser.Parse(chunk.data(), chunk.size());
        }
        benchmark::DoNotOptimize(actions.logged);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * StreamBytes()));
}
BENCHMARK(BM_ParseConsoleStream)->Unit(benchmark::kMillisecond);

void BM_MemcpySameBytes(benchmark::State& state) {
    std::vector<char> target(kChunkBytes * 2);
    for (auto _ : state) {
        for (const std::string& chunk : Stream()) {
            std::memcpy(target.data(), chunk.data(), chunk.size());
            benchmark::ClobberMemory();
        }
        benchmark::DoNotOptimize(target.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * StreamBytes()));
}
BENCHMARK(BM_MemcpySameBytes)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
