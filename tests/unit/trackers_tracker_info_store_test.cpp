// The tracker information store: set, replace and remove by key, "TrackerInfo.dat" against bytes built
// by hand from the stored format, when the file is written, and damaged files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "trackers/tracker_info_store.h"
#include "support/golden.h"

namespace hm {
namespace {

using hm::test_support::Golden;
using hm::test_support::RecordedSteps;

using Pairs = std::vector<std::pair<std::string, std::string>>;



std::string Folder(const std::string& name) {
    const std::string folder = ::testing::TempDir() + "hm_trackerinfo_" + name + "/";
    fs::RemoveFolder(folder, true);
    fs::CreateFolders(folder);
    return folder;
}

TEST(TrackerInfoStore, SetReplacesByExactKeyAndRemoveTakesTheFirst) {
    struct Step {
        bool set;
        const char* key;
        bool result;
        Pairs after;
    } steps[] = {
        {true, "region", true, {{"region", "v0"}}},
        {true, "mode", true, {{"region", "v0"}, {"mode", "v1"}}},
        {true, "region", true, {{"region", "v2"}, {"mode", "v1"}}},  // only the value changes
        {true, "Region", true, {{"region", "v2"}, {"mode", "v1"}, {"Region", "v3"}}},  // case counts
        {false, "REGION", false, {{"region", "v2"}, {"mode", "v1"}, {"Region", "v3"}}},
        {false, "region", true, {{"mode", "v1"}, {"Region", "v3"}}},  // the rest keeps its order
        {false, "mode", true, {{"Region", "v3"}}},
        {false, "mode", false, {{"Region", "v3"}}},
    };
    TrackerInfoStore store;
    for (size_t n = 0; n < std::size(steps); ++n) {
        const Step& s = steps[n];
        EXPECT_EQ(s.set ? store.Set(s.key, "v" + std::to_string(n)) : store.Remove(s.key), s.result) << n;
        Pairs now;
        for (const TrackerInfo& entry : store.Entries()) now.emplace_back(entry.key, entry.value);
        EXPECT_EQ(now, s.after) << n;
    }
}

TEST(TrackerInfoStore, FileBytesFollowTheStoredFormat) {
    const std::string folder = Folder("golden");
    TrackerInfoStore store;
    store.Set("region", "eu");
    store.Set("k", "");
    RecordedSteps progress;
    ASSERT_TRUE(store.Store(folder, &progress));
    EXPECT_EQ(progress.steps, std::vector<std::string>{"Storing tracker infos..."});
    std::string bytes;
    ASSERT_TRUE(fs::ReadWholeFile(folder + "TrackerInfo.dat", bytes));
    EXPECT_EQ(bytes, Golden().dw(1).w(2).dw(1).str("region").str("eu").str("").dw(1).str("k").str("").str("").b);

    // Extras and empty entries (version 0) load as they stand and replace what the store held.
    const std::string file = Golden().dw(1).w(3).dw(1).str("game").str("k3").str("note").dw(0).dw(1).str("p").str("1").str("").b;
    ASSERT_TRUE(fs::WriteWholeFile(folder + "TrackerInfo.dat", file));
    EXPECT_EQ(store.Load(folder, &progress), StoreLoad::Loaded);
    EXPECT_EQ(progress.steps.back(), "Loading tracker infos...");
    const std::vector<TrackerInfo> expected = {{"game", "k3", "note"}, {"", "", ""}, {"p", "1", ""}};
    EXPECT_EQ(store.Entries(), expected);
}

TEST(TrackerInfoStore, EmptyStoreWritesNothingUnlessItsFileStillHoldsEntries) {
    const std::string folder = Folder("empty");
    const std::string path = folder + "TrackerInfo.dat";
    TrackerInfoStore never;
    EXPECT_EQ(never.Load(folder, nullptr), StoreLoad::Absent);
    RecordedSteps progress;
    EXPECT_TRUE(never.Store(folder, &progress));
    EXPECT_FALSE(fs::FileExists(path));
    EXPECT_TRUE(progress.steps.empty());

    TrackerInfoStore first;
    first.Set("region", "eu");
    ASSERT_TRUE(first.Store(folder, nullptr));
    // Every entry removed through the info server: the next start must not see them again.
    TrackerInfoStore second;
    ASSERT_EQ(second.Load(folder, nullptr), StoreLoad::Loaded);
    ASSERT_TRUE(second.Remove("region"));
    ASSERT_TRUE(second.Store(folder, nullptr));
    std::string bytes;
    ASSERT_TRUE(fs::ReadWholeFile(path, bytes));
    EXPECT_EQ(bytes, Golden().dw(1).w(0).b);
}

TEST(TrackerInfoStore, DamagedFileIsSetAsideAndCompleteEntriesKept) {
    const std::string folder = Folder("damaged");
    const std::string path = folder + "TrackerInfo.dat";
    const std::pair<std::string, size_t> cases[] = {
        {Golden().dw(1).w(2).dw(1).str("a").str("1").str("").dw(1).str("b").b, 1},  // cut in entry 2
        {Golden().dw(1).w(500).dw(1).str("a").str("1").str("").b, 0},              // count beyond the file
    };
    for (const auto& [bytes, kept] : cases) {
        fs::DeleteFile(path + ".damaged");
        ASSERT_TRUE(fs::WriteWholeFile(path, bytes));
        TrackerInfoStore store;
        EXPECT_EQ(store.Load(folder, nullptr), StoreLoad::Damaged);
        EXPECT_EQ(store.Count(), kept);
        EXPECT_EQ(store.LastDamagedPath(), path + ".damaged");
        EXPECT_FALSE(fs::FileExists(path));
    }
}

}  // namespace
}  // namespace hm
