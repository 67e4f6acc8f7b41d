// Player records: one record per name ignoring case, the ring of ten addresses, the text line shape,
// "PlayerInfo.dat" against bytes built by hand from the stored format, damaged files, and several
// console threads reporting at once.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/files.h"
#include "players/player_info_store.h"
#include "support/golden.h"

namespace hm {
namespace {

using hm::test_support::Golden;
using hm::test_support::RecordedSteps;

using Strings = std::vector<std::string>;

// 2026-01-05 12:00:00 local, the manual clock's start, as a file time: 134120880000000000.
constexpr uint32_t kStartLow = 0xD15CE000u;
constexpr uint32_t kStartHigh = 0x01DC7E3Au;
// 2024-05-01 08:30:00 local: 133590258000000000.
constexpr uint32_t kMayLow = 0xC18AF400u;
constexpr uint32_t kMayHigh = 0x01DA9BA1u;



std::string Folder(const std::string& name) {
    const std::string folder = ::testing::TempDir() + "hm_players_" + name + "/";
    fs::RemoveFolder(folder, true);
    fs::CreateFolders(folder);
    return folder;
}

std::string Address(int n) { return "10.0.0." + std::to_string(n); }

TEST(PlayerInfoStore, SameNameAndAddressTwiceStillMovesLastSeen) {
    ManualClock clock;
    PlayerInfoStore store(clock);
    EXPECT_EQ(store.Update("Pilot", "10.0.0.7"), 1);
    clock.Advance(3 * 24 * 3600 * 1000u);
    EXPECT_EQ(store.Update("Pilot", "10.0.0.7"), 0);
    const PlayerRecord record = store.Records().at(0);
    EXPECT_EQ(record.lastSeen, LocalTimeToFileTime(clock.Now()));
    EXPECT_EQ(record.addresses, Strings{"10.0.0.7"});
    EXPECT_EQ(store.Text(), "2026-01-08 Pilot - 10.0.0.7\r\n");
}

TEST(PlayerInfoStore, NamesShareARecordIgnoringCaseAndKeepTheFirstForm) {
    ManualClock clock;
    PlayerInfoStore store(clock);
    const struct {
        const char* name;
        const char* address;
        int result;
    } steps[] = {
        {"Pilot", "10.0.0.7", 1},
        {"PILOT", "10.0.0.3", 1},
        {"pilot", "10.0.0.7", 0},
        {"Pilot2", "10.0.0.7", 1},
        {"PILOT", "10.0.0.03", 1},  // addresses compare as text
    };
    for (const auto& s : steps) EXPECT_EQ(store.Update(s.name, s.address), s.result) << s.name << " " << s.address;
    const std::vector<PlayerRecord> records = store.Records();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].name, "Pilot");
    EXPECT_EQ(records[0].addresses, (Strings{"10.0.0.7", "10.0.0.3", "10.0.0.03"}));
    EXPECT_EQ(records[0].current, 2);
    EXPECT_EQ(records[1].name, "Pilot2");
}

TEST(PlayerRecord, RingKeepsTheLastTenDistinctAddresses) {
    PlayerRecord record;
    record.name = "Pilot";
    const struct {
        int addresses;  // distinct addresses reported so far
        int32_t ringIndex, current;
        Strings slots;
    } cases[] = {
        {1, 0, 0, {Address(1)}},
        {10, 9, 9, {Address(1), Address(2), Address(3), Address(4), Address(5), Address(6), Address(7),
                    Address(8), Address(9), Address(10)}},
        {11, 0, 0, {Address(11), Address(2), Address(3), Address(4), Address(5), Address(6), Address(7),
                    Address(8), Address(9), Address(10)}},
        {12, 1, 1, {Address(11), Address(12), Address(3), Address(4), Address(5), Address(6), Address(7),
                    Address(8), Address(9), Address(10)}},
        {21, 0, 0, {Address(21), Address(12), Address(13), Address(14), Address(15), Address(16),
                    Address(17), Address(18), Address(19), Address(20)}},
    };
    int reported = 0;
    for (const auto& c : cases) {
        while (reported < c.addresses) {
            ++reported;
            EXPECT_EQ(record.AddAddress(Address(reported), 1), 1) << reported;
        }
        EXPECT_EQ(record.ringIndex, c.ringIndex) << c.addresses;
        EXPECT_EQ(record.current, c.current) << c.addresses;
        EXPECT_EQ(record.addresses, c.slots) << c.addresses;
    }
    // An address still in the ring is not new.
    EXPECT_EQ(record.AddAddress(Address(15), 2), 0);
    EXPECT_EQ(record.ringIndex, 0);
}

