// The game configuration files an operator imports a server from: the first byte picks the reader
// (main configuration, multi settings, autoexec, tracker file, launch batch), the rest is the file.
// Where the program also writes the format, what it writes must import to a record that writes the
// same text.
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "launch/launch_batch.h"
#include "servers/game_config_files.h"
#include "trackers/tracker_file.h"

namespace {

// An installation that has every name asked for, each mission with three levels.
class AnyInstalled : public hm::InstalledNames {
public:
    bool FindMission(const std::string& fileName, std::string& listedName, std::string& title,
                     int32_t& levelCount) const override {
        listedName = fileName;
        title = fileName;
        levelCount = 3;
        return true;
    }
    bool FindScript(const std::string& name, std::string& listedName) const override {
        listedName = name;
        return true;
    }
    bool FindConnection(const std::string& name, std::string& listedName) const override {
        listedName = name;
        return true;
    }
    bool FindExecutable(const std::string& fileName, std::string& listedName) const override {
        listedName = fileName;
        return true;
    }
};

// Imports path, writes the record, imports that, writes again: from the second round on the text
// must stay as it is (the writer leaves out values that mean "the game's default", so the first
// round may settle such values; after that, anything that still moves is lost or invented data).
template <class Record, class Import, class Text>
void SettlesAfterOneRound(const std::string& path, Import import, Text text) {
    Record first;
    if (!import(first, path)) return;
    std::string written = text(first);
    for (int round = 0; round < 2; ++round) {
        const std::string again = hm::fuzz::ScratchFile(
            "written.txt", reinterpret_cast<const uint8_t*>(written.data()), written.size());
        Record next;
        if (!import(next, again)) std::abort();  // our own file does not import
        const std::string rewritten = text(next);
        if (round == 1 && rewritten != written) std::abort();
        written = rewritten;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const std::string path = hm::fuzz::ScratchFile("imported.txt", data + 1, size - 1);
    const hm::InformationBox quiet = [](const std::string&) {};
    const AnyInstalled installed;
    switch (data[0] % 5) {
    case 0:
        SettlesAfterOneRound<hm::CGameSettings>(
            path,
            [&](hm::CGameSettings& s, const std::string& p) { return hm::ImportServerConfigFile(s, installed, p, quiet); },
            [](hm::CGameSettings& s) { return hm::ServerConfigFileText(s, s.connectionKind); });
        hm::MultiSettingsFileNamedIn(path);
        break;
    case 1:
        SettlesAfterOneRound<hm::CShipOptions>(
            path, [&](hm::CShipOptions& s, const std::string& p) { return hm::ImportMultiSettingsFile(s, p, quiet); },
            [](const hm::CShipOptions& s) { return hm::MultiSettingsFileText(s, "Game"); });
        break;
    case 2:
        SettlesAfterOneRound<hm::CAutoexecSettings>(
            path, [&](hm::CAutoexecSettings& s, const std::string& p) { return hm::ImportAutoexecFile(s, p, quiet); },
            [](const hm::CAutoexecSettings& s) { return hm::AutoexecFileText(s); });
        break;
    case 3:
        SettlesAfterOneRound<hm::TrackerList>(
            path, [&](hm::TrackerList& l, const std::string& p) { return hm::ImportTrackerFile(l, p, quiet); },
            [](const hm::TrackerList& l) { return hm::TrackerFileText(l, 1); });
        break;
    case 4: {
        hm::CLaunchSettings launch;
        hm::ImportLaunchBatch(launch, path, quiet);
        break;
    }
    }
    return 0;
}
