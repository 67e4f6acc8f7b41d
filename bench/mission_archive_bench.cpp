// bench/mission_archive_bench: listing a mission and extracting its custom objects from a 1.5 GB
// archive (sparse, so it takes no disk space) whose description and object lie behind one huge
// entry. Reports the time per operation, the bytes read per operation (the kernel's count of this
// process's reads) and the peak resident memory, which must stay flat whatever the archive's size.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>

#include "game/game_files.h"
#include "launch/custom_objects.h"
#include "launch/mission_archive.h"
#include "platform/files.h"

namespace {

constexpr const char* kDescription = "NAME big\nNUMLEVELS 1\nLEVEL 1\n";

std::string Le32(uint32_t v) {
    std::string b;
    for (int i = 0; i < 4; ++i) b += static_cast<char>((v >> (8 * i)) & 0xFF);
    return b;
}

// A /proc/self file's value after `key` (kB for status, bytes for io); 0 when unreadable.
uint64_t ProcValue(const char* file, const std::string& key) {
    std::string text;
    if (!hm::fs::ReadWholeFile(file, text)) return 0;
    const size_t at = text.find(key);
    return at == std::string::npos ? 0 : std::stoull(text.substr(at + key.size()));
}

class LargeArchive {
public:
    explicit LargeArchive(uint32_t bigEntry) {
        game = (std::filesystem::temp_directory_path() / ("hm_bench_mission_" + std::to_string(std::random_device()())))
                   .string();
        std::filesystem::create_directories(game + "/missions");
        std::filesystem::create_directories(game + "/custom/cache");
        const std::pair<std::string, uint32_t> entries[] = {
            {"big.d3l", bigEntry},
            {"big.msn", static_cast<uint32_t>(std::strlen(kDescription))},
            {"x.oof", 5},
            {"pad", 0},
        };
        std::string head = "HOG2" + Le32(4) + Le32(68 + 48 * 4) + std::string(56, '\0');
        for (const auto& [name, length] : entries) {
            std::string field = name;
            field.resize(40, '\0');
            head += field + Le32(length) + Le32(0);
        }
        const std::string path = game + "/missions/big.mn3";
        hm::fs::WriteWholeFile(path, head);
        std::filesystem::resize_file(path, head.size() + bigEntry);
        hm::fs::AppendToFile(path, std::string(kDescription) + "x-obj");
    }
    ~LargeArchive() { std::filesystem::remove_all(game); }
    std::string game;
};

void Report(benchmark::State& state, uint64_t readBefore) {
    const uint64_t read = ProcValue("/proc/self/io", "rchar: ") - readBefore;
    state.counters["bytes_read_per_op"] = benchmark::Counter(static_cast<double>(read) / state.iterations());
    state.counters["peak_rss_kB"] = static_cast<double>(ProcValue("/proc/self/status", "VmHWM:"));
}

void BM_ListMissionFromLargeArchive(benchmark::State& state) {
    LargeArchive archive(static_cast<uint32_t>(state.range(0)) << 20);
    const uint64_t before = ProcValue("/proc/self/io", "rchar: ");
    for (auto _ : state) {
        hm::CMissionList list;
        hm::CMissionInfo mission;
        mission.fileName = "big.mn3";
        hm::ReadMissionArchive(list, archive.game + "/missions", mission);
        if (list.size() != 1) state.SkipWithError("the mission was not listed");
        benchmark::DoNotOptimize(list);
    }
    Report(state, before);
}
BENCHMARK(BM_ListMissionFromLargeArchive)->Arg(1)->Arg(1536);

void BM_ExtractObjectsFromLargeArchive(benchmark::State& state) {
    LargeArchive archive(static_cast<uint32_t>(state.range(0)) << 20);
    const uint64_t before = ProcValue("/proc/self/io", "rchar: ");
    for (auto _ : state) {
        if (hm::ExtractCustomObjects("big.mn3", archive.game, ".oof") != 1) state.SkipWithError("no object extracted");
        hm::RemoveCustomObjects("big.mn3", archive.game);
    }
    Report(state, before);
}
BENCHMARK(BM_ExtractObjectsFromLargeArchive)->Arg(1)->Arg(1536);

}  // namespace

BENCHMARK_MAIN();
