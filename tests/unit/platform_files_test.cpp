// Files and folders: whole-file I/O, the atomic replace every store depends on (also when the write
// fails), wildcard listing, attributes, folders and the cross-object file lock.
// This program doubles as its own helper process: "--child-replace PATH SIZE" tries one atomic replace
// and exits 0 when it was refused.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include <sys/stat.h>

#include "platform/files.h"

namespace hm::fs {
namespace {

namespace stdfs = std::filesystem;

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device rd;
    dir_ = (stdfs::temp_directory_path() / ("hm-files-" + std::to_string(rd()) + std::to_string(rd()))).string();
    ASSERT_TRUE(stdfs::create_directories(dir_));
  }
  void TearDown() override {
    std::error_code ec;
    stdfs::permissions(dir_, stdfs::perms::owner_all, stdfs::perm_options::add, ec);
    stdfs::remove_all(dir_, ec);
  }
  std::string P(const std::string& name) const { return dir_ + "/" + name; }
  std::string Slurp(const std::string& name) const {
    std::string s;
    EXPECT_TRUE(ReadWholeFile(P(name), s)) << name;
    return s;
  }
  std::vector<std::string> Listing() const { return FindFiles(dir_, "*", true); }

  std::string dir_;
};

TEST_F(FilesTest, WholeFileRoundTripKeepsEveryByte) {
  std::string bytes("line\r\n\0\xC4\xFF\x80 end", 15);
  ASSERT_TRUE(WriteWholeFile(P("a.bin"), bytes));
  EXPECT_EQ(Slurp("a.bin"), bytes);
  ASSERT_TRUE(WriteWholeFile(P("a.bin"), "short"));
  EXPECT_EQ(Slurp("a.bin"), "short") << "writing truncates";
  ASSERT_TRUE(AppendToFile(P("a.bin"), "+more"));
  ASSERT_TRUE(AppendToFile(P("new.txt"), "created"));
  EXPECT_EQ(Slurp("a.bin"), "short+more");
  EXPECT_EQ(Slurp("new.txt"), "created");

  std::string out = "unchanged";
  EXPECT_FALSE(ReadWholeFile(P("missing"), out));
  EXPECT_FALSE(ReadWholeFile(dir_, out)) << "a folder is not a file";
  EXPECT_EQ(out, "unchanged");
  EXPECT_FALSE(WriteWholeFile(P("no/such/folder.txt"), "x"));
}

// Every way a read can fail says why, and only an absent file counts as missing: the stores write
// over a file only when it was read or truly is not there. Nothing here may block (a FIFO without a
// writer) or allocate beyond the limit (a huge or endless file).
TEST_F(FilesTest, LimitedReadTellsMissingFromUnreadable) {
  ASSERT_TRUE(WriteWholeFile(P("ten.txt"), "0123456789"));
  ASSERT_EQ(::mkfifo(P("fifo").c_str(), 0600), 0);
  ASSERT_TRUE(WriteWholeFile(P("file"), "x"));
  struct Case {
    std::string path;
    uint64_t limit;
    ReadStatus status;
  } cases[] = {
      {P("ten.txt"), 10, ReadStatus::kOk},
      {P("ten.txt"), 9, ReadStatus::kTooLarge},
      {P("missing"), 100, ReadStatus::kMissing},
      {P("file/below"), 100, ReadStatus::kMissing},
      {dir_, 100, ReadStatus::kNotRegular},
      {P("fifo"), 100, ReadStatus::kNotRegular},
      {"/dev/zero", 1 << 20, ReadStatus::kNotRegular},
  };
  for (const Case& c : cases) {
    std::string out = "unchanged";
    ReadResult r = ReadFileLimited(c.path, c.limit, out);
    EXPECT_EQ(r.status, c.status) << c.path << " limit " << c.limit;
    EXPECT_EQ(r.ok(), r.reason.empty()) << c.path;
    EXPECT_EQ(out, c.status == ReadStatus::kOk ? "0123456789" : "unchanged") << c.path;
  }
  FileReader reader;
  EXPECT_FALSE(reader.Open(P("fifo")));
  EXPECT_EQ(reader.result().status, ReadStatus::kNotRegular);
  EXPECT_FALSE(reader.Open(P("missing")));
  EXPECT_EQ(reader.result().status, ReadStatus::kMissing);
  ASSERT_TRUE(reader.Open(P("ten.txt")));
  EXPECT_EQ(reader.size(), 10u);
}

