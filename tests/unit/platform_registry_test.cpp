// The registry file: the exact .reg text written, tolerant reading of hand-made and regedit files,
// key handling, and writers in several threads and processes that must not lose each other's values.
// This program doubles as its own helper process:
//   --child-write FILE PREFIX COUNT   writes COUNT dword values PREFIX0.. under one key
//   --child-hold-lock LOCKFILE READY  takes the registry's lock file, creates READY, then waits to be killed
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <random>
#include <thread>

#include "platform/files.h"
#include "platform/registry.h"

namespace hm {
namespace {

namespace stdfs = std::filesystem;

const char kKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Brannock\\Kelvane3";

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    dir_ = (stdfs::temp_directory_path() / ("hm-reg-" + std::to_string(rd()) + std::to_string(rd()))).string();
    ASSERT_TRUE(stdfs::create_directories(dir_));
    path_ = dir_ + "/config/haldmoor3/registry.reg";  // the folders do not exist yet
  }
  void TearDown() override { stdfs::remove_all(dir_); }

  std::string FileText() const {
    std::string s;
    fs::ReadWholeFile(path_, s);
    return s;
  }
  void PutFile(const std::string& text) const {
    ASSERT_TRUE(fs::CreateFolders(dir_ + "/config/haldmoor3"));
    ASSERT_TRUE(fs::WriteWholeFile(path_, text));
  }

  std::string dir_, path_;
};

bool SameValue(const RegValue& a, const RegValue& b) {
  if (a.type != b.type) return false;
  switch (a.type) {
    case RegType::String: return a.text == b.text;
    case RegType::Dword: return a.dword == b.dword;
    case RegType::Binary: return a.binary == b.binary;
  }
  return false;
}

TEST_F(RegistryTest, WritesTheRegeditExportFormatByteForByte) {
  Registry reg(path_);
  ASSERT_TRUE(reg.Write(kKey, "BaseDirectory", RegValue::String("C:\\Games\\K3 \"Gold\"")));
  ASSERT_TRUE(reg.Write(kKey, "LanguageType", RegValue::Dword(10)));
  ASSERT_TRUE(reg.Write(kKey + std::string("\\Version"), "Blob", RegValue::Binary(std::string("\x01\x00\xff", 3))));
  EXPECT_EQ(FileText(),
            "Windows Registry Editor Version 5.00\r\n"
            "\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brannock\\Kelvane3]\r\n"
            "\"BaseDirectory\"=\"C:\\\\Games\\\\K3 \\\"Gold\\\"\"\r\n"
            "\"LanguageType\"=dword:0000000a\r\n"
            "\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brannock\\Kelvane3\\Version]\r\n"
            "\"Blob\"=hex:01,00,ff\r\n"
            "\r\n");
}

TEST_F(RegistryTest, EveryTypeRoundTrips) {
  std::string allBytes;
  for (int i = 0; i < 256; ++i) allBytes += static_cast<char>(i);
  struct Case {
    const char* name;
    RegValue value;
  } cases[] = {
      {"Plain", RegValue::String("/home/k3/Kelvane 3")},
      {"Empty", RegValue::String("")},
      {"TrailingBackslash", RegValue::String("C:\\Games\\")},
      {"Quotes", RegValue::String("\"quoted\" \\\" mixed")},
      {"Ansi", RegValue::String("Spi\xE9l \x80 \xFF")},
      {"Zero", RegValue::Dword(0)},
      {"Max", RegValue::Dword(0xFFFFFFFFu)},
      {"Hex", RegValue::Dword(0xDEADBEEFu)},
      {"NoBytes", RegValue::Binary("")},
      {"AllBytes", RegValue::Binary(allBytes)},  // long enough to be continued over many lines
  };
  Registry writer(path_);
  for (const auto& c : cases) ASSERT_TRUE(writer.Write(kKey, c.name, c.value)) << c.name;
  Registry reader(path_);
  for (const auto& c : cases) {
    RegValue back;
    ASSERT_TRUE(reader.Read(kKey, c.name, back)) << c.name;
    EXPECT_TRUE(SameValue(back, c.value)) << c.name;
  }
  std::string text = FileText();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    ASSERT_NE(end, std::string::npos) << "every line ends in CR LF";
    EXPECT_LE(end - start, 80u) << text.substr(start, end - start);
    start = end + 2;
  }
}

