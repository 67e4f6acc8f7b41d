// The self-update's outside programs: the updater with a stand-in for the program as its parent (it
// holds the instance mutex, starts the updater and ends, as the program does), and the release
// signing tool with the signature checks it shares with the program.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"
#include "support/binaries.h"
#include "update/update_signature.h"

namespace hm {
namespace {

using test_support::BinDir;
namespace stdfs = std::filesystem;
using namespace std::string_literals;

std::string Quoted(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& word : words) line += " \"" + word + "\"";
    return line;
}

std::string ReadText(const stdfs::path& path) {
    std::string text;
    fs::ReadWholeFile(path.string(), text);
    return text;
}

class UpdaterTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = stdfs::temp_directory_path() /
               ("hm_updater_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        stdfs::remove_all(root);
        stdfs::create_directories(root);
    }
    void TearDown() override { stdfs::remove_all(root); }

    // Runs program with words as its argument list in folder, through env so that XDG_RUNTIME_DIR (the
    // lock folder of the instance mutex) is private to the test. Returns the exit code (< 0: no end).
    int Run(const std::string& program, const std::vector<std::string>& words, const stdfs::path& folder,
            const stdfs::path& runtime, const stdfs::path& output) {
        auto process = Process::Spawn("/usr/bin/env", "XDG_RUNTIME_DIR=" + runtime.string() + " " + program + Quoted(words),
                                      folder.string(), output.string());
        if (!process) return -1000;
        if (process->Wait(60000) != Process::WaitResult::Exited) return -1001;
        return process->ExitCode();
    }

