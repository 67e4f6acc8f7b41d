#include "servers/dialog_state.h"

namespace hm {

std::atomic<uint32_t> settingsDialogOpen{0};

}  // namespace hm