TEST_F(RegistryTest, ReadsHandWrittenFilesWithEitherLineEnd) {
  const std::string lines[] = {
      "Windows Registry Editor Version 5.00",
      "",
      "; written by hand",
      "[hkey_local_machine\\software\\brannock\\kelvane3]",
      "\"BaseDirectory\"=\"/srv/k3\"",
      "@=\"default\"",
      "\"Expand\"=hex(2):25,00,00,00",
      "\"Version\"=DWORD:0000ABCD",
      "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\",
      "  17,18,19,1a,1b,1c,1d,1e,1f,\\",
      "  20",
      "",
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]",
      "\"x\"=dword:00000001",
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brannock\\Kelvane3]",
      "\"Second\"=\"listed in a repeated key\"",
  };
  std::string longBytes;
  for (int i = 0; i <= 0x20; ++i) longBytes += static_cast<char>(i);
  for (const std::string eol : {"\r\n", "\n"}) {
    std::string text;
    for (const auto& l : lines) text += l + eol;
    PutFile(text);
    Registry reg(path_);
    RegValue v;
    ASSERT_TRUE(reg.Read(kKey, "basedirectory", v));
    EXPECT_TRUE(SameValue(v, RegValue::String("/srv/k3")));
    ASSERT_TRUE(reg.Read(kKey, "", v));
    EXPECT_TRUE(SameValue(v, RegValue::String("default")));
    ASSERT_TRUE(reg.Read(kKey, "Version", v));
    EXPECT_TRUE(SameValue(v, RegValue::Dword(0xABCD)));
    ASSERT_TRUE(reg.Read(kKey, "Long", v));
    EXPECT_TRUE(SameValue(v, RegValue::Binary(longBytes)));
    ASSERT_TRUE(reg.Read(kKey, "Second", v));
    EXPECT_FALSE(reg.Read(kKey, "Expand", v)) << "a type this registry does not model";

    // A write keeps what it does not understand.
    ASSERT_TRUE(reg.Write(kKey, "Added", RegValue::Dword(7)));
    std::string after = FileText();
    EXPECT_NE(after.find("; written by hand\r\n"), std::string::npos) << after;
    EXPECT_NE(after.find("\"Expand\"=hex(2):25,00,00,00\r\n"), std::string::npos) << after;
    ASSERT_TRUE(reg.Read(kKey, "Long", v));
    EXPECT_TRUE(SameValue(v, RegValue::Binary(longBytes)));
    ASSERT_TRUE(reg.Read("HKEY_LOCAL_MACHINE\\SOFTWARE\\Other", "x", v));
  }
}

TEST_F(RegistryTest, AWriteAfterAValueCutOffInItsContinuationLands) {
  // The file ends inside a continued value that this registry cannot read; it is kept, and neither the
  // value written after it nor the key's header may become its continuation.
  const std::string key = std::string("[") + kKey + "]\r\n";
  const struct {
    std::string kept;
    bool beforeKey;
  } cases[] = {
      {"\"Odd\"=hex(7):41,00,\\", false},
      {"\"Bad\"=hex:zz,\\", false},
      {"\"Two\"=hex:zz\\\\", false},
      {"\"Loose\"=hex:zz\\\\", true},
  };
  for (const auto& c : cases) {
    PutFile("Windows Registry Editor Version 5.00\r\n\r\n" + (c.beforeKey ? c.kept + "\r\n" + key : key + c.kept));
    Registry reg(path_);
    ASSERT_TRUE(reg.Write(kKey, "Added", RegValue::Dword(7)));
    RegValue v;
    ASSERT_TRUE(reg.Read(kKey, "Added", v)) << FileText();
    EXPECT_TRUE(SameValue(v, RegValue::Dword(7)));
    EXPECT_NE(FileText().find(c.kept + "\r\n"), std::string::npos) << FileText();
  }
}

TEST_F(RegistryTest, ReadsRegeditUtf16Exports) {
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Intl]\r\n\"sCurrency\"=\"#\"\r\n";
  std::string utf16 = "\xFF\xFE";
  for (char c : text) utf16 += c == '#' ? std::string("\xAC\x20", 2) : std::string{c, '\0'};  // '#' = U+20AC
  PutFile(utf16);
  RegValue v;
  ASSERT_TRUE(Registry(path_).Read("HKEY_CURRENT_USER\\Intl", "sCurrency", v));
  EXPECT_EQ(v.text, "\x80") << "the euro sign in Windows-1252";
}

