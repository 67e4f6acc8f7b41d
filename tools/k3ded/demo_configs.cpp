#include "demo_configs.h"

#include "platform/files.h"
#include "servers/server_config_array.h"
#include "text_util.h"

namespace hm::k3ded {

int WriteDemoConfigs(const std::vector<std::string>& args) {
    uint32_t basePort = 0;
    if (args.size() != 2 || !ParseNumber(args[1], 1024, 65533, basePort)) {
        PrintLine("Usage: k3ded demo-configs CFGFOLDER BASEPORT   (BASEPORT 1024 to 65533)");
        return 1;
    }
    const std::string folder = args[0];
    if (fs::FileExists(StorePath(folder, CServerConfigArray::kFileName))) {
        PrintLine("k3ded demo-configs: " + StorePath(folder, CServerConfigArray::kFileName) + " exists; left as it is.");
        return 1;
    }
    if (!fs::CreateFolders(folder)) {
        PrintLine("k3ded demo-configs: cannot create " + folder);
        return 1;
    }

    struct Demo {
        const char* name;
        const char* mission;
        const char* title;
        const char* script;
        bool scheduled;
    };
    const Demo demos[] = {
        {"Ironworks Anarchy", "ironworks.mn3", "Ironworks", "Anarchy", false},
        {"Oasis CTF", "oasis.mn3", "Oasis", "CTF", false},
        {"Polaris Hoard (scheduled)", "polaris.mn3", "Polaris", "Hoard", true},
    };
    CServerConfigArray store;
    store.globalOptions.autoLaunchAtStart = 1;
    for (size_t i = 0; i < std::size(demos); ++i) {
        CServerConfig config(store.globalOptions);
        config.game.gameName = demos[i].name;
        config.game.missionFileName = demos[i].mission;
        config.game.missionTitle = demos[i].title;
        config.game.scriptName = demos[i].script;
        config.game.connectionName = "Direct TCP~IP";
        config.trackers.enabled = 0;
        config.launch.executable = "main.exe";
        config.launch.serverPort = static_cast<uint16_t>(basePort + i);
        if (demos[i].scheduled) {
            config.schedule.enabled = 1;
            ScheduleEntry allWeek;
            allWeek.start = ScheduleTime{ScheduleTime::kEveryDay, 0, 0};
            allWeek.stop = ScheduleTime{ScheduleTime::kEveryDay, 23, 59};
            config.schedule.entries.push_back(allWeek);
        }
        store.configs.push_back(config);
    }
    if (!store.Store(folder, nullptr)) {
        PrintLine("k3ded demo-configs: cannot write the store in " + folder);
        return 1;
    }
    PrintLine("Three demo server configurations written to " + StorePath(folder, CServerConfigArray::kFileName));
    return 0;
}

}  // namespace hm::k3ded
