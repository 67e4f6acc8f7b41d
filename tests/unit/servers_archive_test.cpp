// The archive encoding: exact bytes of every length form, and a reader that stops cleanly on damage.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "servers/archive.h"

namespace hm {
namespace {

TEST(ArchiveWriter, StringLengthFormsAtEveryBoundary) {
    struct Case {
        size_t length;
        std::string prefix;  // the length bytes as the format describes them
    } cases[] = {
        {0, std::string("\x00", 1)},
        {254, "\xFE"},
        {255, std::string("\xFF\xFF\x00", 3)},
        {256, std::string("\xFF\x00\x01", 3)},
        {65533, "\xFF\xFD\xFF"},
        {65534, std::string("\xFF\xFF\xFF\xFE\xFF\x00\x00", 7)},
        {65535, std::string("\xFF\xFF\xFF\xFF\xFF\x00\x00", 7)},
        {70000, std::string("\xFF\xFF\xFF\x70\x11\x01\x00", 7)},
    };
    for (const Case& c : cases) {
        const std::string text(c.length, 'k');
        std::string out;
        {
            ArchiveWriter ar(&out);
            ar.String(text);
        }
        EXPECT_EQ(out, c.prefix + text) << "length " << c.length;

        ArchiveReader reader(out);
        EXPECT_EQ(reader.String(), text) << "length " << c.length;
        EXPECT_FALSE(reader.Failed());
        EXPECT_EQ(reader.Remaining(), 0u);
    }
}

TEST(ArchiveWriter, CountFormsAroundTheLongForm) {
    struct Case {
        size_t entries;
        std::string prefix;
    } cases[] = {
        {0, std::string("\x00\x00", 2)},
        {65534, "\xFE\xFF"},
        {65535, std::string("\xFF\xFF\xFF\xFF\x00\x00", 6)},
    };
    for (const Case& c : cases) {
        std::vector<std::string> list(c.entries);  // empty strings: one zero byte each
        std::string out;
        {
            ArchiveWriter ar(&out);
            ar.StringList(list);
        }
        EXPECT_EQ(out, c.prefix + std::string(c.entries, '\0')) << c.entries;

        ArchiveReader reader(out);
        std::vector<std::string> back;
        EXPECT_TRUE(reader.GetStringList(back));
        EXPECT_EQ(back.size(), c.entries);
    }
}

TEST(ArchiveReader, DamageFailsStickilyAndLeavesTargetsUnchanged) {
    enum Kind { kDword, kString, kList };
    struct Case {
        const char* what;
        Kind kind;
        std::string data;
    } cases[] = {
        {"short dword", kDword, std::string("\x01\x02\x03", 3)},
        {"string longer than the data", kString, std::string("\x05" "abc", 4)},
        {"wide string marker", kString, std::string("\xFF\xFE\xFF\x00\x00", 5)},
        {"long string longer than the data", kString, std::string("\xFF\xFF\xFF\xFF\xFF\xFF\xFF", 7)},
        {"count of 0xFFFFFFFF", kList, std::string("\xFF\xFF\xFF\xFF\xFF\xFF\x00", 7)},
        {"count larger than the bytes left", kList, std::string("\x03\x00\x00\x00", 4)},
        {"list cut inside its last string", kList, std::string("\x02\x00\x01" "a\x02" "b", 6)},
    };
    for (const Case& c : cases) {
        ArchiveReader reader(c.data);
        if (c.kind == kDword) {
            uint32_t value = 77;
            EXPECT_FALSE(reader.Get(value)) << c.what;
            EXPECT_EQ(value, 77u);
        } else if (c.kind == kList) {
            std::vector<std::string> list{"kept"};
            EXPECT_FALSE(reader.GetStringList(list)) << c.what;
            EXPECT_EQ(list, std::vector<std::string>{"kept"});
        } else {
            std::string text = "kept";
            EXPECT_FALSE(reader.GetString(text)) << c.what;
            EXPECT_EQ(text, "kept");
        }
        EXPECT_TRUE(reader.Failed()) << c.what;
        // Once failed, even bytes that are there read as nothing.
        uint8_t byte = 9;
        EXPECT_FALSE(reader.Get(byte)) << c.what;
        EXPECT_EQ(byte, 9);
        EXPECT_EQ(reader.Dword(), 0u);
        EXPECT_EQ(reader.String(), "");
        EXPECT_EQ(reader.Remaining(), 0u);
    }
}

TEST(ArchiveReader, AddressCountNeedsFourBytesPerEntry) {
    // Two entries announced, seven bytes left: one short of two dwords.
    ArchiveReader reader(std::string("\x02\x00" "1234567", 9));
    std::vector<uint32_t> list;
    EXPECT_FALSE(reader.GetAddressList(list));
    EXPECT_TRUE(reader.Failed());
}

TEST(ArchiveFile, ReadsAcrossBufferBoundariesAndStopsAtTheEnd) {
    const std::string path = ::testing::TempDir() + "hm_archive_file.dat";
    std::vector<std::string> strings;
    for (int i = 0; i < 600; ++i) strings.push_back(std::string(static_cast<size_t>(i % 300), char('a' + i % 26)));
    {
        fs::AtomicFileWriter file;
        ASSERT_TRUE(file.Open(path));
        ArchiveWriter ar(&file);
        for (const std::string& s : strings) {
            ar.String(s);
            ar.Dword(0xDEADBEEF);
        }
        ASSERT_TRUE(ar.Flush());
        ASSERT_TRUE(file.Commit());
    }
    ArchiveReader reader;
    ASSERT_TRUE(reader.OpenFile(path));
    for (const std::string& s : strings) {
        ASSERT_EQ(reader.String(), s);
        ASSERT_EQ(reader.Dword(), 0xDEADBEEFu);
    }
    EXPECT_FALSE(reader.Failed());
    EXPECT_EQ(reader.Remaining(), 0u);
    uint16_t extra = 0;
    EXPECT_FALSE(reader.Get(extra));
    EXPECT_TRUE(reader.Failed());
    fs::DeleteFile(path);
}

}  // namespace
}  // namespace hm
