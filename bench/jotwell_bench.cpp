// Lines per second of the logging library's write paths, of the plain locked append they are built
// on, and of spdlog on the same lines. Everything is written below one temporary folder that is
// removed at the end.
//
//   JotwellEx             synchronous path, 1 and 4 threads (items/s = lines/s)
//   LockedAppendFloor     the same cross-process lock + open, append, close: the floor of that design
//   JotwellExQ_Producer   how fast callers hand lines to the queue
//   JotwellExQ_EndToEnd   from the first queued line until the file holds all of them
//   SpdlogBasicFile       spdlog's basic file sink (buffered by its FILE, flushed at the end)
//   SpdlogAsync_Producer / SpdlogAsync_EndToEnd   spdlog's async logger, blocking when its queue is full
//
// Both end-to-end figures end the same way: the clock stops when the file holds every line of the
// iteration (its size, polled every kPollMicros). spdlog's flush() only asks its thread to flush, so
// it is sent first and the file is then polled like jotwell's.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include <spdlog/async.h>
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>

#include "jotwell.h"
#include "platform/named_mutex.h"

namespace {

namespace fsys = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string g_folder;
const std::string kText = "Server 2302: Player 'Nickname' connected from 192.168.1.20:2302, slot 7 of 16.";
constexpr int kBatch = 50000;
constexpr const char* kPattern = "%Y-%m-%d %H:%M:%S.%e%z %v";
constexpr int kPollMicros = 100;

uint64_t FileSize(const std::string& path) {
    std::error_code ec;
    const auto size = fsys::file_size(path, ec);
    return ec ? 0 : static_cast<uint64_t>(size);
}

bool WaitForSize(const std::string& path, uint64_t size) {
    const auto deadline = Clock::now() + std::chrono::seconds(120);
    while (FileSize(path) < size) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(kPollMicros));
    }
    return true;
}

std::string LogNameOf(const std::string& prefix) {
    JotwellOptions o{};
    o.logOptions = LO_LOGNAME_ONLY;
    JotwellEx(prefix.c_str(), "", &o);
    std::string name = o.logFileName ? o.logFileName : "";
    o.logOptions = LO_LOGNAME_ONLY;
    JotwellEx(prefix.c_str(), "", &o);
    return name;
}

// Bytes one line of kText takes in the file (written once, synchronously).
uint64_t LineBytes(const std::string& prefix, const std::string& path) {
    JotwellEx(prefix.c_str(), kText.c_str(), nullptr);  // banner and configuration lines come first
    const uint64_t before = FileSize(path);
    JotwellEx(prefix.c_str(), kText.c_str(), nullptr);
    return FileSize(path) - before;
}

void BM_JotwellEx(benchmark::State& state) {
    static const std::string prefix = g_folder + "/sync_";
    JotwellOptions options{};  // what the program passes: all defaults
    for (auto _ : state) {
        if (JotwellEx(prefix.c_str(), kText.c_str(), &options) != 0) state.SkipWithError("write failed");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_JotwellEx)->Threads(1)->Threads(4)->UseRealTime();

void BM_LockedAppendFloor(benchmark::State& state) {
    static hm::NamedMutex* mutex = [] {
        auto* m = new hm::NamedMutex;
        m->Create("JotwellBenchFloor");
        return m;
    }();
    static const std::string path = g_folder + "/floor.log";
    const std::string line = "2026-01-05 12:00:00.000+01:00 " + kText + "\r\n";
    for (auto _ : state) {
        mutex->Lock(hm::NamedMutex::kInfinite);
        if (std::FILE* f = std::fopen(path.c_str(), "ab")) {
            std::fwrite(line.data(), 1, line.size(), f);
            std::fclose(f);
        }
        mutex->Unlock();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LockedAppendFloor)->Threads(1)->Threads(4)->UseRealTime();

void QueuedRun(benchmark::State& state, bool endToEnd) {
    const std::string prefix = g_folder + (endToEnd ? "/queued_e2e_" : "/queued_producer_");
    const std::string path = LogNameOf(prefix);
    const uint64_t lineBytes = LineBytes(prefix, path);
    JotwellOptions options{};
    for (auto _ : state) {
        const uint64_t before = FileSize(path);
        const auto start = Clock::now();
        for (int i = 0; i < kBatch; ++i) JotwellExQ(prefix.c_str(), kText.c_str(), &options);
        const auto queued = Clock::now();
        if (!WaitForSize(path, before + kBatch * lineBytes)) state.SkipWithError("lines missing");
        const auto written = Clock::now();
        state.SetIterationTime(std::chrono::duration<double>((endToEnd ? written : queued) - start).count());
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}

void BM_JotwellExQ_Producer(benchmark::State& state) { QueuedRun(state, false); }
void BM_JotwellExQ_EndToEnd(benchmark::State& state) { QueuedRun(state, true); }
BENCHMARK(BM_JotwellExQ_Producer)->UseManualTime()->Iterations(6);
BENCHMARK(BM_JotwellExQ_EndToEnd)->UseManualTime()->Iterations(6);

void BM_SpdlogBasicFile(benchmark::State& state) {
    static std::shared_ptr<spdlog::logger> logger = [] {
        auto l = spdlog::basic_logger_mt("basic", g_folder + "/spdlog_basic.log");
        l->set_pattern(kPattern);
        return l;
    }();
    for (auto _ : state) logger->info(kText);
    logger->flush();
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SpdlogBasicFile)->Threads(1)->Threads(4)->UseRealTime();

void SpdlogAsyncRun(benchmark::State& state, bool endToEnd) {
    const std::string path = g_folder + (endToEnd ? "/spdlog_async_e2e.log" : "/spdlog_async_producer.log");
    auto logger = spdlog::create_async<spdlog::sinks::basic_file_sink_mt>(endToEnd ? "async_e2e" : "async_p", path);
    logger->set_pattern(kPattern);
    logger->info(kText);
    logger->flush();
    WaitForSize(path, 1);
    const uint64_t lineBytes = FileSize(path);
    for (auto _ : state) {
        const uint64_t before = FileSize(path);
        const auto start = Clock::now();
        for (int i = 0; i < kBatch; ++i) logger->info(kText);
        const auto queued = Clock::now();
        logger->flush();
        if (!WaitForSize(path, before + kBatch * lineBytes)) state.SkipWithError("lines missing");
        const auto written = Clock::now();
        state.SetIterationTime(std::chrono::duration<double>((endToEnd ? written : queued) - start).count());
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
    spdlog::drop(logger->name());
}

void BM_SpdlogAsync_Producer(benchmark::State& state) { SpdlogAsyncRun(state, false); }
void BM_SpdlogAsync_EndToEnd(benchmark::State& state) { SpdlogAsyncRun(state, true); }
BENCHMARK(BM_SpdlogAsync_Producer)->UseManualTime()->Iterations(6);
BENCHMARK(BM_SpdlogAsync_EndToEnd)->UseManualTime()->Iterations(6);

}  // namespace

int main(int argc, char** argv) {
    g_folder = (fsys::temp_directory_path() / ("jotwell-bench-" + std::to_string(Clock::now().time_since_epoch().count())))
                   .string();
    fsys::create_directories(g_folder);
    setenv("XDG_RUNTIME_DIR", g_folder.c_str(), 1);  // lock files stay in our folder too
    spdlog::init_thread_pool(131072, 1);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    spdlog::shutdown();
    std::error_code ec;
    fsys::remove_all(g_folder, ec);
    return 0;
}