    bool WaitFor(const stdfs::path& file, const std::string& text) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (std::chrono::steady_clock::now() < until) {
            if (ReadText(file).find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    stdfs::path root;
};

TEST_F(UpdaterTest, ReplacesOnlyTheParentsOwnProgramAndAlwaysStartsItAgain) {
    enum NewFile { kNone, kProgram, kMissing, kNotAProgram };
    struct Case {
        const char* name;
        NewFile newFile;
        bool foreignTarget;  // TARGET is not the file the parent runs
        bool replaced;       // TARGET holds the new program afterwards
        bool previous;       // TARGET.previous holds the old program
        bool started;
        const char* line;    // a line the updater prints
    };
    const Case cases[] = {
        {"new program", kProgram, false, true, true, true, "haldmoor3-updater: replaced "},
        {"plain restart", kNone, false, false, false, true, "haldmoor3-updater: started "},
        {"missing new file", kMissing, false, false, false, true, "haldmoor3-updater: cannot read New_Haldmoor3"},
        {"new file that cannot run", kNotAProgram, false, false, true, true, "putting the old program back"},
        {"foreign target", kProgram, true, false, false, false, "haldmoor3-updater: refused: "},
    };
    const stdfs::path helper = stdfs::path(BinDir()) / "updater-test-parent";
    const std::string oldProgram = ReadText(helper);
    ASSERT_FALSE(oldProgram.empty());
    // Still the helper, so it runs, but a file of its own: bytes after an ELF image are ignored.
    const std::string newProgram = oldProgram + "version 2\n";

    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const stdfs::path base = root / std::to_string(++number);
        for (const char* folder : {"app", "work", "run"}) stdfs::create_directories(base / folder);
        const stdfs::path target = base / "app/haldmoor3";
        stdfs::copy_file(helper, target);
        stdfs::permissions(target, stdfs::perms(0750));
        stdfs::path launcher = target;
        if (c.foreignTarget) {
            launcher = base / "app/other";
            stdfs::copy_file(helper, launcher);
        }
        if (c.newFile == kProgram || c.newFile == kNotAProgram) {
            ASSERT_TRUE(fs::WriteWholeFile((base / "work/New_Haldmoor3").string(),
                                           c.newFile == kProgram ? newProgram : "no program\n"));
        }

        const stdfs::path marker = base / "marker", output = base / "output";
        const std::vector<std::string> programArguments = {"marker", marker.string(), "Haldmoor3", "--headless", "two words", ""};
        std::vector<std::string> words = {"launch", BinDir() + "/haldmoor3-updater", "Haldmoor3",
                                          c.newFile == kNone ? "" : "New_Haldmoor3", target.string()};
        words.insert(words.end(), programArguments.begin(), programArguments.end());
        ASSERT_EQ(Run(launcher.string(), words, base / "work", base / "run", output), 0) << ReadText(output);

        ASSERT_TRUE(WaitFor(output, c.line)) << ReadText(output);
        if (c.started) {
            ASSERT_TRUE(WaitFor(output, "haldmoor3-updater: started " + stdfs::canonical(target).string() + "\n")) << ReadText(output);
            ASSERT_TRUE(WaitFor(marker, "\n")) << ReadText(output);
            // Our folder and environment, nobody else holding the instance mutex (the parent had ended,
            // the updater did not keep it open), and the arguments exactly as they were passed.
            std::string expected = stdfs::canonical(base / "work").string() + "\n" + (base / "run").string() + "\nalone\n";
            for (const std::string& word : programArguments) expected += word + "\n";
            EXPECT_EQ(ReadText(marker), expected);
        } else {
            EXPECT_FALSE(stdfs::exists(marker));
        }
        EXPECT_EQ(ReadText(target), c.replaced ? newProgram : oldProgram);
        EXPECT_EQ(stdfs::status(target).permissions(), stdfs::perms(0750));
        EXPECT_EQ(stdfs::exists(target.string() + ".previous"), c.previous);
        if (c.previous) {
            EXPECT_EQ(ReadText(target.string() + ".previous"), oldProgram);
        }
        if (c.newFile == kProgram) {
            EXPECT_EQ(ReadText(base / "work/New_Haldmoor3"), newProgram);
        }
        // Nothing but the program and what the update keeps is left in its folder.
        size_t entries = 0;
        for ([[maybe_unused]] const auto& entry : stdfs::directory_iterator(base / "app")) ++entries;
        EXPECT_EQ(entries, 1u + (c.previous ? 1 : 0) + (c.foreignTarget ? 1 : 0));
    }
}

TEST_F(UpdaterTest, SigningToolMakesKeysSignsAndVerifies) {
    const std::string tool = BinDir() + "/haldmoor3-sign";
    const stdfs::path log = root / "log";
    auto sign = [&](const std::vector<std::string>& words) { return Run(tool, words, root, root, log); };
    const std::string secret = (root / "release.sec").string(), pub = (root / "release.pub").string();
    const std::string otherSecret = (root / "other.sec").string(), otherPub = (root / "other.pub").string();
    ASSERT_EQ(sign({"keygen", secret, pub}), 0) << ReadText(log);
    ASSERT_EQ(sign({"keygen", otherSecret, otherPub}), 0) << ReadText(log);
    const std::string secretText = ReadText(secret), publicText = ReadText(pub);
    EXPECT_EQ(stdfs::status(secret).permissions(), stdfs::perms(0600));
    std::string bytes;
    EXPECT_TRUE(publicText.size() == 65 && publicText.back() == '\n' && ParseHexBytes(publicText, 32, bytes) &&
                HexBytes(bytes) + "\n" == publicText) << publicText;
    EXPECT_TRUE(secretText.size() == 129 && ParseHexBytes(secretText, 64, bytes) && HexBytes(bytes) + "\n" == secretText);
    // A key pair is never overwritten, not even half of it.
    EXPECT_EQ(sign({"keygen", (root / "new.sec").string(), pub}), 2);
    EXPECT_FALSE(stdfs::exists(root / "new.sec"));
    EXPECT_EQ(ReadText(pub), publicText);

    const std::string program = (root / "program").string();
    ASSERT_TRUE(fs::WriteWholeFile(program, "program\0bytes"s));
    ASSERT_EQ(sign({"sign", secret, program}), 0) << ReadText(log);
    EXPECT_EQ(ReadText(program + ".sig").size(), 64u);
    ASSERT_TRUE(fs::WriteWholeFile((root / "malformed.pub").string(), publicText.substr(1)));
    ASSERT_TRUE(fs::CopyFile(program + ".sig", (root / "tampered.sig").string()));
    ASSERT_TRUE(fs::WriteWholeFile((root / "tampered").string(), "program\0bytez"s));

    struct Case { std::vector<std::string> words; int code; };
    const Case cases[] = {
        {{"verify", pub, program}, 0},
        {{"verify", otherPub, program}, 1},
        {{"verify", pub, (root / "tampered").string()}, 1},
        {{"verify", pub, secret}, 2},  // no .sig beside it
        {{"verify", (root / "malformed.pub").string(), program}, 2},
        {{"sign", pub, program}, 2},   // a public key is no secret key
        {{"verify", pub}, 2},
        {{"check", pub, program}, 2},
    };
    for (const Case& c : cases) EXPECT_EQ(sign(c.words), c.code) << Quoted(c.words) << "\n" << ReadText(log);

    // The key pair this build made for the tests is the one built into the test programs.
    const stdfs::path buildKey = stdfs::path(BinDir()) / "../generated/test-key/update-test-key";
    const stdfs::path keyOutput = root / "key";
    ASSERT_EQ(Run(BinDir() + "/updater-test-parent", {"key"}, root, root, keyOutput), 0);
    UpdateKey builtIn{};
    ASSERT_TRUE(ParseUpdateKey(ReadText(keyOutput), builtIn));
    EXPECT_EQ(UpdateKeyHex(builtIn) + "\n", ReadText(buildKey.string() + ".pub"));
    ASSERT_EQ(sign({"sign", buildKey.string() + ".sec", program}), 0) << ReadText(log);
    EXPECT_TRUE(VerifyUpdateSignature(ReadText(program), ReadText(program + ".sig"), builtIn));
}

TEST(UpdateSignatureTest, OnlyTheRightKeyAndAWholeSignatureOfTheSameBytesAreValid) {
    std::string secret, otherSecret;
    UpdateKey key{}, otherKey{};
    ASSERT_TRUE(MakeUpdateKeyPair(secret, key));
    ASSERT_TRUE(MakeUpdateKeyPair(otherSecret, otherKey));
    const std::string data = "new program\0with every byte"s;
    const std::string signature = SignUpdate(data, secret);
    ASSERT_EQ(signature.size(), kUpdateSignatureSize);
    std::string flipped = signature;
    flipped[10] = static_cast<char>(flipped[10] ^ 1);

    struct Case { const char* name; std::string data, signature; const UpdateKey& key; bool valid; };
    const Case cases[] = {
        {"as signed", data, signature, key, true},
        {"another key", data, signature, otherKey, false},
        {"one byte changed", "new program\0with every bytf"s, signature, key, false},
        {"one byte more", data + "x", signature, key, false},
        {"a changed signature", data, flipped, key, false},
        {"a short signature", data, signature.substr(0, 63), key, false},
        {"a long signature", data, signature + "x", key, false},
        {"no signature", data, "", key, false},
    };
    for (const Case& c : cases) EXPECT_EQ(VerifyUpdateSignature(c.data, c.signature, c.key), c.valid) << c.name;

    // A secret key that is cut short, or whose public half is not its own, signs nothing.
    EXPECT_EQ(SignUpdate(data, secret.substr(0, 63)), "");
    const std::string mixed = secret.substr(0, 32) + otherSecret.substr(32);
    EXPECT_EQ(SignUpdate(data, mixed), "");
}

TEST(UpdateSignatureTest, KeyFilesHoldSixtyFourHexDigitsAndNothingElse) {
    const std::string hex = "00112233445566778899aabbccddeeff" "0123456789abcdef0f1e2d3c4b5a6978";
    struct Case { std::string text; bool valid; };
    const Case cases[] = {
        {hex, true},
        {" \t" + hex + "\r\n", true},
        {"00112233445566778899AABBCCDDEEFF" "0123456789ABCDEF0F1E2D3C4B5A6978", true},
        {hex.substr(1), false},
        {hex + "0", false},
        {"0x" + hex.substr(2), false},
        {hex.substr(0, 32) + " " + hex.substr(32), false},
        {hex.substr(0, 63) + "g", false},
        {hex + "\n" + hex, false},
        {"", false},
    };
    for (const Case& c : cases) {
        UpdateKey key{};
        ASSERT_EQ(ParseUpdateKey(c.text, key), c.valid) << c.text;
        if (c.valid) {
            EXPECT_EQ(UpdateKeyHex(key), hex);
            EXPECT_EQ(key[1], 0x11);
        }
    }
}

}  // namespace
}  // namespace hm
