// "k3ded make-install": the demo installation must hold exactly what the program looks for in a game
// folder, with mission archives that are real HOG2 files, and register itself in the registry file.
// The archives are read here by a reader written from the HOG2 layout, not by k3ded's writer.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "support/binaries.h"

namespace hm {
namespace {

using hm::test_support::BinDir;

namespace stdfs = std::filesystem;


uint32_t U32(const std::string& data, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(data[at + static_cast<size_t>(i)]);
    return v;
}

// name -> data; empty when the archive is not a well-formed HOG2 file.
std::map<std::string, std::string> ReadHog2(const std::string& path) {
    std::string data;
    if (!fs::ReadWholeFile(path, data) || data.size() < 68 || data.compare(0, 4, "HOG2") != 0) return {};
    const uint32_t count = U32(data, 4);
    uint64_t offset = U32(data, 8);
    if (68 + 48ull * count > data.size() || offset != 68 + 48ull * count) return {};
    std::map<std::string, std::string> files;
    for (uint32_t i = 0; i < count; ++i) {
        const size_t entry = 68 + 48 * i;
        const std::string name = data.substr(entry, 36).c_str();
        const uint32_t length = U32(data, entry + 40);
        if (offset + length > data.size()) return {};
        files[name] = data.substr(offset, length);
        offset += length;
    }
    if (offset != data.size()) return {};
    return files;
}

class K3dedInstallTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = stdfs::temp_directory_path() /
               ("k3ded_install_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        stdfs::remove_all(root);
        stdfs::create_directories(root);
        registry = (root / "registry.reg").string();
        game = (root / "game").string();
    }
    void TearDown() override { stdfs::remove_all(root); }

    int MakeInstall(const std::string& arguments, std::string* output = nullptr) {
        const std::string out = (root / "out.txt").string();
        auto process = Process::Spawn("/usr/bin/env", "HALDMOOR3_REGISTRY=\"" + registry + "\" \"" + BinDir() +
                                                           "/k3ded\" make-install " + arguments,
                                      root.string(), out);
        if (!process) return -1000;
        if (process->Wait(60000) != Process::WaitResult::Exited) {
            process->Terminate();
            process->Wait(5000);
            return -1001;
        }
        if (output) fs::ReadWholeFile(out, *output);
        return process->ExitCode();
    }
    uint32_t Dword(const std::string& key, const std::string& name) {
        RegValue value;
        EXPECT_TRUE(Registry(registry).Read(key, name, value)) << name;
        EXPECT_EQ(value.type, RegType::Dword) << name;
        return value.dword;
    }

