// Common set-up of the tests that drive the library's parts directly: a temporary library folder,
// a pinned clock, a private lock folder and registry file for the whole test program.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config.h"
#include "jotwell.h"
#include "naming.h"
#include "stamps.h"
#include "test_support.h"
#include "writer.h"

namespace hm::jotwell {

// One lock folder and registry file per test program: cached lock files must stay valid across tests.
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

inline WallTime& PinnedTime() {
    static WallTime t;
    return t;
}

inline WallTime PinnedNow() { return PinnedTime(); }

class CoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        ProgramFolder();
        SetLibraryFolder(dir.Path());
        Pin(2026, 1, 5);
        SetNowFunction(&PinnedNow);
        ResetBannerForTesting();
        ClearConfigurationCache();
    }
    void TearDown() override { SetNowFunction(nullptr); }

    static void Pin(int year, int month, int day, int hour = 12, int minute = 0, int second = 0, int ms = 0,
                    int offset = 60) {
        PinnedTime() = WallTime{year, month, day, hour, minute, second, ms, offset};
    }

    // The lines of a log below the temporary folder, without the banner and configuration lines.
    std::vector<std::string> TextsOf(const std::string& file) const {
        std::vector<std::string> texts;
        for (const std::string& line : testing::ReadLines(dir / file)) {
            if (line.find("*** Jotwell") != std::string::npos || line.find("Configuration file") != std::string::npos)
                continue;
            const size_t blank = line.find(' ', 24);
            texts.push_back(blank == std::string::npos ? line : line.substr(blank + 1));
        }
        return texts;
    }

    testing::TempFolder dir;
};

}  // namespace hm::jotwell
