// The banned-address file: what a downloaded list adds to hosts.deny, with its events and update-log
// lines, when the file is left alone, and the operator's delete; plus the range checks of the two
// option dialogs (anti-cheat and remote info server).
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "anticheat/hosts_deny.h"
#include "eventlog/event_log.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "servers/anticheat_rules.h"
#include "servers/info_server_rules.h"

namespace hm {
namespace {

using Lines = std::vector<std::string>;

class HostsDenyTest : public ::testing::Test {
protected:
    HostsDenyTest() {
        std::random_device random;
        game = (std::filesystem::temp_directory_path() / ("hm_hostsdeny_" + std::to_string(random()))).string();
        std::filesystem::create_directories(game + "/netgames");
        path = game + "/netgames/hosts.deny";
    }
    ~HostsDenyTest() override {
        std::error_code ignored;
        std::filesystem::permissions(path, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(game, ignored);
    }
    std::string File() const {
        std::string content = "<absent>";
        fs::ReadWholeFile(path, content);
        return content;
    }
    Lines Texts() const {
        Lines texts;
        for (const std::string& line : events.Lines()) texts.push_back(line.substr(EventLogList::kStampLength));
        return texts;
    }

    std::string game, path;
    ManualClock clock;
    EventLogList events{clock, nullptr, nullptr};
};

const std::string kFourLines = "; banned by the league\r\n1.2.3.4\r\n10.0.*\r\n\r\n";

TEST_F(HostsDenyTest, MergeCases) {
    const struct {
        const char* why;
        const char* before;  // nullptr: no file
        std::string text;
        bool removePrevious;
        const char* after;
        int result;
    } cases[] = {
        {"comment, address, range, empty line: two entries", nullptr, kFourLines, false,
         "1.2.3.4\r\n10.0.*\r\n", 1},
        {"nothing new: the file stays byte for byte", "1.2.3.4\n10.0.*", kFourLines, false, "1.2.3.4\n10.0.*", 0},
        {"old lines kept in order, the last one gets its line end", "9.9.9.9\r\n; mine\r\n7.7.7.7", "8.8.8.8",
         false, "9.9.9.9\r\n; mine\r\n7.7.7.7\r\n8.8.8.8\r\n", 1},
        {"remove previous keeps exactly the downloaded entries", "9.9.9.9\r\n1.2.3.4\r\n", kFourLines, true,
         "1.2.3.4\r\n10.0.*\r\n", 1},
        {"remove previous without any entry leaves the file", "9.9.9.9\r\n", "; nothing today\r\n", true,
         "9.9.9.9\r\n", 0},
        {"blank second character and two digits are no entries", "", "1 2.3.4\n1\t2.3\n12\nab.c\n", false, "", 0},
        {"every line end form, duplicates in the download once", "", "1.1.1.1\r2.2.2.2\n1.1.1.1\r\n3.3.3.3", false,
         "1.1.1.1\r\n2.2.2.2\r\n3.3.3.3\r\n", 1},
        {"case counts", "1.2.3.AB\r\n", "1.2.3.ab", false, "1.2.3.AB\r\n1.2.3.ab\r\n", 1},
        {"the download ends at a NUL byte", nullptr, std::string("1.1.1.1\n2.2.2.2\0\n3.3.3.3\n", 24), false,
         "1.1.1.1\r\n2.2.2.2\r\n", 1},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(path);
        if (c.before) {
            ASSERT_TRUE(fs::WriteWholeFile(path, c.before));
        }
        std::string updateLog;
        EXPECT_EQ(MergeHostsDeny(game, nullptr, &c.text, updateLog, c.removePrevious), c.result) << c.why;
        EXPECT_EQ(File(), c.after) << c.why;
    }
}

TEST_F(HostsDenyTest, EventsAndUpdateLogOfOneMergeAndOfTheSameListAgain) {
    std::string updateLog = "Update header\r\n";
    EXPECT_EQ(MergeHostsDeny(game, &events, &kFourLines, updateLog, false), 1);
    EXPECT_EQ(updateLog, "Update header\r\n-> added 1.2.3.4 to hosts.deny\r\n-> added 10.0.* to hosts.deny\r\n");
    EXPECT_EQ(Texts(), (Lines{"Updating hosts.deny...", "hosts.deny: added 1.2.3.4", "hosts.deny: added 10.0.*",
                              "Added 2 addresses or ranges to netgames\\hosts.deny"}));

    EventLogList again(clock, nullptr, nullptr);
    std::string secondLog;
    EXPECT_EQ(MergeHostsDeny(game, &again, &kFourLines, secondLog, false), 0);
    EXPECT_EQ(secondLog, "");
    EXPECT_EQ(again.Lines().size(), 1u);
    EXPECT_EQ(again.Lines()[0].substr(EventLogList::kStampLength), "No addresses added to hosts.deny");
    EXPECT_EQ(File(), "1.2.3.4\r\n10.0.*\r\n");
}

TEST_F(HostsDenyTest, OverlongLinesAreSkippedAndCounted) {
    const std::string longest = "1." + std::string(kMaxHostsDenyEntry - 2, '9');
    const std::string text = longest + "\n" + longest + "9\n" + "2." + std::string(2000, '8') + "\n; " +
                             std::string(3000, 'x') + "\n";
    std::string updateLog;
    EXPECT_EQ(MergeHostsDeny(game, &events, &text, updateLog, false), 1);
    EXPECT_EQ(File(), longest + "\r\n");
    EXPECT_EQ(Texts().back(), "Added 1 addresses or ranges to netgames\\hosts.deny");
    EXPECT_EQ(Texts()[Texts().size() - 2], "hosts.deny: skipped 2 lines longer than 1022 characters");
}

TEST_F(HostsDenyTest, ReadOnlyFileIsRewrittenAndLeftWritable) {
    ASSERT_TRUE(fs::WriteWholeFile(path, "5.5.5.5\r\n"));
    ASSERT_TRUE(fs::SetReadOnly(path, true));
    const std::string text = "6.6.6.6";
    std::string updateLog;
    EXPECT_EQ(MergeHostsDeny(game, nullptr, &text, updateLog, false), 1);
    EXPECT_EQ(File(), "5.5.5.5\r\n6.6.6.6\r\n");
    EXPECT_FALSE(fs::GetAttributes(path).readOnly);
}

TEST_F(HostsDenyTest, WhatCannotBeReadIsNeverWrittenOver) {
    const std::string text = "1.2.3.4";
    std::string updateLog;
    // A folder in the file's place, a missing netgames folder, and no game folder at all.
    std::filesystem::create_directories(path + "/inside");
    EXPECT_EQ(MergeHostsDeny(game, &events, &text, updateLog, false), 0);
    EXPECT_TRUE(std::filesystem::exists(path + "/inside"));
    std::filesystem::remove_all(game + "/netgames");
    EXPECT_EQ(MergeHostsDeny(game, &events, &text, updateLog, false), 0);
    EXPECT_FALSE(std::filesystem::exists(game + "/netgames"));
    EXPECT_EQ(MergeHostsDeny("", &events, &text, updateLog, false), 0);
    EXPECT_EQ(MergeHostsDeny(game, &events, nullptr, updateLog, false), 0);
    EXPECT_EQ(updateLog, "");
    const Lines failed = {"Error: Cannot open hosts.deny for reading!", "No addresses added to hosts.deny"};
    EXPECT_EQ(Texts(), (Lines{failed[0], failed[1], failed[0], failed[1], failed[0], failed[1]}));
}

TEST_F(HostsDenyTest, DeleteOutcomes) {
    EXPECT_EQ(DeleteHostsDeny(game), HostsDenyDeletion::Missing);
    ASSERT_TRUE(fs::WriteWholeFile(path, "1.2.3.4\r\n"));
    EXPECT_TRUE(HostsDenyExists(game));
    EXPECT_EQ(DeleteHostsDeny(game), HostsDenyDeletion::Deleted);
    EXPECT_FALSE(HostsDenyExists(game));
    std::filesystem::create_directories(path + "/inside");
    EXPECT_EQ(DeleteHostsDeny(game), HostsDenyDeletion::Failed);
    EXPECT_EQ(DeleteHostsDeny(""), HostsDenyDeletion::Missing);
}

TEST(OptionDialogRules, RangesAndTheInfoServerSwitch) {
    const struct {
        int64_t value;
        bool shortOk, portOk;
    } cases[] = {{0, false, false},    {1, true, false},     {4, true, false},     {5, false, false},
                 {80, false, false},   {1023, false, false}, {1024, false, true},  {65535, false, true},
                 {65536, false, false}, {-1, false, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(CheckShortLength(c.value), c.shortOk ? "" : "Please enter an integer between 1 and 4.") << c.value;
        EXPECT_EQ(CheckInfoServerPort(c.value), c.portOk ? "" : "Please enter an integer between 1024 and 65535.")
            << c.value;
    }
    RemoteInfoSettings settings;
    ApplyInfoServerDialog(3000, "secret", settings);
    EXPECT_EQ(settings, (RemoteInfoSettings{1, 3000, "secret"}));
    ApplyInfoServerDialog(3001, "", settings);
    EXPECT_EQ(settings, (RemoteInfoSettings{0, 3001, ""}));
}

}  // namespace
}  // namespace hm
