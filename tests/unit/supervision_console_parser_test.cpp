// The console output parser, driven chunk by chunk through Parse with a console that records what
// the parser sends, asks and reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "supervision/console_normalize.h"
#include "supervision/console_parser.h"

namespace hm {
namespace {

using Calls = std::vector<std::string>;

class RecordingConsole : public ConsoleActions {
public:
    bool running = true;
    std::map<std::string, PlayerVerdict> verdicts;
    std::set<std::pair<std::string, std::string>> known;   // name/address pairs seen before
    Calls calls;       // commands, kicks, bans, events and store calls, in order
    Calls logLines;    // console log lines, in order
    std::vector<std::string> verdictAsked;

    bool ThreadRunning() override { return running; }
    void SendCommand(const std::string& line) override { calls.push_back("send " + line); }
    void RequestPlayerInfo(int number) override { calls.push_back("info " + std::to_string(number)); }
    void SetRespawnTime(uint32_t s) override { calls.push_back("respawn " + std::to_string(s)); }
    void Kick(int number, const std::optional<std::string>& m) override {
        calls.push_back("kick " + std::to_string(number) + (m ? " say:" + *m : ""));
    }
    void Ban(int number, const std::optional<std::string>& m) override {
        calls.push_back("ban " + std::to_string(number) + (m ? " say:" + *m : ""));
    }
    void OnLevelStart() override { calls.push_back("level start"); }
    void Pause(uint32_t ms) override { calls.push_back("pause " + std::to_string(ms)); }
    PlayerVerdict NicknameVerdict(const std::string& name) override {
        verdictAsked.push_back(name);
        auto it = verdicts.find(name);
        return it == verdicts.end() ? PlayerVerdict::None : it->second;
    }
    bool UpdatePlayer(const std::string& name, const std::string& address) override {
        calls.push_back("update " + name + " " + address);
        return known.insert({name, address}).second;
    }
    void SavePlayers() override { calls.push_back("save"); }
    void AddEvent(const std::string& text) override { calls.push_back("event " + text); }
    void WriteConsoleLog(std::string_view line) override { logLines.emplace_back(line); }

    size_t Count(const std::string& call) const { return std::count(calls.begin(), calls.end(), call); }
};

struct ParserFixture : ::testing::Test {
    ManualClock clock{50'000'000};
    ConsoleState state{ConsoleSettings(), 2092, 50'000'000};
    RecordingConsole console;
    ConsoleParser parser{state, console, clock};

