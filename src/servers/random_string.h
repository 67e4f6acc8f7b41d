// Random texts for new console passwords and the default remote password of new global options.
//
// Free function, used on the user-interface thread (it reseeds the C library's shared generator, which
// is not thread-safe). Never use it for anything that must be hard to guess: eight characters from a
// generator seeded with the tick count are a convenience default, not a secret.
#pragma once

#include <cstdint>
#include <string>

namespace hm {

// Seeds the C generator with seedTick, then draws 8 characters, each chars[rand() % 62] of
// "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789".
std::string RandomString(uint32_t seedTick);

}  // namespace hm
