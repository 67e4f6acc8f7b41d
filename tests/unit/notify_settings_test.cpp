// The [notify NAME] sections of cfg/haldmoor3.ini: what they read as, what is reported with its line,
// and rewrites that touch only the targets that changed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "servers/program_settings.h"

namespace hm {
namespace {

CNotifyTarget Target(const std::string& name, const std::string& url, NotifyFormat format, uint32_t kinds) {
    return CNotifyTarget{name, url, format, kinds};
}

TEST(NotifySettings, SectionsReadAsTargetsAndBadLinesAreReported) {
    const uint32_t crashError = NotifyKindBit(NotifyKind::Crash) | NotifyKindBit(NotifyKind::Error);
    const struct {
        const char* name;
        std::string text;
        std::vector<CNotifyTarget> targets;
        std::vector<std::string> warnings;
    } cases[] = {
        {"two targets",
         "[notify Admins]\nurl=https://chat.example.org/hooks/1\nformat=Discord\nevents= crash , ERROR\n"
         "[notify ops]\nurl=http://127.0.0.1:8080/in\n",
         {Target("Admins", "https://chat.example.org/hooks/1", NotifyFormat::Discord, crashError),
          Target("ops", "http://127.0.0.1:8080/in", NotifyFormat::Json, kAllNotifyKinds)},
         {}},
        {"bad values fall back",
         "[notify a]\nurl=ftp://x/y\nformat=xml\nevents=crash,,error\nevents=crash,reboot\ncolour=red\n",
         {Target("a", "", NotifyFormat::Json, kAllNotifyKinds)},
         {"haldmoor3.ini line 2: url=ftp://x/y is not an http:// or https:// address of at most 2048 characters "
          "without blanks; nothing is sent to this target.",
          "haldmoor3.ini line 3: format=xml is not discord or json; json is used.",
          "haldmoor3.ini line 4: events=crash,,error is not a list of start, stop, crash, restart, kick, ban, update "
          "and error separated by commas; every kind is sent.",
          "haldmoor3.ini line 5: events=crash,reboot is not a list of start, stop, crash, restart, kick, ban, update "
          "and error separated by commas; every kind is sent.",
          "haldmoor3.ini line 6: unknown key \"colour\" in [notify a]; kept as it is."}},
        {"names",
         "[notify]\nurl=http://h/\n[notify A]\n[notify a]\nurl=http://other/\n[notify x]y]\n",
         {Target("A", "", NotifyFormat::Json, kAllNotifyKinds)},
         {"haldmoor3.ini line 1: a notification target needs a name of 1 to 64 characters without brackets "
          "([notify NAME]); the section is left out.",
          "haldmoor3.ini line 3: [notify A] has no url=; nothing is sent to it.",
          "haldmoor3.ini line 4: [notify a] is there a second time; only the first is used.",
          "haldmoor3.ini line 6: a notification target needs a name of 1 to 64 characters without brackets "
          "([notify NAME]); the section is left out."}},
    };
    for (const auto& c : cases) {
        const ParsedProgramSettings parsed = ParseProgramSettings(c.text);
        EXPECT_EQ(parsed.settings.notify, c.targets) << c.name;
        EXPECT_EQ(parsed.warnings, c.warnings) << c.name;
        // Read back unchanged, the file stays as it is apart from the keys it lacked.
        const std::string written = FormatProgramSettings(c.text, parsed.settings);
        EXPECT_EQ(ParseProgramSettings(written).settings, parsed.settings) << c.name << "\n" << written;
        EXPECT_EQ(FormatProgramSettings(written, parsed.settings), written) << c.name;
    }
}

TEST(NotifySettings, ARewriteChangesRemovesAndAddsTargetsAndKeepsTheRest) {
    const std::string hand =
        "; my hooks\r\n"
        "[notify Admins]\r\n"
        "; the chat room\r\n"
        "url = https://chat.example.org/hooks/1\r\n"
        "format=discord\r\n"
        "events=crash\r\n"
        "\r\n"
        "[notify old]\r\n"
        "url=http://old.example.org/\r\n"
        "[notify OLD]\r\n"
        "url=http://kept-as-it-is/\r\n"
        "[restarts]\r\n"
        "backoff=off\r\n";
    CProgramSettings s = ParseProgramSettings(hand).settings;
    ASSERT_EQ(s.notify.size(), 2u);
    s.notify[0].kinds |= NotifyKindBit(NotifyKind::Ban);
    s.notify.erase(s.notify.begin() + 1);
    s.notify.push_back(Target("new one", "https://hooks.example.org/a?b=c", NotifyFormat::Json, kAllNotifyKinds));
    const std::string written = FormatProgramSettings(hand, s);

    EXPECT_EQ(written.rfind("; my hooks\r\n[notify Admins]\r\n; the chat room\r\nurl = https://chat.example.org/hooks/1\r\n"
                            "format=discord\r\nevents=crash,ban\r\n\r\n",
                            0),
              0u)
        << written;
    EXPECT_EQ(written.find("old.example.org"), std::string::npos) << written;
    // The second section of a name was never read; it stays for the operator to sort out.
    EXPECT_NE(written.find("[notify OLD]\r\nurl=http://kept-as-it-is/\r\n[restarts]\r\nbackoff=off\r\n"), std::string::npos)
        << written;
    EXPECT_NE(written.find("[notify new one]\r\n; Where the messages go"), std::string::npos) << written;
    EXPECT_NE(written.find("\r\nurl=https://hooks.example.org/a?b=c\r\n"), std::string::npos) << written;
    EXPECT_NE(written.find("; update, error. Empty: every kind.\r\nevents=\r\n"), std::string::npos) << written;
    EXPECT_EQ(written.find("\n\n"), std::string::npos) << "every line ends in CR LF";
    // With the first of its name gone, the second section is read at the next start.
    CProgramSettings reread = s;
    reread.notify.insert(reread.notify.begin() + 1, Target("OLD", "http://kept-as-it-is/", NotifyFormat::Json, kAllNotifyKinds));
    EXPECT_EQ(ParseProgramSettings(written).settings, reread);
}

TEST(NotifySettings, TheDialogsCheckNamesTheFault) {
    const CNotifyTarget good = Target("a", "https://h:8443/x", NotifyFormat::Json, kAllNotifyKinds);
    const std::string badName = "A notification target needs a name of 1 to 64 characters, without square brackets "
                                "and without blanks at its ends.";
    const std::string badUrl = "The address of \"a\" must begin with http:// or https:// and hold no blanks.";
    const struct {
        std::vector<CNotifyTarget> targets;
        std::string message;
    } cases[] = {
        {{good}, ""},
        {{Target(" a", "http://h/", NotifyFormat::Json, 1)}, badName},
        {{good, Target("A", "http://h/", NotifyFormat::Json, 1)}, "Two notification targets are named \"A\"."},
        {{Target("a", "http://h/x y", NotifyFormat::Json, 1)}, badUrl},
        {{Target("a", "http:///path", NotifyFormat::Json, 1)}, badUrl},
        {{Target("a", "http://h/", NotifyFormat::Json, 0)}, "\"a\" has no kind of event to send."},
    };
    for (const auto& c : cases) EXPECT_EQ(CheckNotifyTargets(c.targets), c.message);
}

}  // namespace
}  // namespace hm