TEST_F(RegistryTest, KeysAndNamesMatchIgnoringCaseAndKeepTheirFirstSpelling) {
  Registry reg(path_);
  ASSERT_TRUE(reg.Write("HKEY_LOCAL_MACHINE\\SOFTWARE\\Brannock\\Kelvane3", "UseLog", RegValue::Dword(1)));
  ASSERT_TRUE(reg.Write("hkey_local_machine\\software\\BRANNOCK\\kelvane3\\", "uselog", RegValue::Dword(2)));
  RegValue v;
  ASSERT_TRUE(reg.Read("Hkey_Local_Machine\\Software\\Brannock\\Kelvane3", "USELOG", v));
  EXPECT_EQ(v.dword, 2u);
  std::string text = FileText();
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brannock\\Kelvane3]\r\n\"UseLog\"=dword:00000002\r\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("hkey_local_machine"), std::string::npos);
}

TEST_F(RegistryTest, SubKeysDeletionAndRefusedValues) {
  Registry reg(path_);
  ASSERT_TRUE(reg.Write("HKLM\\A\\B\\C", "v", RegValue::Dword(1)));
  ASSERT_TRUE(reg.Write("HKLM\\A\\D", "v", RegValue::Dword(1)));
  ASSERT_TRUE(reg.Write("HKLM\\a\\b", "w", RegValue::Dword(1)));
  ASSERT_TRUE(reg.Write("HKLM\\AB", "v", RegValue::Dword(1)));
  EXPECT_EQ(reg.SubKeys("hklm\\a"), (std::vector<std::string>{"B", "D"}));
  EXPECT_EQ(reg.SubKeys("HKLM\\A\\B"), std::vector<std::string>{"C"});
  EXPECT_TRUE(reg.KeyExists("HKLM\\A")) << "a key that only holds sub-keys";
  EXPECT_TRUE(reg.KeyExists("hklm\\a\\b\\c\\"));
  EXPECT_FALSE(reg.KeyExists("HKLM\\A\\X"));
  EXPECT_FALSE(reg.KeyExists("HKLM\\A\\B\\C\\D"));

  EXPECT_TRUE(reg.DeleteValue("HKLM\\A\\D", "V"));
  EXPECT_FALSE(reg.DeleteValue("HKLM\\A\\D", "v"));
  RegValue v;
  EXPECT_FALSE(reg.Read("HKLM\\A\\D", "v", v));
  EXPECT_TRUE(reg.KeyExists("HKLM\\A\\D")) << "deleting a value keeps its key";

  std::string before = FileText();
  EXPECT_FALSE(reg.Write(kKey, "Broken", RegValue::String("two\r\nlines")));
  EXPECT_FALSE(reg.Write(kKey, "Bad\nName", RegValue::Dword(1)));
  EXPECT_FALSE(reg.Write("", "v", RegValue::Dword(1)));
  EXPECT_EQ(FileText(), before);
}

TEST(RegistryPath, ComesFromTheEnvironment) {
  struct Case {
    const char *registry, *xdg, *home, *expected;
  } cases[] = {
      {"/etc/hm.reg", "/xdg", "/home/u", "/etc/hm.reg"},
      {"", "/xdg", "/home/u", "/xdg/haldmoor3/registry.reg"},
      {nullptr, nullptr, "/home/u", "/home/u/.config/haldmoor3/registry.reg"},
  };
  auto set = [](const char* name, const char* value) {
    if (value) ::setenv(name, value, 1);
    else ::unsetenv(name);
  };
  const char* names[] = {"HALDMOOR3_REGISTRY", "XDG_CONFIG_HOME", "HOME"};
  std::string saved[3];
  bool had[3];
  for (int i = 0; i < 3; ++i) {
    const char* v = std::getenv(names[i]);
    had[i] = v != nullptr;
    saved[i] = v ? v : "";
  }
  for (const auto& c : cases) {
    set(names[0], c.registry);
    set(names[1], c.xdg);
    set(names[2], c.home);
    EXPECT_EQ(Registry().Path(), c.expected);
  }
  EXPECT_EQ(Registry("/given/path.reg").Path(), "/given/path.reg");
  for (int i = 0; i < 3; ++i) set(names[i], had[i] ? saved[i].c_str() : nullptr);
}

