// The regional date and time formats written into the registry file on request.
#include <gtest/gtest.h>

#include "core_fixture.h"
#include "platform/registry.h"

namespace hm::jotwell {
namespace {

constexpr const char* kUserKey = "HKEY_CURRENT_USER\\Control Panel\\International";
constexpr const char* kDefaultKey = "HKEY_USERS\\.DEFAULT\\Control Panel\\International";

class Regional : public CoreTest {
protected:
    void SetUp() override {
        CoreTest::SetUp();
        testing::SetEnv("HALDMOOR3_REGISTRY", registry);
    }
    void TearDown() override {
        testing::SetEnv("HALDMOOR3_REGISTRY", ProgramFolder() + "registry.reg");
        CoreTest::TearDown();
    }
    int Write(const char* text, uint32_t lo) {
        JotwellOptions o{};
        o.logOptions = lo;
        o.extOptions = LE_NO_BANNER | LE_DONT_LOG_CONFIG;
        return JotwellEx((dir / "App_").c_str(), text, &o);
    }
    std::string Value(const char* key, const char* name) {
        Registry reg(registry);
        RegValue v;
        return reg.Read(key, name, v) && v.type == RegType::String ? v.text : "<missing>";
    }

    std::string registry = dir / "registry.reg";
};

TEST_F(Regional, UserFormatsAreWrittenAndEachValueIsLoggedBeforeTheLine) {
    ASSERT_EQ(Write("line", LO_USER_ISO_DATE), 0);
    EXPECT_EQ(Value(kUserKey, "sDate"), "-");
    EXPECT_EQ(Value(kUserKey, "sShortDate"), "yyyy-MM-dd");
    EXPECT_EQ(Value(kUserKey, "sLongDate"), "dddd yyyy-MM-dd");
    EXPECT_EQ(Value(kUserKey, "sTime"), ":");
    EXPECT_EQ(Value(kUserKey, "sTimeFormat"), "HH:mm:ss");
    EXPECT_EQ(Value(kDefaultKey, "sDate"), "<missing>");
    EXPECT_EQ(TextsOf("App_2026-01-05.log"),
              (std::vector<std::string>{
                  "Value 'sDate' in 'HKEY_CURRENT_USER\\Control Panel\\International' set to '-'.",
                  "Value 'sShortDate' in 'HKEY_CURRENT_USER\\Control Panel\\International' set to 'yyyy-MM-dd'.",
                  "Value 'sLongDate' in 'HKEY_CURRENT_USER\\Control Panel\\International' set to 'dddd yyyy-MM-dd'.",
                  "Value 'sTime' in 'HKEY_CURRENT_USER\\Control Panel\\International' set to ':'.",
                  "Value 'sTimeFormat' in 'HKEY_CURRENT_USER\\Control Panel\\International' set to 'HH:mm:ss'.",
                  "line",
              }));
}

TEST_F(Regional, QuietOptionKeepsOnlyTheTimeFormatLine) {
    ASSERT_EQ(Write("line", LO_REG_ISO_DATE | LO_QUIET_REGISTRY), 0);
    EXPECT_EQ(Value(kDefaultKey, "sLongDate"), "dddd yyyy-MM-dd");
    EXPECT_EQ(Value(kUserKey, "sDate"), "<missing>");
    EXPECT_EQ(TextsOf("App_2026-01-05.log"),
              (std::vector<std::string>{
                  "Value 'sTimeFormat' in 'HKEY_USERS\\.DEFAULT\\Control Panel\\International' set to 'HH:mm:ss'.",
                  "line",
              }));
}

TEST_F(Regional, RegistryErrorsAreLoggedAndTheLineIsStillWritten) {
    testing::WriteFile(dir / "blocker", "a file where a folder should be");
    registry = dir / "blocker/registry.reg";
    testing::SetEnv("HALDMOOR3_REGISTRY", registry);
    ASSERT_EQ(Write("line", LO_USER_ISO_DATE), 0);
    const std::vector<std::string> texts = TextsOf("App_2026-01-05.log");
    ASSERT_EQ(texts.size(), 6u);
    EXPECT_EQ(texts[0], "Error setting value 'sDate' in 'HKEY_CURRENT_USER\\Control Panel\\International'.");
    EXPECT_EQ(texts[4], "Error setting value 'sTimeFormat' in 'HKEY_CURRENT_USER\\Control Panel\\International'.");
    EXPECT_EQ(texts[5], "line");
}

}  // namespace
}  // namespace hm::jotwell
