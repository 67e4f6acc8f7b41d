// Common set-up of the tests that use libjotwell.so through its exports only: a private lock
// folder and registry file for the whole test program, and a temporary folder per test.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jotwell.h"
#include "test_support.h"

namespace hm::jotwell {

inline const std::string& ProgramFolder() {
    static testing::TempFolder folder;
    static const bool set = [] {
        testing::SetEnv("XDG_RUNTIME_DIR", folder.Path());
        testing::SetEnv("HALDMOOR3_REGISTRY", folder.Path() + "registry.reg");
        return true;
    }();
    (void)set;
    return folder.Path();
}

class ApiTest : public ::testing::Test {
protected:
    void SetUp() override { ProgramFolder(); }

    // Today's file of a prefix in the temporary folder, as the library names it.
    std::string TodaysLog(const std::string& name) {
        JotwellOptions o{};
        o.logOptions = LO_LOGNAME_ONLY;
        o.extOptions = LE_NO_BANNER | LE_DONT_LOG_CONFIG;
        EXPECT_EQ(JotwellEx((dir / name).c_str(), "", &o), 0);
        std::string path = o.logFileName ? o.logFileName : "";
        JotwellEx((dir / name).c_str(), "", &o);  // hands the name back
        return path;
    }

    // The texts of a log (stamps cut off), without banner and configuration lines.
    static std::vector<std::string> Texts(const std::string& path) {
        std::vector<std::string> texts;
        for (const std::string& line : testing::ReadLines(path)) {
            if (line.find("*** Jotwell") != std::string::npos || line.find("Configuration file") != std::string::npos)
                continue;
            texts.push_back(line.size() > 30 ? line.substr(30) : std::string());
        }
        return texts;
    }

    testing::TempFolder dir;
};

}  // namespace hm::jotwell