TEST_F(FilesTest, AtomicReplaceCreatesOrReplacesAndKeepsPermissions) {
  ASSERT_TRUE(ReplaceFileAtomically(P("store.dat"), "first"));
  EXPECT_EQ(Slurp("store.dat"), "first");
  stdfs::permissions(P("store.dat"), stdfs::perms::owner_read | stdfs::perms::owner_write | stdfs::perms::group_read,
                     stdfs::perm_options::replace);
  ASSERT_TRUE(ReplaceFileAtomically(P("store.dat"), std::string(100000, 'x')));
  EXPECT_EQ(Slurp("store.dat"), std::string(100000, 'x'));
  EXPECT_EQ(stdfs::status(P("store.dat")).permissions() & stdfs::perms::all,
            stdfs::perms::owner_read | stdfs::perms::owner_write | stdfs::perms::group_read);
  EXPECT_EQ(Listing(), std::vector<std::string>{"store.dat"}) << "no temporary left behind";
}

TEST_F(FilesTest, FailedAtomicReplaceLeavesOldFileAndNoTemporary) {
  ASSERT_TRUE(WriteWholeFile(P("old.dat"), "old content"));
  ASSERT_TRUE(CreateFolder(P("folder.dat")));
  ASSERT_TRUE(WriteWholeFile(P("folder.dat/inside"), "kept"));

  // A write error from the kernel: the helper process runs with a file size limit of a few hundred
  // bytes (it binds root too), so writing the temporary fails part way.
  std::string limited = "trap '' XFSZ; ulimit -f 1; exec '" + ExecutablePath() + "' --child-replace '" +
                        P("old.dat") + "' 100000";
  EXPECT_EQ(std::system(limited.c_str()), 0) << "the replace under a size limit must report failure";

  EXPECT_FALSE(ReplaceFileAtomically(P("missing-folder/new.dat"), "data"));
  EXPECT_FALSE(ReplaceFileAtomically(P("folder.dat"), "data")) << "a folder cannot be replaced by a file";
  EXPECT_FALSE(ReplaceFileAtomically(P("trailing/"), "data"));

  EXPECT_EQ(Slurp("old.dat"), "old content");
  EXPECT_EQ(Slurp("folder.dat/inside"), "kept");
  EXPECT_EQ(Listing(), (std::vector<std::string>{"folder.dat", "old.dat"}));
}

TEST_F(FilesTest, AtomicWriterPublishesOnlyOnCommit) {
  ASSERT_TRUE(WriteWholeFile(P("s.dat"), "old"));
  {
    AtomicFileWriter w;
    ASSERT_TRUE(w.Open(P("s.dat")));
    ASSERT_TRUE(w.Write("new ", 4));
    EXPECT_EQ(Slurp("s.dat"), "old") << "nothing visible before Commit";
  }  // destroyed uncommitted
  EXPECT_EQ(Slurp("s.dat"), "old");

  AtomicFileWriter w;
  ASSERT_TRUE(w.Open(P("s.dat")));
  ASSERT_TRUE(w.Write("abc", 3));
  w.Abandon();
  EXPECT_FALSE(w.Write("x", 1));
  EXPECT_FALSE(w.Commit());
  EXPECT_EQ(Slurp("s.dat"), "old");

  ASSERT_TRUE(w.Open(P("s.dat")));
  ASSERT_TRUE(w.Write("part1,", 6));
  ASSERT_TRUE(w.Write("part2", 5));
  ASSERT_TRUE(w.Commit());
  EXPECT_FALSE(w.Commit()) << "a writer commits once";
  EXPECT_EQ(Slurp("s.dat"), "part1,part2");
  EXPECT_EQ(Listing(), std::vector<std::string>{"s.dat"});
}

