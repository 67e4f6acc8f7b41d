// Both store files on disk: damaged files stop the load cleanly and are kept aside, never overwritten;
// files we wrote come back byte for byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "servers/server_config_array.h"
#include "servers/server_info_array.h"

namespace hm {
namespace {

class StoreFiles : public ::testing::Test {
protected:
    void SetUp() override {
        folder = ::testing::TempDir() + "hm_store_files_" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
        fs::RemoveFolder(folder, true);
        ASSERT_TRUE(fs::CreateFolders(folder));
    }
    void TearDown() override { fs::RemoveFolder(folder, true); }

    std::string Read(const std::string& name) {
        std::string data;
        fs::ReadWholeFile(folder + name, data);
        return data;
    }

    std::string folder;
};

class RecordingProgress : public ProgressSteps {
public:
    void Setup(const std::string&, int) override {}
    void Step(const std::string& text) override { steps.push_back(text); }
    std::vector<std::string> steps;
};

CServerConfigArray SampleConfigs() {
    CServerConfigArray array;
    array.globalOptions = CGlobalOptions(42);
    array.globalOptions.antiCheat.disallowedNicknames = {"Bot*", "Cheater"};
    array.configs.resize(2);
    array.configs[0].game.gameName = "First";
    array.configs[0].schedule.entries = {{{1, 8, 0}, {1, 20, 0}}};
    array.configs[1].game.gameName = "Second";
    array.configs[1].console.autoCommands = {"say hello", "say bye"};
    array.configs[1].console.addresses = {0x0100007F};
    return array;
}

CServerInfoArray SampleInfos() {
    CServerInfoArray array;
    for (unsigned port : {2092u, 2093u}) {
        auto entry = std::make_unique<CServerInfo>();
        entry->startTick = port * 1000;
        entry->config.launch.serverPort = static_cast<uint16_t>(port);
        entry->config.game.motd = "motd " + std::to_string(port);
        array.entries.push_back(std::move(entry));
    }
    return array;
}

size_t ConfigBlockSize(CServerConfig config) {
    std::string out;
    {
        ArchiveWriter ar(&out);
        config.Write(ar);
    }
    return out.size();
}

TEST_F(StoreFiles, ConfigFileCutAtEveryOffsetIsDamagedAndKeptAside) {
    CServerConfigArray sample = SampleConfigs();
    const std::string full = sample.Serialize();
    const size_t firstComplete = full.size() - ConfigBlockSize(sample.configs[1]);
    const std::string path = folder + CServerConfigArray::kFileName;
    for (size_t cut = 0; cut <= full.size(); ++cut) {
        ASSERT_TRUE(fs::WriteWholeFile(path, full.substr(0, cut)));
        CServerConfigArray loaded;
        const StoreLoad result = loaded.Load(folder, nullptr);
        if (cut == full.size()) {
            ASSERT_EQ(result, StoreLoad::Loaded);
            EXPECT_EQ(loaded.configs.size(), 2u);
            EXPECT_TRUE(loaded.LastDamagedPath().empty());
            break;
        }
        ASSERT_EQ(result, StoreLoad::Damaged) << cut;
        ASSERT_EQ(loaded.LastDamagedPath(), path + ".damaged") << cut;
        EXPECT_FALSE(fs::FileExists(path)) << cut;
        ASSERT_EQ(Read(std::string(CServerConfigArray::kFileName) + ".damaged"), full.substr(0, cut)) << cut;
        // Only configurations read completely before the cut survive.
        ASSERT_EQ(loaded.configs.size(), cut >= firstComplete ? 1u : 0u) << cut;
        if (!loaded.configs.empty()) {
            EXPECT_EQ(loaded.configs[0].game.gameName, "First");
        }
        ASSERT_TRUE(fs::DeleteFile(loaded.LastDamagedPath()));
    }
}

TEST_F(StoreFiles, InfoFileCutAtEveryOffsetIsDamagedAndKeptAside) {
    CServerInfoArray sample = SampleInfos();
    const std::string full = sample.Serialize();
    const std::string path = folder + CServerInfoArray::kFileName;
    const size_t firstComplete = 6 + (full.size() - 6) / 2;  // two entries of equal size
    for (size_t cut = 0; cut < full.size(); ++cut) {
        ASSERT_TRUE(fs::WriteWholeFile(path, full.substr(0, cut)));
        CServerInfoArray loaded;
        ASSERT_EQ(loaded.Load(folder, nullptr), StoreLoad::Damaged) << cut;
        ASSERT_EQ(Read(std::string(CServerInfoArray::kFileName) + ".damaged"), full.substr(0, cut)) << cut;
        ASSERT_EQ(loaded.entries.size(), cut >= firstComplete ? 1u : 0u) << cut;
        ASSERT_TRUE(fs::DeleteFile(loaded.LastDamagedPath()));
    }
}

TEST_F(StoreFiles, EarlierDamagedCopiesAreNeverReplaced) {
    const std::string path = folder + CServerInfoArray::kFileName;
    ASSERT_TRUE(fs::WriteWholeFile(path + ".damaged", "first"));
    ASSERT_TRUE(fs::WriteWholeFile(path + ".damaged.1", "second"));
    ASSERT_TRUE(fs::WriteWholeFile(path, std::string("\x01\x00", 2)));
    CServerInfoArray loaded;
    EXPECT_EQ(loaded.Load(folder, nullptr), StoreLoad::Damaged);
    EXPECT_EQ(loaded.LastDamagedPath(), path + ".damaged.2");
    EXPECT_EQ(Read(std::string(CServerInfoArray::kFileName) + ".damaged"), "first");
    EXPECT_EQ(Read(std::string(CServerInfoArray::kFileName) + ".damaged.1"), "second");
    EXPECT_EQ(Read(std::string(CServerInfoArray::kFileName) + ".damaged.2"), std::string("\x01\x00", 2));
}

TEST_F(StoreFiles, AbsurdCountsAreDamagedWithoutReadingOn) {
    std::string options;
    {
        ArchiveWriter ar(&options);
        CGlobalOptions(1).Write(ar);
    }
    const std::string absurd("\x01\x00\x00\x00\xFF\xFF\xFF\xFF\xFF\xFF", 10);
    ASSERT_TRUE(fs::WriteWholeFile(folder + CServerConfigArray::kFileName, options + absurd + std::string(64, '\0')));
    ASSERT_TRUE(fs::WriteWholeFile(folder + CServerInfoArray::kFileName, absurd + std::string(64, '\0')));
    CServerConfigArray configs;
    CServerInfoArray infos;
    EXPECT_EQ(configs.Load(folder, nullptr), StoreLoad::Damaged);
    EXPECT_EQ(infos.Load(folder, nullptr), StoreLoad::Damaged);
    EXPECT_TRUE(configs.configs.empty());
    EXPECT_TRUE(infos.entries.empty());
}

TEST_F(StoreFiles, StoredFilesRoundTripByteForByteAndIgnoreTrailingBytes) {
    CServerConfigArray configs = SampleConfigs();
    CServerInfoArray infos = SampleInfos();
    RecordingProgress progress;
    ASSERT_TRUE(configs.Store(folder, &progress));
    ASSERT_TRUE(infos.Store(folder, &progress));
    const std::string configBytes = Read(CServerConfigArray::kFileName);
    const std::string infoBytes = Read(CServerInfoArray::kFileName);
    EXPECT_EQ(configBytes, configs.Serialize());
    ASSERT_TRUE(fs::AppendToFile(folder + CServerConfigArray::kFileName, "garbage after the end"));

    CServerConfigArray configsBack;
    CServerInfoArray infosBack;
    EXPECT_EQ(configsBack.Load(folder, &progress), StoreLoad::Loaded);
    EXPECT_EQ(infosBack.Load(folder, &progress), StoreLoad::Loaded);
    EXPECT_EQ(configsBack.globalOptions.defaultConsolePassword, configs.globalOptions.defaultConsolePassword);
    ASSERT_TRUE(configsBack.Store(folder, nullptr));
    ASSERT_TRUE(infosBack.Store(folder, nullptr));
    EXPECT_EQ(Read(CServerConfigArray::kFileName), configBytes);
    EXPECT_EQ(Read(CServerInfoArray::kFileName), infoBytes);
    EXPECT_EQ(progress.steps, (std::vector<std::string>{"Storing server configurations...", "Storing server infos...",
                                                        "Loading server configurations...", "Loading server infos..."}));
}

TEST_F(StoreFiles, AbsentFilesKeepDefaultsAndUnwritableFoldersWriteNothing) {
    CServerConfigArray configs;
    configs.configs.resize(1);
    const std::string password = configs.globalOptions.defaultConsolePassword;
    CServerInfoArray infos;
    EXPECT_EQ(configs.Load(folder, nullptr), StoreLoad::Absent);
    EXPECT_EQ(infos.Load(folder, nullptr), StoreLoad::Absent);
    EXPECT_EQ(configs.configs.size(), 1u);
    EXPECT_EQ(configs.globalOptions.defaultConsolePassword, password);

    RecordingProgress progress;
    EXPECT_FALSE(configs.Store(folder + "missing/", &progress));
    EXPECT_FALSE(infos.Store(folder + "missing", &progress));
    EXPECT_TRUE(progress.steps.empty());
    EXPECT_FALSE(fs::FileExists(folder + "missing"));
}

}  // namespace
}  // namespace hm
