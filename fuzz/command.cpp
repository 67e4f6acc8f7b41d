// Requests that a second start of the program hands to the running instance, as they arrive on the
// command channel: a request that decodes must be exactly the encoding of its words, so nothing is
// read past a word or dropped between two.
#include <cstdlib>
#include <string>
#include <vector>

#include "app/commands.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string request(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> words{"left over"};
    if (!hm::DecodeCommand(request, words)) return 0;
    if (words.empty() || hm::EncodeCommand(words) != request) std::abort();
    return 0;
}
