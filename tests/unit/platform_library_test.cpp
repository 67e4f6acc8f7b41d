// Run-time binding: a real system library binds and its functions run; every failure is reported as a
// result with a reason, and the object never unloads a library on its own.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "platform/files.h"
#include "platform/library.h"

namespace hm {
namespace {

using VersionFn = const char* (*)();
using Crc32Fn = unsigned long (*)(unsigned long, const unsigned char*, unsigned int);

// First in this file, so no earlier test has bound the library already.
TEST(SharedLibrary, StaysLoadedAfterTheObjectUnlessUnloadedExplicitly) {
  VersionFn version = nullptr;
  {
    SharedLibrary lib;
    ASSERT_TRUE(lib.Load("libz.so.1"));
    version = reinterpret_cast<VersionFn>(lib.Symbol("zlibVersion"));
    ASSERT_NE(version, nullptr);
  }
  EXPECT_EQ(std::string(version()).substr(0, 2), "1.") << "still mapped after the object is gone";

  SharedLibrary lib;
  EXPECT_FALSE(lib.Unload());
  ASSERT_TRUE(lib.Load("libz.so.1"));
  EXPECT_TRUE(lib.Unload());
  EXPECT_FALSE(lib.IsLoaded());
  EXPECT_EQ(lib.Symbol("zlibVersion"), nullptr);
  EXPECT_FALSE(lib.Unload());
}

TEST(SharedLibrary, BindsASystemLibraryAndCallsIt) {
  SharedLibrary zlib;
  EXPECT_FALSE(zlib.IsLoaded());
  ASSERT_TRUE(zlib.Load("libz.so.1")) << zlib.Error();
  EXPECT_TRUE(zlib.IsLoaded());
  EXPECT_EQ(zlib.Error(), "");

  auto version = reinterpret_cast<VersionFn>(zlib.Symbol("zlibVersion"));
  ASSERT_NE(version, nullptr) << zlib.Error();
  EXPECT_EQ(std::string(version()).substr(0, 2), "1.");
  auto crc32 = reinterpret_cast<Crc32Fn>(zlib.Symbol("crc32"));
  ASSERT_NE(crc32, nullptr);
  const unsigned char text[] = "123456789";
  EXPECT_EQ(crc32(0, text, 9), 0xCBF43926ul);  // the CRC-32 check value
}

TEST(SharedLibrary, FailuresAreResultsWithAReason) {
  std::string textFile = (std::filesystem::temp_directory_path() /
                          ("hm-notalib-" + std::to_string(std::random_device{}()) + ".so")).string();
  ASSERT_TRUE(fs::WriteWholeFile(textFile, "this is not a shared library\n"));
  struct Case {
    std::string path, mention;
  } cases[] = {
      {"", ""},
      {"/nonexistent/libjotwell.so", "libjotwell.so"},
      {"libno-such-library-anywhere.so.9", "libno-such-library-anywhere.so.9"},
      {textFile, ""},
      {std::filesystem::temp_directory_path().string(), ""},  // a folder
  };
  for (const auto& c : cases) {
    SharedLibrary lib;
    EXPECT_FALSE(lib.Load(c.path)) << c.path;
    EXPECT_FALSE(lib.IsLoaded()) << c.path;
    EXPECT_FALSE(lib.Error().empty()) << c.path;
    EXPECT_NE(lib.Error().find(c.mention), std::string::npos) << lib.Error();
    EXPECT_EQ(lib.Symbol("zlibVersion"), nullptr);
  }
  fs::DeleteFile(textFile);
}

TEST(SharedLibrary, MissingSymbolsAreReportedAndLaterSuccessClearsTheError) {
  SharedLibrary lib;
  EXPECT_EQ(lib.Symbol("zlibVersion"), nullptr);
  EXPECT_FALSE(lib.Error().empty()) << "nothing loaded yet";
  ASSERT_TRUE(lib.Load("libz.so.1"));
  EXPECT_EQ(lib.Symbol("JotwellEx"), nullptr);
  EXPECT_NE(lib.Error().find("JotwellEx"), std::string::npos) << lib.Error();
  EXPECT_EQ(lib.Symbol(""), nullptr);
  EXPECT_EQ(lib.Symbol(nullptr), nullptr);
  EXPECT_NE(lib.Symbol("zlibVersion"), nullptr);
  EXPECT_EQ(lib.Error(), "");
}

}  // namespace
}  // namespace hm
