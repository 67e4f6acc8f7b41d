#include "servers/anticheat_rules.h"

#include "servers/global_options_rules.h"

namespace hm {

namespace {
// The same range as the nickname verdict's; kept here so the servers module does not depend on it.
constexpr int64_t kShortLengthLow = 1;
constexpr int64_t kShortLengthHigh = 4;
}  // namespace

std::string CheckShortLength(int64_t length) {
    if (length >= kShortLengthLow && length <= kShortLengthHigh) return std::string();
    return RangeMessage(kShortLengthLow, kShortLengthHigh);
}

}  // namespace hm
