// cfg/haldmoor3.ini: defaults, reports with line numbers, and rewrites that keep what they do not change.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "servers/program_settings.h"

namespace hm {
namespace {

TEST(ProgramSettings, ReadsReportsAndRewritesOnlyWhatChanged) {
    const std::string kHand =
        "; edited by hand\r\n"
        "[Restarts]\r\n"
        "  backoff = OFF  \r\n"
        "quick_death_seconds=90\r\n"
        "colour=blue\r\n"
        "\r\n"
        "[warnings]\r\n"
        "times = 120, 30\r\n"
        "text=Stop in %s, 100%% sure\r\n";
    struct Case {
        const char* name;
        std::string text;
        std::function<void(CProgramSettings&)> expect;  // applied to the defaults
        std::vector<std::string> warnings;
    } cases[] = {
        {"absent", "", [](CProgramSettings&) {}, {}},
        {"hand-edited, unknown key kept", kHand,
         [](CProgramSettings& s) {
             s.restarts.backoff = false;
             s.restarts.quickDeathSeconds = 90;
             s.warnings.times = {120, 30};
             s.warnings.text = "Stop in %s, 100%% sure";
         },
         {"haldmoor3.ini line 5: unknown key \"colour\" in [restarts]; kept as it is."}},
        {"bad values give their defaults",
         "[restarts]\nmax_wait_minutes=0\nfirst_wait_seconds=45\n[warnings]\ntimes=10,60\ntext=%d left\nbefore_stop=maybe\n",
         [](CProgramSettings& s) { s.restarts.firstWaitSeconds = 45; },
         {"haldmoor3.ini line 2: max_wait_minutes=0 is not a whole number from 1 to 1440; the default 15 is used.",
          "haldmoor3.ini line 5: times=10,60 is not up to 16 whole numbers from 1 to 86400, separated by commas, "
          "each smaller than the one before; the default 300,60,10 is used.",
          "haldmoor3.ini line 6: text=%d left is not a text of at most 200 characters with exactly one %s; "
          "the default Server stops in %s. is used.",
          "haldmoor3.ini line 7: before_stop=maybe is not on or off; the default on is used."}},
        {"odd lines and sections", "garbage\n[extra]\nk=v\n[restarts]\nbackoff=on",
         [](CProgramSettings&) {},
         {"haldmoor3.ini line 1: not a key=value line; kept as it is.",
          "haldmoor3.ini line 2: unknown section [extra]; kept as it is."}},
    };
    for (const Case& c : cases) {
        const ParsedProgramSettings parsed = ParseProgramSettings(c.text);
        CProgramSettings expected;
        c.expect(expected);
        EXPECT_EQ(parsed.settings, expected) << c.name;
        EXPECT_EQ(parsed.warnings, c.warnings) << c.name;

        // Unchanged settings leave a complete file byte for byte; the missing keys of an incomplete
        // one are added with their comments.
        const std::string written = FormatProgramSettings(c.text, parsed.settings);
        const ParsedProgramSettings reread = ParseProgramSettings(written);
        EXPECT_EQ(reread.settings, parsed.settings) << c.name;
        EXPECT_EQ(FormatProgramSettings(written, reread.settings), written) << c.name;
        if (c.text.empty()) {
            EXPECT_TRUE(reread.warnings.empty()) << written;
        }
    }

    // A change touches its own value only; the hand's spacing, case, comments and unknown key stay,
    // and the keys the hand left out are added in CR LF like the rest.
    const std::string complete = FormatProgramSettings(kHand, ParseProgramSettings(kHand).settings);
    EXPECT_NE(complete.find("\r\ncolour=blue\r\n"), std::string::npos) << complete;
    EXPECT_NE(complete.find("\r\nbefore_stop=on\r\n"), std::string::npos) << complete;
    CProgramSettings changed = ParseProgramSettings(complete).settings;
    changed.restarts.backoff = true;
    std::string expected = complete;
    expected.replace(expected.find("OFF"), 3, "on");
    EXPECT_EQ(FormatProgramSettings(complete, changed), expected);
}

TEST(ProgramSettings, TheFileIsWrittenOnlyWhenASettingChanges) {
    const std::string folder =
        (std::filesystem::temp_directory_path() / ("hm_settings_" + std::to_string(random()))).string() + "/";
    ASSERT_TRUE(fs::CreateFolders(folder));
    const std::string path = folder + CProgramSettingsFile::kFileName;
    CProgramSettingsFile file;
    EXPECT_TRUE(file.Load(folder).empty());
    EXPECT_FALSE(fs::FileExists(path));  // absent stays absent at start-up

    ASSERT_TRUE(fs::WriteWholeFile(path, "[restarts]\nbackoff=off\nx=1\n"));
    EXPECT_EQ(file.Load(folder).size(), 1u);
    EXPECT_FALSE(file.settings.restarts.backoff);
    file.settings.restarts.maxWaitMinutes = 5;
    ASSERT_TRUE(file.Store(folder));
    std::string text;
    ASSERT_TRUE(fs::ReadWholeFile(path, text));
    EXPECT_EQ(text.rfind("[restarts]\nbackoff=off\n", 0), 0u) << text;
    EXPECT_NE(text.find("\nx=1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nmax_wait_minutes=5\n"), std::string::npos) << text;
    CProgramSettingsFile again;
    again.Load(folder);
    EXPECT_EQ(again.settings, file.settings);
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace hm
