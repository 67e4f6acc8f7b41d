// The remote info server over real UDP on 127.0.0.1: records and status values byte for byte, the
// tracker information store through it, malformed datagrams, the limit on bad-request lines, and its
// start and stop. Requests are served strictly one after another, so "no answer" is proven by the
// next good request's answer arriving first, without waiting for a time-out.
#include "infoserver/remote_info_server.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "infoserver/info_protocol.h"

namespace hm {
namespace {

uint16_t Le16(const std::string& d, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(d[at]) | (static_cast<uint8_t>(d[at + 1]) << 8));
}
uint32_t Le32(const std::string& d, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(d[at + i]);
    return v;
}
std::string Field(const std::string& d, size_t at, size_t size) { return std::string(d.c_str() + at, strnlen(d.c_str() + at, size)); }

// A request built by hand from the format: marker, command, length field, check, data.
std::string RawRequest(uint8_t command, uint32_t check, const std::string& data = std::string(), int lengthField = -1) {
    std::string d(8, '\0');
    d[0] = 2;
    d[1] = static_cast<char>(command);
    const uint16_t length = lengthField >= 0 ? static_cast<uint16_t>(lengthField) : static_cast<uint16_t>(8 + data.size() - 1);
    d[2] = static_cast<char>(length & 0xFF);
    d[3] = static_cast<char>(length >> 8);
    for (int i = 0; i < 4; ++i) d[4 + i] = static_cast<char>(check >> (8 * i));
    return d + data;
}

class RemoteInfoServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        AddServer(2101, "Ironworks Anarchy", "Ironworks", "Anarchy", 8, 3101, "brass");
        AddServer(2102, "Oasis CTF", "Oasis", "CTF", 16, 3102, "kettle");
        settings.enabled = 1;
        settings.port = 0;  // any free port; LocalPort() tells which
        settings.password = "lantern";
        ASSERT_EQ(server.StartInfoServer(settings, events), 1);
        ASSERT_TRUE(client.Create(SocketType::Datagram));
        ASSERT_TRUE(client.Bind(LoopbackAddress(), 0));
        client.SetReceiveTimeout(5000);  // reached only when an answer is missing
        check = info::PasswordCheck("lantern");
    }

    void AddServer(uint16_t port, const char* name, const char* mission, const char* script, uint32_t maxPlayers,
                   uint16_t consolePort, const char* password) {
        auto entry = std::make_unique<CServerInfo>();
        entry->config.launch.serverPort = port;
        entry->config.game.gameName = name;
        entry->config.game.missionTitle = mission;
        entry->config.game.scriptName = script;
        entry->config.game.maxPlayers = maxPlayers;
        entry->config.console.port = consolePort;
        entry->config.console.password = password;
        servers.entries.push_back(std::move(entry));
    }

    void Send(const std::string& datagram) {
        ASSERT_EQ(client.SendTo(datagram.data(), datagram.size(), LoopbackAddress(), server.LocalPort(), 1000),
                  static_cast<int>(datagram.size()));
    }
    std::string Receive() {
        char buffer[2048];
        uint32_t address = 0;
        uint16_t port = 0;
        const int n = client.ReceiveFrom(buffer, sizeof buffer, address, port);
        return n > 0 ? std::string(buffer, n) : std::string();
    }
    // Every reply datagram up to and including the status record.
    std::vector<std::string> Exchange(const std::string& request) {
        Send(request);
        std::vector<std::string> replies;
        for (;;) {
            std::string reply = Receive();
            if (reply.empty()) break;
            replies.push_back(reply);
            if (reply[1] == 0) break;
        }
        return replies;
    }
    int32_t StatusOf(const std::string& request) {
        const std::vector<std::string> replies = Exchange(request);
        if (replies.empty() || replies.back().size() != 8 || replies.back()[1] != 0) return 12345;
        return static_cast<int32_t>(Le32(replies.back(), 4));
    }
    size_t LinesWith(const std::string& text) {
        size_t n = 0;
        for (const std::string& line : events.Lines()) n += line.find(text) != std::string::npos;
        return n;
    }

    ManualClock clock;
    EventLogList events{clock, nullptr, nullptr};
    CServerInfoArray servers;
    std::recursive_mutex serverListLock;
    TrackerInfoStore trackerInfo;
    RemoteInfoServer server{servers, serverListLock, trackerInfo, events, clock};
    RemoteInfoSettings settings;
    TcpSocket client;
    uint32_t check = 0;
};

