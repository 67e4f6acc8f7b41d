// The process: start steps, the single-instance rule, the headless or desktop run, and the end.
//
// RunProgram is main(). It binds the logging library, removes the self-update's leftovers, decides
// whether another instance runs (then hands it the request and ends without logging anything),
// and otherwise runs the server manager until an exit command or a signal.
#pragma once

#include <cstdint>
#include <string>

#include "update/update_signature.h"

namespace hm {

class JotwellBinding;
class Registry;
struct UpdateTuning;

// The desktop front-end of a program that carries one: runs the manager with its window on this
// thread and returns the process's exit code.
using DesktopFrontEnd = int (*)(int argc, char** argv, JotwellBinding& jotwell, Registry& registry,
                                const UpdateTuning& update);

// updateKey: the public key that new programs must be signed with (built into the program).
int RunProgram(int argc, char** argv, DesktopFrontEnd desktop, const UpdateKey& updateKey);

// The update thread's settings of this run: the update site (HALDMOOR3_UPDATE_SITE, else the registry
// value Haldmoor3UpdateSite under the game's key; a trailing '/' dropped), the restart arguments of
// the mode, and the test aids HALDMOOR3_UPTIME_CYCLES (cycles before the uptime restart, 1 ... 12000)
// and HALDMOOR3_UPDATE_SECOND_MS (one second of the thread's waits, 1 ... 1000).
UpdateTuning UpdateTuningSetting(Registry& registry, const UpdateKey& key, bool headless);

// Test and demo aids of the environment: HALDMOOR3_TIMER_MS, the supervisor period (15000 when unset
// or outside 10 ... 3600000), and HALDMOOR3_CONSOLE_TIMEOUT_MS, a console silence time-out that
// replaces both normal ones (0 = the normal ones).
uint32_t TimerPeriodSetting();
uint32_t ConsoleTimeoutSetting();

// The file of --metrics-file among the program's arguments ("" = none).
std::string MetricsFileArgument(int argc, char** argv);

// Whether a window can be opened: a display (DISPLAY, WAYLAND_DISPLAY) or a chosen Qt platform.
bool DisplayAvailable();

// Name of the command channel: a path in the runtime folder, beside the instance mutex. The channel
// turns it into a short socket name, so a runtime folder of any length works.
std::string InstanceSocketPath();

}  // namespace hm
