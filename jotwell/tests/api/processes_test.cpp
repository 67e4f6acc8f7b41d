// Several processes and threads logging into one file at once, synchronously and through the
// queue, and a lock holder that dies.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <set>
#include <thread>

#include "api_fixture.h"
#include "platform/named_mutex.h"

namespace hm::jotwell {
namespace {

constexpr int kProcesses = 4, kThreads = 3, kLines = 300;
const std::string kPayload(120, '#');

std::string LineText(int p, int t, int n) {
    return "p" + std::to_string(p) + " t" + std::to_string(t) + " n" + std::to_string(n) + " " + kPayload;
}

// Every line of the log: banners counted, the others checked to be intact and unique, and the order
// of each writer thread checked.
struct Census {
    int banners = 0;
    int broken = 0;
    std::set<std::string> seen;
    int duplicates = 0;
    int outOfOrder = 0;
};

Census Count(const std::string& path) {
    Census c;
    std::map<std::pair<int, int>, int> next;
    for (const std::string& line : testing::ReadLines(path)) {
        if (line.find("*** Jotwell (jotwell.dll) 1.6.32") == 30) {
            ++c.banners;
            continue;
        }
        int p = -1, t = -1, n = -1;
        const std::string text = line.size() > 30 ? line.substr(30) : "";
        if (std::sscanf(text.c_str(), "p%d t%d n%d", &p, &t, &n) != 3 || text != LineText(p, t, n)) {
            ++c.broken;
            continue;
        }
        if (!c.seen.insert(text).second) ++c.duplicates;
        if (next[{p, t}] != n) ++c.outOfOrder;
        next[{p, t}] = n + 1;
    }
    return c;
}

class Processes : public ApiTest {};

TEST_F(Processes, EveryLineOfEveryWriterArrivesOnceAndWhole) {
    const std::string prefix = dir / "Shared_";
    std::vector<int> children;
    for (int p = 0; p < kProcesses; ++p) {
        children.push_back(testing::ForkChild([&, p] {
            std::vector<std::thread> threads;
            int failures = 0;
            std::mutex failuresLock;
            for (int t = 0; t < kThreads; ++t) {
                threads.emplace_back([&, t] {
                    JotwellOptions o{};
                    o.extOptions = LE_DONT_LOG_CONFIG;
                    for (int n = 0; n < kLines; ++n) {
                        if (JotwellEx(prefix.c_str(), LineText(p, t, n).c_str(), &o) != 0) {
                            std::lock_guard<std::mutex> guard(failuresLock);
                            ++failures;
                        }
                    }
                });
            }
            for (auto& th : threads) th.join();
            return failures == 0 ? 0 : 1;
        }));
    }
    for (int pid : children) EXPECT_EQ(testing::WaitChild(pid), 0);
    const Census c = Count(TodaysLog("Shared_"));
    EXPECT_EQ(c.broken, 0);
    EXPECT_EQ(c.duplicates, 0);
    EXPECT_EQ(c.outOfOrder, 0);
    EXPECT_EQ(c.seen.size(), static_cast<size_t>(kProcesses * kThreads * kLines));
    EXPECT_EQ(c.banners, kProcesses) << "one banner per process";
}

TEST_F(Processes, QueuedLinesOfExitingProcessesAreAllWritten) {
    const std::string prefix = dir / "Queued_";
    std::vector<int> children;
    for (int p = 0; p < kProcesses; ++p) {
        children.push_back(testing::ForkChild([&, p] {
            // Paused: everything is still queued when the process exits, so the unload writes it.
            JotwellOptions pause{};
            pause.extOptions = LE_QUEUE_PAUSE | LE_QUEUE_CONTROL_ONLY;
            JotwellExQ("STDOUT", "", &pause);
            std::vector<std::thread> threads;
            for (int t = 0; t < kThreads; ++t) {
                threads.emplace_back([&, t] {
                    JotwellOptions o{};
                    o.extOptions = LE_DONT_LOG_CONFIG | LE_NO_BANNER;
                    for (int n = 0; n < kLines; ++n) JotwellExQ(prefix.c_str(), LineText(p, t, n).c_str(), &o);
                });
            }
            for (auto& th : threads) th.join();
            std::exit(0);
            return 0;
        }));
    }
    for (int pid : children) EXPECT_EQ(testing::WaitChild(pid), 0);
    const Census c = Count(TodaysLog("Queued_"));
    EXPECT_EQ(c.broken, 0);
    EXPECT_EQ(c.duplicates, 0);
    EXPECT_EQ(c.outOfOrder, 0);
    EXPECT_EQ(c.seen.size(), static_cast<size_t>(kProcesses * kThreads * kLines));
}

TEST_F(Processes, HolderOfTheFileLockTimesOthersOutAndReleasesItWhenKilled) {
    const std::string path = TodaysLog("Held_");
    std::string lockName = "JotwellShr";
    for (char ch : path) {
        if (ch != '/' && ch != ':' && ch != '\\') lockName += ch;
    }
    testing::ProcessSignal locked, never;
    const int holder = testing::ForkChild([&] {
        NamedMutex m;
        if (!m.Create(lockName) || m.Lock(NamedMutex::kInfinite) != NamedMutex::WaitResult::Acquired) return 1;
        locked.Notify();
        never.Wait(60000);
        return 0;
    });
    ASSERT_TRUE(locked.Wait(10000));

    JotwellOptions o{};
    o.extOptions = LE_DONT_LOG_CONFIG | LE_NO_BANNER;
    o.waitMs = 50;
    EXPECT_EQ(JotwellEx((dir / "Held_").c_str(), "blocked", &o), JOTWELL_TIMEOUT);
    EXPECT_FALSE(testing::FileExists(path)) << "nothing written on a time-out";

    testing::KillChild(holder);
    EXPECT_EQ(testing::WaitChild(holder), 128 + 9);
    EXPECT_EQ(JotwellEx((dir / "Held_").c_str(), "after the holder died", &o), JOTWELL_OK);
    EXPECT_EQ(Texts(path), std::vector<std::string>{"after the holder died"});
}

}  // namespace
}  // namespace hm::jotwell