    stdfs::path root;
    std::string registry, game;
};

const char* const kGameKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Brannock\\Kelvane3";
const char* const kVersionKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Brannock\\Kelvane3\\Version";

TEST_F(K3dedInstallTest, CreatesTheGameFolderLayoutAndRegistersIt) {
    ASSERT_EQ(MakeInstall("game --version 1.4.17 --language 2"), 0);
    for (const char* file : {"Kelvane 3.exe", "main.exe", "ember15.exe", "netgames/anarchy.k3m", "netgames/ctf.k3m",
                             "netgames/hosts.deny", "online/Direct TCP~IP.k3c", "online/Meridian Online.k3c"})
        EXPECT_TRUE(fs::FileExists(game + "/" + file)) << file;
    EXPECT_TRUE(fs::IsDirectory(game + "/custom/cache"));
    EXPECT_EQ(fs::GetAttributes(game + "/netgames/hosts.deny").size, 0u);
    // The executables are k3ded itself, runnable.
    for (const char* exe : {"main.exe", "ember15.exe"}) {
        const auto permissions = stdfs::status(game + "/" + exe).permissions();
        EXPECT_NE(permissions & stdfs::perms::owner_exec, stdfs::perms::none) << exe;
        EXPECT_EQ(fs::GetAttributes(game + "/" + exe).size, fs::GetAttributes(BinDir() + "/k3ded").size) << exe;
    }

    RegValue base;
    ASSERT_TRUE(Registry(registry).Read(kGameKey, "BaseDirectory", base));
    EXPECT_EQ(base.type, RegType::String);
    EXPECT_EQ(base.text, game);  // a relative folder is registered as an absolute one
    EXPECT_EQ(Dword(kGameKey, "LanguageType"), 2u);
    EXPECT_EQ(Dword(kVersionKey, "Major"), 1u);
    EXPECT_EQ(Dword(kVersionKey, "Minor"), 4u);
    EXPECT_EQ(Dword(kVersionKey, "Build"), 17u);
}

TEST_F(K3dedInstallTest, MissionArchivesAreWellFormedHog2WithDescriptionsAndObjects) {
    ASSERT_EQ(MakeInstall("game"), 0);
    const struct {
        std::string archive;
        std::string nameLine;
        std::vector<std::string> objects;
    } cases[] = {
        {"k3.mn3", "NAME Kelvane 3", {}},
        {"k3_2.mn3", "NAME Kelvane 3 (second part)", {}},
        {"polaris.mn3", "NAME Polaris", {"polarisgate.oof"}},
        {"ironworks.mn3", "NAME Ironworks", {"crusher.oof", "turret.oof"}},
        {"nightfall.mn3", "NAME Nightfall", {"beacon.oof", "turret.oof"}},
        {"oasis.mn3", "NAME oasis", {}},
    };
    std::map<std::string, std::string> turrets;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.archive);
        const auto files = ReadHog2(game + "/missions/" + c.archive);
        // The extraction refuses archives of 116 bytes or less and with fewer than 3 files.
        ASSERT_GE(files.size(), 3u);
        EXPECT_GT(fs::GetAttributes(game + "/missions/" + c.archive).size, 116u);
        std::string description;
        std::vector<std::string> objects;
        for (const auto& [name, data] : files) {
            const std::string extension = name.substr(name.rfind('.'));
            if (extension == ".msn" && description.empty()) description = data;
            if (extension == ".oof") objects.push_back(name);
            if (name == "turret.oof") turrets[c.archive] = data;
        }
        EXPECT_NE(description.find(c.nameLine + "\r\n"), std::string::npos) << description;
        EXPECT_NE(description.find("NUMLEVELS "), std::string::npos);
        EXPECT_LT(description.find("NUMLEVELS "), description.find("LEVEL 1"));
        EXPECT_EQ(objects, c.objects);
    }
    // Two missions share one object, with the same contents.
    ASSERT_EQ(turrets.size(), 2u);
    EXPECT_EQ(turrets["ironworks.mn3"], turrets["nightfall.mn3"]);
    EXPECT_FALSE(turrets["ironworks.mn3"].empty());
}

TEST_F(K3dedInstallTest, WrongArgumentsChangeNothing) {
    const char* const cases[] = {"", "game --version 1.5", "game --version 1.x.3", "game --version",
                                 "game --language minus", "game other", "game --fast"};
    for (const char* arguments : cases) {
        SCOPED_TRACE(arguments);
        EXPECT_EQ(MakeInstall(arguments), 1);
        EXPECT_FALSE(fs::FileExists(game));
        EXPECT_FALSE(fs::FileExists(registry));
    }
}

TEST_F(K3dedInstallTest, DefaultVersionAndRepeatedInstallKeepTheRegistryConsistent) {
    ASSERT_EQ(MakeInstall("game"), 0);
    ASSERT_TRUE(fs::WriteWholeFile(game + "/netgames/hosts.deny", "1.2.3.4\r\n"));
    ASSERT_EQ(MakeInstall("\"" + game + "/\" --version 2.0.1"), 0);  // trailing slash dropped
    RegValue base;
    ASSERT_TRUE(Registry(registry).Read(kGameKey, "BaseDirectory", base));
    EXPECT_EQ(base.text, game);
    EXPECT_EQ(Dword(kVersionKey, "Major"), 2u);
    EXPECT_EQ(Dword(kVersionKey, "Minor"), 0u);
    EXPECT_EQ(Dword(kVersionKey, "Build"), 1u);
    EXPECT_EQ(Dword(kGameKey, "LanguageType"), 0u);
    EXPECT_EQ(Registry(registry).SubKeys(kGameKey), std::vector<std::string>{"Version"});
}

}  // namespace
}  // namespace hm
