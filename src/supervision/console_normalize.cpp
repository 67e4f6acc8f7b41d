#include "supervision/console_normalize.h"

#include <cstring>

namespace hm {

namespace {

constexpr size_t kEndBytes = 4;

// The German letters the game prints in Windows-1252, spelled the way nicknames are compared.
const char* Spelled(unsigned char c) {
    switch (c) {
        case 0xC4: return "Ae";
        case 0xD6: return "Oe";
        case 0xDC: return "Ue";
        case 0xE4: return "ae";
        case 0xF6: return "oe";
        case 0xFC: return "ue";
        case 0xDF: return "ss";
        default: return nullptr;
    }
}

}  // namespace

NormalizeResult NormalizeConsoleChunk(const char* chunk, size_t size, char* out, size_t capacity,
                                      size_t* written) {
    if (written) *written = 0;
    if (out == nullptr || capacity < kEndBytes) return NormalizeResult::NoBuffer;
    // Room for text; the end bytes are always reserved.
    const size_t limit = capacity - kEndBytes;
    size_t pos = 0;
    NormalizeResult result = NormalizeResult::Ok;
    if (chunk == nullptr || size == 0) {
        result = NormalizeResult::NoData;
    } else {
        const unsigned char* in = reinterpret_cast<const unsigned char*>(chunk);
        for (size_t i = 0; i < size && pos < limit;) {
            // Most of the output is plain text: copy a run of printable bytes at once.
            size_t run = i;
            const size_t runLimit = i + (limit - pos < size - i ? limit - pos : size - i);
            while (run < runLimit && in[run] >= 0x20 && in[run] <= 0x7E) ++run;
            if (run > i) {
                std::memcpy(out + pos, in + i, run - i);
                pos += run - i;
                i = run;
                continue;
            }
            const unsigned char c = in[i];
            if (const char* letters = Spelled(c)) {
                if (limit - pos < 2) break;
                out[pos++] = letters[0];
                out[pos++] = letters[1];
            } else if (c == '\r' || c == '\n') {
                // Runs of line breaks give one separator; a break at the very start still gives one.
                if (pos == 0 || out[pos - 1] != '\0') out[pos++] = '\0';
            } else {
                // A control byte of the game's console protocol is followed by four bytes of its
                // argument. When fewer follow, only what is really there is dropped.
                const size_t following = size - i - 1;
                if (following >= 3) i += following < 4 ? following : 4;
            }
            ++i;
        }
    }
    std::memset(out + pos, 0, kEndBytes);
    if (written) *written = pos + kEndBytes;
    return result;
}

}  // namespace hm