    void Feed(const std::string& text) {
        state.lastReceiveTick = clock.TickCount();
        parser.Parse(text.data(), text.size());
    }
    void List(const std::vector<std::pair<int, std::string>>& rows, const std::string& after = "") {
        std::string text = "[12:00] $players\r\nPNum Name\r\n";
        for (auto& [n, name] : rows) text += std::to_string(n) + "   " + name + "\r\n";
        Feed(text + after);
    }
};

std::string Normalized(const std::string& in) {
    std::vector<char> out(NormalizedCapacity(in.size()));
    size_t written = 0;
    NormalizeConsoleChunk(in.data(), in.size(), out.data(), out.size(), &written);
    return std::string(out.data(), written);
}

TEST(ConsoleNormalize, TurnsRawBytesIntoNulSeparatedLines) {
    const std::string end(4, '\0');
    struct Case { const char* what; std::string in, out; } cases[] = {
        {"umlaut in a name", "J\xE4ger", "Jaeger" + end},
        {"all spelled letters", "\xC4\xD6\xDC\xE4\xF6\xFC\xDF", "AeOeUeaeoeuess" + end},
        {"runs of breaks give one separator", "a\r\n\r\nb\n", std::string("a\0b\0", 4) + end},
        {"a break at the very start is kept", "\r\nx", std::string("\0x", 2) + end},
        {"control byte takes four more with it", std::string("\x01\x10\x20\x30Name"), "ame" + end},
        {"control byte with exactly three after it", std::string("ab\x01xyz"), "ab" + end},
        {"control byte with two after it drops itself only", std::string("ab\x01xy"), "abxy" + end},
        {"other printable Windows-1252 letters stay", "Bj\xE9rn \xA0\xD8\xFF!", "Bj\xE9rn \xA0\xD8\xFF!" + end},
        {"a name with such a letter leaves the next line whole", "Bj\xE9rn has joined\r\nX", "Bj\xE9rn has joined" + std::string(1, '\0') + "X" + end},
        {"bytes 0x80 to 0x9F are control bytes", std::string("a\x85" "bcdef"), "af" + end},
        {"the NUL at the end of a burst", std::string("hi\0", 3), "hi" + end},
    };
    for (const Case& c : cases) EXPECT_EQ(Normalized(c.in), c.out) << c.what;
}

TEST(ConsoleNormalize, ReportsMissingDataAndMissingBuffer) {
    char out[8];
    size_t written = 99;
    EXPECT_EQ(NormalizeConsoleChunk(nullptr, 5, out, sizeof out, &written), NormalizeResult::NoData);
    EXPECT_EQ(written, 4u);
    EXPECT_EQ(NormalizeConsoleChunk("abc", 3, nullptr, 100, &written), NormalizeResult::NoBuffer);
    EXPECT_EQ(written, 0u);
}

TEST(ConsoleNormalize, NeverWritesPastItsBufferWhateverTheBytes) {
    std::mt19937 random(7);
    for (int round = 0; round < 300; ++round) {
        std::string in(random() % 64, '\0');
        for (char& c : in) c = static_cast<char>(random());
        // Every capacity from "too small for anything" to the full need, with guard bytes behind it.
        const size_t need = NormalizedCapacity(in.size());
        for (size_t capacity = 4; capacity <= need; capacity += 1 + random() % 5) {
            std::vector<char> out(capacity + 8, '#');
            size_t written = 0;
            NormalizeConsoleChunk(in.data(), in.size(), out.data(), capacity, &written);
            ASSERT_LE(written, capacity);
            ASSERT_EQ(std::string(out.data() + written - 4, 4), std::string(4, '\0'));
            ASSERT_EQ(std::string(out.data() + capacity, 8), std::string(8, '#'));
        }
    }
}

// The normaliser copies plain text in wide blocks; this byte-at-a-time reading of the same rules
// must give the same bytes for any input and any room, whatever block a special byte falls in.
std::string NormalizedByteByByte(const std::string& in, size_t capacity) {
    const size_t limit = capacity - 4;
    std::string out;
    for (size_t i = 0; i < in.size() && out.size() < limit;) {
        const unsigned char c = static_cast<unsigned char>(in[i]);
        const std::string spelled = c == 0xC4 ? "Ae" : c == 0xD6 ? "Oe" : c == 0xDC ? "Ue" : c == 0xE4 ? "ae"
                                  : c == 0xF6 ? "oe" : c == 0xFC ? "ue" : c == 0xDF ? "ss" : "";
        if (c >= 0x20 && c <= 0x7E) {
            out += static_cast<char>(c);
        } else if (c == '\r' || c == '\n') {
            if (out.empty() || out.back() != '\0') out += '\0';
        } else if (!spelled.empty()) {
            if (limit - out.size() < 2) break;
            out += spelled;
        } else if (c >= 0xA0) {
            out += static_cast<char>(c);
        } else {
            const size_t following = in.size() - i - 1;
            if (following >= 3) i += following < 4 ? following : 4;
        }
        ++i;
    }
    return out + std::string(4, '\0');
}

TEST(ConsoleNormalize, WideCopiesAgreeWithByteByByteRules) {
    std::mt19937 random(11);
    // Mostly long printable runs so that the wide paths are taken, with every kind of special byte
    // sprinkled in at random places: breaks, spelled letters, controls, DEL and high bytes.
    const std::string specials = std::string("\r\n\x7F\x01\x1F\x80\x9F\xFF\xE4\xDF\xC4\xE9\xA0\0", 14);
    for (int round = 0; round < 2000; ++round) {
        std::string in(random() % 300, '\0');
        for (char& c : in)
            c = random() % 9 == 0 ? specials[random() % specials.size()] : static_cast<char>(0x20 + random() % 95);
        const size_t need = NormalizedCapacity(in.size());
        const size_t capacity = round % 2 ? need : 4 + random() % (need - 3);
        std::vector<char> out(capacity);
        size_t written = 0;
        NormalizeConsoleChunk(in.data(), in.size(), out.data(), out.size(), &written);
        if (in.empty()) continue;   // reported as no data; covered above
        ASSERT_EQ(std::string(out.data(), written), NormalizedByteByByte(in, capacity))
            << "round " << round << ", capacity " << capacity;
    }
}

TEST_F(ParserFixture, MarkerCharacterIsNeverPartOfTheJoiningName) {
    Feed("*Big Joe has joined the game\r\n");
    EXPECT_EQ(console.calls, (Calls{"event Server 2092: Player 'Big Joe' has joined.", "send $players\r\n",
                                    "event Server 2092: 1 player(s)."}));
    EXPECT_EQ(state.playerCount, 1);
    EXPECT_EQ(state.hasPlayers, 1u);
    EXPECT_EQ(state.listRequests, 1u);
    EXPECT_EQ(console.logLines, (Calls{"*Big Joe has joined the game"}));
}

TEST_F(ParserFixture, PlayerListReplyListsAliceAndBobAndProcessesTheLineAfterIt) {
    List({{1, "Alice"}, {2, "Bob"}}, "Shutting down\r\n");
    ASSERT_EQ(state.players.size(), 2u);
    EXPECT_EQ(state.players[0], (PlayerSlot{1, "Alice", 0, 0, 50'000'000}));
    EXPECT_EQ(state.players[1], (PlayerSlot{2, "Bob", 0, 0, 50'000'000}));
    EXPECT_EQ(console.verdictAsked, (std::vector<std::string>{"Alice", "Bob"}));
    EXPECT_EQ(console.logLines,
              (Calls{"$players found (recognized by Haldmoor3).", "[12:00] $players", "PNum Name",
                     "Player found by Haldmoor3: 'Alice'.", "1   Alice", "Player found by Haldmoor3: 'Bob'.",
                     "2   Bob", "Shutting down"}));
    EXPECT_EQ(state.quitByAdmin, 1u) << "the line that ended the rows is an ordinary line";
    EXPECT_EQ(state.lastPlayerRowTick, state.lastReceiveTick);
}

TEST_F(ParserFixture, KnownPlayersGetNoSecondVerdictButARenamedNumberDoes) {
    List({{1, "Alice"}, {2, "Bob"}});
    console.verdictAsked.clear();
    clock.Advance(60000);
    List({{1, "Alice"}, {2, "Robert"}, {0, "Nobody"}});
    EXPECT_EQ(console.verdictAsked, (std::vector<std::string>{"Robert"}));
    ASSERT_EQ(state.players.size(), 2u) << "a row numbered 0 is not listed";
    EXPECT_EQ(state.players[0].joinTick, 50'000'000u) << "a known player keeps the time it was first listed";
    EXPECT_EQ(state.players[1].joinTick, 50'060'000u);
}

TEST_F(ParserFixture, PlayerInfoIsRequestedOnlyForNewPlayersAfterTheFirstListAndNotForPercentNames) {
    state.settings.logPlayerAddresses = 1;
    state.listRequests = 2;
    List({{3, "Carl"}, {4, "50%off"}, {5, ""}});
    EXPECT_EQ(console.Count("info 3"), 1u);
    EXPECT_EQ(console.Count("info 4"), 0u);
    EXPECT_EQ(console.Count("info 5"), 1u) << "an empty name is asked about too";

    state.listRequests = 1;   // the first reply after login lists players who were there already
    List({{3, "Carl"}, {6, "Dora"}});
    EXPECT_EQ(console.Count("info 6"), 0u);
}

TEST(ConsoleParser, VerdictsKickOrBanWithTheirTextsAndEvents) {
    struct Case { PlayerVerdict verdict; Calls calls; } cases[] = {
        {PlayerVerdict::None, {}},
        {PlayerVerdict::Invalid,
         {"kick 7 say:Zed uses an INVALID NICKNAME and gets kicked!",
          "event Server 2092: Player 'Zed' kicked (illegal nickname)."}},
        {PlayerVerdict::Hacked,
         {"event Server 2092: Player 'Zed' uses a hacked nickname.",
          "kick 7 say:'Zed' uses a HACKED NICKNAME and gets kicked!", "event Server 2092: Player 'Zed' kicked."}},
        {PlayerVerdict::TooShort,
         {"event Server 2092: Player 'Zed' uses a short nickname.", "kick 7 say:Zed uses a too short and gets kicked!",
          "event Server 2092: Player 'Zed' kicked."}},
        {PlayerVerdict::Disallowed, {"ban 7", "event Server 2092: Player 'Zed' banned."}},
    };
    for (const Case& c : cases) {
        ManualClock clock(50'000'000);
        ConsoleState st(ConsoleSettings(), 2092, 50'000'000);
        RecordingConsole rec;
        rec.verdicts["Zed"] = c.verdict;
        ConsoleParser p(st, rec, clock);
        const std::string text = "[x] $players\nPNum Name\n7   Zed\n";
        p.Parse(text.data(), text.size());
        EXPECT_EQ(rec.calls, c.calls) << static_cast<int>(c.verdict);
    }
}

TEST_F(ParserFixture, RespawnTimeFollowsTheListedCount) {
    state.settings.respawnStep = 4;
    state.settings.maxRespawnTime = 30;
    state.settings.minRespawnTime = 10;
    List({{1, "A"}, {2, "B"}, {3, "C"}, {4, "D"}, {5, "E"}});
    EXPECT_EQ(console.Count("respawn 18"), 1u);
    List({{1, "A"}, {2, "B"}, {3, "C"}, {4, "D"}, {5, "E"}});
    EXPECT_EQ(console.Count("respawn 18"), 1u) << "an unchanged count sends nothing new";

    state.settings.respawnStep = -1;
    List({{1, "A"}});
    EXPECT_EQ(console.calls.size(), 1u) << "dynamic respawn off: still only the first respawn time";
}

TEST(ConsoleRespawn, StaysWithinItsBoundsForAnyNumberOfPlayers) {
    ConsoleSettings s;
    s.minRespawnTime = 10;
    s.maxRespawnTime = 30;
    s.respawnStep = 4;
    struct Case { int64_t players; uint32_t seconds; } cases[] = {
        {0, 30}, {2, 30}, {3, 26}, {5, 18}, {7, 10}, {8, 10}, {40, 10}, {1'000'000'000, 10},
    };
    for (const Case& c : cases) EXPECT_EQ(RespawnTimeFor(s, c.players), c.seconds) << c.players;
    s.respawnStep = 2.5f;   // 0.5 rounds up: 3 players -> 30 - 3
    EXPECT_EQ(RespawnTimeFor(s, 3), 27u);
}

TEST_F(ParserFixture, FourQuickObserverStartsKickOnce) {
    List({{1, "Alice"}, {2, "Bob"}});
    console.calls.clear();
    std::string starts;
    for (int i = 0; i < 4; ++i) starts += "*Bob starts observing\r\n";
    Feed(starts);
    EXPECT_EQ(console.calls, (Calls{"event Server 2092: Player 'Bob' kicked (observer on/off switch).", "kick 2"}));

    // Starts more than a second apart are no flipping.
    console.calls.clear();
    for (int i = 0; i < 6; ++i) {
        clock.Advance(1500);
        Feed("*Alice starts observing\r\n");
    }
    EXPECT_TRUE(console.calls.empty());
}

TEST_F(ParserFixture, EndFlagsFollowTheServersLastWords) {
    struct Case { const char* what; std::string text; bool quitSent; uint32_t corruption, byAdmin; } cases[] = {
        {"corruption alone", "Network data corruption detected.\r\n", false, 1, 0},
        {"corruption with trailing text", "Network data corruption detected. (x)\r\n", false, 0, 0},
        {"shutdown by admin", "Shutting down server\r\n", false, 0, 1},
        {"shutdown after our own quit", "Shutting down server\r\n", true, 0, 0},
        {"shutdown after corruption", "NETWORK DATA CORRUPTION DETECTED.\nShutting down\n", false, 1, 0},
    };
    for (const Case& c : cases) {
        ManualClock clock;
        ConsoleState st;
        RecordingConsole rec;
        st.quitRequested = c.quitSent ? 1 : 0;
        ConsoleParser p(st, rec, clock);
        p.Parse(c.text.data(), c.text.size());
        EXPECT_EQ(st.dataCorruption, c.corruption) << c.what;
        EXPECT_EQ(st.quitByAdmin, c.byAdmin) << c.what;
    }
}

TEST_F(ParserFixture, LeavingCountsDownAndNoticesADeadThread) {
    Feed("*Ann disconnected!\r\n");
    EXPECT_EQ(console.calls,
              (Calls{"event Server 2092: Player 'Ann' has left.", "pause 100", "event Server 2092: No players in server.",
                     "send $players\r\n", "event Server 2092: 0 player(s)."}));
    EXPECT_EQ(state.hasPlayers, 0u);

    List({{1, "A"}, {2, "B"}, {3, "C"}});
    state.playerCount = 3;
    console.calls.clear();
    console.running = false;
    Feed("*C has left the game\r\n");
    EXPECT_EQ(console.calls, (Calls{"event Server 2092: Player 'C' has left.", "pause 100",
                                    "event Server 2092: Remote console thread has died.",
                                    "event Server 2092: 2 player(s)."}));
    EXPECT_EQ(state.playerCount, 2);
}

TEST_F(ParserFixture, ActivityLineGivesTheJoiningPlayersAddress) {
    state.settings.logPlayerAddresses = 1;
    Feed("Remote connection activity, \"10.1.2.3:5000\" ok\r\n");
    EXPECT_EQ(console.Count("event Server 2092: Connection activity from 10.1.2.3..."), 1u);
    clock.Advance(2000);
    Feed("*Pilot has joined\r\n");
    EXPECT_EQ(console.Count("update Pilot 10.1.2.3"), 1u);
    EXPECT_EQ(console.Count("save"), 1u);
    EXPECT_EQ(console.Count("event Server 2092: Player 'Pilot' joined with IP 10.1.2.3."), 1u);
    EXPECT_TRUE(state.activityAddress.empty());

    // An activity line in the same chunk as the join is too recent to belong to it.
    console.calls.clear();
    Feed("x connection activity, \"10.9.9.9\"\r\n*Quick has joined\r\n");
    EXPECT_EQ(console.Count("update Quick 10.9.9.9"), 0u);

    // Text that is no address never replaces the address noted before.
    Feed("x connection activity, \"10.8.8.8:1\"\r\n");
    Feed("x connection activity, \"not.an.address\"\r\n");
    clock.Advance(2000);
    state.listRequests = 0;
    Feed("*Slow has joined\r\n");
    EXPECT_EQ(console.Count("update Slow 10.8.8.8"), 1u);
}

TEST_F(ParserFixture, PlayerInfoReplyRecordsTheAddress) {
    const std::string getting = "*Getting playerinfo for Carol Ann\r\n";
    Feed("[1] $playerinfo 3\r\n" + getting + "Carol Ann (3)\r\nTeam: Red\r\nShip: observer\r\nIP: 10.0.0.7:2092\r\n");
    EXPECT_EQ(console.calls, (Calls{"event Server 2092: Player 'Carol Ann' has IP address 10.0.0.7.",
                                    "update Carol Ann 10.0.0.7", "save"}));
    EXPECT_EQ(state.hasPlayers, 1u);

    // Without a team line the reply is one line shorter; a repeated address is not saved again.
    console.calls.clear();
    Feed("[1] $playerinfo 3\r\n" + getting + "Carol Ann\r\nShip: Ember-GL\r\nIP: 10.0.0.7\r\n");
    EXPECT_EQ(console.Count("update Carol Ann 10.0.0.7"), 1u);
    EXPECT_EQ(console.Count("save"), 0u);

    // A reply out of order is abandoned; the line after the mismatch is an ordinary line again.
    console.calls.clear();
    Feed("[1] $playerinfo 3\r\n" + getting + "Someone else\r\n*Eve has joined\r\n");
    EXPECT_EQ(console.Count("event Server 2092: Player 'Eve' has joined."), 1u);
    EXPECT_EQ(console.Count("update Carol Ann 10.0.0.7"), 0u);
}

TEST_F(ParserFixture, EveryLineButNoiseIsLoggedOnceInOrder) {
    Feed("\r\nDownloading file\r\nhello\r\nANALYZING x\r\n*Entering level 2\r\nMission over.\r\nEnding Level.\r\n");
    EXPECT_EQ(console.logLines, (Calls{"hello", "Level start.", "*Entering level 2", "Ending Level."}));
    EXPECT_EQ(console.Count("level start"), 1u);

    console.logLines.clear();
    parser.Parse("", 0);
    EXPECT_EQ(console.logLines, (Calls{"Haldmoor3: Internal error - No data."}));
}

TEST_F(ParserFixture, NamesFromTheNetworkAreOnlyData) {
    Feed("*%s%n%x has joined\r\n");
    EXPECT_EQ(console.calls.front(), "event Server 2092: Player '%s%n%x' has joined.");
    Feed(" has joined\r\n");   // a keyword at the very start gives an empty name, not a wild read
    EXPECT_EQ(console.Count("event Server 2092: Player '' has joined."), 1u);
}

}  // namespace
}  // namespace hm

namespace hm {
namespace {

// The keyword scan looks at sixteen positions at a time; a keyword is found wherever its blank falls
// (first position, last position of a block, across a block's end, the line's last bytes), and a
// keyword cut off by the line's end is not one, whatever follows the line in the buffer.
TEST_F(ParserFixture, KeywordsAreFoundWhereverTheyFallInTheLine) {
    for (size_t length = 1; length <= 40; ++length) {
        const std::string name(length, 'n');
        console.calls.clear();
        Feed(">" + name + " has joined the game\r\n>" + name + " has left the game\r\n");
        ASSERT_EQ(console.Count("event Server 2092: Player '" + name + "' has joined."), 1u) << length;
        ASSERT_EQ(console.Count("event Server 2092: Player '" + name + "' has left."), 1u) << length;
    }
    console.calls.clear();
    const std::string cut[] = {"ab\r\n hx", "x has", "x has joi", "x disconnected", "x starts observin", "Incoming connection"};
    for (const std::string& line : cut) Feed(line + "\r\njoined the game\r\n");
    EXPECT_EQ(console.calls, Calls{});
}

}  // namespace
}  // namespace hm
