// k3ded: the simulated Kelvane 3 dedicated server. Three modes, chosen by the first argument:
//   make-install DIR [...]   create a demo game installation and register it
//   client --port N ...      act as one game client
//   demo-configs CFG PORT    write demo server configurations for the program
//   anything else            run as the dedicated server (as main.exe, with the launcher's command line)
#include <cstdio>
#include <string>
#include <vector>

#include "client.h"
#include "demo_configs.h"
#include "make_install.h"
#include "server.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv, argv + argc);
    if (args.size() >= 2 && args[1] == "make-install") {
        hm::k3ded::InstallOptions options;
        std::string error;
        if (!hm::k3ded::ParseInstallOptions({args.begin() + 2, args.end()}, options, error)) {
            std::fprintf(stderr, "k3ded make-install: %s\nUsage: k3ded make-install DIR [--version MAJOR.MINOR.BUILD] [--language N]\n",
                         error.c_str());
            return 1;
        }
        return hm::k3ded::MakeInstall(options);
    }
    if (args.size() >= 2 && args[1] == "demo-configs") return hm::k3ded::WriteDemoConfigs({args.begin() + 2, args.end()});
    if (args.size() >= 2 && args[1] == "client") return hm::k3ded::RunClient({args.begin() + 2, args.end()});
    hm::k3ded::GameServer server;
    return server.Run(args);
}