TEST(PlayerRecord, TextLineShowsDateNameCurrentThenTheRestInSlotOrder) {
    ManualClock clock(1000, LocalTime{2024, 5, 1, 23, 59, 58, 0, 0});
    PlayerInfoStore store(clock);
    for (int n = 1; n <= 11; ++n) store.Update("Pilot", Address(n));
    store.Update("Ace", "10.0.0.7");
    store.Update("Ace", "10.0.0.3");
    store.Update("%s%n%x", "10.0.0.9");  // a name is text, never a format
    EXPECT_EQ(store.Text(),
              "2024-05-01 Pilot - 10.0.0.11, 10.0.0.2, 10.0.0.3, 10.0.0.4, 10.0.0.5, 10.0.0.6, "
              "10.0.0.7, 10.0.0.8, 10.0.0.9, 10.0.0.10\r\n"
              "2024-05-01 Ace - 10.0.0.3, 10.0.0.7\r\n"
              "2024-05-01 %s%n%x - 10.0.0.9\r\n");
}

TEST(PlayerRecord, ValuesFromADamagedFileStayWithinTheRing) {
    PlayerRecord record;
    record.name = "Pilot";
    for (int n = 1; n <= 10; ++n) record.addresses.push_back(Address(n));
    record.ringIndex = 57;
    record.current = 99;
    EXPECT_EQ(record.TextLine().substr(11), "Pilot - , 10.0.0.1, 10.0.0.2, 10.0.0.3, 10.0.0.4, 10.0.0.5, "
                                            "10.0.0.6, 10.0.0.7, 10.0.0.8, 10.0.0.9, 10.0.0.10\r\n");
    EXPECT_EQ(record.AddAddress("10.0.0.99", 1), 1);
    EXPECT_EQ(record.ringIndex, 0);
    EXPECT_EQ(record.current, 0);
    EXPECT_EQ(record.addresses.size(), 10u);
    EXPECT_EQ(record.addresses[0], "10.0.0.99");
    record.ringIndex = -40;
    EXPECT_EQ(record.AddAddress("10.0.0.98", 1), 1);
    EXPECT_EQ(record.ringIndex, 0);
}

std::string TwoRecordFile() {
    return Golden()
        .dw(1)
        .w(2)
        .dw(1).dw(1).dw(1).str("Pilot").dw(kStartLow).dw(kStartHigh).w(2).str("10.0.0.7").str("10.0.0.3")
        .dw(1).dw(0).dw(0).str("Ace").dw(kStartLow).dw(kStartHigh).w(1).str("192.168.1.20")
        .b;
}

TEST(PlayerInfoStore, StoreFileBytesFollowTheFormat) {
    ManualClock clock;
    PlayerInfoStore store(clock);
    store.Update("Pilot", "10.0.0.7");
    store.Update("Ace", "192.168.1.20");
    store.Update("pilot", "10.0.0.3");
    EXPECT_EQ(store.Serialize(), TwoRecordFile());

    PlayerInfoStore empty(clock);
    EXPECT_EQ(empty.Serialize(), Golden().dw(1).w(0).b);
}

