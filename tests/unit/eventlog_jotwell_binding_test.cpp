// Binding the logging library from the program's folder, the registry switch, and the global log.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "eventlog/event_log.h"
#include "eventlog/jotwell_binding.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "support/binaries.h"

namespace hm {
namespace {

using hm::test_support::BinDir;

namespace stdfs = std::filesystem;

class JotwellBindingTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = stdfs::temp_directory_path() /
               ("hm_binding_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        stdfs::remove_all(root);
        stdfs::create_directories(root);
        registry = std::make_unique<Registry>((root / "registry.reg").string());
    }
    void TearDown() override {
        if (!savedFolder.empty()) fs::SetCurrentDirectory(savedFolder);
        stdfs::remove_all(root);
    }
    stdfs::path root;
    std::unique_ptr<Registry> registry;
    std::string savedFolder;
};

TEST_F(JotwellBindingTest, SwitchIsFourBytesBinaryAndOnlyTheFirstByteCounts) {
    EXPECT_FALSE(JotwellBinding::ReadSwitch(*registry)) << "no value: off";
    ASSERT_TRUE(JotwellBinding::StoreSwitch(*registry, true));
    RegValue value;
    ASSERT_TRUE(registry->Read(kGameRegistryKey, kUseGlobalJotwellValue, value));
    EXPECT_EQ(value.type, RegType::Binary);
    EXPECT_EQ(value.binary, std::string("\x01\x00\x00\x00", 4));
    EXPECT_TRUE(JotwellBinding::ReadSwitch(*registry));
    std::string text;
    ASSERT_TRUE(fs::ReadWholeFile(registry->Path(), text));
    EXPECT_NE(text.find("\"Haldmoor3UseGlobalJotwell\"=hex:01,00,00,00"), std::string::npos) << text;

    struct Case {
        std::string bytes;
        bool on;
    };
    const Case cases[] = {{std::string("\x00\x01\x01\x01", 4), false},
                          {std::string("\xff\x00\x00\x00", 4), true},
                          {std::string("\x00\x00\x00\x00", 4), false},
                          {std::string(), false}};
    for (const Case& c : cases) {
        value.binary = c.bytes;
        ASSERT_TRUE(registry->Write(kGameRegistryKey, kUseGlobalJotwellValue, value));
        EXPECT_EQ(JotwellBinding::ReadSwitch(*registry), c.on);
    }
}

TEST_F(JotwellBindingTest, AbsentLibraryMeansNoFileLoggingWhateverTheRegistrySays) {
    ASSERT_TRUE(JotwellBinding::StoreSwitch(*registry, true));
    JotwellBinding binding;
    binding.BindAtStartup(root.string(), *registry);  // no library in this folder
    EXPECT_FALSE(binding.jotwellPresent());
    EXPECT_FALSE(binding.useGlobalJotwell());
    EXPECT_EQ(binding.WriteGlobalLog("text"), -50);
}

TEST_F(JotwellBindingTest, PresentLibraryIsBoundAndWritesTheGlobalLogBelowTheCurrentFolder) {
    ASSERT_TRUE(fs::FileExists(BinDir() + "/" + kJotwellFileName)) << "the build puts the library beside the program";
    ASSERT_TRUE(JotwellBinding::StoreSwitch(*registry, true));
    JotwellBinding binding;
    binding.BindAtStartup(BinDir(), *registry);
    EXPECT_TRUE(binding.jotwellPresent());
    EXPECT_TRUE(binding.useGlobalJotwell());
    EXPECT_EQ(binding.BindJotwell(BinDir() + "/" + kJotwellFileName), 1);

    savedFolder = fs::CurrentDirectory();
    ASSERT_TRUE(fs::SetCurrentDirectory(root.string()));
    stdfs::create_directories(root / "log");  // the program's system information makes it at start-up
    EXPECT_EQ(binding.WriteGlobalLog(""), 0);
    // The event list hands the library only the text behind its own stamp.
    ManualClock clock;
    EventLogList list(clock, &binding, nullptr);
    list.AddEvent("Server %u: Scheduled.", 1u);
    EXPECT_EQ(binding.globalLogPrefix(), root.string() + "/log/Haldmoor3_");

    std::string found;
    for (const auto& entry : stdfs::directory_iterator(root / "log")) {
        if (entry.path().filename().string().rfind("Haldmoor3_", 0) == 0) fs::ReadWholeFile(entry.path().string(), found);
    }
    const size_t at = found.find("Server 1: Scheduled.");
    ASSERT_NE(at, std::string::npos) << found;
    EXPECT_EQ(found.find(EventLogList::Stamp(clock)), std::string::npos) << "the list's stamp is not logged";
}

}  // namespace
}  // namespace hm
