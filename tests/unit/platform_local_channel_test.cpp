#include "platform/local_channel.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <random>
#include <thread>

namespace hm {
namespace {

namespace stdfs = std::filesystem;

constexpr auto kGenerous = std::chrono::seconds(20);  // only ever reached when something is broken
constexpr uint32_t kGenerousMs = 20000;

class TempFolder {
public:
    TempFolder() {
        std::random_device random;
        path_ = stdfs::temp_directory_path() / ("hm-chan-" + std::to_string(random() % 100000000u));
        stdfs::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        stdfs::remove_all(path_, ignored);
    }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    stdfs::path path_;
};

// Serves one request in the background: answers "got:" + request.
std::future<bool> ServeOnce(LocalServer& server, uint32_t timeoutMs = kGenerousMs) {
    return std::async(std::launch::async, [&server, timeoutMs] {
        std::string request;
        int connection = -1;
        if (!server.Accept(timeoutMs, request, connection)) return false;
        return server.Answer(connection, "got:" + request);
    });
}

TEST(LocalChannel, RequestAndAnswerRoundTrip) {
    TempFolder folder;
    const std::string path = folder.File("instance.sock");
    LocalServer server;
    ASSERT_TRUE(server.Listen(path));
    for (const std::string& request : {std::string("status"), std::string("start A\0B", 9), std::string(40000, 'q')}) {
        std::future<bool> served = ServeOnce(server);
        std::string answer;
        EXPECT_TRUE(LocalRequest(path, request, answer, kGenerousMs));
        EXPECT_TRUE(answer == "got:" + request) << answer.size();
        EXPECT_TRUE(served.get());
    }
    server.Close();
    EXPECT_FALSE(stdfs::exists(path)) << "Close removes its socket file";
    std::string answer = "stale";
    EXPECT_FALSE(LocalRequest(path, "status", answer, 1000));
    EXPECT_EQ(answer, "");
}

TEST(LocalChannel, RequestsAreCutAtTheCap) {
    TempFolder folder;
    const std::string path = folder.File("cap.sock");
    LocalServer server;
    ASSERT_TRUE(server.Listen(path));
    std::future<std::string> received = std::async(std::launch::async, [&server] {
        std::string request;
        int connection = -1;
        if (!server.Accept(kGenerousMs, request, connection)) return std::string("accept failed");
        server.Answer(connection, "");
        return request;
    });
    std::string answer;
    LocalRequest(path, std::string(LocalServer::kMaxRequest + 5000, 'x'), answer, kGenerousMs);  // may fail: cut off
    EXPECT_EQ(received.get(), std::string(LocalServer::kMaxRequest, 'x'));
}

TEST(LocalChannel, CloseWakesABlockedAccept) {
    TempFolder folder;
    LocalServer server;
    ASSERT_TRUE(server.Listen(folder.File("wake.sock")));
    std::future<bool> accepted = std::async(std::launch::async, [&server] {
        std::string request;
        int connection = -1;
        return server.Accept(0xFFFFFFFFu, request, connection);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    server.Close();
    ASSERT_EQ(accepted.wait_for(kGenerous), std::future_status::ready);
    EXPECT_FALSE(accepted.get());
}

TEST(LocalChannel, SilentClientDoesNotHoldTheServer) {
    TempFolder folder;
    const std::string path = folder.File("silent.sock");
    LocalServer server;
    ASSERT_TRUE(server.Listen(path));
    LocalClient silent;
    ASSERT_TRUE(silent.Connect(path, kGenerousMs));  // connects, then says nothing and keeps the line open

    std::future<bool> first = std::async(std::launch::async, [&server] {
        std::string request;
        int connection = -1;
        return server.Accept(200, request, connection);
    });
    ASSERT_EQ(first.wait_for(kGenerous), std::future_status::ready);
    EXPECT_FALSE(first.get());

    std::future<bool> served = ServeOnce(server);
    std::string answer;
    EXPECT_TRUE(LocalRequest(path, "front", answer, kGenerousMs));
    EXPECT_EQ(answer, "got:front");
    EXPECT_TRUE(served.get());
    std::string nothing = "x";
    EXPECT_TRUE(silent.ReceiveAll(nothing, kGenerousMs)) << "the server hung up on the silent client";
    EXPECT_EQ(nothing, "");
}

TEST(LocalChannel, AnswerOnlyOnConnectionsItHandedOut) {
    TempFolder folder;
    const std::string path = folder.File("ids.sock");
    LocalServer server;
    ASSERT_TRUE(server.Listen(path));
    // Standard descriptors and arbitrary numbers are not connections: they must stay untouched.
    bool openBefore[3];
    for (int id = 0; id < 3; ++id) openBefore[id] = stdfs::exists("/proc/self/fd/" + std::to_string(id));
    for (int id : {-1, 0, 1, 2, 999}) EXPECT_FALSE(server.Answer(id, "x")) << id;
    for (int id = 0; id < 3; ++id) EXPECT_EQ(stdfs::exists("/proc/self/fd/" + std::to_string(id)), openBefore[id]) << id;

    std::future<int> accepted = std::async(std::launch::async, [&server] {
        std::string request;
        int connection = -1;
        return server.Accept(kGenerousMs, request, connection) ? connection : -1;
    });
    LocalClient client;
    ASSERT_TRUE(client.Connect(path, kGenerousMs));
    ASSERT_TRUE(client.Send("ping", kGenerousMs));
    ASSERT_TRUE(client.FinishSending());
    const int connection = accepted.get();
    ASSERT_GE(connection, 0);
    EXPECT_TRUE(server.Answer(connection, "pong"));
    EXPECT_FALSE(server.Answer(connection, "again")) << "answered connections are closed";
    std::string answer;
    EXPECT_TRUE(client.ReceiveAll(answer, kGenerousMs));
    EXPECT_EQ(answer, "pong");
}

TEST(LocalChannel, ListenReplacesOnlyStaleSocketFiles) {
    TempFolder folder;
    const std::string path = folder.File("instance.sock");

    // A stale file: the socket of an instance that is gone, left behind without a listener.
    {
        LocalServer gone;
        ASSERT_TRUE(gone.Listen(folder.File("old.sock")));
        stdfs::rename(folder.File("old.sock"), path);
    }
    ASSERT_TRUE(stdfs::is_socket(path));
    LocalServer server;
    ASSERT_TRUE(server.Listen(path));

    // A live instance keeps its socket.
    LocalServer second;
    EXPECT_FALSE(second.Listen(path));
    std::future<bool> served = ServeOnce(server);
    std::string answer;
    EXPECT_TRUE(LocalRequest(path, "still here", answer, kGenerousMs));
    EXPECT_TRUE(served.get());
    second.Close();
    EXPECT_TRUE(stdfs::is_socket(path)) << "a failed Listen must not remove another's file";

    // Anything but a socket is never deleted.
    const std::string plain = folder.File("plain.txt");
    { std::ofstream(plain) << "keep me"; }
    LocalServer third;
    EXPECT_FALSE(third.Listen(plain));
    EXPECT_TRUE(stdfs::is_regular_file(plain));

    // Paths too long for a socket address fail cleanly.
    EXPECT_FALSE(third.Listen(folder.File(std::string(200, 'n'))));
}

}  // namespace
}  // namespace hm
