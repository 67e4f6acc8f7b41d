// The game tracker file: what an import makes of its lines, the bytes written before a launch, and the
// trackers dialog's add rule.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "trackers/tracker_file.h"

namespace hm {
namespace {

using Strings = std::vector<std::string>;

std::string Folder(const std::string& name) {
    const std::string folder = ::testing::TempDir() + "hm_trackers_" + name + "/";
    fs::RemoveFolder(folder, true);
    fs::CreateFolders(folder);
    return folder;
}

TEST(TrackerFile, ImportTurnsEachLineIntoHostAndPort) {
    const std::string longHost(1500, 'h');
    struct Case {
        const char* what;
        std::string content;
        Strings trackers;
    } cases[] = {
        {"low port raised to 1024", "master.example.net:80\r\n", {"master.example.net:1024"}},
        {"host alone gets 27900", "tracker.example.org\r\n", {"tracker.example.org:27900"}},
        {"two characters are skipped", "ab\r\nabc\r\n", {"abc:27900"}},
        {"white space around the line is removed", " \t gs.example.com:28000 \t\r\n", {"gs.example.com:28000"}},
        {"port keeps its low 16 bits", "a.example:70000\n", {"a.example:4464"}},
        {"port read like atoi", "a.example: 29000xyz\n", {"a.example:29000"}},
        {"no number after the colon", "a.example:\n", {"a.example:1024"}},
        {"split at the first colon", "a.example:b:30000\n", {"a.example:1024"}},
        {"no line end after the last line", "one.example:22999", {"one.example:22999"}},
        {"blank and short lines only", "\r\n  \r\n x \r\n", {}},
        {"number lines of a written file are not trackers",
         " 20142 \r\nmaster.example.net:27900\r\n 20142 \r\nsecond.example.net:22999\r\n",
         {"master.example.net:27900", "second.example.net:22999"}},
        {"a line over 1023 characters arrives in pieces",
         longHost + ":2000\n",
         {std::string(1023, 'h') + ":27900", std::string(477, 'h') + ":2000"}},
    };
    const std::string folder = Folder("import");
    for (const Case& c : cases) {
        const std::string path = folder + "gamespy.cfg";
        ASSERT_TRUE(fs::WriteWholeFile(path, c.content));
        TrackerList list;
        EXPECT_TRUE(ImportTrackerFile(list, path)) << c.what;
        EXPECT_EQ(list.trackers, c.trackers) << c.what;
    }
}

TEST(TrackerFile, ImportWithoutAFileKeepsTheList) {
    std::vector<std::string> shown;
    const auto inform = [&](const std::string& text) { shown.push_back(text); };
    TrackerList list;
    EXPECT_TRUE(ImportTrackerFile(list, "", inform));
    const std::string missing = Folder("missing") + "gamespy.cfg";
    EXPECT_FALSE(ImportTrackerFile(list, missing, inform));
    EXPECT_EQ(list.trackers, TrackerList().trackers);
    EXPECT_EQ(shown, Strings{"Cannot open " + missing + " for reading!"});
}

TEST(TrackerFile, WrittenFileAlternatesNumberAndTracker) {
    const std::string path = Folder("write") + "Haldmoor.spy";
    ASSERT_TRUE(fs::WriteWholeFile(path, std::string(500, 'x')));  // an older, longer file is replaced
    TrackerList list;
    list.trackers = {"master.example.net:27900", "second.example.net:22999", "third.example.net:27900"};
    ASSERT_TRUE(WriteTrackerFile(list, path, 20142));
    std::string bytes;
    ASSERT_TRUE(fs::ReadWholeFile(path, bytes));
    EXPECT_EQ(bytes, " 20142 \r\nmaster.example.net:27900\r\n 20142 \r\nsecond.example.net:22999\r\n"
                     " 20142 \r\nthird.example.net:27900\r\n");
    TrackerList back;
    ASSERT_TRUE(ImportTrackerFile(back, path));
    EXPECT_EQ(back.trackers, list.trackers);  // what the program wrote imports as the same trackers

    list.enabled = 0;
    ASSERT_TRUE(WriteTrackerFile(list, path, 20142));
    ASSERT_TRUE(fs::ReadWholeFile(path, bytes));
    EXPECT_EQ(bytes, "");
    EXPECT_FALSE(WriteTrackerFile(list, path + "/no/such/folder", 7));
}

TEST(TrackerFile, AddRuleAppendsTheDefaultPortOnlyWithoutColon) {
    Strings lines;
    for (const char* typed : {"master.example.net", "second.example.net:22999", "odd:", ""}) AddTrackerLine(lines, typed);
    EXPECT_EQ(lines, (Strings{"master.example.net:27900", "second.example.net:22999", "odd:"}));
}

}  // namespace
}  // namespace hm