TEST_F(FilesTest, FindFilesMatchesWindowsWildcardsSortedIgnoringCase) {
  for (const char* name : {"beta.TXT", "Alpha.txt", "abc.txt", "ab.txt", "a1.txt", "gamma.dat", "README",
                           "x.tar.gz", "\xC4rger.txt"}) {
    ASSERT_TRUE(WriteWholeFile(P(name), "x"));
  }
  ASSERT_TRUE(CreateFolder(P("Sub.txt")));
  using V = std::vector<std::string>;
  struct Case {
    const char* wildcard;
    bool folders;
    V expected;
  } cases[] = {
      {"*.txt", false, {"a1.txt", "ab.txt", "abc.txt", "Alpha.txt", "beta.TXT", "\xC4rger.txt"}},
      {"*.TXT", true, {"a1.txt", "ab.txt", "abc.txt", "Alpha.txt", "beta.TXT", "Sub.txt", "\xC4rger.txt"}},
      {"a?.txt", false, {"a1.txt", "ab.txt"}},
      {"A*", false, {"a1.txt", "ab.txt", "abc.txt", "Alpha.txt"}},
      {"*", false, {"a1.txt", "ab.txt", "abc.txt", "Alpha.txt", "beta.TXT", "gamma.dat", "README", "x.tar.gz",
                    "\xC4rger.txt"}},
      {"*.*", false, {"a1.txt", "ab.txt", "abc.txt", "Alpha.txt", "beta.TXT", "gamma.dat", "README", "x.tar.gz",
                      "\xC4rger.txt"}},
      {"readme.*", false, {"README"}},
      {"*.gz", false, {"x.tar.gz"}},
      {"\xE4*", false, {"\xC4rger.txt"}},  // Windows-1252 letters fold too
      {"?", false, {}},
      {"*b*.t?t", false, {"ab.txt", "abc.txt", "beta.TXT"}},
      {"nothing*", false, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindFiles(dir_, c.wildcard, c.folders), c.expected) << c.wildcard;
  }
  EXPECT_TRUE(FindFiles(P("missing"), "*").empty());
}

TEST(WildcardMatch, BacktracksOverStars) {
  struct Case {
    const char *wildcard, *name;
    bool match;
  } cases[] = {{"*ab", "aab", true}, {"*a*b", "xaxxb", true}, {"*a*b", "xaxxbc", false}, {"a?c", "ac", false},
               {"*", "", true},      {"a*", "", false},       {"*.k3m", "m.k3m.bak", false}};
  for (const auto& c : cases) EXPECT_EQ(WildcardMatch(c.wildcard, c.name), c.match) << c.wildcard << " " << c.name;
}

TEST_F(FilesTest, FileReaderReadsInCallerSizedChunks) {
  std::string data;
  for (int i = 0; i < 1000; ++i) data += static_cast<char>(i * 7);
  ASSERT_TRUE(WriteWholeFile(P("r.bin"), data));
  FileReader reader;
  ASSERT_TRUE(reader.Open(P("r.bin")));
  std::string back;
  char buffer[33];
  while (size_t n = reader.Read(buffer, sizeof buffer)) back.append(buffer, n);
  EXPECT_EQ(back, data);
  EXPECT_FALSE(reader.Open(P("missing")));
  EXPECT_FALSE(reader.Open(dir_));
}

