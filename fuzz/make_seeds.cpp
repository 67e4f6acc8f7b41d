// Writes the seed inputs of the fuzz targets into <folder>/<target>/: the binary stores and the
// game's text files as the program's own writers make them, archives and hand-written files built
// from their formats. Run once when a format changes; its output is kept in fuzz/corpus/.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "game/installation_cache.h"
#include "app/commands.h"
#include "launch/mission_description.h"
#include "platform/clock.h"
#include "players/player_info_store.h"
#include "servers/game_config_files.h"
#include "servers/server_config_array.h"
#include "servers/server_info_array.h"
#include "trackers/tracker_file.h"
#include "trackers/tracker_info_store.h"

namespace {

std::filesystem::path root;

void Seed(const std::string& target, const std::string& name, const std::string& bytes) {
    std::filesystem::create_directories(root / target);
    std::ofstream(root / target / name, std::ios::binary) << bytes;
}

std::string Selector(int n) { return std::string(1, static_cast<char>(n)); }

std::string Le32(uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>(v >> (8 * i));
    return s;
}

// A HOG2 archive of the given files: header, directory, then the data in directory order.
std::string Hog2(const std::vector<std::pair<std::string, std::string>>& files) {
    std::string header = "HOG2" + Le32(static_cast<uint32_t>(files.size()));
    const uint32_t dataOffset = 68 + 48 * static_cast<uint32_t>(files.size());
    header += Le32(dataOffset);
    header.resize(68, '\xFF');
    std::string directory, data;
    for (const auto& [name, content] : files) {
        std::string entry = name;
        entry.resize(40, '\0');
        entry += Le32(static_cast<uint32_t>(content.size())) + Le32(0x5F000000);
        directory += entry;
        data += content;
    }
    return header + directory + data;
}

const char* kDescription =
    "MSN File 1.0\r\nNAME Ember Run\r\nNUMLEVELS 2\r\nAUTHOR Tamsin\r\nURL http://example.org/ember\r\n"
    "SINGLE NO\r\nMULTI YES\r\nKEYWORDS anarchy\r\nDESCRIPTION Two levels of tunnels\r\n\r\n"
    "LEVEL 1\r\nBRIEFING brief1.txt\r\nMINE ember1.k3l\r\nBRANCH 2\r\n"
    "LEVEL 2\r\nMINE ember2.k3l\r\nSECRET 1\r\nENDMOVIE end.mve\r\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    root = argv[1];

    {
        hm::CServerConfigArray configs;
        Seed("stores", "config_empty", Selector(0) + configs.Serialize());
        configs.configs.emplace_back(configs.globalOptions);
        configs.configs.back().game.gameName = "Ember Run";
        configs.configs.back().console.autoCommands = {"say hello"};
        configs.configs.back().trackers.trackers = {"tracker.example.org:27900"};
        Seed("stores", "config_one", Selector(0) + configs.Serialize());

        hm::CServerInfoArray servers;
        servers.entries.push_back(std::make_unique<hm::CServerInfo>(configs.configs.back()));
        servers.entries.back()->stoppedOnPurpose = 1;
        Seed("stores", "servers_one", Selector(1) + servers.Serialize());
    }
    {
        hm::ManualClock clock;
        hm::PlayerInfoStore players(clock);
        players.Update("Alice", "10.0.0.1");
        players.Update("Alice", "10.0.0.2");
        players.Update("J\xE4ger", "192.168.1.5");
        Seed("stores", "players", Selector(2) + players.Serialize());

        hm::TrackerInfoStore trackers;
        trackers.Set("tracker.example.org", "Example tracker");
        trackers.Set("10.1.1.1:27900", "");
        Seed("stores", "trackers", Selector(3) + trackers.Serialize());
    }
    {
        hm::CGameFileList executables{{"main.exe", "Main", 132000000000000000ull}};
        hm::CMissionInfo mission;
        mission.fileName = "ember.mn3";
        hm::ParseMissionDescription(mission, kDescription);
        std::string bytes;
        {
            hm::ArchiveWriter ar(&bytes);
            hm::WriteGameFileList(ar, executables);
            hm::WriteMissionList(ar, {mission});
            hm::WriteGameFileList(ar, {{"anarchy.k3m", "Anarchy", 1}});
            hm::WriteGameFileList(ar, {{"direct.dll", "Direct TCP~IP", 2}});
        }
        Seed("stores", "installation", Selector(4) + bytes);
    }

    Seed("mission_description", "two_levels", kDescription);
    Seed("hog2_archive", "mission", Hog2({{"ember.msn", kDescription}, {"ember1.k3l", "level one"},
                                           {"drone.oof", "object"}, {"turret.oof", "object two"}}));
    Seed("hog2_archive", "no_description", Hog2({{"a.oof", "1"}, {"b.oof", "22"}, {"c.txt", "333"}}));

    {
        hm::CGameSettings game;
        game.gameName = "Ember Run";
        game.missionFileName = "ember.mn3";
        game.missionTitle = "Ember Run";
        game.scriptName = "Anarchy";
        game.connectionName = hm::kDirectTcpIp;
        game.multiSettingsFile = "ember.mps";
        Seed("game_config_import", "main", Selector(0) + hm::ServerConfigFileText(game, 2));
        hm::CShipOptions ships;
        ships.disallowedShips = {"Ember-GL"};
        Seed("game_config_import", "multi", Selector(1) + hm::MultiSettingsFileText(ships, "Ember Run"));
        hm::CAutoexecSettings autoexec;
        autoexec.teamNames = {"Red", "Blue", "Green", "Gold"};
        Seed("game_config_import", "autoexec", Selector(2) + hm::AutoexecFileText(autoexec));
        hm::TrackerList trackers;
        trackers.trackers = {"tracker.example.org:27900", "10.1.1.1:900"};
        Seed("game_config_import", "tracker", Selector(3) + hm::TrackerFileText(trackers, 1));
        Seed("game_config_import", "batch",
             Selector(4) + "@echo off\r\nrem Kelvane 3 server\r\ncall /bin/sh -dedicated /bin/sh -useport 2092 "
                           "-gspyfile \"k3 trackers.cfg\" -nomultibmp -framecap 60\r\n");
    }

    Seed("registry", "game_key",
         "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brannock\\Kelvane3]\r\n"
         "\"BaseDirectory\"=\"/games/kelvane3\"\r\n\"LanguageType\"=dword:00000001\r\n\"Blob\"=hex:01,00,ff\r\n"
         "\"Path\"=hex(2):25,00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brannock\\Kelvane3\\Version]\r\n"
         "\"Version\"=\"1.4 \\\"beta\\\"\"\r\n");
    Seed("jotwell_ini", "sections",
         "; logging\n[Default]\nLogOptions = yes\nMaxLogs=10\nMaxZips = 20\nDONT_LOG_CONFIG=ja\n\n"
         "[haldmoor3]\nMinSize=100\nMaxSize=ERROR\nWait = 250\nCompress=true\n");
    Seed("command", "stop", hm::EncodeCommand({"stop", "2092", "2093"}));
    Seed("command", "import", hm::EncodeCommand({"import", "/srv/k3/server.cfg", "--batch", "/srv/k3/run.bat"}));
    Seed("command", "status", hm::EncodeCommand({"status"}));
    Seed("command", "start", hm::EncodeCommand({"start", "Alpha\nexit", ""}));
    return 0;
}
