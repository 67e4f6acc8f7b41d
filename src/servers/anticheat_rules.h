// The checks of the anti-cheat dialog without any screen: the range of the short-nickname length
// taken on OK. The other rules of that dialog (adding a nickname, what OK keeps) live with the nickname
// rules, as the update thread's merge shares them.
//
// Pure functions, used by the Qt dialog and its tests on the user-interface thread; they never touch
// the live options.
#pragma once

#include <cstdint>
#include <string>

namespace hm {

// Empty when length is an accepted short-nickname length (1 to 4), else the range message.
std::string CheckShortLength(int64_t length);

}  // namespace hm