TEST_F(RegistryTest, ConcurrentWritersInThreadsLoseNoValue) {
  constexpr int kThreads = 4, kEach = 20;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([this, t] {
      Registry reg(path_);  // each thread its own object, as modules do
      for (int i = 0; i < kEach; ++i) {
        EXPECT_TRUE(reg.Write(kKey, "t" + std::to_string(t) + "_" + std::to_string(i),
                              RegValue::Dword(static_cast<uint32_t>(t * 1000 + i))));
      }
    });
  }
  for (auto& t : threads) t.join();
  Registry reg(path_);
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kEach; ++i) {
      RegValue v;
      ASSERT_TRUE(reg.Read(kKey, "t" + std::to_string(t) + "_" + std::to_string(i), v)) << t << "/" << i;
      EXPECT_EQ(v.dword, static_cast<uint32_t>(t * 1000 + i));
    }
  }
}

std::future<int> RunSelf(const std::string& arguments) {
  std::string command = "exec '" + fs::ExecutablePath() + "' " + arguments;
  return std::async(std::launch::async, [command] { return std::system(command.c_str()); });
}

TEST_F(RegistryTest, ConcurrentWriterProcessesLoseNoValue) {
  constexpr int kProcesses = 3, kEach = 15;
  Registry reg(path_);
  ASSERT_TRUE(reg.Write(kKey, "before", RegValue::String("kept")));
  std::vector<std::future<int>> children;
  for (int p = 0; p < kProcesses; ++p) {
    children.push_back(RunSelf("--child-write '" + path_ + "' p" + std::to_string(p) + "_ " + std::to_string(kEach)));
  }
  for (int i = 0; i < kEach; ++i) ASSERT_TRUE(reg.Write(kKey, "parent" + std::to_string(i), RegValue::Dword(1)));
  for (auto& c : children) EXPECT_EQ(c.get(), 0);
  RegValue v;
  for (int p = 0; p < kProcesses; ++p) {
    for (int i = 0; i < kEach; ++i) {
      EXPECT_TRUE(reg.Read(kKey, "p" + std::to_string(p) + "_" + std::to_string(i), v)) << p << "/" << i;
      EXPECT_EQ(v.dword, static_cast<uint32_t>(i));
    }
  }
  for (int i = 0; i < kEach; ++i) EXPECT_TRUE(reg.Read(kKey, "parent" + std::to_string(i), v));
  ASSERT_TRUE(reg.Read(kKey, "before", v));
  EXPECT_EQ(v.text, "kept");
}

TEST_F(RegistryTest, AWriterKilledWhileHoldingTheLockDoesNotBlockOthers) {
  ASSERT_TRUE(fs::CreateFolders(dir_ + "/config/haldmoor3"));
  std::string ready = dir_ + "/ready", pidFile = dir_ + "/pid";
  auto child = std::async(std::launch::async, [&] {
    std::string command = "echo $$ > '" + pidFile + "'; exec '" + fs::ExecutablePath() + "' --child-hold-lock '" +
                          path_ + ".lock' '" + ready + "'";
    return std::system(command.c_str());
  });
  for (int i = 0; i < 2000 && !fs::FileExists(ready); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(fs::FileExists(ready));
  fs::FileLock probe;
  EXPECT_FALSE(probe.Lock(path_ + ".lock", 30)) << "the helper holds the lock";
  std::string pid;
  ASSERT_TRUE(fs::ReadWholeFile(pidFile, pid));
  ASSERT_EQ(std::system(("kill -KILL " + pid).c_str()), 0);
  child.get();
  Registry reg(path_);
  EXPECT_TRUE(reg.Write(kKey, "after", RegValue::Dword(1)));
}

int ChildWrite(const std::string& file, const std::string& prefix, int count) {
  Registry reg(file);
  for (int i = 0; i < count; ++i) {
    if (!reg.Write(kKey, prefix + std::to_string(i), RegValue::Dword(static_cast<uint32_t>(i)))) return 1;
  }
  return 0;
}

int ChildHoldLock(const std::string& lockFile, const std::string& ready) {
  fs::FileLock lock;
  if (!lock.Lock(lockFile, 0) || !fs::WriteWholeFile(ready, "x")) return 1;
  std::this_thread::sleep_for(std::chrono::seconds(60));  // killed long before
  return 2;
}

}  // namespace
}  // namespace hm

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "--child-write" && argc == 5) return hm::ChildWrite(argv[2], argv[3], std::atoi(argv[4]));
  if (mode == "--child-hold-lock" && argc == 4) return hm::ChildHoldLock(argv[2], argv[3]);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
