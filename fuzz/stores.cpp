// The binary stores of the configuration folder, read from a file as at start-up: the first byte
// picks the store, the rest is the file. A store that reads completely must survive its own round
// trip: what it writes reads back completely and writes the same bytes again.
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "game/installation_cache.h"
#include "platform/clock.h"
#include "players/player_info_store.h"
#include "servers/server_config_array.h"
#include "servers/server_info_array.h"
#include "trackers/tracker_info_store.h"

namespace {

// Reads `bytes` twice over: first from the file, then each written form from memory.
template <class Read, class Write>
void RoundTrip(const std::string& path, Read read, Write write) {
    hm::ArchiveReader file;
    if (!file.OpenFile(path)) std::abort();
    read(file);
    const bool complete = !file.Failed();
    file.Close();
    if (!complete) return;
    const std::string first = write();
    hm::ArchiveReader again(first);
    read(again);
    if (again.Failed() || again.Remaining() != 0) std::abort();  // the writer wrote what the reader refuses
    if (write() != first) std::abort();                          // a second round changed the data
}

// The installation cache as CGameInstallation reads it: four lists in a row, each stopping the rest.
struct InstallationLists {
    hm::CGameFileList executables, scripts, connections;
    hm::CMissionList missions;
    void Read(hm::ArchiveReader& ar) {
        executables.clear(), missions.clear(), scripts.clear(), connections.clear();
        if (!hm::ReadGameFileList(ar, executables)) return;
        if (!hm::ReadMissionList(ar, missions)) return;
        if (!hm::ReadGameFileList(ar, scripts)) return;
        hm::ReadGameFileList(ar, connections);
    }
    std::string Write() const {
        std::string bytes;
        {
            hm::ArchiveWriter ar(&bytes);
            hm::WriteGameFileList(ar, executables);
            hm::WriteMissionList(ar, missions);
            hm::WriteGameFileList(ar, scripts);
            hm::WriteGameFileList(ar, connections);
        }
        return bytes;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const unsigned store = data[0] % 5;
    const std::string path = hm::fuzz::ScratchFile("store.dat", data + 1, size - 1);
    switch (store) {
    case 0: {  // KelvaneConfig.dat
        hm::CServerConfigArray configs;
        RoundTrip(path, [&](hm::ArchiveReader& ar) { configs.ReadFrom(ar); }, [&] { return configs.Serialize(); });
        break;
    }
    case 1: {  // ServerInfo.dat; no entry may ever be attached to a real process here
        hm::CServerInfoArray servers;
        auto never = [](uint32_t, const hm::CServerConfig&) { return std::unique_ptr<hm::Process>(); };
        RoundTrip(path, [&](hm::ArchiveReader& ar) { servers.ReadFrom(ar, never); }, [&] { return servers.Serialize(); });
        break;
    }
    case 2: {  // PlayerInfo.dat
        hm::ManualClock clock;
        hm::PlayerInfoStore players(clock);
        RoundTrip(path, [&](hm::ArchiveReader& ar) { players.ReadFrom(ar); }, [&] { return players.Serialize(); });
        players.Text();
        break;
    }
    case 3: {  // TrackerInfo.dat
        hm::TrackerInfoStore trackers;
        RoundTrip(path, [&](hm::ArchiveReader& ar) { trackers.ReadFrom(ar); }, [&] { return trackers.Serialize(); });
        break;
    }
    case 4: {  // KelvaneInfo.dat
        InstallationLists lists;
        RoundTrip(path, [&](hm::ArchiveReader& ar) { lists.Read(ar); }, [&] { return lists.Write(); });
        break;
    }
    }
    return 0;
}
