#include "supervision/console_normalize.h"

#include <bit>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace hm {

namespace {

constexpr size_t kEndBytes = 4;

uint64_t Load8(const unsigned char* p) {
    uint64_t word;
    std::memcpy(&word, p, sizeof word);
    return word;
}

// How many of the eight bytes of `word` (in memory order) are printable ASCII (0x20..0x7E) before
// the first one that is not. A byte is flagged when its top bit is set, when adding 0x60 leaves its
// top bit clear (below 0x20) or when adding 0x01 sets it (0x7F). Sums of bytes with the top bit set
// may carry into the bytes after them, but only bytes after the first flagged one, which the count
// never looks at.
size_t PrintablePrefix(uint64_t word) {
    constexpr uint64_t kHigh = 0x8080808080808080ull;
    const uint64_t flagged = (word | ~(word + 0x6060606060606060ull) | (word + 0x0101010101010101ull)) & kHigh;
    if (flagged == 0) return 8;
    return static_cast<size_t>(std::countr_zero(flagged)) / 8;
}

#if defined(__SSE2__)
// Copies sixteen bytes and returns how many of them are printable before the first one that is not.
// Bytes from 0x80 up compare as negative, so "below 0x20" catches them together with the controls.
size_t CopyPrintable16(const unsigned char* in, char* out) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bytes);
    const __m128i special = _mm_or_si128(_mm_cmplt_epi8(bytes, _mm_set1_epi8(0x20)),
                                         _mm_cmpeq_epi8(bytes, _mm_set1_epi8(0x7F)));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(special));
    return mask == 0 ? 16 : static_cast<size_t>(std::countr_zero(mask));
}
#endif

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
                                      size_t* written, std::vector<size_t>* lineEnds) {
    if (written) *written = 0;
    if (lineEnds) lineEnds->clear();
    if (out == nullptr || capacity < kEndBytes) return NormalizeResult::NoBuffer;
    // Room for text; the end bytes are always reserved.
    const size_t limit = capacity - kEndBytes;
    size_t pos = 0;
    NormalizeResult result = NormalizeResult::Ok;
    if (chunk == nullptr || size == 0) {
        result = NormalizeResult::NoData;
    } else {
        const unsigned char* in = reinterpret_cast<const unsigned char*>(chunk);
        size_t lastBreakEnd = static_cast<size_t>(-1);   // output offset just after the last separator
        for (size_t i = 0; i < size && pos < limit;) {
            const unsigned char c = in[i];
            if (c >= 0x20 && c <= 0x7E) {
                // Most of the output is plain text: a block of bytes is copied at once and the output
                // moves on by as many of them as were printable (at least this first one); whatever
                // followed is written over next.
#if defined(__SSE2__)
                if (limit - pos >= 16 && size - i >= 16) {
                    const size_t printable = CopyPrintable16(in + i, out + pos);
                    pos += printable;
                    i += printable;
                    continue;
                }
#endif
                if constexpr (std::endian::native == std::endian::little) {
                    if (limit - pos >= 8 && size - i >= 8) {
                        const uint64_t word = Load8(in + i);
                        std::memcpy(out + pos, &word, sizeof word);
                        const size_t printable = PrintablePrefix(word);
                        pos += printable;
                        i += printable;
                        continue;
                    }
                }
                out[pos++] = static_cast<char>(c);
                ++i;
            } else if (c == '\r' || c == '\n') {
                // Runs of line breaks give one separator; a break at the very start still gives one.
                // (Remembered rather than read back: the byte was just written by a wide store.)
                if (pos != lastBreakEnd) {
                    if (lineEnds) lineEnds->push_back(pos);
                    out[pos++] = '\0';
                    lastBreakEnd = pos;
                }
                ++i;
                while (i < size && (in[i] == '\r' || in[i] == '\n')) ++i;
            } else if (const char* letters = Spelled(c)) {
                if (limit - pos < 2) break;
                out[pos++] = letters[0];
                out[pos++] = letters[1];
                ++i;
            } else if (c >= 0xA0) {
                // The other printable Windows-1252 characters are text like any letter ("Bj\xE9rn").
                out[pos++] = static_cast<char>(c);
                ++i;
            } else {
                // A control byte of the game's console protocol (below 0x20, 0x7F, 0x80 to 0x9F) is
                // followed by four bytes of its argument. When fewer follow, only what is really there
                // is dropped.
                const size_t following = size - i - 1;
                if (following >= 3) i += following < 4 ? following : 4;
                ++i;
            }
        }
    }
    std::memset(out + pos, 0, kEndBytes);
    if (lineEnds) lineEnds->push_back(pos);
    if (written) *written = pos + kEndBytes;
    return result;
}

}  // namespace hm
