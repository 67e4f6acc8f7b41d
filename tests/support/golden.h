// Expected bytes of the stored files, written by hand from the format: little-endian words and
// dwords, short strings (one length byte) and short lists (a word count). Also a progress window
// that records its steps. Test helpers only; never built from the program's own writer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "servers/progress.h"

namespace hm::test_support {

struct Golden {
    std::string b;
    Golden& dw(uint32_t v) {
        for (int i = 0; i < 4; ++i) b += static_cast<char>((v >> (8 * i)) & 0xFF);
        return *this;
    }
    Golden& w(uint16_t v) {
        b += static_cast<char>(v & 0xFF);
        b += static_cast<char>(v >> 8);
        return *this;
    }
    Golden& str(const std::string& s) {  // texts shorter than 255
        b += static_cast<char>(s.size());
        b += s;
        return *this;
    }
    Golden& list(const std::vector<std::string>& l) {  // lists shorter than 0xFFFF
        w(static_cast<uint16_t>(l.size()));
        for (const std::string& s : l) str(s);
        return *this;
    }
};

struct RecordedSteps : ProgressSteps {
    void Setup(const std::string&, int) override {}
    void Step(const std::string& text) override { steps.push_back(text); }
    std::vector<std::string> steps;
};

}  // namespace hm::test_support
