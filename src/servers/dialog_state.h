// Whether one of the settings dialogs is open (global options, server list, about box).
//
// Process-wide: each of those dialogs sets it when it opens and clears it when it closes, on the
// user-interface thread; the update thread reads it and waits while it is set, so that it never
// changes options under an open dialog.
#pragma once

#include <atomic>
#include <cstdint>

namespace hm {

extern std::atomic<uint32_t> settingsDialogOpen;

}  // namespace hm
