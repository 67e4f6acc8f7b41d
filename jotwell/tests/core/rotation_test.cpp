// Rotation after a write: compression of old dated logs, archive bounds, deletion, trimming, the
// external packer and the compression lock of other processes. The clock is pinned at 2026-01-05.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "core_fixture.h"
#include "named_lock.h"
#include "rotation.h"

namespace hm::jotwell {
namespace {

using testing::FileExists;
using testing::ReadGzip;
using testing::ReadLines;

class Rotation : public CoreTest {
protected:
    std::string Prefix() const { return dir / "App_"; }
    std::string Log(const std::string& date) const { return dir / ("App_" + date + ".log"); }

    // Old logs, made newest first so that creation order is not name order.
    void MakeLogs(const std::vector<std::string>& dates) {
        std::vector<std::string> reversed(dates.rbegin(), dates.rend());
        for (const std::string& d : reversed) testing::WriteFile(Log(d), "old line of " + d + "\r\n");
    }

    int Write(const std::string& text, JotwellOptions options) {
        options.extOptions |= LE_CONFIG_MERGED | LE_NO_BANNER;
        return JotwellEx(Prefix().c_str(), text.c_str(), &options);
    }

    std::vector<std::string> Files() const { return testing::ListFolder(dir.Path()); }

    bool LogHas(const std::string& text) const {
        for (const std::string& line : ReadLines(Log("2026-01-05"))) {
            if (line.find(text) != std::string::npos) return true;
        }
        return false;
    }
};

TEST_F(Rotation, OldestLogsBecomeGzipArchivesOfTheirContent) {
    MakeLogs({"2026-01-02", "2026-01-03", "2026-01-04"});
    JotwellOptions o{};
    o.limit1 = 2;  // MaxLogs
    ASSERT_EQ(Write("today", o), 0);

    EXPECT_EQ(Files(), (std::vector<std::string>{"App_2026-01-02.log.gz", "App_2026-01-03.log.gz", "App_2026-01-04.log",
                                                 "App_2026-01-05.log"}));
    for (const char* d : {"2026-01-02", "2026-01-03"}) {
        std::string content;
        ASSERT_TRUE(ReadGzip(Log(d) + ".gz", content)) << d;
        EXPECT_EQ(content, std::string("old line of ") + d + "\r\n");
        EXPECT_TRUE(LogHas("Compressing file '" + Log(d) + "'..."));
        EXPECT_TRUE(LogHas("File '" + Log(d) + ".gz' successfully compressed (zipped)."));
        EXPECT_TRUE(LogHas("Obsolete file '" + Log(d) + "' deleted."));
    }
}

TEST_F(Rotation, ArchivesAreBoundedOldestFirst) {
    MakeLogs({"2025-12-30", "2025-12-31", "2026-01-01", "2026-01-02", "2026-01-03", "2026-01-04"});
    JotwellOptions o{};
    o.limit1 = 2;
    o.limit2 = 3;  // MaxZips
    ASSERT_EQ(Write("today", o), 0);
    EXPECT_EQ(Files(), (std::vector<std::string>{"App_2026-01-01.log.gz", "App_2026-01-02.log.gz",
                                                 "App_2026-01-03.log.gz", "App_2026-01-04.log", "App_2026-01-05.log"}));
    EXPECT_TRUE(LogHas("Obsolete file '" + Log("2025-12-30") + ".gz' deleted."));
}

TEST_F(Rotation, DisposalOptions) {
    const struct {
        const char* name;
        uint32_t lo;
        uint32_t maxLogs, maxZips;
        std::vector<std::string> left;
        bool deletionLines;
    } cases[] = {
        {"dont zip", LO_DONT_ZIP, 1, 0, {"App_2026-01-05.log", "App_old.gz"}, true},
        {"delete zips", LO_DELETE_ZIPS, 0, 0,
         {"App_2026-01-02.log", "App_2026-01-03.log", "App_2026-01-04.log", "App_2026-01-05.log"}, true},
        {"delete logs keeps today's", LO_DELETE_LOGS, 0, 0, {"App_2026-01-05.log", "App_old.gz"}, false},
        {"quiet deletion", LO_DONT_ZIP | LO_QUIET_DELETION, 2, 0,
         {"App_2026-01-04.log", "App_2026-01-05.log", "App_old.gz"}, false},
    };
    for (const auto& c : cases) {
        for (const std::string& f : Files()) std::remove((dir / f).c_str());
        MakeLogs({"2026-01-02", "2026-01-03", "2026-01-04"});
        testing::WriteFile(dir / "App_old.gz", "x");
        JotwellOptions o{};
        o.logOptions = c.lo;
        o.limit1 = c.maxLogs;
        o.limit2 = c.maxZips;
        ASSERT_EQ(Write("today", o), 0) << c.name;
        EXPECT_EQ(Files(), c.left) << c.name;
        EXPECT_TRUE(LogHas("today")) << c.name;
        EXPECT_EQ(LogHas("Obsolete file"), c.deletionLines) << c.name;
    }
}

TEST_F(Rotation, WeeklyLeftoversOfThisYearGoUnderDailyNaming) {
    MakeLogs({"2026-01-04"});
    testing::WriteFile(dir / "App_2026-W01.log", "weekly\r\n");
    testing::WriteFile(dir / "App_2026-W01.log.gz", "weekly archive");
    testing::WriteFile(dir / "App_2025-W52.log", "last year\r\n");
    JotwellOptions o{};
    o.logOptions = LO_DAILY;
    o.limit1 = 5;
    o.limit2 = 5;
    ASSERT_EQ(Write("today", o), 0);
    EXPECT_EQ(Files(), (std::vector<std::string>{"App_2025-W52.log", "App_2026-01-04.log", "App_2026-01-05.log"}));
    EXPECT_TRUE(LogHas("Obsolete file '" + (dir / "App_2026-W01.log") + "' deleted."));
}

TEST_F(Rotation, EmptyOldLogStaysAndProducesNoArchive) {
    testing::WriteFile(Log("2026-01-03"), "");
    MakeLogs({"2026-01-04"});
    JotwellOptions o{};
    o.limit1 = 1;
    ASSERT_EQ(Write("today", o), 0);
    EXPECT_EQ(Files(), (std::vector<std::string>{"App_2026-01-03.log", "App_2026-01-04.log.gz", "App_2026-01-05.log"}));
}

TEST_F(Rotation, ExternalPacker) {
    const struct {
        const char* name;
        const char* program;
        const char* arguments;
        bool logKept;
        std::string message;
    } cases[] = {
        {"copies", nullptr, "cp %1 %2", false, "Obsolete file '" + Log("2026-01-04") + "' deleted."},
        {"exits 3", nullptr, "sh -c \"exit 3\" %1", true,
         "Error: Exit code 3 from 'sh' with 'sh -c \"exit 3\" " + Log("2026-01-04") + "' for archive file '" +
             Log("2026-01-04") + ".gz'."},
        {"missing", "/nonexistent/packer", "packer %1", true,
         "Error 'CreateProcess' for compression at invocation of '/nonexistent/packer' with 'packer " +
             Log("2026-01-04") + "' for archive file '" + Log("2026-01-04") + ".gz'. Error no is 2."},
    };
    for (const auto& c : cases) {
        for (const std::string& f : Files()) std::remove((dir / f).c_str());
        MakeLogs({"2026-01-04"});
        JotwellOptions o{};
        o.limit1 = 1;
        o.compressorProgram = c.program;
        o.compressorArguments = c.arguments;
        ASSERT_EQ(Write("today", o), 0) << c.name;
        EXPECT_EQ(FileExists(Log("2026-01-04")), c.logKept) << c.name;
        EXPECT_TRUE(LogHas(c.message)) << c.name << "\n" << c.message;
    }
}

TEST_F(Rotation, FileSystemCompressionKeepsTheNameOrSaysWhyNot) {
    MakeLogs({"2026-01-04"});
    JotwellOptions o{};
    o.limit1 = 1;
    o.extOptions = LE_NTFS_COMPRESS;
    ASSERT_EQ(Write("today", o), 0);
    EXPECT_TRUE(FileExists(Log("2026-01-04")));
    EXPECT_FALSE(FileExists(Log("2026-01-04") + ".gz"));
    const bool done = LogHas("NTFS compression for file '" + Log("2026-01-04") + "' initialized.");
    const bool failed = LogHas("Error initializing NTFS compression for file '" + Log("2026-01-04") + "'.");
    EXPECT_NE(done, failed);
}

TEST_F(Rotation, CandidateHeldByAnotherProcessEndsTheStepWithMinus99) {
    MakeLogs({"2026-01-03", "2026-01-04"});
    testing::ProcessSignal held, done;
    const std::string candidate = Log("2026-01-03");
    const int child = testing::ForkChild([&] {
        NamedLock zip;
        if (zip.TryAcquire(LockName("JotwellZip", candidate)) != LockStatus::Acquired) return 1;
        held.Notify();
        return done.Wait(10000) ? 0 : 2;
    });
    ASSERT_TRUE(held.Wait(10000));
    JotwellOptions o{};
    o.limit1 = 1;
    EXPECT_EQ(Write("first", o), JOTWELL_ROTATION_BUSY);
    EXPECT_TRUE(FileExists(candidate));
    EXPECT_TRUE(LogHas("first"));
    done.Notify();
    EXPECT_EQ(testing::WaitChild(child), 0);
    EXPECT_EQ(Write("second", o), 0);
    EXPECT_FALSE(FileExists(candidate));
    EXPECT_TRUE(FileExists(candidate + ".gz"));
}

TEST_F(Rotation, SizeBoundKeepsTheTailFromALineStart) {
    std::string content;
    for (int i = 0; content.size() < 1990; ++i) content += "line " + std::to_string(i) + " of the old text\r\n";
    testing::WriteFile(Log("2026-01-05"), content);
    JotwellOptions o{};
    o.logOptions = LO_SIZE;
    o.limit1 = 1000;
    o.limit2 = 2000;
    ASSERT_EQ(Write("the newest line", o), 0);
    std::string after;
    ASSERT_TRUE(testing::ReadFile(Log("2026-01-05"), after));
    EXPECT_LE(after.size(), 1000u);
    EXPECT_GT(after.size(), 900u);
    EXPECT_EQ(after.rfind("line ", 0), 0u) << after.substr(0, 40);
    EXPECT_NE(after.find("the newest line\r\n"), std::string::npos);
    const std::string kept = after.substr(0, after.find("2026-01-05 12"));
    EXPECT_EQ(content.substr(content.size() - kept.size()), kept) << "the kept part is the old tail";
}

TEST_F(Rotation, LineBoundKeepsTheLastMinLines) {
    std::string content;
    for (int i = 1; i <= 200; ++i) content += "old " + std::to_string(i) + "\r\n";
    testing::WriteFile(Log("2026-01-05"), content);
    JotwellOptions o{};
    o.logOptions = LO_LINES;
    o.limit1 = 100;
    o.limit2 = 200;
    ASSERT_EQ(Write("line 201", o), 0);
    const std::vector<std::string> lines = ReadLines(Log("2026-01-05"));
    ASSERT_EQ(lines.size(), 100u);
    EXPECT_EQ(lines.front(), "old 102");
    EXPECT_NE(lines.back().find("line 201"), std::string::npos);
}

TEST_F(Rotation, SingleLimitBoundsTheFileWithoutLosingTheNewLines) {
    const struct {
        uint32_t lo, min, max;
        size_t bound;
    } cases[] = {
        {LO_LINES, 10, 0, 10},  // Max 0: the one value bounds the file
        {LO_LINES, 50, 10, 10}, // Max below Min: Max wins
        {LO_LINES | LO_SIZE, 300, 0, 300},  // size wins over lines: bytes
    };
    for (const auto& c : cases) {
        std::remove(Log("2026-01-05").c_str());
        JotwellOptions o{};
        o.logOptions = c.lo;
        o.limit1 = c.min;
        o.limit2 = c.max;
        for (int i = 0; i < 40; ++i) {
            ASSERT_EQ(Write("entry " + std::to_string(i), o), 0);
            std::string data;
            ASSERT_TRUE(testing::ReadFile(Log("2026-01-05"), data));
            const size_t measure = (c.lo & LO_SIZE) ? data.size() : static_cast<size_t>(std::count(data.begin(), data.end(), '\n'));
            EXPECT_LE(measure, c.bound) << i;
            EXPECT_NE(data.find("entry " + std::to_string(i) + "\r\n"), std::string::npos) << i;
        }
    }
}

TEST(Listing, WildcardAndNameOrder) {
    EXPECT_TRUE(WildcardMatch("App_*.log", "App_2026-01-05.log"));
    EXPECT_TRUE(WildcardMatch("App_*.gz", "App_2026-01-05.log.gz"));
    EXPECT_FALSE(WildcardMatch("App_*.log", "App_2026-01-05.log.gz"));
    EXPECT_TRUE(WildcardMatch("a?c", "abc"));
    EXPECT_FALSE(WildcardMatch("a?c", "ac"));
    EXPECT_FALSE(WildcardMatch("App_[*.log", "App_x.log"));
    testing::TempFolder folder;
    for (const char* n : {"App_2026-01-03.log", "App_2025-12-31.log", "App_2026-01-01.log", "Other.log"})
        testing::WriteFile(folder / n, "x");
    EXPECT_EQ(ListMatching(folder.Path(), "App_*.log"),
              (std::vector<std::string>{"App_2025-12-31.log", "App_2026-01-01.log", "App_2026-01-03.log"}));
}

}  // namespace
}  // namespace hm::jotwell
