// Nickname rules: the verdict and its order, prefix patterns, the merge of a downloaded list with its
// events and update-log lines, the dialog's rules, and the shared holder under concurrent use.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "anticheat/nickname_rules.h"
#include "eventlog/event_log.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace hm {
namespace {

using V = NicknameVerdictResult;
using Names = std::vector<std::string>;

struct Rules {
    bool hacked = false;
    bool shortOn = false;
    int32_t shortLength = 1;
    Names list;
};

AntiCheatOptions Options(const Rules& r) {
    AntiCheatOptions options;
    options.disallowHacked = r.hacked ? 1 : 0;
    options.disallowShort = r.shortOn ? 1 : 0;
    options.shortLength = r.shortLength;
    options.disallowedNicknames = r.list;
    return options;
}

TEST(NicknameVerdict, FirstRuleThatAppliesWins) {
    const struct {
        const char* why;
        std::string name;
        Rules rules;
        V expected;
    } cases[] = {
        {"empty name", "", {}, V::Invalid},
        {"leading percent, no options", "%Joe", {}, V::Invalid},
        {"percent behind printable text", "Jo%e", {true, true, 4, {"*"}}, V::Invalid},
        {"unprintable before percent, hacked on", "Jo\x01%e", {true}, V::Hacked},
        {"unprintable before percent, hacked off", "Jo\x01%e", {}, V::None},
        {"high byte, hacked on", "J\xE9r\xF4me", {true}, V::Hacked},
        {"high byte, hacked off", "J\xE9r\xF4me", {}, V::None},
        {"tab is not printable", "Big\tJoe", {true}, V::Hacked},
        {"hacked before short", "\x7F", {true, true, 4}, V::Hacked},
        {"length 2 with limit 2", "Jo", {false, true, 2}, V::TooShort},
        {"length 3 with limit 2", "Joe", {false, true, 2}, V::None},
        {"short rule off", "J", {false, false, 4}, V::None},
        {"short before disallowed", "Bo", {false, true, 2, {"Bo"}}, V::TooShort},
        {"stored limit above range acts as 4", "Abcde", {false, true, 1000}, V::None},
        {"stored limit above range acts as 4 (4 chars)", "Abcd", {false, true, 1000}, V::TooShort},
        {"stored limit below range acts as 1", "A", {false, true, -3}, V::TooShort},
        {"stored limit below range acts as 1 (2 chars)", "Ab", {false, true, 0}, V::None},
        {"prefix pattern, lower case", "bot1", {false, false, 1, {"Bot*"}}, V::Disallowed},
        {"prefix pattern, upper case", "BOTTY", {false, false, 1, {"Bot*"}}, V::Disallowed},
        {"prefix longer than name", "Bo", {false, false, 1, {"Bot*"}}, V::None},
        {"prefix equal to whole name", "Bot", {false, false, 1, {"Bot*"}}, V::Disallowed},
        {"lone star, two chars", "ab", {false, false, 1, {"*"}}, V::Disallowed},
        {"lone star, one char", "a", {false, false, 1, {"*"}}, V::None},
        {"one-letter prefix needs two chars", "B", {false, false, 1, {"B*"}}, V::None},
        {"exact entry ignores case", "cheater", {false, false, 1, {"Cheater"}}, V::Disallowed},
        {"exact entry is not a prefix", "Cheater2", {false, false, 1, {"Cheater"}}, V::None},
        {"star only counts at the end", "Bot1", {false, false, 1, {"*ot1"}}, V::None},
        {"later entries are tried too", "Zed", {false, false, 1, {"Alpha", "zED"}}, V::Disallowed},
        {"nothing applies", "Big Joe", {true, true, 4, {"Bot*", "Cheater"}}, V::None},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(NicknameVerdict(c.name, Options(c.rules)), c.expected) << c.why;
    }
}

TEST(NicknameVerdict, PercentRuleOnlyWhenThePercentComesFirst) {
    const struct {
        std::string name;
        bool expected;
    } cases[] = {
        {"", false}, {"%", true}, {"Joe%", true}, {"Jo\x01%", false}, {"Joe", false}, {"\xE9%", false},
    };
    for (const auto& c : cases) EXPECT_EQ(NicknameInvalidByPercent(c.name), c.expected) << c.name;
}

std::vector<std::string> Texts(const EventLogList& events) {
    std::vector<std::string> texts;
    for (const std::string& line : events.Lines()) texts.push_back(line.substr(EventLogList::kStampLength));
    return texts;
}

TEST(MergeNicknames, LinesCommentsBlanksAndDuplicates) {
    const struct {
        const char* why;
        Names before;
        std::string text;
        bool removePrevious;
        Names after;
        int result;
    } cases[] = {
        {"leading blanks are dropped", {}, "   Cheater", false, {"Cheater"}, 1},
        {"semicolon and blank is a comment", {}, "; any text", false, {}, 0},
        {"semicolon and tab is a comment", {}, ";\tany text", false, {}, 0},
        {"semicolon without blank is a name", {}, ";x", false, {";x"}, 1},
        {"a lone semicolon is a name", {}, ";", false, {";"}, 1},
        {"indented comment marker is a name", {}, "  ; x", false, {"; x"}, 1},
        {"known name ignoring case", {"CHEATER"}, "Cheater", false, {"CHEATER"}, 0},
        {"trailing blanks stay", {}, "Bad  ", false, {"Bad  "}, 1},
        {"blank lines are skipped", {}, "\r\n  \r\n\n", false, {}, 0},
        {"every line end form", {}, "A\r\nB\rC\nD", false, {"A", "B", "C", "D"}, 1},
        {"CR CR is two ends", {}, "A\r\rB", false, {"A", "B"}, 1},
        {"duplicates within the text", {}, "Xan\nxAN\nXAN\r\n", false, {"Xan"}, 1},
        {"adds behind the old list", {"Old"}, "New", false, {"Old", "New"}, 1},
        {"replaces the old list", {"Old"}, "New\nold", true, {"New", "old"}, 1},
        {"emptied even without usable lines", {"Old"}, "; nothing\r\n", true, {}, 0},
        {"text ends at a NUL byte", {}, std::string("A\nB\0C\n", 6), false, {"A", "B"}, 1},
    };
    for (const auto& c : cases) {
        Names list = c.before;
        std::string updateLog;
        EXPECT_EQ(MergeNicknames(nullptr, list, &c.text, updateLog, c.removePrevious), c.result) << c.why;
        EXPECT_EQ(list, c.after) << c.why;
    }
}

TEST(MergeNicknames, NullTextChangesNothingEvenWhenReplacing) {
    Names list = {"Keep"};
    std::string updateLog = "head\r\n";
    EXPECT_EQ(MergeNicknames(nullptr, list, nullptr, updateLog, true), 0);
    EXPECT_EQ(list, Names{"Keep"});
    EXPECT_EQ(updateLog, "head\r\n");
}

TEST(MergeNicknames, EventsAndUpdateLogLines) {
    ManualClock clock;
    EventLogList events(clock, nullptr, nullptr);
    Names list = {"Known"};
    std::string updateLog = "Update header\r\n";
    const std::string text = "; list\r\nKNOWN\r\n  %s%n\r\nBot*\r\n";
    EXPECT_EQ(MergeNicknames(&events, list, &text, updateLog, false), 1);
    EXPECT_EQ(list, (Names{"Known", "%s%n", "Bot*"}));
    EXPECT_EQ(updateLog,
              "Update header\r\n"
              "-> added %s%n to disallowed nicknames\r\n"
              "-> added Bot* to disallowed nicknames\r\n");
    EXPECT_EQ(Texts(events), (std::vector<std::string>{
                                 "Updating banned nicknames...",
                                 "banned nicknames: added %s%n",
                                 "banned nicknames: added Bot*",
                                 "Added 2 addresses to banned nicknames list",
                             }));

    EventLogList none(clock, nullptr, nullptr);
    const std::string again = "known\r\nBOT*";
    std::string log2;
    EXPECT_EQ(MergeNicknames(&none, list, &again, log2, false), 0);
    EXPECT_EQ(log2, "");
    EXPECT_EQ(Texts(none), std::vector<std::string>{"No nicknames added to banned list"});
}

TEST(AntiCheatDialog, SwitchingAnUpdateOnDownloadsAtOnce) {
    const struct {
        uint32_t nickBefore, nickAfter, hostsBefore, hostsAfter;
        uint32_t nickTick, hostsTick;  // expected last-update ticks after OK (both were 5000)
    } cases[] = {
        {0, 1, 0, 0, 0, 5000},
        {0, 0, 0, 1, 5000, 0},
        {1, 1, 1, 1, 5000, 5000},  // already on: the schedule stays
        {1, 0, 1, 0, 5000, 5000},
        {0, 1, 0, 1, 0, 0},
    };
    for (const auto& c : cases) {
        AntiCheatOptions before;
        before.autoUpdateNicknames = c.nickBefore;
        before.autoUpdateHostsDeny = c.hostsBefore;
        AntiCheatOptions edited = before;
        edited.autoUpdateNicknames = c.nickAfter;
        edited.autoUpdateHostsDeny = c.hostsAfter;
        edited.nicknamesLastUpdate = 5000;
        edited.hostsDenyLastUpdate = 5000;
        const AntiCheatOptions kept = AcceptAntiCheatDialog(before, edited);
        EXPECT_EQ(kept.nicknamesLastUpdate, c.nickTick);
        EXPECT_EQ(kept.hostsDenyLastUpdate, c.hostsTick);
    }
    AntiCheatOptions wild;
    wild.shortLength = 9;
    EXPECT_EQ(AcceptAntiCheatDialog(AntiCheatOptions(), wild).shortLength, 4);
    wild.shortLength = 0;
    EXPECT_EQ(AcceptAntiCheatDialog(AntiCheatOptions(), wild).shortLength, 1);
}

TEST(NicknameRules, MergeIsSeenByVerdictsButNotByHeldSnapshots) {
    NicknameRules rules;
    const auto before = rules.Snapshot();
    EXPECT_EQ(rules.Verdict("Cheater"), V::None);
    const std::string text = "Cheater\r\n";
    std::string updateLog;
    EXPECT_EQ(rules.Merge(nullptr, &text, updateLog, false), 1);
    EXPECT_EQ(rules.Verdict("cheater"), V::Disallowed);
    EXPECT_TRUE(before->disallowedNicknames.empty());
    EXPECT_EQ(rules.Get().disallowedNicknames, Names{"Cheater"});

    rules.SetNicknamesLastUpdate(77);
    rules.SetHostsDenyLastUpdate(88);
    EXPECT_EQ(rules.Get().nicknamesLastUpdate, 77u);
    EXPECT_EQ(rules.Get().hostsDenyLastUpdate, 88u);
    EXPECT_EQ(rules.Get().disallowedNicknames, Names{"Cheater"});

    AntiCheatOptions replaced;
    replaced.disallowShort = 1;
    replaced.shortLength = 3;
    rules.Set(replaced);
    EXPECT_EQ(rules.Verdict("Cheater"), V::None);
    EXPECT_EQ(rules.Verdict("Joe"), V::TooShort);
}

TEST(NicknameUpdate, DueEveryTwelveHoursUnlessTheAddressListWasDue) {
    const struct {
        uint32_t autoUpdate;
        const char* uri;
        Tick last, now;
        bool hostsDue, expected;
    } cases[] = {
        {1, "http://h/a.txt", 0, 5, false, true},                      // never downloaded
        {1, "http://h/a.txt", 1000, 1000 + 43200000, false, false},    // exactly 12 hours
        {1, "http://h/a.txt", 1000, 1000 + 43200001, false, true},
        {1, "http://h/a.txt", 0, 5, true, false},                      // one download per pass
        {0, "http://h/a.txt", 0, 5, false, false},
        {1, "", 0, 5, false, false},
        {1, "http://h/a.txt", 90000, 100, false, false},               // stored before a reboot
    };
    for (const auto& c : cases) {
        AntiCheatOptions options;
        options.autoUpdateNicknames = c.autoUpdate;
        options.nicknamesUri = c.uri;
        options.nicknamesLastUpdate = c.last;
        EXPECT_EQ(NicknameUpdateDue(options, c.now, c.hostsDue), c.expected) << c.last << " " << c.now;
    }
}

TEST(NicknameUpdate, UpdateLogIsWrittenOnlyWhenNamesWereAdded) {
    const std::string folder = ::testing::TempDir() + "hm_nickupdate/";
    fs::RemoveFolder(folder, true);
    fs::CreateFolders(folder);
    const std::string logPath = folder + "BannedNicknamesUpdate.log";
    const LocalTime at{2026, 3, 7, 9, 5, 0, 0, 0};
    const std::string uri = "http://h/Haldmoor/aliasdeny.txt";
    AntiCheatOptions options;
    options.removePreviousNicknames = 0;
    NicknameRules rules(options);

    const std::string first = "Cheater";
    EXPECT_EQ(rules.ApplyNicknameDownload(nullptr, folder, at, uri, &first), 1);
    EXPECT_EQ(rules.ApplyNicknameDownload(nullptr, folder, at, uri, &first), 0);  // nothing new
    EXPECT_EQ(rules.ApplyNicknameDownload(nullptr, folder, at, uri, nullptr), 0);  // failed download
    const std::string second = "Bot*\r\n";
    EXPECT_EQ(rules.ApplyNicknameDownload(nullptr, folder, at, uri, &second), 1);
    const std::string firstLog =
        "Update 2026-03-07 09:05 (http://h/Haldmoor/aliasdeny.txt):\r\nCheater\r\n"
        "-> added Cheater to disallowed nicknames\r\n";
    const std::string secondLog =
        "Update 2026-03-07 09:05 (http://h/Haldmoor/aliasdeny.txt):\r\nBot*\r\n\r\n"
        "-> added Bot* to disallowed nicknames\r\n";
    std::string written;
    ASSERT_TRUE(fs::ReadWholeFile(logPath, written));
    EXPECT_EQ(written, firstLog + secondLog);
    EXPECT_EQ(rules.Get().disallowedNicknames, (Names{"Cheater", "Bot*"}));

    options.removePreviousNicknames = 1;
    rules.Set(options);
    EXPECT_EQ(rules.ApplyNicknameDownload(nullptr, folder, at, uri, &second), 1);
    ASSERT_TRUE(fs::ReadWholeFile(logPath, written));
    EXPECT_EQ(written, secondLog);
    EXPECT_EQ(rules.Get().disallowedNicknames, Names{"Bot*"});
}

TEST(NicknameRules, VerdictsWhileTheListIsMergedAndReplaced) {
    NicknameRules rules;
    std::atomic<bool> stop{false};
    std::atomic<int> odd{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&] {
            while (!stop.load()) {
                const V v = rules.Verdict("Bot007");
                if (v != V::None && v != V::Disallowed) ++odd;
            }
        });
    }
    for (int n = 0; n < 300; ++n) {
        const std::string text = "Name" + std::to_string(n) + "\nBot*\n";
        std::string updateLog;
        rules.Merge(nullptr, &text, updateLog, n % 2 == 0);
        if (n % 50 == 0) rules.Set(AntiCheatOptions());
    }
    stop = true;
    for (std::thread& reader : readers) reader.join();
    EXPECT_EQ(odd.load(), 0);
    EXPECT_EQ(rules.Verdict("Bot007"), V::Disallowed);
}

}  // namespace
}  // namespace hm
