// Console parser throughput on a large synthetic console stream (joins, leaves, player-list and
// player-info replies, chatter), in chunks as the console client hands them over, beside a plain
// memcpy of the same bytes in the same run. All report bytes per second. The typical stream is a
// busy server's; the event-heavy one shows the cost of the work each event brings with it.
#include <benchmark/benchmark.h>

#include <bit>
#include <cstring>
#include <random>
#include <string_view>
#include <string>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "supervision/console_normalize.h"
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
constexpr size_t kStreamBytes = 64u << 20;   // well beyond the caches, so memcpy is not flattered

// Chances per thousand bursts of each kind of console output; the rest is chatter (chat lines and
// game messages). The client asks for the player list after every join and leave, so list replies
// come about as often as those two together.
struct Mix {
    int join, leave, activity, list, info, observe;
};
constexpr Mix kTypical{10, 10, 10, 20, 5, 5};           // a busy server: mostly chatter
constexpr Mix kEventHeavy{100, 100, 100, 100, 100, 100};   // every other burst changes something

// Console output as the server sends it: bursts of lines ended by a NUL, each later burst starting
// with the four-byte colour code, handed over in chunks of up to kChunkBytes.
std::vector<std::string> MakeStream(const Mix& mix) {
    std::mt19937 random(42);
    const char* names[] = {"Alice", "Bob", "Big Joe", "J\xE4ger", "Pilot_77", "xX_Sniper_Xx", "Max", "Ola"};
    const char* chatter[] = {
        ": gg, that was a close one",
        ": anyone up for a duel on the next level?",
        ": lol",
        ": who has the shield booster, cover the south gate",
        " destroyed Max's Ember-GL with a Fusion Cannon.",
        " was destroyed by a homing missile.",
        " scored a point for team Red (12/20).",
    };
    std::vector<std::string> chunks;
    std::string chunk;
    size_t total = 0;
    while (total < kStreamBytes) {
        const std::string name = names[random() % 8];
        int pick = static_cast<int>(random() % 1000);
        std::string burst = "\x01\x7F\x7F\x7F";
        if ((pick -= mix.join) < 0) {
            burst += ">" + name + " has joined the game\r\n";
        } else if ((pick -= mix.leave) < 0) {
            burst += ">" + name + " has left the game\r\n";
        } else if ((pick -= mix.activity) < 0) {
            burst += "Incoming connection activity, \"10.0." + std::to_string(random() % 256) + ".7:5000\"\r\n";
        } else if ((pick -= mix.list) < 0) {
            burst += "[Remote] $players\r\nPNum Name\r\n0   Server\r\n";
            for (int i = 1; i <= 8; ++i) burst += std::to_string(i) + "   " + names[(i + random()) % 8] + "\r\n";
        } else if ((pick -= mix.info) < 0) {
            burst += "[Remote] $playerinfo 3\r\n*Getting playerinfo for " + name + "\r\n" + name +
                     "\r\nTeam: Red\r\nShip: Ember-GL\r\nIP: 10.0.0.9:2092\r\n";
        } else if ((pick -= mix.observe) < 0) {
            burst += ">" + name + " starts observing\r\n";
        } else {
            burst += name + chatter[random() % 7] + "\r\n";
        }
        burst += '\0';
        if (chunk.size() + burst.size() > kChunkBytes) {
            total += chunk.size();
            chunks.push_back(std::move(chunk));
            chunk.clear();
        }
        chunk += burst;
    }
    return chunks;
}

const std::vector<std::string>& Stream(const Mix& mix) {
    static const std::vector<std::string> typical = MakeStream(kTypical);
    static const std::vector<std::string> eventHeavy = MakeStream(kEventHeavy);
    return &mix == &kTypical ? typical : eventHeavy;
}

size_t StreamBytes(const Mix& mix) {
    size_t total = 0;
    for (const std::string& c : Stream(mix)) total += c.size();
    return total;
}

