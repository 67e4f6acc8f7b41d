#include "make_install.h"

#include <cstdio>

#include "hog2_writer.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "text_util.h"

namespace hm::k3ded {

namespace {

const char* const kGameKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Brannock\\Kelvane3";
const char* const kVersionKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Brannock\\Kelvane3\\Version";

// Stand-in contents with a recognisable header, so a file is never mistaken for another one.
std::string Blob(const std::string& magic, const std::string& name, size_t size) {
    std::string data = magic + '\0' + name + '\0';
    for (size_t i = 0; data.size() < size; ++i) data += static_cast<char>((i * 31 + name.size()) & 0xFF);
    return data;
}

std::string Lines(std::initializer_list<const char*> lines) {
    std::string text;
    for (const char* line : lines) text += std::string(line) + "\r\n";
    return text;
}

DemoMission Mission(const std::string& fileName, std::vector<Hog2File> files) {
    DemoMission mission{fileName, {}};
    BuildHog2(files, mission.archive, 0x5F000000);
    return mission;
}

bool ParseVersion(const std::string& text, InstallOptions& options) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t dot = text.find('.', start);
        parts.push_back(text.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    return parts.size() == 3 && ParseNumber(parts[0], 0, 65535, options.major) &&
           ParseNumber(parts[1], 0, 65535, options.minor) && ParseNumber(parts[2], 0, 0xFFFFFFFFu, options.build);
}

}  // namespace

std::vector<DemoMission> DemoMissions() {
    const std::string turret = Blob("OOF", "turret.oof", 700);
    std::vector<DemoMission> missions;
    missions.push_back(Mission(
        "k3.mn3", {{"k3.msn", Lines({"MSN File Kelvane 3:", "NAME Kelvane 3", "NUMLEVELS 2", "AUTHOR Brannock",
                                     "SINGLE YES", "MULTI YES", "KEYWORDS campaign", "DESCRIPTION The campaign.",
                                     "", "LEVEL 1", "MINE level1.k3l", "BRIEFING level1.brf", "", "LEVEL 2",
                                     "MINE level2.k3l", "BRIEFING level2.brf", "ENDMISSION"})},
                   {"level1.k3l", Blob("K3LV", "level1.k3l", 900)},
                   {"level2.k3l", Blob("K3LV", "level2.k3l", 900)},
                   {"level1.brf", "Reach the reactor.\r\n"}}));
    missions.push_back(Mission(
        "k3_2.mn3", {{"k3_2.msn", Lines({"NAME Kelvane 3 (second part)", "NUMLEVELS 1", "LEVEL 1", "MINE level3.k3l"})},
                     {"level3.k3l", Blob("K3LV", "level3.k3l", 900)},
                     {"level3.brf", "Escape.\r\n"}}));
    missions.push_back(Mission(
        "polaris.mn3", {{"polaris.msn", Lines({"MSN File Polaris:", "NAME Polaris", "NUMLEVELS 1",
                                               "AUTHOR Demo Mapper", "URL http://127.0.0.1/polaris",
                                               "SINGLE NO", "MULTI YES", "DESCRIPTION Ice station.", "",
                                               "LEVEL 1", "MINE polaris.k3l"})},
                        {"polaris.k3l", Blob("K3LV", "polaris.k3l", 1200)},
                        {"polarisgate.oof", Blob("OOF", "polarisgate.oof", 500)}}));
    // Levels listed out of order: the reader sorts them by number.
    missions.push_back(Mission(
        "ironworks.mn3", {{"ironworks.msn", Lines({"MSN File Ironworks:", "NAME Ironworks", "NUMLEVELS 3",
                                                   "AUTHOR Demo Mapper", "SINGLE NO", "MULTI YES", "",
                                                   "LEVEL 1", "MINE foundry.k3l", "", "LEVEL 3",
                                                   "MINE furnace.k3l", "", "LEVEL 2", "MINE smelter.k3l"})},
                          {"foundry.k3l", Blob("K3LV", "foundry.k3l", 800)},
                          {"smelter.k3l", Blob("K3LV", "smelter.k3l", 800)},
                          {"furnace.k3l", Blob("K3LV", "furnace.k3l", 800)},
                          {"crusher.oof", Blob("OOF", "crusher.oof", 600)},
                          {"turret.oof", turret}}));
    missions.push_back(Mission(
        "nightfall.mn3", {{"nightfall.msn", Lines({"MSN File Nightfall:", "NAME Nightfall", "NUMLEVELS 2",
                                                   "SINGLE NO", "MULTI YES", "", "LEVEL 1", "MINE dusk.k3l", "",
                                                   "LEVEL 2", "MINE midnight.k3l"})},
                          {"dusk.k3l", Blob("K3LV", "dusk.k3l", 700)},
                          {"midnight.k3l", Blob("K3LV", "midnight.k3l", 700)},
                          {"turret.oof", turret},
                          {"beacon.oof", Blob("OOF", "beacon.oof", 300)}}));
    missions.push_back(Mission(
        "oasis.mn3", {{"oasis.msn", Lines({"NAME oasis", "NUMLEVELS 1", "MULTI YES", "LEVEL 1", "MINE oasis.k3l"})},
                      {"oasis.k3l", Blob("K3LV", "oasis.k3l", 600)},
                      {"readme.txt", "A small desert arena.\r\n"}}));
    return missions;
}

bool ParseInstallOptions(const std::vector<std::string>& args, InstallOptions& options, std::string& error) {
    options = InstallOptions{};
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--version" || arg == "--language") {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value.";
                return false;
            }
            const std::string value = args[++i];
            if (arg == "--version" && !ParseVersion(value, options)) {
                error = "--version needs MAJOR.MINOR.BUILD, not '" + OneLine(value) + "'.";
                return false;
            }
            if (arg == "--language" && !ParseNumber(value, 0, 0xFFFFFFFFu, options.languageType)) {
                error = "--language needs a number, not '" + OneLine(value) + "'.";
                return false;
            }
        } else if (!arg.empty() && arg[0] == '-') {
            error = "Unknown option " + OneLine(arg) + ".";
            return false;
        } else if (options.folder.empty()) {
            options.folder = arg;
        } else {
            error = "Only one installation folder may be given.";
            return false;
        }
    }
    if (options.folder.empty()) {
        error = "No installation folder given.";
        return false;
    }
    return true;
}