TEST(PlayerInfoStore, ReadsRecordsAndVersionZeroRecords) {
    const std::string file = Golden()
                                 .dw(1)
                                 .w(3)
                                 .dw(0)  // a record with nothing more
                                 .dw(1).dw(0).dw(0).str("Ace").dw(kMayLow).dw(kMayHigh).w(1).str("10.1.1.1")
                                 .dw(1).dw(-1).dw(-1).str("Nobody").dw(kMayLow).dw(kMayHigh).w(0)
                                 .b;
    ManualClock clock;
    PlayerInfoStore store(clock);
    ArchiveReader ar(file);
    store.ReadFrom(ar);
    EXPECT_FALSE(ar.Failed());
    const std::vector<PlayerRecord> records = store.Records();
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0], PlayerRecord());
    EXPECT_EQ(records[1].name, "Ace");
    EXPECT_EQ(records[1].lastSeen, 133590258000000000ull);
    EXPECT_EQ(records[1].addresses, Strings{"10.1.1.1"});
    EXPECT_EQ(store.Text(),
              "1601-01-01  - \r\n"
              "2024-05-01 Ace - 10.1.1.1\r\n"
              "2024-05-01 Nobody - \r\n");
    // A loaded record goes on with its ring.
    EXPECT_EQ(store.Update("ACE", "10.1.1.2"), 1);
    EXPECT_EQ(store.Records()[1].current, 1);

    PlayerInfoStore versionZero(clock);
    ArchiveReader zero(Golden().dw(0).b);
    versionZero.ReadFrom(zero);
    EXPECT_FALSE(zero.Failed());
    EXPECT_EQ(versionZero.Count(), 0u);
}

TEST(PlayerInfoStore, LoadSetsTheTextPathAndStoreWritesTheFile) {
    const std::string config = Folder("store_cfg");
    const std::string log = Folder("store_log");
    ManualClock clock;
    PlayerInfoStore fresh(clock);
    RecordedSteps steps;
    EXPECT_EQ(fresh.Load(config, log, &steps), StoreLoad::Absent);
    EXPECT_EQ(fresh.Count(), 0u);
    EXPECT_EQ(fresh.TextPath(), log + "PlayerInfo.txt");

    PlayerInfoStore nowhere(clock);  // no text path before the load: nothing to write
    nowhere.Update("Pilot", "10.0.0.7");
    EXPECT_FALSE(nowhere.Save());

    fresh.Update("Pilot", "10.0.0.7");
    fresh.Update("Ace", "192.168.1.20");
    fresh.Update("pilot", "10.0.0.3");
    EXPECT_TRUE(fresh.Save());
    std::string text;
    ASSERT_TRUE(fs::ReadWholeFile(log + "PlayerInfo.txt", text));
    EXPECT_EQ(text, "2026-01-05 Pilot - 10.0.0.3, 10.0.0.7\r\n2026-01-05 Ace - 192.168.1.20\r\n");

    EXPECT_TRUE(fresh.Store(config, &steps));
    std::string bytes;
    ASSERT_TRUE(fs::ReadWholeFile(config + "PlayerInfo.dat", bytes));
    EXPECT_EQ(bytes, TwoRecordFile());
    EXPECT_TRUE(fresh.Store(config, nullptr));

    PlayerInfoStore next(clock);
    EXPECT_EQ(next.Load(config, log, &steps), StoreLoad::Loaded);
    EXPECT_EQ(next.Records(), fresh.Records());
    EXPECT_EQ(steps.steps, (Strings{"Loading player infos...", "Storing player infos...", "Loading player infos..."}));
}

TEST(PlayerInfoStore, DamagedFileKeepsWhatWasReadAndIsSetAside) {
    const std::string config = Folder("damaged");
    const std::string full = TwoRecordFile();
    const struct {
        const char* why;
        std::string bytes;
        size_t recordsKept;
    } cases[] = {
        {"cut inside the second record", full.substr(0, full.size() - 5), 1},
        {"cut inside the first record", full.substr(0, 12), 0},
        {"count larger than the file", Golden().dw(1).w(40000).dw(0).b, 0},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(fs::WriteWholeFile(config + "PlayerInfo.dat", c.bytes));
        ManualClock clock;
        PlayerInfoStore store(clock);
        EXPECT_EQ(store.Load(config, config, nullptr), StoreLoad::Damaged) << c.why;
        EXPECT_EQ(store.Count(), c.recordsKept) << c.why;
        ASSERT_FALSE(store.LastDamagedPath().empty()) << c.why;
        std::string kept;
        ASSERT_TRUE(fs::ReadWholeFile(store.LastDamagedPath(), kept));
        EXPECT_EQ(kept, c.bytes) << c.why;
        EXPECT_TRUE(store.Store(config, nullptr)) << c.why;
        fs::DeleteFile(store.LastDamagedPath());
    }
}

