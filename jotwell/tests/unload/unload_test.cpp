// Loading and unloading the library by hand, as a program that binds it at run time does: the queue
// is written out on unload unless the caller said not to, the unload never waits for a stuck logging
// thread without limit, and a reload reads the configuration anew.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "jotwell.h"
#include "test_support.h"

namespace hm::jotwell {
namespace {

using ExFn = int32_t (*)(const char*, const char*, JotwellOptions*);

class Unload : public ::testing::Test {
protected:
    void SetUp() override {
        testing::SetEnv("XDG_RUNTIME_DIR", dir.Path());
        testing::SetEnv("HALDMOOR3_REGISTRY", dir / "registry.reg");
    }

    struct Loaded {
        void* handle = nullptr;
        ExFn ex = nullptr;
        ExFn exQ = nullptr;
        uint32_t* dequeueOnExit = nullptr;
    };
    static Loaded Load() {
        Loaded l;
        l.handle = testing::LoadLibrary(JOTWELL_LIBRARY_PATH);
        l.ex = reinterpret_cast<ExFn>(testing::Symbol(l.handle, "JotwellEx"));
        l.exQ = reinterpret_cast<ExFn>(testing::Symbol(l.handle, "JotwellExQ"));
        l.dequeueOnExit = static_cast<uint32_t*>(testing::Symbol(l.handle, "bDequeueOnExit"));
        return l;
    }

    // Queues count lines while the logging thread is paused, then unloads (with running set: once
    // the thread resumed and wrote its first line). Returns the lines written.
    size_t QueueAndUnload(const std::string& name, int count, bool dequeue, bool running = false,
                          uint32_t pauseAfterMs = 0) {
        Loaded lib = Load();
        EXPECT_TRUE(lib.ex && lib.exQ && lib.dequeueOnExit);
        if (!lib.ex || !lib.exQ || !lib.dequeueOnExit) return 0;
        JotwellOptions control{};
        control.extOptions = LE_QUEUE_PAUSE | LE_QUEUE_CONTROL_ONLY;
        EXPECT_EQ(lib.exQ("STDOUT", "", &control), 0);
        JotwellOptions o{};
        o.extOptions = LE_NO_BANNER | LE_DONT_LOG_CONFIG | (pauseAfterMs ? LE_PAUSE_AFTER : 0);
        o.waitMs = pauseAfterMs;
        for (int i = 0; i < count; ++i) EXPECT_EQ(lib.exQ((dir / name).c_str(), std::to_string(i).c_str(), &o), 0);
        // The name of the file, from the library itself.
        o.logOptions = LO_LOGNAME_ONLY;
        o.extOptions &= ~LE_PAUSE_AFTER;
        EXPECT_EQ(lib.ex((dir / name).c_str(), "", &o), 0);
        logPath = o.logFileName ? o.logFileName : "";
        if (running) {
            // The thread takes all queued lines at once and starts writing them.
            control.extOptions = LE_QUEUE_RESUME | LE_QUEUE_CONTROL_ONLY;
            EXPECT_EQ(lib.exQ("STDOUT", "", &control), 0);
            for (int i = 0; i < 1000 && testing::ReadLines(logPath).empty(); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        *lib.dequeueOnExit = dequeue ? 1 : 0;
        testing::UnloadLibrary(lib.handle);
        return testing::ReadLines(logPath).size();
    }

    testing::TempFolder dir;
    std::string logPath;
};

TEST_F(Unload, QueueIsWrittenOutOnUnload) {
    ASSERT_EQ(QueueAndUnload("Drained_", 5000, true), 5000u);
    const auto lines = testing::ReadLines(logPath);
    for (int i = 0; i < 5000; i += 997) EXPECT_EQ(lines[i].substr(30), std::to_string(i));
}

TEST_F(Unload, LinesTheThreadIsWritingAtUnloadAreAllWrittenInOrder) {
    // Each line pauses the thread for 2 ms after it was written, so the thread is in the middle of
    // its lines when the library goes: what it has not written yet is written by the unload (which
    // cuts the pauses short), behind what it wrote.
    ASSERT_EQ(QueueAndUnload("Busy_", 3000, true, true, 2), 3000u);
    const auto lines = testing::ReadLines(logPath);
    for (int i = 0; i < 3000; ++i) ASSERT_EQ(lines[i].substr(30), std::to_string(i));
}

TEST_F(Unload, ALogThatTakesNoMoreBytesDelaysTheUnloadOnlyBriefly) {
    // The log file is a named pipe whose reader has stopped reading: the logging thread fills it and
    // then waits for room that never comes. The unload writes what it can, gives up, and returns. Run
    // in a child, so that a hanging unload fails the test instead of stopping it.
    testing::ProcessSignal unloaded;
    const int child = testing::ForkChild([&] {
        Loaded lib = Load();
        if (!lib.ex || !lib.exQ) return 1;
        JotwellOptions o{};
        o.extOptions = LE_NO_BANNER | LE_DONT_LOG_CONFIG;
        o.logOptions = LO_LOGNAME_ONLY;
        const std::string prefix = dir / "Piped_";
        if (lib.ex(prefix.c_str(), "", &o) != 0 || !o.logFileName) return 2;
        testing::StalledPipe pipe(o.logFileName);
        if (!pipe.Open()) return 3;
        o.logOptions = 0;
        const std::string text(100, 'x');
        for (int i = 0; i < 20000; ++i) {
            if (lib.exQ(prefix.c_str(), text.c_str(), &o) != 0) return 4;
        }
        testing::UnloadLibrary(lib.handle);
        unloaded.Notify();
        return pipe.Drain().find(text) == std::string::npos ? 5 : 0;  // the pipe got what fitted
    });
    const bool returned = unloaded.Wait(60000);
    if (!returned) testing::KillChild(child);
    EXPECT_TRUE(returned) << "the unload waits for the logging thread without limit";
    EXPECT_EQ(testing::WaitChild(child), returned ? 0 : 128 + 9);
}

TEST_F(Unload, QueueIsDroppedWhenTheCallerSaysSo) { EXPECT_EQ(QueueAndUnload("Dropped_", 100, false), 0u); }

TEST_F(Unload, ReloadReadsTheConfigurationAgain) {
    const std::string ini = dir / "jotwell.ini";
    JotwellOptions o{};
    o.extOptions = LE_NO_BANNER;
    o.configFile = ini.c_str();
    const std::string prefix = dir / "Conf_";
    testing::WriteFile(ini, "[Default]\nDONT_LOG_CONFIG=1\nADD_DOT=1\n");
    Loaded lib = Load();
    ASSERT_TRUE(lib.ex);
    ASSERT_EQ(lib.ex(prefix.c_str(), "one", &o), 0);
    testing::WriteFile(ini, "[Default]\nDONT_LOG_CONFIG=1\nTHREE_BLANKS=1\n");
    ASSERT_EQ(lib.ex(prefix.c_str(), "two", &o), 0);
    testing::UnloadLibrary(lib.handle);
    lib = Load();
    ASSERT_TRUE(lib.ex);
    ASSERT_EQ(lib.ex(prefix.c_str(), "three", &o), 0);
    o.logOptions = LO_LOGNAME_ONLY;
    ASSERT_EQ(lib.ex(prefix.c_str(), "", &o), 0);
    const auto lines = testing::ReadLines(o.logFileName);
    testing::UnloadLibrary(lib.handle);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].substr(30), "one.");
    EXPECT_EQ(lines[1].substr(30), "two.");
    EXPECT_EQ(lines[2].substr(30), "  three");
}

}  // namespace
}  // namespace hm::jotwell
