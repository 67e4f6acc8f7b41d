// store_check: makes the stores of a configuration folder large, and checks them with the program's
// own readers after the program was killed, for bench/store_crash_trials.sh.
//
//   store_check grow CFG AUTOSTART PLAYERS TRACKERS
//       Keeps the automatic start for the first AUTOSTART configurations of CFG/KelvaneConfig.dat
//       only, and writes PLAYERS player records and TRACKERS tracker infos.
//   store_check check CFG CONFIGS PLAYERS TRACKERS SERVERS
//       Loads every store; prints "unloadable N lost M" (a store that does not load completely, or a
//       damaged copy set aside, counts as unloadable; every entry missing from a store counts as
//       lost) and the count of temporary files a killed write left behind (then removes them).
//       Exit code 0 only when nothing was unloadable or lost. "attached" counts the stored servers
//       that the program's next start would take back (by stored pid, else by cache folder); one
//       line per server shows its stored and attached pid.
//   store_check kill-in-store CFG PID MAXDELAY_US SEED
//       Waits (up to 20 s) until a store's temporary file shows up in CFG, waits a random time of up
//       to MAXDELAY_US more, and kills PID with SIGKILL: a kill in the middle of writing the stores.
//
// A single-threaded command-line tool; it never writes a store that it is checking.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "game/installation_cache.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "players/player_info_store.h"
#include "servers/server_config_array.h"
#include "servers/server_info_array.h"
#include "trackers/tracker_info_store.h"

