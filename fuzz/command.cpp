// Requests that a second start of the program hands to the running instance, as they arrive on the
// command channel: decoded into words, which must encode back to the request (with its last line
// end) and never carry a line break.
#include <cstdlib>
#include <string>

#include "app/commands.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string request(reinterpret_cast<const char*>(data), size);
    const auto words = hm::DecodeCommand(request);
    for (const auto& word : words) {
        if (word.find('\n') != std::string::npos) std::abort();
    }
    const std::string expected = request.empty() || request.back() == '\n' ? request : request + '\n';
    if (hm::EncodeCommand(words) != expected) std::abort();
    return 0;
}
