// HOG2 mission archives as the game folder may hold them: the directory walk, the
// mission list's reader, and the launch's extraction of custom objects followed by the stop's
// removal. Whatever the archive names, nothing may be written outside the game folder, and the stop
// removes every object the launch wrote.
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fuzz_support.h"
#include "launch/custom_objects.h"
#include "launch/mission_archive.h"
#include "platform/files.h"

namespace {

// The directory walk the launch and the mission list use: every entry it yields must lie inside the
// file when it says so, and reading one must never go past the end.
void WalkDirectory(const std::string& path, size_t size) {
    hm::Hog2Archive archive;
    if (archive.Open(path) != hm::Hog2Archive::Opened::kOk) return;
    hm::Hog2Entry entry;
    std::string data;
    for (int n = 0; n < 4096 && archive.Next(entry); ++n) {
        if (!hm::Hog2DataFits(entry, size)) continue;
        if (entry.offset + entry.length > size) std::abort();  // "fits" must mean inside the bytes
        if (archive.ReadData(entry, 1 << 16, data) && data.size() != entry.length) std::abort();
    }
}

// Every file below the scratch folder must lie in the game folder (or be the scratch inputs).
void CheckNothingEscaped(const std::filesystem::path& scratch, const std::filesystem::path& game) {
    for (const auto& item : std::filesystem::recursive_directory_iterator(scratch)) {
        const auto relative = item.path().lexically_relative(scratch);
        if (*relative.begin() != game.filename()) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::filesystem::path scratch = hm::fuzz::ScratchFolder();
    const std::filesystem::path game = scratch / "game";
    std::error_code ec;
    std::filesystem::remove_all(game, ec);
    std::filesystem::create_directories(game / "missions", ec);
    std::filesystem::create_directories(game / "custom" / "cache", ec);
    const std::string archive = (game / "missions" / "fz.mn3").string();
    if (!hm::fs::WriteWholeFile(archive, std::string(reinterpret_cast<const char*>(data), size))) std::abort();
    WalkDirectory(archive, size);

    hm::CMissionInfo mission;
    hm::ReadMissionDescriptionFromArchive(archive, mission);
    hm::CMissionList list;
    hm::CMissionInfo entry;
    entry.fileName = "fz.mn3";
    hm::ReadMissionArchive(list, (game / "missions").string(), entry);

    const int extracted = hm::ExtractCustomObjects("fz.mn3", game.string(), hm::kCustomObjectExtension);
    CheckNothingEscaped(scratch, game);
    const int removed = hm::RemoveCustomObjects("fz.mn3", game.string());
    if (extracted > 0 && removed != extracted) std::abort();  // objects left behind after the stop
    return 0;
}
