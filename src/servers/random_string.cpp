#include "servers/random_string.h"

#include <cstdlib>

namespace hm {

std::string RandomString(uint32_t seedTick) {
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::srand(seedTick);
    std::string text;
    for (int i = 0; i < 8; ++i) text += kChars[std::rand() % 62];
    return text;
}

}  // namespace hm
