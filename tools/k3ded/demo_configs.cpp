#include "demo_configs.h"

#include "platform/files.h"
#include "servers/server_config_array.h"
#include "text_util.h"

namespace hm::k3ded {

int WriteDemoConfigs(const std::vector<std::string>& args) {
    uint32_t basePort = 0;
    uint32_t count = 3;
    if ((args.size() != 2 && args.size() != 3) || !ParseNumber(args[1], 1024, 65000, basePort) ||
        (args.size() == 3 && !ParseNumber(args[2], 1, 500, count))) {
        PrintLine("Usage: k3ded demo-configs CFGFOLDER BASEPORT [COUNT]   (BASEPORT 1024 to 65000, COUNT 1 to 500)");
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
    for (size_t i = 0; i < count; ++i) {
        const Demo& demo = demos[i % std::size(demos)];
        CServerConfig config(store.globalOptions);
        config.game.gameName = demo.name;
        if (i >= std::size(demos)) config.game.gameName += " #" + std::to_string(i + 1);
        config.game.missionFileName = demo.mission;
        config.game.missionTitle = demo.title;
        config.game.scriptName = demo.script;
        config.game.connectionName = "Direct TCP~IP";
        config.trackers.enabled = 0;
        config.launch.executable = "main.exe";
        config.launch.serverPort = static_cast<uint16_t>(basePort + i);
        if (demo.scheduled) {
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
    PrintLine(std::to_string(count) + " demo server configurations written to " +
              StorePath(folder, CServerConfigArray::kFileName));
    return 0;
}

}  // namespace hm::k3ded