namespace {

using namespace hm;

bool Number(const char* text, unsigned long& value) {
    char* end = nullptr;
    value = std::strtoul(text, &end, 10);
    return end && *end == '\0' && end != text;
}

int Grow(const std::string& cfg, unsigned long autostart, unsigned long players, unsigned long trackers) {
    CServerConfigArray configs;
    if (configs.Load(cfg, nullptr) != StoreLoad::Loaded) {
        std::fprintf(stderr, "store_check: cannot load %s\n", StorePath(cfg, CServerConfigArray::kFileName).c_str());
        return 1;
    }
    for (size_t i = 0; i < configs.configs.size(); ++i) configs.configs[i].game.autoLaunchAllowed = i < autostart;
    if (!configs.Store(cfg, nullptr)) return 1;

    // Built as bytes: going through Update would look every name up in all earlier records.
    std::string bytes;
    {
        ArchiveWriter ar(&bytes);
        ar.Dword(PlayerInfoStore::kVersion);
        ar.Count(players);
        for (unsigned long i = 0; i < players; ++i) {
            PlayerRecord record;
            record.name = "Pilot " + std::to_string(i);
            for (unsigned long a = 0; a <= i % 10; ++a) {
                record.AddAddress("10." + std::to_string(a) + "." + std::to_string(i / 250 % 250) + "." +
                                      std::to_string(i % 250),
                                  134120880000000000ull + i);
            }
            record.Write(ar);
        }
    }
    if (!fs::ReplaceFileAtomically(StorePath(cfg, PlayerInfoStore::kFileName), bytes)) return 1;

    TrackerInfoStore trackerInfo;
    for (unsigned long i = 0; i < trackers; ++i) {
        trackerInfo.Set("k" + std::to_string(i), "k3://127.0.0.1:" + std::to_string(2092 + i));
    }
    return trackerInfo.Store(cfg, nullptr) ? 0 : 1;
}

struct Tally {
    unsigned unloadable = 0;
    unsigned long lost = 0;
    void Expect(const char* store, StoreLoad loaded, size_t found, unsigned long expected) {
        if (loaded != StoreLoad::Loaded) {
            ++unloadable;
            std::printf("  %s does not load\n", store);
        }
        if (found < expected) {
            lost += expected - found;
            std::printf("  %s: %zu of %lu entries\n", store, found, expected);
        }
    }
};

int Check(const std::string& cfg, unsigned long configCount, unsigned long playerCount, unsigned long trackerCount,
          unsigned long serverCount) {
    Tally tally;
    // Each load comes before the count it is checked with (argument order is not defined).
    CServerConfigArray configs;
    const StoreLoad configsLoaded = configs.Load(cfg, nullptr);
    tally.Expect(CServerConfigArray::kFileName, configsLoaded, configs.configs.size(), configCount);

    ManualClock clock;
    PlayerInfoStore players(clock);
    const StoreLoad playersLoaded = players.Load(cfg, cfg, nullptr);
    tally.Expect(PlayerInfoStore::kFileName, playersLoaded, players.Count(), playerCount);

    TrackerInfoStore trackerInfo;
    const StoreLoad trackersLoaded = trackerInfo.Load(cfg, nullptr);
    tally.Expect(TrackerInfoStore::kFileName, trackersLoaded, trackerInfo.Count(), trackerCount);

    // Read without attaching: the check must not take the program's servers.
    CServerInfoArray servers;
    std::string bytes;
    const StoreLoad serversLoaded =
        fs::ReadFileLimited(StorePath(cfg, CServerInfoArray::kFileName), kStoreFileLimit, bytes).ok()
            ? StoreLoad::Loaded
            : StoreLoad::Unreadable;
    size_t serversFound = 0;
    size_t attached = 0;
    if (serversLoaded == StoreLoad::Loaded) {
        ArchiveReader ar(bytes);
        // The program's own re-attachment (stored pid, then cache folder); a Process object never kills.
        std::map<unsigned, uint32_t> storedPids;
        servers.ReadFrom(ar, [&storedPids](uint32_t pid, const CServerConfig& config) {
            storedPids[config.launch.serverPort] = pid;
            return CServerInfoArray::DefaultAttach(pid, config);
        });
        for (const auto& entry : servers.entries) {
            attached += entry->process ? 1 : 0;
            const unsigned port = entry->config.launch.serverPort;
            const auto stored = storedPids.find(port);
            if (stored == storedPids.end()) {
                std::printf("  server %u: stopped on purpose, not attached\n", port);
            } else {
                std::printf("  server %u: stored pid %u, attached pid %u\n", port, stored->second, entry->processId);
            }
        }
        serversFound = servers.entries.size();
        tally.Expect(CServerInfoArray::kFileName, ar.Failed() ? StoreLoad::Damaged : StoreLoad::Loaded, serversFound,
                     serverCount);
    } else {
        tally.Expect(CServerInfoArray::kFileName, serversLoaded, 0, serverCount);
    }

    // The installation cache: four lists, the missions among them.
    std::string cache;
    bool cacheLoads = fs::ReadFileLimited(StorePath(cfg, "KelvaneInfo.dat"), kStoreFileLimit, cache).ok();
    CMissionList missions;
    if (cacheLoads) {
        ArchiveReader ar(cache);
        CGameFileList executables, scripts, connections;
        cacheLoads = ReadGameFileList(ar, executables) && ReadMissionList(ar, missions) &&
                     ReadGameFileList(ar, scripts) && ReadGameFileList(ar, connections) && !ar.Failed();
    }
    tally.Expect("KelvaneInfo.dat", cacheLoads ? StoreLoad::Loaded : StoreLoad::Damaged, missions.size(), 1);

    for (const std::string& name : fs::FindFiles(cfg, "*.damaged*")) {
        ++tally.unloadable;
        std::printf("  set aside as damaged: %s\n", name.c_str());
    }
    unsigned temporaries = 0;
    for (const std::string& name : fs::FindFiles(cfg, "*.dat.tmp*")) {
        ++temporaries;
        fs::DeleteFile(StorePath(cfg, name));
    }
    std::printf("unloadable %u lost %lu temporaries %u servers %zu attached %zu\n", tally.unloadable, tally.lost,
                temporaries, serversFound, attached);
    return tally.unloadable == 0 && tally.lost == 0 ? 0 : 1;
}

int KillInStore(const std::string& cfg, unsigned long pid, unsigned long maxDelayUs, unsigned long seed) {
    std::unique_ptr<Process> process = Process::Attach(static_cast<uint32_t>(pid), "");
    if (!process) return 1;
    std::mt19937 random(static_cast<uint32_t>(seed));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    bool seen = false;
    while (!seen && std::chrono::steady_clock::now() < deadline && process->IsRunning()) {
        seen = !fs::FindFiles(cfg, "*.dat.tmp*").empty();
        if (!seen) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % (maxDelayUs + 1)));
    process->Terminate();
    std::printf("%s\n", seen ? "killed while storing" : "no store seen");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<unsigned long> n(argc > 3 ? static_cast<size_t>(argc - 3) : 0);
    for (size_t i = 0; i < n.size(); ++i) {
        if (!Number(argv[i + 3], n[i])) n.clear();
    }
    const std::string command = argc > 2 ? argv[1] : "";
    if (command == "grow" && n.size() == 3) return Grow(argv[2], n[0], n[1], n[2]);
    if (command == "check" && n.size() == 4) return Check(argv[2], n[0], n[1], n[2], n[3]);
    if (command == "kill-in-store" && n.size() == 3) return KillInStore(argv[2], n[0], n[1], n[2]);
    std::fprintf(stderr,
                 "usage: store_check grow CFG AUTOSTART PLAYERS TRACKERS\n"
                 "       store_check check CFG CONFIGS PLAYERS TRACKERS SERVERS\n"
                 "       store_check kill-in-store CFG PID MAXDELAY_US SEED\n");
    return 2;
}