TEST_F(RemoteInfoServerTest, ListGivesOneRecordPerServerInListOrderThenStatusZero) {
    const std::vector<std::string> replies = Exchange(RawRequest(1, check));
    ASSERT_EQ(replies.size(), 3u);
    struct Expected {
        uint16_t port;
        const char *name, *mission, *script;
        uint32_t maxPlayersMinusOne;
        uint16_t consolePort;
        const char* password;
    } expected[] = {{2101, "Ironworks Anarchy", "Ironworks", "Anarchy", 7, 3101, "brass"},
                    {2102, "Oasis CTF", "Oasis", "CTF", 15, 3102, "kettle"}};
    for (uint32_t i = 0; i < 2; ++i) {
        const std::string& r = replies[i];
        const Expected& e = expected[i];
        ASSERT_EQ(r.size(), 528u);
        EXPECT_EQ(r[0], 2);
        EXPECT_EQ(r[1], 2);
        EXPECT_EQ(Le16(r, 2), 527);
        EXPECT_EQ(Le32(r, 4), i);
        EXPECT_EQ(Le16(r, 8), e.port);
        EXPECT_EQ(Field(r, 10, 128), e.name);
        EXPECT_EQ(Field(r, 138, 128), e.mission);
        EXPECT_EQ(Field(r, 266, 128), e.script);
        EXPECT_EQ(Le32(r, 394), e.maxPlayersMinusOne);
        EXPECT_EQ(Le16(r, 398), e.consolePort);
        EXPECT_EQ(Field(r, 400, 128), e.password);
        EXPECT_EQ(r.find_first_not_of('\0', 400 + std::strlen(e.password)), std::string::npos);  // zero behind
    }
    EXPECT_EQ(replies[2], std::string("\x02\x00\x07\x00\x00\x00\x00\x00", 8));
}

