#include "platform/socket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <thread>

namespace hm {
namespace {

constexpr auto kGenerous = std::chrono::seconds(20);  // only ever reached when something is broken

std::array<uint8_t, 4> Bytes(uint32_t networkOrder) {
    std::array<uint8_t, 4> bytes{};
    std::memcpy(bytes.data(), &networkOrder, 4);
    return bytes;
}

// A listener on 127.0.0.1 and one connected pair of sockets.
struct Connection {
    TcpSocket listener, client, server, udp;
    uint16_t port = 0;

    bool Open() {
        if (!listener.EnsureTcp() || !listener.Bind(LoopbackAddress(), 0) || !listener.Listen()) return false;
        port = listener.LocalPort();
        std::future<bool> accepted = std::async(std::launch::async, [this] { return listener.Accept(server); });
        const bool connected = client.EnsureTcp() && client.Connect(LoopbackAddress(), port);
        return accepted.get() && connected;
    }
};

// Runs f on its own thread and reports whether it finished in time; a hung call is left behind
// rather than hanging the whole test program.
template <typename F>
bool FinishesSoon(F f) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> finished = done->get_future();
    std::thread([f, done]() mutable {
        f();
        done->set_value();
    }).detach();
    return finished.wait_for(kGenerous) == std::future_status::ready;
}

TEST(Address, ParseAcceptsOnlyStrictDottedQuads) {
    struct Case {
        const char* text;
        bool valid;
        std::array<uint8_t, 4> bytes;
    } cases[] = {
        {"127.0.0.1", true, {127, 0, 0, 1}},
        {"255.255.255.255", true, {255, 255, 255, 255}},
        {"192.168.10.200", true, {192, 168, 10, 200}},
        {"", false, {}},
        {"1.2.3", false, {}},
        {"1.2.3.4.5", false, {}},
        {".1.2.3", false, {}},
        {"1..2.3", false, {}},
        {"256.1.1.1", false, {}},
        {"1234.1.1.1", false, {}},
        {"01.2.3.4", false, {}},
        {" 1.2.3.4", false, {}},
        {"+1.2.3.4", false, {}},
        {"1.2.3.-4", false, {}},
        {"a.b.c.d", false, {}},
        {"0x7f.0.0.1", false, {}},
    };
    for (const Case& c : cases) {
        uint32_t address = 0xDEADBEEF;
        EXPECT_EQ(ParseAddress(c.text, address), c.valid) << c.text;
        if (c.valid) {
            EXPECT_EQ(Bytes(address), c.bytes) << c.text;
            EXPECT_EQ(AddressText(address), c.text);
        } else {
            EXPECT_EQ(address, 0xDEADBEEFu) << "a rejected text leaves the address alone: " << c.text;
        }
    }
}

TEST(Address, HostNameAndResolution) {
    EXPECT_FALSE(HostName().empty());
    EXPECT_EQ(Bytes(LoopbackAddress()), (std::array<uint8_t, 4>{127, 0, 0, 1}));
    EXPECT_EQ(ResolveIPv4("127.0.0.1"), std::vector<uint32_t>{LoopbackAddress()});
    const std::vector<uint32_t> local = ResolveIPv4("localhost");
    EXPECT_NE(std::find(local.begin(), local.end(), LoopbackAddress()), local.end());
    EXPECT_TRUE(ResolveIPv4("").empty());
}

TEST(TcpSocket, EchoesAServerMessagesCompletelyEvenWhenLarge) {
    Connection c;
    ASSERT_TRUE(c.Open());
    std::thread echo([&c] {
        std::vector<char> buffer(65536);
        for (;;) {
            const int got = c.server.Receive(buffer.data(), static_cast<int>(buffer.size()));
            if (got <= 0) break;
            if (c.server.SendBytes(buffer.data(), static_cast<size_t>(got)) != got) break;
        }
        c.server.Close();
    });

    std::string large(6 * 1024 * 1024, '\0');
    for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>('a' + (i * 7 + i / 4096) % 26);
    std::string received;
    c.client.SetReceiveTimeout(10000);  // a lost byte ends the test instead of hanging it
    std::thread reader([&] {
        char buffer[8192];
        while (received.size() < large.size()) {
            const int got = c.client.Receive(buffer, sizeof buffer);
            if (got <= 0) break;
            received.append(buffer, static_cast<size_t>(got));
        }
    });
    EXPECT_EQ(c.client.Send(large), static_cast<int>(large.size()));
    reader.join();
    EXPECT_TRUE(received == large) << "received " << received.size() << " of " << large.size() << " bytes";
    c.client.Close();
    echo.join();
}

TEST(TcpSocket, ConcurrentSendsNeverInterleave) {
    Connection c;
    ASSERT_TRUE(c.Open());
    constexpr int kLines = 40;
    constexpr size_t kLineSize = 128 * 1024;  // larger than a socket buffer: forces partial sends
    const char letters[] = {'A', 'B', 'C'};
    std::string received;
    c.server.SetReceiveTimeout(10000);
    std::thread reader([&] {
        char buffer[65536];
        while (received.size() < 3 * kLines * kLineSize) {
            const int got = c.server.Receive(buffer, sizeof buffer);
            if (got <= 0) break;
            received.append(buffer, static_cast<size_t>(got));
        }
    });
    std::vector<std::thread> senders;
    for (char letter : letters)
        senders.emplace_back([&c, letter] {
            const std::string line = std::string(kLineSize - 1, letter) + "\n";
            for (int i = 0; i < kLines; ++i) c.client.Send(line);
        });
    for (auto& t : senders) t.join();
    reader.join();
    ASSERT_EQ(received.size(), 3 * kLines * kLineSize);
    for (size_t start = 0; start < received.size(); start += kLineSize) {
        const std::string line = received.substr(start, kLineSize);
        ASSERT_EQ(line.back(), '\n') << "line at " << start;
        ASSERT_EQ(line.find_first_not_of(line[0]), kLineSize - 1) << "mixed line at " << start;
    }
}

TEST(TcpSocket, ReceiveTimesOutAndNeverWritesPastTheBuffer) {
    char buffer[16];
    TcpSocket none;
    EXPECT_EQ(none.Send("text"), -1);
    EXPECT_EQ(none.Receive(buffer, sizeof buffer), -1);
    Connection c;
    ASSERT_TRUE(c.Open());
    std::memset(buffer, 'x', sizeof buffer);
    c.client.SetReceiveTimeout(100);
    EXPECT_EQ(c.client.Receive(buffer, 8), 0);
    EXPECT_EQ(buffer[0], '\0');

    ASSERT_EQ(c.server.Send("0123456789ABCDEF"), 16);
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(c.client.Receive(buffer, 8, TcpSocket::kPeek), 7);
    EXPECT_STREQ(buffer, "0123456");
    EXPECT_EQ(buffer[8], 'x');
    EXPECT_EQ(c.client.Receive(buffer, 8), 7) << "a peek consumes nothing";
    EXPECT_STREQ(buffer, "0123456");
    EXPECT_EQ(c.client.Receive(buffer, 1), -1) << "no room for a byte besides the NUL";
    EXPECT_EQ(c.client.Receive(buffer, 16), 9);
    EXPECT_STREQ(buffer, "789ABCDEF");

    c.server.Close();
    EXPECT_EQ(c.client.Receive(buffer, 16), 0) << "the peer closed";
}

TEST(TcpSocket, FailedConnectLeavesTheSocketUsableForTheNextAddress) {
    TcpSocket listener;
    ASSERT_TRUE(listener.EnsureTcp() && listener.Bind(LoopbackAddress(), 0) && listener.Listen());
    const uint16_t freePort = FindFreeTcpPort();
    ASSERT_NE(freePort, 0);
    ASSERT_NE(freePort, listener.LocalPort());

    TcpSocket client;
    ASSERT_TRUE(client.EnsureTcp());
    EXPECT_FALSE(client.Connect(LoopbackAddress(), freePort));
    EXPECT_TRUE(client.ConnectWithTimeout(LoopbackAddress(), listener.LocalPort(), 10000));
    TcpSocket accepted;
    uint32_t peer = 0;
    uint16_t peerPort = 0;
    ASSERT_TRUE(listener.Accept(accepted, &peer, &peerPort));
    EXPECT_EQ(peer, LoopbackAddress());
    EXPECT_NE(peerPort, 0);
}

TEST(TcpSocket, SendToAClosedPeerFailsWithoutKillingUs) {
    Connection c;
    ASSERT_TRUE(c.Open());
    c.server.Close();
    const std::string chunk(256 * 1024, 'z');
    int result = 0;
    for (int i = 0; i < 50 && result >= 0; ++i) result = c.client.Send(chunk);  // SIGPIPE would end the program
    EXPECT_EQ(result, -1);
}

TEST(TcpSocket, CloseFromAnotherThreadWakesBlockedCalls) {
    char buffer[64];
    uint32_t from = 0;
    uint16_t port = 0;
    TcpSocket accepted;
    const struct {
        const char* name;
        TcpSocket Connection::*target;
        std::function<int(TcpSocket&)> call;
    } cases[] = {
        {"receive", &Connection::client, [&](TcpSocket& s) { return s.Receive(buffer, sizeof buffer); }},
        {"peek", &Connection::client, [&](TcpSocket& s) { return s.Receive(buffer, sizeof buffer, TcpSocket::kPeek); }},
        {"accept", &Connection::listener, [&](TcpSocket& s) { return s.Accept(accepted) ? 1 : -1; }},
        {"datagram", &Connection::udp, [&](TcpSocket& s) { return s.ReceiveFrom(buffer, sizeof buffer, from, port); }},
    };
    for (const auto& c : cases) {
        auto connection = std::make_shared<Connection>();  // outlives a hung call
        ASSERT_TRUE(connection->Open());
        ASSERT_TRUE(connection->udp.Create(SocketType::Datagram) && connection->udp.Bind(LoopbackAddress(), 0));
        TcpSocket& target = (*connection).*(c.target);
        std::future<int> blocked = std::async(std::launch::async, [&] { return c.call(target); });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let it reach the wait
        EXPECT_TRUE(FinishesSoon([connection, &target] { target.Close(); })) << c.name;
        ASSERT_EQ(blocked.wait_for(kGenerous), std::future_status::ready) << c.name;
        EXPECT_EQ(blocked.get(), -1) << c.name;
        EXPECT_FALSE(target.IsValid()) << c.name;
    }
}

TEST(DatagramSocket, ExchangesDatagramsOnLoopback) {
    TcpSocket server, client;
    ASSERT_TRUE(server.Create(SocketType::Datagram));
    ASSERT_TRUE(server.Bind(0, 0));  // every local address, any port
    ASSERT_TRUE(client.Create(SocketType::Datagram));
    ASSERT_TRUE(client.Bind(LoopbackAddress(), 0));
    const uint16_t serverPort = server.LocalPort();
    ASSERT_NE(serverPort, 0);

    const char request[] = {2, 1, 7, 0, 0, 0, 0, 0};  // binary, with NUL bytes
    ASSERT_EQ(client.SendTo(request, sizeof request, LoopbackAddress(), serverPort, 1000), 8);
    char buffer[1500];
    uint32_t from = 0;
    uint16_t fromPort = 0;
    ASSERT_EQ(server.ReceiveFrom(buffer, sizeof buffer, from, fromPort), 8);
    EXPECT_EQ(std::memcmp(buffer, request, 8), 0);
    EXPECT_EQ(from, LoopbackAddress());
    EXPECT_EQ(fromPort, client.LocalPort());

    const std::string reply(528, 'r');
    ASSERT_EQ(server.SendTo(reply.data(), reply.size(), from, fromPort, 25), 528);
    char small[100];
    EXPECT_EQ(client.ReceiveFrom(small, sizeof small, from, fromPort), 100) << "cut to the buffer";
    EXPECT_EQ(fromPort, serverPort);

    client.SetReceiveTimeout(100);
    EXPECT_EQ(client.ReceiveFrom(small, sizeof small, from, fromPort), 0);
    EXPECT_EQ(from, 0u) << "a time-out names no sender";
}

}  // namespace
}  // namespace hm
