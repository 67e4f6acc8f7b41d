// Turns one chunk of raw console output into the parser's line buffer: the game's umlauts spelled
// out, the other printable Windows-1252 characters kept, control bytes and what follows them dropped, line breaks made into NUL separators, and four
// NUL bytes at the end so that the line walk always finds an empty line before the buffer ends.
//
// Pure function, used by the console parser on a connection's worker thread (and by benchmarks and
// fuzzers). It must never read past `size` bytes of the chunk nor write past `capacity` bytes of the
// output, whatever the bytes are.
#pragma once

#include <cstddef>
#include <vector>

namespace hm {

enum class NormalizeResult {
    Ok,
    NoData,     // null or empty chunk: the output holds only the four end bytes
    NoBuffer,   // no output buffer (or one too small for the end bytes): nothing written
};

// Bytes of line buffer that a chunk of `size` bytes can need at most (every byte may become two
// letters, plus the four end bytes).
constexpr size_t NormalizedCapacity(size_t size) { return 2 * size + 4; }

// Writes the normalised chunk to `out` and stores in `written` the bytes used, end bytes included.
// With less than NormalizedCapacity(size) bytes of room the text is cut where it would not fit,
// and the four end bytes still come last. When `lineEnds` is given it receives the offset of every
// NUL that ends a line, in order, the first end byte last, so that lines need not be searched for.
NormalizeResult NormalizeConsoleChunk(const char* chunk, size_t size, char* out, size_t capacity,
                                      size_t* written, std::vector<size_t>* lineEnds = nullptr);

}  // namespace hm
