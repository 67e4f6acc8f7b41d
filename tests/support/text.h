// Small text and waiting helpers of the end-to-end tests, which read the program's event lines and
// the simulated servers' records from files while the programs run.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <thread>

#include "platform/files.h"

namespace hm::test_support {

// How often part stands in text (without overlaps).
inline size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

// Polls condition every 50 ms until it holds or the seconds are over; its last answer.
inline bool WaitFor(const std::function<bool()>& condition, int seconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < until) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return condition();
}

// The whole file, or "" when it cannot be read (yet).
inline std::string ReadFile(const std::string& path) {
    std::string text;
    fs::ReadWholeFile(path, text);
    return text;
}

}  // namespace hm::test_support