void ParseStream(benchmark::State& state, const Mix& mix) {
    hm::ManualClock clock;
    hm::ConsoleSettings settings;
    settings.logPlayerAddresses = 1;
    settings.respawnStep = 2;
    hm::ConsoleState console(settings, 2092, clock.TickCount());
    QuietConsole actions;
    hm::ConsoleParser parser(console, actions, clock);
    const size_t bytes = StreamBytes(mix);   // made before the clock runs
    for (auto _ : state) {
        for (const std::string& chunk : Stream(mix)) {
            clock.Advance(1200);
            console.lastReceiveTick = clock.TickCount();
            parser.Parse(chunk.data(), chunk.size());
        }
        benchmark::DoNotOptimize(actions.logged);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void BM_ParseTypicalStream(benchmark::State& state) { ParseStream(state, kTypical); }
BENCHMARK(BM_ParseTypicalStream)->Unit(benchmark::kMillisecond);

void BM_ParseEventHeavyStream(benchmark::State& state) { ParseStream(state, kEventHeavy); }
BENCHMARK(BM_ParseEventHeavyStream)->Unit(benchmark::kMillisecond);

// The first stage alone: raw bytes into the NUL-separated line buffer.
void BM_NormalizeTypicalStream(benchmark::State& state) {
    std::vector<char> lines(hm::NormalizedCapacity(kChunkBytes));
    StreamBytes(kTypical);
    for (auto _ : state) {
        for (const std::string& chunk : Stream(kTypical)) {
            size_t written = 0;
            hm::NormalizeConsoleChunk(chunk.data(), chunk.size(), lines.data(), lines.size(), &written);
            benchmark::DoNotOptimize(written);
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * StreamBytes(kTypical)));
}
BENCHMARK(BM_NormalizeTypicalStream)->Unit(benchmark::kMillisecond);

// The floor of any parser that looks at its input line by line: the lines of the raw stream are
// found (line breaks; a control byte drops the four bytes after it) and each is handed to a log
// behind a virtual call, with no normalising, no keyword and no reply handling at all.
class LineSink {
public:
    virtual ~LineSink() = default;
    virtual void Line(std::string_view line) = 0;
};
class CountingSink : public LineSink {
public:
    size_t bytes = 0;
    void Line(std::string_view line) override { bytes += line.size(); }
};

// Bytes before the first one outside 0x20..0x7E.
size_t PrintableRun(const unsigned char* in, size_t size) {
    size_t run = 0;
#if defined(__SSE2__)
    for (; run + 16 <= size; run += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + run));
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(
            _mm_cmplt_epi8(bytes, _mm_set1_epi8(0x20)), _mm_cmpeq_epi8(bytes, _mm_set1_epi8(0x7F)))));
        if (mask != 0) return run + static_cast<size_t>(std::countr_zero(mask));
    }
#endif
    while (run < size && in[run] >= 0x20 && in[run] < 0x7F) ++run;
    return run;
}

void BM_SplitLinesOnlyTypicalStream(benchmark::State& state) {
    CountingSink counting;
    LineSink& sink = counting;
    const size_t bytes = StreamBytes(kTypical);
    for (auto _ : state) {
        for (const std::string& chunk : Stream(kTypical)) {
            const auto* in = reinterpret_cast<const unsigned char*>(chunk.data());
            const size_t size = chunk.size();
            size_t i = 0, start = 0;
            while (i < size) {
                i += PrintableRun(in + i, size - i);
                if (i >= size) break;
                if (in[i] == '\r' || in[i] == '\n') {
                    if (i > start) sink.Line(std::string_view(chunk.data() + start, i - start));
                    while (i < size && (in[i] == '\r' || in[i] == '\n')) ++i;
                } else {
                    i += 5;
                }
                start = i;
            }
        }
        benchmark::DoNotOptimize(counting.bytes);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_SplitLinesOnlyTypicalStream)->Unit(benchmark::kMillisecond);

// The baseline: the same bytes copied once into a buffer of their own size, as a program that only
// moved the stream would.
void BM_MemcpyTypicalStream(benchmark::State& state) {
    std::vector<char> target(StreamBytes(kTypical));
    for (auto _ : state) {
        size_t at = 0;
        for (const std::string& chunk : Stream(kTypical)) {
            std::memcpy(target.data() + at, chunk.data(), chunk.size());
            at += chunk.size();
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * StreamBytes(kTypical)));
}
BENCHMARK(BM_MemcpyTypicalStream)->Unit(benchmark::kMillisecond);

// For reference only: the chunk copied into one reused buffer that stays in the cache.
void BM_MemcpyIntoCachedBuffer(benchmark::State& state) {
    std::vector<char> target(kChunkBytes);
    StreamBytes(kTypical);
    for (auto _ : state) {
        for (const std::string& chunk : Stream(kTypical)) {
            std::memcpy(target.data(), chunk.data(), chunk.size());
            benchmark::ClobberMemory();
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * StreamBytes(kTypical)));
}
BENCHMARK(BM_MemcpyIntoCachedBuffer)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
