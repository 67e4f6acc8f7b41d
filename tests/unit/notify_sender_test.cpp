// The notification sender against a local web hook: the body of each format, the kind filter, the
// retries and the note of lost messages, and the bounded queue under a dead hook. (The test message is
// proved end to end by the headless run and the window test.)
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <atomic>
#include <string>
#include <vector>

#include "eventlog/event_log.h"
#include "notify/event_watch.h"
#include "notify/notification_sender.h"
#include "support/http_test_server.h"
#include "support/text.h"

namespace hm {
namespace {

using test_support::HttpReply;
using test_support::HttpRequest;
using test_support::HttpTestServer;
using test_support::WaitFor;
using nlohmann::json;

CNotifyTarget Target(const std::string& name, const std::string& url, NotifyFormat format,
                     uint32_t kinds = kAllNotifyKinds) {
    return CNotifyTarget{name, url, format, kinds};
}

NotifyMessage Message(NotifyKind kind, unsigned port, const std::string& name, const std::string& text) {
    NotifyMessage m;
    m.time = {2026, 1, 5, 9, 7, 3, 0, 1};
    m.kind = kind;
    m.port = port;
    m.serverName = name;
    m.text = text;
    return m;
}

std::vector<HttpRequest> RequestsTo(const HttpTestServer& hook, const std::string& path) {
    std::vector<HttpRequest> found;
    for (const HttpRequest& r : hook.Requests())
        if (r.path == path) found.push_back(r);
    return found;
}

TEST(NotificationSender, EachFormatGetsItsBodyAndOnlyTheKindsItAsksFor) {
    HttpTestServer hook([](const HttpRequest&) { return HttpReply::Text("", "204 No Content"); });
    ASSERT_TRUE(hook.Ok());
    ManualClock clock;
    NotificationSender sender(clock, nullptr);
    sender.SetTargets({Target("chat", hook.Url("/chat"), NotifyFormat::Discord, NotifyKindBit(NotifyKind::Crash)),
                       Target("machine", hook.Url("/machine"), NotifyFormat::Json)});
    sender.Start();
    // A name with every character JSON must escape, a Windows-1252 quote pair and a mention.
    const std::string name = "Al\"ph\\a\n\x93@everyone\x94\x81";
    sender.Enqueue(Message(NotifyKind::Crash, 2300, name, "Server 2300: Not running anymore -> Restart."));
    sender.Enqueue(Message(NotifyKind::Update, 0, "", "Restarting Haldmoor3..."));
    ASSERT_TRUE(WaitFor([&] { return hook.RequestCount() == 3 && sender.Counts().sent == 3; }, 30));

    const std::vector<HttpRequest> chat = RequestsTo(hook, "/chat");
    ASSERT_EQ(chat.size(), 1u);
    EXPECT_EQ(chat[0].method, "POST");
    EXPECT_EQ(chat[0].Header("Content-Type"), "application/json");
    const json discord = json::parse(chat[0].body);
    EXPECT_EQ(discord["content"],
              "[crash] Server 2300 (Al\"ph\\a\n\u201c@everyone\u201d\u0081): Not running anymore -> Restart.");
    EXPECT_EQ(discord["allowed_mentions"], json::parse(R"({"parse": []})"));

    const std::vector<HttpRequest> machine = RequestsTo(hook, "/machine");
    ASSERT_EQ(machine.size(), 2u);
    EXPECT_EQ(json::parse(machine[0].body),
              json({{"time", "2026-01-05T09:07:03"}, {"port", 2300}, {"server", "Al\"ph\\a\n\u201c@everyone\u201d\u0081"},
                    {"event", "crash"}, {"text", "Server 2300: Not running anymore -> Restart."}, {"dropped", 0}}));
    EXPECT_EQ(json::parse(machine[1].body),
              json({{"time", "2026-01-05T09:07:03"}, {"port", nullptr}, {"server", nullptr}, {"event", "update"},
                    {"text", "Restarting Haldmoor3..."}, {"dropped", 0}}));

    // A chat message is cut to its limit in characters, never inside one.
    const std::string longText(2500, '\xE9');
    const json cut = json::parse(NotifyBody(NotifyFormat::Discord, Message(NotifyKind::Error, 0, "", longText), 7));
    std::string accents;
    for (int i = 0; i < 1992; ++i) accents += "\u00e9";
    EXPECT_EQ(cut["content"], "[error] " + accents);
}

TEST(NotificationSender, ServerErrorsAreTriedAgainAndRefusalsAreNot) {
    std::atomic<int> answered{0};
    std::atomic<bool> refuse{false};
    HttpTestServer hook([&](const HttpRequest&) {
        if (refuse) return HttpReply::Text("no such hook", "404 Not Found");
        return HttpReply::Text("", ++answered <= 2 ? "500 Internal Server Error" : "200 OK");
    });
    ManualClock clock;
    EventLogList events(clock, nullptr, nullptr);
    NotificationSender sender(clock, &events);
    sender.SetTargets({Target("ops", hook.Url("/in"), NotifyFormat::Json)});
    sender.Start();
    sender.Enqueue(Message(NotifyKind::Kick, 2300, "", "Server 2300: Player 'x' kicked."));
    ASSERT_TRUE(WaitFor([&] { return sender.Counts().sent == 1; }, 30));
    EXPECT_EQ(hook.RequestCount(), 3u);
    EXPECT_EQ(clock.SleptMs(), 3000u) << "waits of 1 s and 2 s";
    EXPECT_EQ(sender.Counts().failed, 0u);

    refuse = true;
    sender.Enqueue(Message(NotifyKind::Kick, 2300, "", "Server 2300: Player 'y' kicked."));
    ASSERT_TRUE(WaitFor([&] { return sender.Counts().failed == 1; }, 30));
    EXPECT_EQ(hook.RequestCount(), 4u);
    EXPECT_EQ(events.Lines().back().substr(EventLogList::kStampLength),
              "Warning: Notification target ops failed (HTTP 404); its messages wait 30 s.");

    // The next message that gets through tells of the one lost.
    refuse = false;
    sender.Enqueue(Message(NotifyKind::Kick, 2300, "", "Server 2300: Player 'z' kicked."));
    ASSERT_TRUE(WaitFor([&] { return sender.Counts().sent == 2; }, 30));
    EXPECT_EQ(json::parse(hook.Requests().back().body)["dropped"], 1);
    EXPECT_EQ(events.Lines().back().substr(EventLogList::kStampLength), "Notification target ops works again.");
}

TEST(NotificationSender, ADeadHookNeverHoldsUpTheEventList) {
    HttpTestServer hook([](const HttpRequest&) {
        HttpReply reply;
        reply.neverAnswer = true;
        return reply;
    });
    EventLogList events(RealClock(), nullptr, nullptr);
    EventWatch watch(RealClock(), &events);
    events.SetObserver(&watch);
    watch.sender.SetTargets({Target("dead", hook.Url("/in"), NotifyFormat::Discord)});
    watch.sender.Start();
    events.AddEvent("Server %u: Launched.", 2300u);
    ASSERT_TRUE(WaitFor([&] { return hook.RequestCount() == 1; }, 30));  // the sender waits for the answer
    for (int i = 0; i < 600; ++i) events.AddEvent("Server %u: Player 'p%d' kicked by the operator.", 2300u, i);
    const NotificationSender::Figures figures = watch.sender.Counts();
    EXPECT_EQ(figures.queued, NotificationSender::kQueueLimit);
    EXPECT_EQ(figures.dropped, 100u);
    EXPECT_EQ(watch.counters.Take().kicks.at("operator"), 600u) << "counted though never sent";
    watch.sender.Stop(0);  // abandons the transfer that waits for the dead hook
    EXPECT_EQ(hook.RequestCount(), 1u);
    events.SetObserver(nullptr);
}

}  // namespace
}  // namespace hm