// The child's side: each fault found adds its own bit to the exit code.
int StoreUnderFileSizeLimit(PlayerInfoStore& store, const std::string& folder, const std::string& previous) {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{64 * 1024, 64 * 1024};
    setrlimit(RLIMIT_FSIZE, &limit);
    StoreFileState& state = store.FileState();
    int faults = 0;
    faults += store.Store(folder, nullptr) ? 1 : 0;
    faults += state.writeFailure == "File too large" ? 0 : 2;
    faults += TakeWriteFailureToReport(state) == "File too large" ? 0 : 4;
    faults += store.Store(folder, nullptr) ? 8 : 0;  // tried again, failing the same way
    faults += TakeWriteFailureToReport(state).empty() ? 0 : 16;  // told once
    std::string kept;
    faults += fs::ReadWholeFile(folder + PlayerInfoStore::kFileName, kept) && kept == previous ? 0 : 32;
    faults += fs::FindFiles(folder, "*").size() == 1 ? 0 : 64;  // no temporary left behind
    return faults;
}

// A real write error half-way through a large store: a file-size limit in a child process (the
// signal that would end it is ignored, so the write fails with the system's reason).
TEST(PlayerInfoStore, WriteErrorKeepsThePreviousCopyAndIsToldOncePerCause) {
    const std::string folder = Folder("write_error");
    ManualClock clock;
    PlayerInfoStore store(clock);
    store.Update("Pilot", "10.0.0.7");
    ASSERT_TRUE(store.Store(folder, nullptr));
    std::string previous;
    ASSERT_TRUE(fs::ReadWholeFile(folder + PlayerInfoStore::kFileName, previous));
    for (int i = 0; i < 3000; ++i) store.Update("Pilot" + std::to_string(i), Address(i % 250));

    EXPECT_EXIT(std::exit(StoreUnderFileSizeLimit(store, folder, previous)), ::testing::ExitedWithCode(0), "");
}

