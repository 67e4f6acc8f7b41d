// The event list: stamp, cut, trim, call order across threads, and the off switches.
#include <gtest/gtest.h>

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "eventlog/event_log.h"
#include "eventlog/event_loop.h"
#include "eventlog/jotwell_binding.h"
#include "platform/clock.h"

namespace hm {
namespace {

// A loop whose thread is the test thread; posted tasks wait until Pump().
class PumpLoop : public EventLoop {
public:
    void Post(std::function<void()> task) override {
        std::lock_guard<std::mutex> lock(mutex);
        tasks.push_back(std::move(task));
    }
    bool IsLoopThread() const override { return std::this_thread::get_id() == owner; }
    unsigned SetTimer(uint32_t, std::function<void()>) override { return 1; }
    void KillTimer(unsigned) override {}
    void Pump() {
        for (;;) {
            std::function<void()> task;
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (tasks.empty()) return;
                task = std::move(tasks.front());
                tasks.pop_front();
            }
            task();
        }
    }
    size_t Pending() {
        std::lock_guard<std::mutex> lock(mutex);
        return tasks.size();
    }
    std::thread::id owner = std::this_thread::get_id();
    std::mutex mutex;
    std::deque<std::function<void()>> tasks;
};

struct RecordingSink : EventListSink {
    void EventLineAdded(const std::string& line) override { added.push_back(line); }
    void EventLinesRemoved(size_t count) override { removed += count; }
    std::vector<std::string> added;
    size_t removed = 0;
};

TEST(EventLog, LineIsTheLocalStampFollowedByTheText) {
    ManualClock clock(1000, LocalTime{2026, 3, 7, 9, 5, 4, 0, 6});
    EventLogList list(clock, nullptr, nullptr);
    list.AddEvent("Server %u: Scheduled.", 1u);
    ASSERT_EQ(list.Count(), 1u);
    EXPECT_EQ(list.Lines()[0], "2026-03-07 09:05:04: Server 1: Scheduled.");
    EXPECT_EQ(EventLogList::Stamp(clock).size(), EventLogList::kStampLength);
}

TEST(EventLog, LongTextsAreCutTo1022Characters) {
    ManualClock clock;
    EventLogList list(clock, nullptr, nullptr);
    struct Case {
        size_t textLength;
        size_t expectedLine;
    };
    const Case cases[] = {{1000, 1021}, {1001, 1022}, {1002, 1022}, {5000, 1022}};
    for (const Case& c : cases) {
        const std::string text(c.textLength, 'x');
        list.AddEvent("%s", text.c_str());
        EXPECT_EQ(list.Lines().back().size(), c.expectedLine) << c.textLength;
    }
}

TEST(EventLog, TrimsFrom801LinesTo780KeepingTheNewest) {
    ManualClock clock;
    RecordingSink sink;
    EventLogList list(clock, nullptr, nullptr);
    list.SetSink(&sink);
    for (int i = 0; i < 800; ++i) list.AddEvent("event %d", i);
    EXPECT_EQ(list.Count(), 800u);
    EXPECT_EQ(sink.removed, 0u);
    list.AddEvent("event %d", 800);
    ASSERT_EQ(list.Count(), 780u);
    EXPECT_EQ(sink.removed, 21u);
    const auto lines = list.Lines();
    EXPECT_NE(lines.front().find("event 21"), std::string::npos);
    EXPECT_NE(lines.back().find("event 800"), std::string::npos);
    // The list never grows past 801 lines: the next trim again starts above 800.
    for (int i = 801; i < 821; ++i) list.AddEvent("event %d", i);
    EXPECT_EQ(list.Count(), 800u);
}

TEST(EventLog, DisabledListDropsEverything) {
    ManualClock clock;
    RecordingSink sink;
    EventLogList list(clock, nullptr, nullptr);
    list.SetSink(&sink);
    list.enabled = false;
    list.AddEvent("dropped");
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_TRUE(sink.added.empty());
}

TEST(EventLog, WorkerLinesArriveOnTheLoopThreadInCallOrder) {
    ManualClock clock;
    PumpLoop loop;
    RecordingSink sink;
    EventLogList list(clock, nullptr, &loop);
    list.SetSink(&sink);

    // A worker's line waits for the loop; it never blocks the worker.
    std::thread worker([&] { list.AddEvent("from worker 1"); });
    worker.join();
    EXPECT_EQ(list.Count(), 0u);
    EXPECT_EQ(loop.Pending(), 1u);

    // A line of the loop thread itself comes after the worker's earlier one.
    list.AddEvent("from loop");
    std::thread worker2([&] { list.AddEvent("from worker 2"); });
    worker2.join();
    loop.Pump();
    ASSERT_EQ(sink.added.size(), 3u);
    EXPECT_NE(sink.added[0].find("from worker 1"), std::string::npos);
    EXPECT_NE(sink.added[1].find("from loop"), std::string::npos);
    EXPECT_NE(sink.added[2].find("from worker 2"), std::string::npos);
}

TEST(EventLog, ManyWorkersLoseNoLineAndKeepEachThreadsOrder) {
    // The operator flips the global-log switch on the loop thread while the workers read it (the
    // library is not bound, so nothing is written).
    ManualClock clock;
    PumpLoop loop;
    JotwellBinding jotwell;
    EventLogList list(clock, &jotwell, &loop);
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < 150; ++i) list.AddEvent("t%d %03d", t, i);
        });
    }
    for (int i = 0; i < 300; ++i) jotwell.setUseGlobalJotwell(i % 2 == 0);
    for (auto& w : workers) w.join();
    loop.Pump();
    const auto lines = list.Lines();
    ASSERT_EQ(lines.size(), 600u);
    int last[4] = {-1, -1, -1, -1};
    for (const auto& line : lines) {
        const std::string text = line.substr(EventLogList::kStampLength);
        const int t = text[1] - '0';
        const int i = std::stoi(text.substr(3));
        EXPECT_EQ(i, last[t] + 1) << line;
        last[t] = i;
    }
}

}  // namespace
}  // namespace hm
