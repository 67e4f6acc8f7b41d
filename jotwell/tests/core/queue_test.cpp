// The queued path: pause and resume, order, stamps of the moment of queuing, the bounded queue and
// its overrun line.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "core_fixture.h"
#include "queue.h"

namespace hm::jotwell {
namespace {

class Queued : public CoreTest {
protected:
    void TearDown() override {
        Control(LE_QUEUE_RESUME);
        CoreTest::TearDown();
    }

    static void Control(uint32_t ext) {
        JotwellOptions o{};
        o.extOptions = ext | LE_QUEUE_CONTROL_ONLY;
        ASSERT_EQ(JotwellExQ("STDOUT", "control", &o), 0);
    }

    int Queue(const std::string& text) {
        JotwellOptions o{};
        o.extOptions = LE_NO_BANNER | LE_DONT_LOG_CONFIG;
        return JotwellExQ((dir / "Q_").c_str(), text.c_str(), &o);
    }

    // Waits (generously: the machine is shared) until the log holds count lines.
    std::vector<std::string> WaitForLines(const std::string& file, size_t count) {
        std::vector<std::string> lines;
        for (int i = 0; i < 1200; ++i) {
            lines = testing::ReadLines(dir / file);
            if (lines.size() >= count && QueuedEntries() == 0) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return lines;
    }
};

TEST_F(Queued, PausedLinesAreWrittenInOrderWithTheirQueuingTimeAfterResume) {
    Control(LE_QUEUE_PAUSE);
    for (int i = 0; i < 500; ++i) ASSERT_EQ(Queue("line " + std::to_string(i)), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(QueuedEntries(), 500u);
    EXPECT_FALSE(testing::FileExists(dir / "Q_2026-01-05.log")) << "a control call pauses without logging";

    Pin(2026, 1, 6);  // written a day later, stamped and named by the moment of queuing
    Control(LE_QUEUE_RESUME);
    const std::vector<std::string> lines = WaitForLines("Q_2026-01-05.log", 500);
    ASSERT_EQ(lines.size(), 500u);
    for (int i = 0; i < 500; ++i) EXPECT_EQ(lines[i], "2026-01-05 12:00:00.000+01:00 line " + std::to_string(i));
    EXPECT_FALSE(testing::FileExists(dir / "Q_2026-01-06.log"));
}

TEST_F(Queued, OverrunTurnsTheLastEntryIntoACountOfLostLines) {
    Control(LE_QUEUE_PAUSE);
    const int total = JOTWELL_QUEUE_CAPACITY + 3;
    for (int i = 0; i < total; ++i) ASSERT_EQ(Queue("line " + std::to_string(i)), 0);
    EXPECT_EQ(QueuedEntries(), static_cast<size_t>(JOTWELL_QUEUE_CAPACITY));
    Control(LE_QUEUE_RESUME);
    const std::vector<std::string> lines = WaitForLines("Q_2026-01-05.log", JOTWELL_QUEUE_CAPACITY);
    ASSERT_EQ(lines.size(), static_cast<size_t>(JOTWELL_QUEUE_CAPACITY));
    EXPECT_EQ(lines[JOTWELL_QUEUE_CAPACITY - 2].substr(30), "line " + std::to_string(JOTWELL_QUEUE_CAPACITY - 2));
    EXPECT_EQ(lines.back().substr(30),
              "Error in library 'jotwell.dll', function 'JotwellExQ ()': Message queue overrun -          4 messages "
              "lost.");
}

TEST_F(Queued, ManyProducersKeepTheirOwnOrder) {
    constexpr int kThreads = 4, kLines = 2000;
    std::vector<std::thread> producers;
    for (int t = 0; t < kThreads; ++t) {
        producers.emplace_back([this, t] {
            for (int i = 0; i < kLines; ++i) Queue("t" + std::to_string(t) + " " + std::to_string(i));
        });
    }
    for (auto& p : producers) p.join();
    const std::vector<std::string> lines = WaitForLines("Q_2026-01-05.log", kThreads * kLines);
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
    std::vector<int> next(kThreads, 0);
    for (const std::string& line : lines) {
        const std::string text = line.substr(30);
        const int t = text[1] - '0';
        ASSERT_EQ(text, "t" + std::to_string(t) + " " + std::to_string(next[t])) << "lost or out of order";
        ++next[t];
    }
}

TEST_F(Queued, RefusedWhileUnloadingAndForBadPrefixes) {
    EXPECT_EQ(JotwellExQ(nullptr, "x", nullptr), JOTWELL_BAD_PREFIX);
    EXPECT_EQ(JotwellExQ("//server/share/x", "x", nullptr), JOTWELL_BAD_PREFIX);
    bAboutToExit = 1;
    EXPECT_EQ(Queue("late"), JOTWELL_UNLOADING);
    bAboutToExit = 0;
    EXPECT_EQ(QueuedEntries(), 0u);
}

}  // namespace
}  // namespace hm::jotwell
