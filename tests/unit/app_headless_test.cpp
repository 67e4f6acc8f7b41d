// The headless front-end's loop and the command words handed over by a second start.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "app/commands.h"
#include "app/headless_loop.h"

namespace hm {
namespace {

TEST(HeadlessLoop, RunsPostedTasksInOrderAndTimersUntilQuit) {
    HeadlessLoop loop;
    std::vector<int> order;
    int ticks = 0;
    const unsigned timer = loop.SetTimer(5, [&] {
        if (++ticks == 3) loop.Quit();
    });
    EXPECT_NE(timer, 0u);
    std::thread worker([&] {
        for (int i = 0; i < 100; ++i) loop.Post([&order, i] { order.push_back(i); });
    });
    worker.join();
    loop.Run();
    EXPECT_EQ(ticks, 3);
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(order[i], i);
    EXPECT_TRUE(loop.IsLoopThread());
}

TEST(HeadlessLoop, KilledTimerNeverRunsAgainAndAFlagEndsTheRun) {
    HeadlessLoop loop;
    int fired = 0;
    const unsigned timer = loop.SetTimer(1, [&] { ++fired; });
    loop.KillTimer(timer);
    std::atomic<bool> quit{false};
    std::thread signaller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        quit = true;
    });
    loop.Run(&quit, 5);
    signaller.join();
    EXPECT_EQ(fired, 0);
}

TEST(Commands, WordsSurviveTheTripIncludingBlanks) {
    const std::vector<std::vector<std::string>> cases = {
        {"status"},
        {"start", "Capture the Flag #1", "Anarchy"},
        {"stop", "2092", "2093"},
        {"start", ""},
    };
    for (const auto& words : cases) EXPECT_EQ(DecodeCommand(EncodeCommand(words)), words);
}

}  // namespace
}  // namespace hm
