#include "platform/local_channel.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <random>
#include <vector>

namespace hm {
namespace {

constexpr uint32_t kGenerousMs = 20000;  // only ever reached when something is broken

std::string UniqueName(size_t length = 0) {
    std::random_device random;
    std::string name = (std::filesystem::temp_directory_path() / ("hm-chan-" + std::to_string(random()))).string();
    if (name.size() < length) name += "/" + std::string(length - name.size(), 'r');
    return name;
}

// A served channel on a manual clock; answers "got:" + request at once unless told to hold them.
struct Served {
    explicit Served(const std::string& channel = UniqueName(), bool answer = true) : name(channel), server(clock) {
        options.tooLargeAnswer = "too large";
        options.closingAnswer = "closing";
        ok = server.Listen(name, options, [this, answer](uint64_t id, const std::string& request) {
            std::lock_guard<std::mutex> guard(lock);
            requests.push_back(request);
            if (answer) {
                server.Answer(id, "got:" + request);
            } else {
                held.push_back(id);
            }
        });
    }
    std::vector<uint64_t> Held() {
        std::lock_guard<std::mutex> guard(lock);
        return held;
    }

    std::string name;
    ManualClock clock;
    LocalServerOptions options;
    LocalServer server;
    bool ok = false;
    std::mutex lock;
    std::vector<std::string> requests;
    std::vector<uint64_t> held;
};

TEST(LocalChannel, IdleClientsNeitherDelayOthersNorStayPastTheirTimeOut) {
    Served served;
    ASSERT_TRUE(served.ok);
    std::vector<std::unique_ptr<LocalClient>> idle(200);
    for (auto& client : idle) {
        client = std::make_unique<LocalClient>();
        ASSERT_TRUE(client->Connect(served.name, kGenerousMs));  // and then say nothing
    }
    // The clock stands still: a server that waited for the idle ones one by one would never answer.
    for (const std::string& request : {std::string("status"), std::string("start A\0B", 9), std::string(40000, 'q')}) {
        std::string answer;
        EXPECT_TRUE(LocalRequest(served.name, request, answer, kGenerousMs));
        EXPECT_TRUE(answer == "got:" + request) << answer.size();
    }
    served.clock.Advance(served.options.requestTimeoutMs);
    std::string answer;
    EXPECT_TRUE(LocalRequest(served.name, "front", answer, kGenerousMs));  // wakes the server, which sweeps
    EXPECT_EQ(answer, "got:front");
    for (auto& client : idle) {
        std::string nothing = "x";
        EXPECT_TRUE(client->ReceiveAll(nothing, kGenerousMs)) << "the server hung up on the idle client";
        EXPECT_EQ(nothing, "");
    }
}

TEST(LocalChannel, RequestsOverTheCapAreReadToTheirEndAndAnsweredTooLarge) {
    Served served;
    ASSERT_TRUE(served.ok);
    struct Case { size_t size; bool delivered; };
    for (const Case& c : {Case{LocalServer::kMaxRequest, true}, Case{LocalServer::kMaxRequest + 1, false},
                          Case{20 * LocalServer::kMaxRequest, false}}) {
        const std::string request(c.size, 'x');
        std::string answer;
        ASSERT_TRUE(LocalRequest(served.name, request, answer, kGenerousMs)) << c.size;
        EXPECT_EQ(answer, c.delivered ? "got:" + request : "too large") << c.size;
    }
    EXPECT_EQ(served.requests.size(), 1u);
}

TEST(LocalChannel, UnansweredRequestsAreGivenUpOrToldAtClose) {
    Served served(UniqueName(), false);
    ASSERT_TRUE(served.ok);
    auto send = [&](LocalClient& client, const std::string& text) {
        ASSERT_TRUE(client.Connect(served.name, kGenerousMs));
        ASSERT_TRUE(client.Send(text, kGenerousMs));
        ASSERT_TRUE(client.FinishSending());
    };
    auto heldCount = [&](size_t count) {
        for (int i = 0; i < 2000 && served.Held().size() < count; ++i) RealClock().Sleep(5);
        return served.Held().size();
    };
    LocalClient late, atClose;
    send(late, "late");
    ASSERT_EQ(heldCount(1), 1u);
    served.clock.Advance(served.options.answerTimeoutMs);
    send(atClose, "at close");  // wakes the server, which gives up on the first
    ASSERT_EQ(heldCount(2), 2u);
    std::string answer = "x";
    EXPECT_TRUE(late.ReceiveAll(answer, kGenerousMs));
    EXPECT_EQ(answer, "");
    const uint64_t lateId = served.Held()[0];
    EXPECT_FALSE(served.server.Answer(lateId, "too late"));
    EXPECT_FALSE(served.server.Answer(lateId + 1000, "unknown"));

    served.server.Close();
    EXPECT_TRUE(atClose.ReceiveAll(answer, kGenerousMs));
    EXPECT_EQ(answer, "closing");
    EXPECT_FALSE(served.server.Answer(served.Held()[1], "after close"));
}

TEST(LocalChannel, AnyNameLengthWorksAndOneNameHasOneServer) {
    const std::string name = UniqueName(300);  // far beyond the 108 bytes of a socket file name
    Served first(name);
    ASSERT_TRUE(first.ok);
    Served second(name);
    EXPECT_FALSE(second.ok) << "a second server on a served name";
    std::string answer;
    EXPECT_TRUE(LocalRequest(name, "still here", answer, kGenerousMs));
    EXPECT_EQ(answer, "got:still here");
    EXPECT_FALSE(LocalRequest(name + "x", "other", answer, 1000)) << "nobody serves another name";
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(name).parent_path())) << "no socket file anywhere";

    first.server.Close();
    EXPECT_FALSE(LocalRequest(name, "gone", answer, 1000));
    Served third(name);
    EXPECT_TRUE(third.ok) << "a closed name is free again";
}

}  // namespace
}  // namespace hm