TEST_F(RemoteInfoServerTest, CommandsAnswerTheirStatusAndChangeTheTrackerStore) {
    using Entries = std::vector<std::pair<std::string, std::string>>;
    const std::string key9 = "abcdefghi";
    struct Step {
        const char* what;
        std::string request;
        int32_t status;
        Entries after;
        const char* event;  // the line it writes, or ""
    } steps[] = {
        {"set appends", info::EncodeSetRequest(check, "map", "ember"), 0, {{"map", "ember"}}, ""},
        {"set of another key appends", info::EncodeSetRequest(check, key9, "x"), 0, {{"map", "ember"}, {key9, "x"}}, ""},
        {"set replaces the value only", info::EncodeSetRequest(check, "map", "polaris"), 0, {{"map", "polaris"}, {key9, "x"}}, ""},
        {"keys compare with case", RawRequest(6, check, std::string("MAP\0", 4)), -4, {{"map", "polaris"}, {key9, "x"}}, ""},
        {"remove of a missing key", info::EncodeRemoveRequest(check, "mode"), -4, {{"map", "polaris"}, {key9, "x"}}, ""},
        {"remove keeps the rest", info::EncodeRemoveRequest(check, "map"), 0, {{key9, "x"}}, ""},
        {"a value without NUL ends with the datagram", RawRequest(5, check, std::string("ab\0\0\0\0\0\0\0\0", 10) + "cd"), 0,
         {{key9, "x"}, {"ab", "cd"}}, ""},
        {"a key without NUL in its field", RawRequest(6, check, "abcdefghij" + std::string(1, '\0')), -1,
         {{key9, "x"}, {"ab", "cd"}}, "Remote info server (127.0.0.1): invalid command"},
        {"an unknown command", RawRequest(9, check), -1, {{key9, "x"}, {"ab", "cd"}}, "invalid command"},
        {"a wrong password, even for a good command", info::EncodeRemoveRequest(check + 1, key9), -2,
         {{key9, "x"}, {"ab", "cd"}}, "Remote info server (127.0.0.1): invalid password"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        const size_t linesBefore = events.Count();
        clock.Advance(RemoteInfoServer::kEventPeriodMs);  // each bad request here is the first in its minute
        EXPECT_EQ(StatusOf(step.request), step.status);
        Entries entries;
        for (const TrackerInfo& e : trackerInfo.Entries()) entries.emplace_back(e.key, e.value);
        EXPECT_EQ(entries, step.after);
        if (*step.event) {
            ASSERT_EQ(events.Count(), linesBefore + 1);
            EXPECT_NE(events.Lines().back().find(step.event), std::string::npos) << events.Lines().back();
        } else {
            EXPECT_EQ(events.Count(), linesBefore);
        }
    }

    // Command 3 lists the store: one 146-byte record of type 3 per entry, then the status.
    const std::vector<std::string> replies = Exchange(RawRequest(3, check));
    ASSERT_EQ(replies.size(), 3u);
    for (uint32_t i = 0; i < 2; ++i) {
        ASSERT_EQ(replies[i].size(), 146u);
        EXPECT_EQ(replies[i][1], 3);
        EXPECT_EQ(Le16(replies[i], 2), 145);
        EXPECT_EQ(Le32(replies[i], 4), i);
    }
    EXPECT_EQ(Field(replies[0], 8, 10), key9);
    EXPECT_EQ(Field(replies[1], 8, 10), "ab");
    EXPECT_EQ(Field(replies[1], 18, 128), "cd");
    EXPECT_EQ(Le32(replies[2], 4), 0u);
}

TEST_F(RemoteInfoServerTest, MalformedDatagramsGetNoAnswerAndNeverStopTheService) {
    const std::string good = RawRequest(3, check);
    const std::string dropped[] = {
        std::string("\x02", 1),
        std::string("\x02\x01\x07\x00\x00\x00\x00", 7),                      // truncated header
        RawRequest(1, check, "", 0),                                         // length field 0
        RawRequest(1, check, "", 65535),                                     // length field 65535
        RawRequest(1, check, "", 8),                                         // one more than it is
        RawRequest(1, check, "xyz", 9),                                      // one less than it is
        "\x03" + RawRequest(1, check).substr(1),                             // wrong marker
        RawRequest(1, check, std::string(1493, 'k')),                        // 1501 bytes, length field matching
    };
    for (const std::string& datagram : dropped) Send(datagram);
    // Nothing came back for any of them: the first reply is the good request's status record.
    EXPECT_EQ(Exchange(good), std::vector<std::string>{info::EncodeStatus(0)});

    // Random 1500-byte datagrams, some with a marker and a matching length field, then the good request.
    std::mt19937 random(20142);
    for (int i = 0; i < 24; ++i) {
        std::string noise(1500, '\0');
        for (char& c : noise) c = static_cast<char>(random());
        if (i % 2) noise = RawRequest(static_cast<uint8_t>(random()), static_cast<uint32_t>(random()), noise.substr(8));
        Send(noise);
    }
    Send(good);
    bool answered = false;
    while (!answered) {
        const std::string reply = Receive();
        if (reply.empty()) break;
        answered = reply == info::EncodeStatus(0);  // the noise may earn -1 and -2 first
    }
    EXPECT_TRUE(answered);
    EXPECT_TRUE(server.IsRunning());
    EXPECT_TRUE(trackerInfo.Entries().empty());
}

TEST_F(RemoteInfoServerTest, BadRequestLinesAreLimitedPerSenderAndCountWhatWasLeftOut) {
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(StatusOf(RawRequest(1, check ^ 1)), -2);
    for (int i = 0; i < 10; ++i) ASSERT_EQ(StatusOf(RawRequest(7, check)), -1);
    EXPECT_EQ(LinesWith("Remote info server (127.0.0.1): invalid password"), 1u);
    EXPECT_EQ(LinesWith("Remote info server (127.0.0.1): invalid command"), 1u);

    clock.Advance(RemoteInfoServer::kEventPeriodMs - 1);
    EXPECT_EQ(StatusOf(RawRequest(1, check ^ 1)), -2);
    EXPECT_EQ(LinesWith("invalid password"), 1u);
    clock.Advance(1);
    EXPECT_EQ(StatusOf(RawRequest(1, check ^ 1)), -2);
    EXPECT_EQ(LinesWith("invalid password"), 2u);
    EXPECT_NE(events.Lines().back().find("Remote info server (127.0.0.1): invalid password (and 1000 more)"),
              std::string::npos)
        << events.Lines().back();
}

TEST_F(RemoteInfoServerTest, PasswordCheckIsTheStandardCrc32) {
    struct Case {
        const char* password;
        uint32_t check;
    } cases[] = {{"", 0u}, {"123456789", 0xCBF43926u}, {"a", 0xE8B7BE43u}};
    for (const Case& c : cases) EXPECT_EQ(info::PasswordCheck(c.password), c.check) << c.password;

    RemoteInfoSettings empty = settings;
    empty.password.clear();
    const size_t lines = events.Count();
    EXPECT_EQ(server.StartInfoServer(empty, events), 0);  // running already: only the check changes
    EXPECT_EQ(server.PasswordCheck(), 0u);
    EXPECT_EQ(events.Count(), lines);
    EXPECT_EQ(StatusOf(RawRequest(6, 0, std::string("k\0", 2))), -4);  // check 0 now passes
    EXPECT_EQ(StatusOf(RawRequest(6, check, std::string("k\0", 2))), -2);
}

TEST_F(RemoteInfoServerTest, StartStopAndRestartSayWhatHappens) {
    const uint16_t port = server.LocalPort();
    EXPECT_EQ(LinesWith("Starting remote info server..."), 1u);
    EXPECT_EQ(LinesWith("Remote info server is running on port " + std::to_string(port)), 1u);

    // A second server on the taken port cannot bind.
    EventLogList otherEvents(clock, nullptr, nullptr);
    TrackerInfoStore otherStore;
    RemoteInfoServer other(servers, serverListLock, otherStore, otherEvents, clock);
    RemoteInfoSettings taken = settings;
    taken.port = port;
    EXPECT_EQ(other.StartInfoServer(taken, otherEvents, "127.0.0.1"), 0);
    EXPECT_FALSE(other.IsRunning());
    ASSERT_EQ(otherEvents.Count(), 2u);
    EXPECT_NE(otherEvents.Lines()[1].find("Error: can not create socket for port " + std::to_string(port)),
              std::string::npos);

    // The stop wakes the worker blocked in its receive and says so; a quiet stop says nothing.
    server.StopInfoServer(false);
    EXPECT_FALSE(server.IsRunning());
    EXPECT_EQ(LinesWith("Remote info server stopped"), 1u);
    EXPECT_EQ(other.StartInfoServer(taken, otherEvents, "127.0.0.1"), 1);  // the port is free again
    other.StopInfoServer(true);
    EXPECT_EQ(otherEvents.Count(), 4u);

    // Restart: off when disabled or without a password, on with both.
    RemoteInfoSettings off = settings;
    off.enabled = 0;
    EXPECT_EQ(server.Restart(off), 0);
    EXPECT_FALSE(server.IsRunning());
    RemoteInfoSettings noPassword = settings;
    noPassword.password.clear();
    EXPECT_EQ(server.Restart(noPassword), 0);
    EXPECT_FALSE(server.IsRunning());
    RemoteInfoSettings renewed = settings;
    renewed.password = "candle";
    EXPECT_EQ(server.Restart(renewed), 1);
    EXPECT_EQ(LinesWith("Remote info server stopped"), 1u);  // nothing ran to be stopped
    const size_t lines = events.Count();
    EXPECT_EQ(server.Restart(renewed), 1);  // unchanged settings: it keeps running, without a line
    EXPECT_EQ(events.Count(), lines);
    renewed.password = "candle wick";
    EXPECT_EQ(server.Restart(renewed), 1);
    EXPECT_EQ(LinesWith("Remote info server stopped"), 2u);
    check = info::PasswordCheck("candle wick");
    EXPECT_EQ(StatusOf(RawRequest(6, check, std::string("k\0", 2))), -4);
}

}  // namespace
}  // namespace hm
