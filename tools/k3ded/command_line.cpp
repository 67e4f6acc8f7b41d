#include "command_line.h"

#include "text_util.h"

namespace hm::k3ded {

bool ParseServerOptions(const std::vector<std::string>& args, ServerOptions& options, std::string& error) {
    options = ServerOptions{};
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg.size() < 2 || (arg[0] != '-' && arg[0] != '+')) {
            options.unknown.push_back(arg);  // a stray word, e.g. the value of an unknown option
            continue;
        }
        const std::string name = ToLower(arg.substr(1));
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size()) {
                error = "Option " + arg + " needs a value.";
                return false;
            }
            out = args[++i];
            return true;
        };
        auto port = [&](uint16_t& out, bool allowZero) {
            std::string text;
            if (!value(text)) return false;
            uint32_t v = 0;
            if (!ParseNumber(text, allowZero ? 0 : 1, 65535, v)) {
                error = "Option " + arg + " needs a port number, not '" + OneLine(text) + "'.";
                return false;
            }
            out = static_cast<uint16_t>(v);
            return true;
        };
        if (name == "dedicated") {
            if (!value(options.configFile)) return false;
        } else if (name == "autoexec") {
            if (!value(options.autoexecFile)) return false;
        } else if (name == "setdir") {
            if (!value(options.setDir)) return false;
        } else if (name == "tempdir") {
            if (!value(options.tempDir)) return false;
        } else if (name == "useport" || name == "mroport") {
            if (!port(options.gamePort, false)) return false;
            options.mroPort = name == "mroport";
        } else if (name == "framecap") {
            std::string text;
            if (!value(text)) return false;
            if (!ParseNumber(text, 0, 100000, options.frameCap)) {
                error = "Option -framecap needs a number, not '" + OneLine(text) + "'.";
                return false;
            }
        } else if (name == "useip") {
            if (!value(options.bindAddress)) return false;
        } else if (name == "gamespyport") {
            if (!port(options.gameSpyPort, true)) return false;
        } else if (name == "gspyfile") {
            if (!value(options.gameSpyFile)) return false;
        } else if (name == "nomultibmp") {
            options.noMultiBmp = true;
        } else if (name == "nocrashbox") {
            options.noCrashBox = true;
        } else {
            options.unknown.push_back(arg);
        }
    }
    if (options.configFile.empty()) {
        error = "No server configuration file given (-dedicated).";
        return false;
    }
    return true;
}

}  // namespace hm::k3ded
