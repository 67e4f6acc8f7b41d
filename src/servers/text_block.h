// Constant tables kept as one block of consecutive zero-terminated texts ended by an empty text (the
// region table, the initial powerup lists): the form in which the program's resources hold them.
//
// Pure helper, any thread. Never hand it a block without the final empty text.
#pragma once

#include <cstring>
#include <string>
#include <vector>

namespace hm {

inline std::vector<std::string> TextBlockToList(const char* block) {
    std::vector<std::string> list;
    for (const char* text = block; *text != '\0'; text += std::strlen(text) + 1) list.emplace_back(text);
    return list;
}

}  // namespace hm
