// Named mutexes: lock file naming, existence detection, thread ownership and recursion, and real
// processes holding, timing out, and dying with the mutex held.
// This program doubles as its own helper process:
//   --child-exists NAME EXPECT      exits 0 when Create reports alreadyExists == EXPECT (0 or 1)
//   --child-hold NAME READY RELEASE  locks, creates READY, waits for RELEASE, unlocks
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <random>
#include <set>
#include <thread>

#include "platform/files.h"
#include "platform/named_mutex.h"

namespace hm {
namespace {

namespace stdfs = std::filesystem;
using WR = NamedMutex::WaitResult;

std::string UniqueName(const std::string& base) {
  std::random_device rd;
  return base + "-" + std::to_string(rd()) + std::to_string(rd());
}

// Lock files are never removed by the mutex itself; a test removes its own once nobody uses them.
struct RemoveLockFile {
  std::string name;
  ~RemoveLockFile() { fs::DeleteFile(NamedMutex::LockFilePath(name)); }
};

bool WaitForFile(const std::string& path) {
  for (int i = 0; i < 3000 && !fs::FileExists(path); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return fs::FileExists(path);
}

std::future<int> RunSelf(const std::string& arguments, const std::string& pidFile = "") {
  std::string command;
  if (!pidFile.empty()) command = "echo $$ > '" + pidFile + "'; ";
  command += "exec '" + fs::ExecutablePath() + "' " + arguments;
  return std::async(std::launch::async, [command] { return std::system(command.c_str()); });
}

std::string Arg(const std::string& s) { return "'" + s + "'"; }

class NamedMutexProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = (stdfs::temp_directory_path() / UniqueName("hm-mutex")).string();
    ASSERT_TRUE(stdfs::create_directories(dir_));
  }
  void TearDown() override { stdfs::remove_all(dir_); }
  std::string dir_;
};

TEST(NamedMutexNames, MapToDistinctSafeLockFiles) {
  std::string longBase(300, 'x');
  std::string names[] = {"Haldmoor3",  "haldmoor3", "a/b",       "a_b",          "a%2Fb",
                         "A/B",        "..",        "C:\\logs\\x", "JotwellShr/var/log/k3", longBase + "1",
                         longBase + "2", "Local\\Other", "Global\\Other"};
  std::set<std::string> paths;
  for (const auto& name : names) {
    std::string path = NamedMutex::LockFilePath(name);
    std::string file = stdfs::path(path).filename().string();
    EXPECT_TRUE(paths.insert(path).second) << name << " shares " << path;
    EXPECT_EQ(file.find('/'), std::string::npos);
    EXPECT_LE(file.size(), 255u) << name;
    EXPECT_NE(file, ".");
    EXPECT_NE(file, "..");
  }
  EXPECT_EQ(stdfs::path(NamedMutex::LockFilePath("Global\\Haldmoor3")).parent_path(), "/tmp/haldmoor3-locks-global");
  EXPECT_EQ(stdfs::path(NamedMutex::LockFilePath("Haldmoor3")).parent_path(),
            stdfs::path(NamedMutex::LockFilePath("Local\\Haldmoor3")).parent_path());
  EXPECT_NE(stdfs::path(NamedMutex::LockFilePath("Haldmoor3")).parent_path(), "/tmp/haldmoor3-locks-global");
  EXPECT_EQ(NamedMutex::LockFilePath("Local\\Same"), NamedMutex::LockFilePath("Same"));
}

TEST(NamedMutex, AlreadyExistsWhileAnyOtherObjectHasItOpen) {
  std::string name = UniqueName("hm-exists");
  RemoveLockFile cleanup{name};
  NamedMutex a, b, c;
  bool exists = true;
  ASSERT_TRUE(a.Create(name, &exists));
  EXPECT_FALSE(exists);
  ASSERT_TRUE(b.Create(name, &exists));
  EXPECT_TRUE(exists);
  a.Close();
  ASSERT_TRUE(c.Create(name, &exists));
  EXPECT_TRUE(exists) << "b still has it open";
  b.Close();
  c.Close();
  ASSERT_TRUE(a.Create(name, &exists));
  EXPECT_FALSE(exists) << "everyone closed it";

  NamedMutex unnamed1, unnamed2;
  ASSERT_TRUE(unnamed1.Create("", &exists));
  EXPECT_FALSE(exists);
  ASSERT_TRUE(unnamed2.Create("", &exists));
  EXPECT_FALSE(exists) << "unnamed mutexes are all different";
  EXPECT_EQ(unnamed1.Lock(0), WR::Acquired);
  EXPECT_EQ(unnamed2.Lock(0), WR::Acquired);
}

TEST(NamedMutex, OwnerThreadRecursesAcrossObjectsAndOthersWait) {
  std::string name = UniqueName("hm-recursive");
  RemoveLockFile cleanup{name};
  NamedMutex a, b;
  ASSERT_TRUE(a.Create(name));
  ASSERT_TRUE(b.Create(name));
  ASSERT_EQ(a.Lock(0), WR::Acquired);
  EXPECT_EQ(a.Lock(0), WR::Acquired);
  EXPECT_EQ(b.Lock(0), WR::Acquired) << "ownership is the thread's, not the object's";

  std::thread other([&] {
    NamedMutex c;
    ASSERT_TRUE(c.Create(name));
    EXPECT_EQ(c.Lock(30), WR::Timeout);
    EXPECT_EQ(b.Lock(0), WR::Timeout);
    EXPECT_FALSE(a.Unlock()) << "only the owner may release";
  });
  other.join();

  EXPECT_TRUE(a.Unlock());
  EXPECT_TRUE(b.Unlock());
  std::atomic<bool> acquired{false};
  std::thread waiter([&] {
    NamedMutex c;
    ASSERT_TRUE(c.Create(name));
    EXPECT_EQ(c.Lock(NamedMutex::kInfinite), WR::Acquired);
    acquired = true;
    EXPECT_TRUE(c.Unlock());
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(acquired) << "still held once";
  EXPECT_TRUE(a.Unlock());
  waiter.join();
  EXPECT_TRUE(acquired);
  EXPECT_FALSE(a.Unlock()) << "more unlocks than locks";
}

TEST(NamedMutex, ExcludesThreadsThatShareOneObjectOrUseTheirOwn) {
  std::string name = UniqueName("hm-exclusion");
  RemoveLockFile cleanup{name};
  NamedMutex shared;
  ASSERT_TRUE(shared.Create(name));
  int counter = 0;
  std::atomic<int> inside{0};
  std::atomic<bool> overlap{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      NamedMutex own;
      ASSERT_TRUE(own.Create(name));
      NamedMutex& m = (t % 2 == 0) ? shared : own;
      for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(m.Lock(NamedMutex::kInfinite), WR::Acquired);
        if (inside.fetch_add(1) != 0) overlap = true;
        ++counter;
        inside.fetch_sub(1);
        ASSERT_TRUE(m.Unlock());
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_FALSE(overlap);
  EXPECT_EQ(counter, 800);
}

TEST(NamedMutex, ClosingTheLastObjectWhileOwnedAbandonsIt) {
  std::string name = UniqueName("hm-closed");
  RemoveLockFile cleanup{name};
  auto holder = std::make_unique<NamedMutex>();
  ASSERT_TRUE(holder->Create(name));
  ASSERT_EQ(holder->Lock(0), WR::Acquired);
  holder.reset();
  NamedMutex next;
  ASSERT_TRUE(next.Create(name));
  EXPECT_EQ(next.Lock(0), WR::Abandoned);
  ASSERT_TRUE(next.Unlock());
  EXPECT_EQ(next.Lock(0), WR::Acquired) << "a clean release is not abandoned";
}

TEST_F(NamedMutexProcessTest, AlreadyExistsAcrossProcessesInBothNamespaces) {
  for (std::string prefix : {"", "Global\\"}) {
    std::string name = prefix + UniqueName("hm-instance");
    RemoveLockFile cleanup{name};
    EXPECT_EQ(RunSelf("--child-exists " + Arg(name) + " 0").get(), 0) << name;
    NamedMutex mine;
    bool exists = true;
    ASSERT_TRUE(mine.Create(name, &exists));
    EXPECT_FALSE(exists);
    EXPECT_EQ(RunSelf("--child-exists " + Arg(name) + " 1").get(), 0) << "a second instance sees the first";
    mine.Close();
    EXPECT_EQ(RunSelf("--child-exists " + Arg(name) + " 0").get(), 0) << "gone with the first";
  }
}

TEST_F(NamedMutexProcessTest, TimesOutWhileAnotherProcessHoldsIt) {
  std::string name = UniqueName("hm-held");
  RemoveLockFile cleanup{name};
  std::string ready = dir_ + "/ready", release = dir_ + "/release";
  auto child = RunSelf("--child-hold " + Arg(name) + " " + Arg(ready) + " " + Arg(release));
  ASSERT_TRUE(WaitForFile(ready));
  NamedMutex m;
  ASSERT_TRUE(m.Create(name));
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(m.Lock(50), WR::Timeout);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50)) << "waited the time given";
  EXPECT_EQ(m.Lock(0), WR::Timeout);
  ASSERT_TRUE(fs::WriteWholeFile(release, "go"));
  EXPECT_EQ(m.Lock(20000), WR::Acquired) << "released cleanly by its holder";
  EXPECT_EQ(child.get(), 0);
  EXPECT_TRUE(m.Unlock());
}

TEST_F(NamedMutexProcessTest, AHolderKilledWithSigkillLeavesItAbandoned) {
  std::string name = UniqueName("hm-killed");
  RemoveLockFile cleanup{name};
  std::string ready = dir_ + "/ready", release = dir_ + "/never", pidFile = dir_ + "/pid";
  auto child = RunSelf("--child-hold " + Arg(name) + " " + Arg(ready) + " " + Arg(release), pidFile);
  ASSERT_TRUE(WaitForFile(ready));
  NamedMutex m;
  ASSERT_TRUE(m.Create(name));
  EXPECT_EQ(m.Lock(0), WR::Timeout);
  std::string pid;
  ASSERT_TRUE(fs::ReadWholeFile(pidFile, pid));
  ASSERT_EQ(std::system(("kill -KILL " + pid).c_str()), 0);
  EXPECT_NE(child.get(), 0);
  EXPECT_EQ(m.Lock(20000), WR::Abandoned);
  EXPECT_TRUE(m.Unlock());
  EXPECT_EQ(m.Lock(0), WR::Acquired);
  EXPECT_TRUE(m.Unlock());
}

int ChildExists(const std::string& name, bool expected) {
  NamedMutex m;
  bool exists = !expected;
  if (!m.Create(name, &exists)) return 2;
  return exists == expected ? 0 : 1;
}

int ChildHold(const std::string& name, const std::string& ready, const std::string& release) {
  NamedMutex m;
  if (!m.Create(name) || m.Lock(NamedMutex::kInfinite) != WR::Acquired) return 2;
  if (!fs::WriteWholeFile(ready, "x")) return 3;
  for (int i = 0; i < 6000 && !fs::FileExists(release); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return m.Unlock() ? 0 : 4;
}

}  // namespace
}  // namespace hm

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "--child-exists" && argc == 4) return hm::ChildExists(argv[2], std::string(argv[3]) == "1");
  if (mode == "--child-hold" && argc == 5) return hm::ChildHold(argv[2], argv[3], argv[4]);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
