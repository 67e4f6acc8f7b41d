// Helpers shared by the fuzz targets. Readers that only take a path get their input through one
// scratch file per name in a folder of this process, created on first use and removed at exit, so a
// run of millions of inputs leaves nothing behind and never touches another process's files.
// Used from the fuzzer's one thread; never reads the clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace hm::fuzz {

// This process's scratch folder (ends without '/').
const std::string& ScratchFolder();
// Writes the bytes to ScratchFolder()/name (replacing the last input) and returns the path.
std::string ScratchFile(const std::string& name, const uint8_t* data, size_t size);

}  // namespace hm::fuzz