int MakeInstall(const InstallOptions& options) {
    std::string folder = options.folder;
    if (folder[0] != '/') folder = fs::CurrentDirectory() + "/" + folder;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();

    bool ok = true;
    std::string failed;
    auto check = [&](bool step, const std::string& what) {
        if (!step && ok) failed = what;
        ok = ok && step;
    };
    for (const char* sub : {"", "/missions", "/netgames", "/online", "/custom/cache"})
        check(fs::CreateFolders(folder + sub), folder + sub);
    check(fs::WriteWholeFile(folder + "/Kelvane 3.exe", "Kelvane 3 launcher (demo installation)\r\n"),
          "Kelvane 3.exe");
    const std::string self = fs::ExecutablePath();
    check(!self.empty() && fs::CopyFile(self, folder + "/main.exe"), "main.exe");
    check(!self.empty() && fs::CopyFile(self, folder + "/ember15.exe"), "ember15.exe");
    for (const DemoMission& mission : DemoMissions())
        check(fs::WriteWholeFile(folder + "/missions/" + mission.fileName, mission.archive), mission.fileName);
    for (const char* script : {"anarchy", "ctf", "team anarchy", "hoard"})
        check(fs::WriteWholeFile(folder + "/netgames/" + script + ".k3m",
                                 std::string("K3M network game: ") + script + "\r\n"),
              std::string(script) + ".k3m");
    check(fs::WriteWholeFile(folder + "/netgames/hosts.deny", ""), "hosts.deny");
    for (const char* connection : {"Direct TCP~IP", "Meridian Online"})
        check(fs::WriteWholeFile(folder + "/online/" + connection + ".k3c",
                                 std::string("K3C connection: ") + connection + "\r\n"),
              std::string(connection) + ".k3c");
    if (!ok) {
        std::fprintf(stderr, "k3ded: cannot create %s\n", OneLine(failed).c_str());
        return 1;
    }

    Registry registry(options.registryPath);
    const bool registered = registry.Write(kGameKey, "BaseDirectory", RegValue::String(folder)) &&
                            registry.Write(kGameKey, "LanguageType", RegValue::Dword(options.languageType)) &&
                            registry.Write(kVersionKey, "Major", RegValue::Dword(options.major)) &&
                            registry.Write(kVersionKey, "Minor", RegValue::Dword(options.minor)) &&
                            registry.Write(kVersionKey, "Build", RegValue::Dword(options.build));
    if (!registered) {
        std::fprintf(stderr, "k3ded: cannot write the registry file %s\n", OneLine(registry.Path()).c_str());
        return 1;
    }
    std::printf("Demo installation of Kelvane 3 %u.%u.%u created in %s\n", options.major, options.minor,
                options.build, OneLine(folder).c_str());
    std::printf("Registered in %s\n", OneLine(registry.Path()).c_str());
    return 0;
}

}  // namespace hm::k3ded
