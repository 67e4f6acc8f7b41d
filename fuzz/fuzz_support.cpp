#include "fuzz_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

namespace hm::fuzz {

namespace {

struct Folder {
    std::filesystem::path path;
    Folder() {
        std::random_device random;
        std::error_code ec;
        const auto base = std::filesystem::temp_directory_path(ec);
        for (int attempt = 0; attempt < 100; ++attempt) {
            path = base / ("hm-fuzz-" + std::to_string(random()));
            if (std::filesystem::create_directory(path, ec)) return;
        }
        std::abort();  // no private folder: running on would mix inputs with someone else's files
    }
    ~Folder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

Folder& TheFolder() {
    static Folder folder;
    return folder;
}

}  // namespace

const std::string& ScratchFolder() {
    static const std::string path = TheFolder().path.string();
    return path;
}

std::string ScratchFile(const std::string& name, const uint8_t* data, size_t size) {
    std::string path = ScratchFolder() + "/" + name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out) std::abort();  // the reader would see a stale input and every finding would be noise
    return path;
}

}  // namespace hm::fuzz
