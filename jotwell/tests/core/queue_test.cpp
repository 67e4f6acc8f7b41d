// The queued path: pause and resume, order, stamps of the moment of queuing, the bounded queue and
// its overrun line.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>
#include <vector>

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

    static int QueueTo(const std::string& prefix, const std::string& text, JotwellOptions o) {
        o.extOptions |= LE_NO_BANNER | LE_DONT_LOG_CONFIG;
        return JotwellExQ(prefix.c_str(), text.c_str(), &o);
    }

    // The texts of a log's lines (behind the 29 characters of the stamp and its blank).
    std::vector<std::string> TextsIn(const std::string& file) const {
        std::vector<std::string> texts;
        for (const std::string& line : testing::ReadLines(dir / file)) texts.push_back(line.substr(30));
        return texts;
    }

    // Waits until the queue is empty and done() holds (generously: the machine is shared).
    template <class Done>
    static bool WaitUntil(Done done) {
        for (int i = 0; i < 1200; ++i) {
            if (QueuedEntries() == 0 && done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
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

TEST_F(Queued, LinesTheThreadHasTakenButNotWrittenCountTowardsTheCapacity) {
    // The thread takes the whole queue at once; its first line holds it (a pause after writing), so
    // all lines of its batch still count when a second full load of lines arrives. The last line of
    // that batch becomes the overrun line.
    constexpr int kCapacity = JOTWELL_QUEUE_CAPACITY;
    Control(LE_QUEUE_PAUSE);
    JotwellOptions first{};
    first.extOptions = LE_PAUSE_AFTER;
    first.waitMs = 3000;
    ASSERT_EQ(QueueTo(dir / "Q_", "line 0", first), 0);
    for (int i = 1; i < kCapacity; ++i) ASSERT_EQ(Queue("line " + std::to_string(i)), 0);
    Control(LE_QUEUE_RESUME);
    for (int i = 0; i < 1000 && testing::ReadLines(dir / "Q_2026-01-05.log").empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    Control(LE_QUEUE_PAUSE);  // the thread stops when its pause ends
    for (int i = 0; i < kCapacity; ++i) ASSERT_EQ(Queue("late " + std::to_string(i)), 0);
    EXPECT_EQ(QueuedEntries(), static_cast<size_t>(kCapacity));

    Control(LE_QUEUE_RESUME);
    const std::vector<std::string> lines = WaitForLines("Q_2026-01-05.log", kCapacity);
    ASSERT_EQ(lines.size(), static_cast<size_t>(kCapacity));
    EXPECT_EQ(lines[kCapacity - 2].substr(30), "line " + std::to_string(kCapacity - 2));
    EXPECT_EQ(lines.back().substr(30),
              "Error in library 'jotwell.dll', function 'JotwellExQ ()': Message queue overrun -     100001 messages "
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

TEST_F(Queued, LinesOfSeveralFilesAndOptionsInterleavedKeepTheirOrderInEachFile) {
    // Runs of different length, so that the logging thread sees lines of one file both alone and in
    // long runs, and a change of options inside one file.
    const std::string a = dir / "A_", b = dir / "B_";
    const struct {
        const std::string* prefix;
        uint32_t ext;
        const char* extension;
        const char* file;
    } kinds[] = {
        {&a, 0, nullptr, "A_2026-01-05.log"},
        {&b, 0, nullptr, "B_2026-01-05.log"},
        {&a, 0, ".txt", "A_2026-01-05.txt"},
        {&a, LE_ADD_DOT, nullptr, "A_2026-01-05.log"},
    };
    std::map<std::string, std::vector<std::string>> expected;
    Control(LE_QUEUE_PAUSE);
    int n = 0;
    for (int run = 0; run < 120; ++run) {
        const auto& kind = kinds[(run * 7 + run / 5) % 4];
        for (int i = 0; i < 1 + (run * 13) % 40; ++i, ++n) {
            JotwellOptions o{};
            o.extOptions = kind.ext;
            o.logExtension = kind.extension;
            const std::string text = "n" + std::to_string(n);
            ASSERT_EQ(QueueTo(*kind.prefix, text, o), 0);
            expected[kind.file].push_back(kind.ext ? text + "." : text);
        }
    }
    Control(LE_QUEUE_RESUME);
    ASSERT_EQ(expected.size(), 3u);
    ASSERT_TRUE(WaitUntil([&] {
        for (const auto& [file, texts] : expected) {
            if (testing::ReadLines(dir / file).size() < texts.size()) return false;
        }
        return true;
    }));
    for (const auto& [file, texts] : expected) EXPECT_EQ(TextsIn(file), texts) << file;
}

TEST_F(Queued, VeryLongLinesArriveWholeAndInTheirPlace) {
    std::vector<std::string> texts;
    for (size_t length : {10u, 16383u, 16384u, 10u, 100000u, 0u, 3u * 1024 * 1024, 20u}) {
        std::string text(length, ' ');
        for (size_t i = 0; i < length; ++i) text[i] = static_cast<char>('a' + (i * 7 + length) % 26);
        texts.push_back(text);
    }
    Control(LE_QUEUE_PAUSE);
    for (const std::string& text : texts) ASSERT_EQ(Queue(text), 0);
    Control(LE_QUEUE_RESUME);
    ASSERT_TRUE(WaitUntil([&] { return testing::ReadLines(dir / "Q_2026-01-05.log").size() >= texts.size(); }));
    const std::vector<std::string> written = TextsIn("Q_2026-01-05.log");
    ASSERT_EQ(written.size(), texts.size());
    for (size_t i = 0; i < texts.size(); ++i) EXPECT_TRUE(written[i] == texts[i]) << "line " << i;
}

TEST_F(Queued, ADateChangeInsideOneBatchStartsTheNextFile) {
    Control(LE_QUEUE_PAUSE);
    for (int i = 0; i < 300; ++i) {
        if (i == 170) Pin(2026, 1, 6, 0, 0, 0, 1);
        ASSERT_EQ(Queue("line " + std::to_string(i)), 0);
    }
    Control(LE_QUEUE_RESUME);
    ASSERT_TRUE(WaitUntil([&] { return testing::ReadLines(dir / "Q_2026-01-06.log").size() >= 130; }));
    const std::vector<std::string> first = testing::ReadLines(dir / "Q_2026-01-05.log");
    const std::vector<std::string> second = testing::ReadLines(dir / "Q_2026-01-06.log");
    ASSERT_EQ(first.size(), 170u);
    ASSERT_EQ(second.size(), 130u);
    for (int i = 0; i < 170; ++i) EXPECT_EQ(first[i], "2026-01-05 12:00:00.000+01:00 line " + std::to_string(i));
    for (int i = 0; i < 130; ++i)
        EXPECT_EQ(second[i], "2026-01-06 00:00:00.001+01:00 line " + std::to_string(170 + i));
}

TEST_F(Queued, ABoundedFileIsTrimmedWhileABatchIsWritten) {
    // MinLines 50, MaxLines 100: whenever the lines are trimmed, the file ends with the newest ones.
    Control(LE_QUEUE_PAUSE);
    for (int i = 0; i < 450; ++i) {
        JotwellOptions o{};
        o.logOptions = LO_LINES;
        o.limit1 = 50;
        o.limit2 = 100;
        ASSERT_EQ(QueueTo(dir / "Bound_", "line " + std::to_string(i), o), 0);
    }
    Control(LE_QUEUE_RESUME);
    auto lines = [&] { return TextsIn("Bound_2026-01-05.log"); };
    ASSERT_TRUE(WaitUntil([&] {
        const auto l = lines();
        return !l.empty() && l.back() == "line 449";
    }));
    const std::vector<std::string> kept = lines();
    ASSERT_GE(kept.size(), 50u);
    ASSERT_LE(kept.size(), 100u);
    for (size_t i = 0; i < kept.size(); ++i) EXPECT_EQ(kept[i], "line " + std::to_string(450 - kept.size() + i));
}

TEST_F(Queued, OverrunGivesTheLastEntryThePrefixOfTheNewestLine) {
    Control(LE_QUEUE_PAUSE);
    for (int i = 0; i < JOTWELL_QUEUE_CAPACITY; ++i) ASSERT_EQ(Queue("line " + std::to_string(i)), 0);
    ASSERT_EQ(QueueTo(dir / "Other_", "newest", JotwellOptions{}), 0);
    Control(LE_QUEUE_RESUME);
    ASSERT_TRUE(WaitUntil([&] { return testing::FileExists(dir / "Other_2026-01-05.log"); }));
    const std::vector<std::string> queued = TextsIn("Q_2026-01-05.log");
    ASSERT_EQ(queued.size(), static_cast<size_t>(JOTWELL_QUEUE_CAPACITY - 1));
    EXPECT_EQ(queued.back(), "line " + std::to_string(JOTWELL_QUEUE_CAPACITY - 2));
    EXPECT_EQ(TextsIn("Other_2026-01-05.log"),
              std::vector<std::string>{"Error in library 'jotwell.dll', function 'JotwellExQ ()': Message queue "
                                       "overrun -          2 messages lost."});
}

TEST_F(Queued, CallersStampsAreUsedAndTheQueuingStampsHandedBack) {
    DateStamps given{};
    ComputeStamps({2020, 2, 3, 4, 5, 6, 7, 0}, false, given);
    JotwellOptions o{};
    o.extOptions = LE_STAMPS_TAKEN;
    o.stamps = &given;
    ASSERT_EQ(QueueTo(dir / "S_", "given", o), 0);

    DateStamps returned{};
    o = JotwellOptions{};
    o.stamps = &returned;
    o.logOptions = LO_TIME_T;
    ASSERT_EQ(QueueTo(dir / "S_", "taken", o), 0);
    EXPECT_STREQ(returned.dtmsText, "2026-01-05T12:00:00.000+01:00");

    ASSERT_TRUE(WaitUntil([&] { return testing::FileExists(dir / "S_2026-01-05.log"); }));
    EXPECT_EQ(testing::ReadLines(dir / "S_2020-02-03.log"),
              std::vector<std::string>{"2020-02-03 04:05:06.007+00:00 given"});
    EXPECT_EQ(testing::ReadLines(dir / "S_2026-01-05.log"),
              std::vector<std::string>{"2026-01-05T12:00:00.000+01:00 taken"});
}

TEST_F(Queued, PausingWhileTheThreadWritesLosesNothing) {
    for (int i = 0; i < 20000; ++i) ASSERT_EQ(Queue("line " + std::to_string(i)), 0);
    Control(LE_QUEUE_PAUSE);
    for (int i = 20000; i < 20100; ++i) ASSERT_EQ(Queue("line " + std::to_string(i)), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_LT(testing::ReadLines(dir / "Q_2026-01-05.log").size(), 20100u) << "paused, the thread writes no more";
    Control(LE_QUEUE_RESUME);
    const std::vector<std::string> lines = WaitForLines("Q_2026-01-05.log", 20100);
    ASSERT_EQ(lines.size(), 20100u);
    for (int i = 0; i < 20100; ++i) ASSERT_EQ(lines[i].substr(30), "line " + std::to_string(i));
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