TEST(PlayerInfoStore, SeveralConsoleThreadsReportAtOnce) {
    const std::string log = Folder("threads");
    ManualClock clock;
    PlayerInfoStore store(clock);
    store.SetTextPath(log + "PlayerInfo.txt");
    constexpr int kThreads = 4;
    constexpr int kNames = 40;
    std::vector<std::thread> threads;
    std::vector<int> added(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int n = 0; n < kNames; ++n) {
                // Every thread reports every name (in another case), each from its own address.
                std::string name = "Player" + std::to_string(n);
                if (t % 2) name[0] = 'p';
                if (store.Update(name, "10.0." + std::to_string(t) + "." + std::to_string(n)) == 1) {
                    ++added[t];
                    store.Save();
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_TRUE(store.SaveIfDue(true));  // what the throttle held back
    EXPECT_EQ(store.Count(), static_cast<size_t>(kNames));
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(added[t], kNames);
    for (const PlayerRecord& record : store.Records()) EXPECT_EQ(record.addresses.size(), size_t{kThreads});
    std::string text;
    ASSERT_TRUE(fs::ReadWholeFile(log + "PlayerInfo.txt", text));
    EXPECT_EQ(text, store.Text());
}

// The index must find exactly what a search from the front with the case rule finds: random names
// that differ only in ASCII or Windows-1252 letter case, from a small pool of addresses so the ring
// turns, checked against a plain linear reading of the rules; also a loaded file holding two records
// of one name (the first is the one that grows).
TEST(PlayerInfoStore, IndexFindsWhatTheLinearRuleFinds) {
    ManualClock clock;
    PlayerInfoStore store(clock);
    std::vector<PlayerRecord> expected;
    auto linearUpdate = [&](const std::string& name, const std::string& address) {
        auto it = std::find_if(expected.begin(), expected.end(),
                               [&](const PlayerRecord& r) { return fs::EqualsIgnoreCase(r.name, name); });
        if (it == expected.end()) {
            expected.push_back(PlayerRecord{});
            it = expected.end() - 1;
            it->name = name;
        }
        return it->AddAddress(address, LocalTimeToFileTime(clock.Now()));
    };
    const std::string forms[] = {"pilot", "PILOT", "Pilot", "\xC9lan", "\xE9LAN", "\x8Atar", "\x9Atar", "Ace", "ace2"};
    uint32_t seed = 7;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
    for (int step = 0; step < 3000; ++step) {
        const std::string& name = forms[next() % std::size(forms)];
        const std::string address = "10.0.0." + std::to_string(next() % 14);
        ASSERT_EQ(store.Update(name, address), linearUpdate(name, address)) << step;
        if (step % 500 == 0) clock.Advance(86400000);
    }
    EXPECT_EQ(store.Records(), expected);

    // Two records of one name in a file: updates go to the first, as the linear rule says.
    PlayerRecord first, second;
    first.name = "Twin";
    second.name = "TWIN";
    std::string bytes;
    {
        ArchiveWriter ar(&bytes);
        ar.Dword(1);
        ar.Count(2);
        first.Write(ar);
        second.Write(ar);
    }
    ArchiveReader reader(bytes);
    store.ReadFrom(reader);
    EXPECT_EQ(store.Update("twin", "10.1.1.1"), 1);
    EXPECT_EQ(store.Records()[0].addresses, Strings{"10.1.1.1"});
    EXPECT_TRUE(store.Records()[1].addresses.empty());
}

// PlayerInfo.txt is a full rewrite: new addresses arriving all the time rewrite it at most once per
// period, the change that waits is written by the tick once its period is over, and a store writes
// whatever waits.
TEST(PlayerInfoStore, TextFileIsRewrittenAtMostOncePerPeriod) {
    const std::string config = Folder("period_cfg");
    const std::string log = Folder("period_log");
    ManualClock clock;
    PlayerInfoStore store(clock);
    store.SetTextPath(log + "PlayerInfo.txt");
    auto lines = [&] {
        std::string text;
        fs::ReadWholeFile(log + "PlayerInfo.txt", text);
        return std::count(text.begin(), text.end(), '\n');
    };
    store.Update("A", "10.0.0.1");
    EXPECT_TRUE(store.Save());
    EXPECT_EQ(lines(), 1) << "the first change is written at once";
    store.Update("B", "10.0.0.2");
    EXPECT_TRUE(store.Save());
    clock.Advance(PlayerInfoStore::kTextPeriodMs - 1);
    EXPECT_TRUE(store.SaveIfDue());
    EXPECT_EQ(lines(), 1) << "within the period the change waits";
    clock.Advance(1);
    EXPECT_TRUE(store.SaveIfDue());
    EXPECT_EQ(lines(), 2) << "the tick after the period writes it";
    store.Update("C", "10.0.0.3");
    EXPECT_TRUE(store.Save());
    EXPECT_EQ(lines(), 2);
    EXPECT_TRUE(store.Store(config, nullptr));
    EXPECT_EQ(lines(), 3) << "a store writes what waits";

    // The same from the supervisor's pass, on the store's writer thread; after StopWriter only a store
    // writes.
    store.Update("D", "10.0.0.4");
    EXPECT_TRUE(store.Save());
    clock.Advance(PlayerInfoStore::kTextPeriodMs);
    store.SaveIfDueSoon();
    for (int i = 0; i < 500 && lines() < 4; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(lines(), 4) << "the writer thread writes what is due";
    store.StopWriter();
    store.Update("E", "10.0.0.5");
    EXPECT_TRUE(store.Save());
    clock.Advance(PlayerInfoStore::kTextPeriodMs);
    store.SaveIfDueSoon();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(lines(), 4) << "a stopped writer writes nothing";
    EXPECT_TRUE(store.Store(config, nullptr));
    EXPECT_EQ(lines(), 5);
}

}  // namespace
}  // namespace hm
