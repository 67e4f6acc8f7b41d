// The time the library's unload allows for writing out what is queued.
//
// Set once by the unload (on the loader's thread) and read by every wait of the write path that
// could otherwise last without limit: a file lock waited for "forever", a log file that takes no more
// bytes (a named pipe nobody reads). Once the time is up those waits give up, so the logging thread
// ends and the unload returns. Never set while the library is in ordinary use; then nothing changes.
#pragma once

#include <chrono>
#include <cstdint>

namespace hm::jotwell {

using UnloadClock = std::chrono::steady_clock;

// The unload starts: waits end at now + budget.
void StartUnloadClock(std::chrono::milliseconds budget);
// A later load (or the next test) starts without a deadline.
void ResetUnloadClock();

// True once the unload's time is up.
bool UnloadTimeIsUp();
// How long a wait may still last: `wanted`, cut at the unload's deadline (never negative).
std::chrono::milliseconds CutByUnload(std::chrono::milliseconds wanted);
// True while an unload is running.
bool Unloading();

}  // namespace hm::jotwell