TEST_F(FilesTest, AttributesAndReadOnlyFlag) {
  ASSERT_TRUE(WriteWholeFile(P("f"), std::string(1234, 'z')));
  FileAttributes a = GetAttributes(P("f"));
  EXPECT_TRUE(a.exists && !a.isDirectory && !a.readOnly);
  EXPECT_EQ(a.size, 1234u);
  auto written = stdfs::last_write_time(P("f"));
  auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
      std::chrono::file_clock::to_sys(written).time_since_epoch()).count();
  EXPECT_EQ(a.modifiedTime, seconds);

  ASSERT_TRUE(SetReadOnly(P("f"), true));
  EXPECT_TRUE(GetAttributes(P("f")).readOnly);
  ASSERT_TRUE(SetReadOnly(P("f"), false));
  EXPECT_FALSE(GetAttributes(P("f")).readOnly);

  EXPECT_TRUE(GetAttributes(dir_).isDirectory);
  EXPECT_FALSE(GetAttributes(P("missing")).exists);
}

TEST_F(FilesTest, FoldersAreCreatedAndRemovedWithoutFollowingLinksOut) {
  EXPECT_TRUE(CreateFolders(P("a/b/c/")));
  EXPECT_TRUE(IsDirectory(P("a/b/c")));
  EXPECT_TRUE(CreateFolder(P("a"))) << "an existing folder is fine";
  ASSERT_TRUE(WriteWholeFile(P("plain"), "x"));
  EXPECT_FALSE(CreateFolder(P("plain")));
  EXPECT_FALSE(CreateFolders(P("plain/below")));
  EXPECT_FALSE(CreateFolder(P("x/y"))) << "one level only";

  ASSERT_TRUE(CreateFolders(P("outside")));
  ASSERT_TRUE(WriteWholeFile(P("outside/precious"), "keep"));
  ASSERT_TRUE(WriteWholeFile(P("a/b/c/file"), "x"));
  stdfs::create_directory_symlink(P("outside"), P("a/b/link"));

  EXPECT_FALSE(RemoveFolder(P("a"), false)) << "not empty";
  EXPECT_FALSE(RemoveFolder(P("plain"), true)) << "not a folder";
  EXPECT_TRUE(RemoveFolder(P("a"), true));
  EXPECT_FALSE(FileExists(P("a")));
  EXPECT_EQ(Slurp("outside/precious"), "keep");
}

TEST_F(FilesTest, RenameCopyAndDeleteReplaceTargets) {
  ASSERT_TRUE(WriteWholeFile(P("src"), "source"));
  ASSERT_TRUE(WriteWholeFile(P("dst"), "old target"));
  ASSERT_TRUE(CopyFile(P("src"), P("dst")));
  EXPECT_FALSE(CopyFile(P("missing"), P("dst")));
  EXPECT_EQ(Slurp("dst"), "source");
  ASSERT_TRUE(RenameFile(P("src"), P("dst")));
  EXPECT_FALSE(FileExists(P("src")));
  EXPECT_TRUE(DeleteFile(P("dst")));
  EXPECT_FALSE(DeleteFile(P("dst")));
  ASSERT_TRUE(CreateFolder(P("folder")));
  EXPECT_FALSE(DeleteFile(P("folder")));
}

TEST(ExecutablePath, NamesThisProgramAndItsFolder) {
  std::string exe = ExecutablePath();
  EXPECT_EQ(stdfs::path(exe).filename(), "unit_platform_files_test");
  EXPECT_EQ(ExecutableFolder(), stdfs::path(exe).parent_path().string());
}

TEST_F(FilesTest, FileLockExcludesOtherObjectsOfTheSameProcess) {
  FileLock first, second;
  ASSERT_TRUE(first.Lock(P("x.lock"), 0));
  EXPECT_FALSE(second.Lock(P("x.lock"), 20));
  first.Unlock();
  EXPECT_TRUE(second.Lock(P("x.lock"), 0));
  EXPECT_FALSE(first.Lock(P("missing/x.lock"), 0)) << "lock file cannot be created";
}

int ChildReplace(const std::string& path, size_t size) {
  // Expected to fail: the size limit stops the write of the temporary.
  return ReplaceFileAtomically(path, std::string(size, 'n')) ? 1 : 0;
}

}  // namespace
}  // namespace hm::fs

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--child-replace") {
    return hm::fs::ChildReplace(argv[2], std::strtoul(argv[3], nullptr, 10));
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
