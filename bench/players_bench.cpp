// The cost of a new player's address with a large player store: the parser's Update and Save as a
// console worker calls them, with 100 000 records already stored and the text file in a temporary
// folder. Save rewrites PlayerInfo.txt at most once per period, so this measures what a join costs
// while addresses keep coming; the rewrite itself is measured on its own beside it.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/clock.h"
#include "platform/files.h"
#include "players/player_info_store.h"

namespace {

std::string Folder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/hm-players-bench-" + std::to_string(::getpid());
    hm::fs::CreateFolders(folder);
    return folder + "/";
}

void Fill(hm::PlayerInfoStore& store, int count) {
    for (int i = 0; i < count; ++i) store.Update("Pilot" + std::to_string(i), "10." + std::to_string(i % 250) + ".0.1");
}

void NewAddressWith100kRecords(benchmark::State& state) {
    hm::ManualClock clock;
    hm::PlayerInfoStore store(clock);
    const std::string folder = Folder();
    store.SetTextPath(folder + "PlayerInfo.txt");
    Fill(store, 100000);
    store.Save();
    int n = 0;
    for (auto _ : state) {
        const std::string name = "Newcomer" + std::to_string(n++);
        benchmark::DoNotOptimize(store.Update(name, "192.168.7.7"));
        store.Save();
        clock.Advance(1);  // addresses keep coming, well inside one text period
    }
    hm::fs::RemoveFolder(folder, true);
}
BENCHMARK(NewAddressWith100kRecords)->Unit(benchmark::kMicrosecond);

void TextRewriteOf100kRecords(benchmark::State& state) {
    hm::ManualClock clock;
    hm::PlayerInfoStore store(clock);
    const std::string folder = Folder();
    store.SetTextPath(folder + "PlayerInfo.txt");
    Fill(store, 100000);
    for (auto _ : state) {
        store.Update("Pilot1", "172.16.0." + std::to_string(state.iterations() % 200));
        store.Save();
        clock.Advance(hm::PlayerInfoStore::kTextPeriodMs);
    }
    hm::fs::RemoveFolder(folder, true);
}
BENCHMARK(TextRewriteOf100kRecords)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
