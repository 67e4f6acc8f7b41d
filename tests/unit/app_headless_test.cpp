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

TEST(Commands, WordsSurviveTheTripAndBrokenRequestsAreRefused) {
    const std::vector<std::vector<std::string>> cases = {
        {"status"},
        {"start", "Capture the Flag #1", "Anarchy"},
        {"start", "A\nexit"},  // a newline stays inside its word: never a second command
        {"start", "", std::string("x\0y,1:z", 7)},
    };
    for (const auto& words : cases) {
        std::vector<std::string> decoded;
        EXPECT_TRUE(DecodeCommand(EncodeCommand(words), decoded));
        EXPECT_EQ(decoded, words);
    }
    for (const std::string broken : {"", "status\n", "6:status", "6:status,x", "7:status,", ":,", "-1:a,",
                                     "9999999999:a,"}) {
        std::vector<std::string> decoded;
        EXPECT_FALSE(DecodeCommand(broken, decoded)) << broken;
    }
}

}  // namespace
}  // namespace hm
