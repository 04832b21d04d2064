#include "archive/ExtractAll.h"

#include "archive/ZipArchive.h"
#include "platform/FileSystem.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using namespace narvo;
using namespace narvo::test;

namespace {

class ExtractArchiveTest : public testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory(dir_.path() / "out");
        out_ = dir_.File("out") + platform::PathSeparator();
    }
    std::string Zip(const std::vector<ZipEntry>& entries) {
        const std::string path = dir_.File("a.zip");
        WriteZip(path, entries);
        return path;
    }
    int Extract(const std::string& zip) { return ExtractArchive(zip.c_str(), out_.c_str()); }

    TempDir dir_;
    std::string out_;
};

} // namespace

TEST_F(ExtractArchiveTest, SecondRunSkipsUnchangedEntriesWithoutRewriting) {
    const std::string zip = Zip({{"a.txt", "alpha"}, {"b.bin", std::string(70000, 'b'), false},
                                 {"empty.txt", ""}, {"folder/", ""}});
    ASSERT_EQ(Extract(zip), 0);
    EXPECT_EQ(ReadFile(out_ + "a.txt"), "alpha");
    EXPECT_EQ(ReadFile(out_ + "b.bin"), std::string(70000, 'b'));
    EXPECT_TRUE(Exists(out_ + "empty.txt"));
    EXPECT_FALSE(Exists(out_ + "folder"));

    // Mark the files: a rewrite would give them the entry's time again.
    for (const char* name : {"a.txt", "b.bin", "empty.txt"}) SetLastWriteTime(out_ + name, 86400);
    ASSERT_EQ(Extract(zip), 0);
    for (const char* name : {"a.txt", "b.bin", "empty.txt"}) {
        EXPECT_EQ(LastWriteTime(out_ + name), 86400) << name << " was rewritten";
        EXPECT_TRUE(IsReadOnly(out_ + name)) << name;
    }
}

TEST_F(ExtractArchiveTest, ChangedOrNestedEntriesAreExtractedAgain) {
    const std::string zip = Zip({{"a.txt", "alpha"}, {"docs/n.txt", "nested"}});
    ASSERT_EQ(Extract(zip), 0);
    MakeWritable(out_ + "a.txt");
    WriteFile(out_ + "a.txt", "changed by the user");
    SetLastWriteTime(out_ + "n.txt", 86400);

    ASSERT_EQ(Extract(zip), 0);
    EXPECT_EQ(ReadFile(out_ + "a.txt"), "alpha");
    EXPECT_TRUE(IsReadOnly(out_ + "a.txt"));
    // The check looks for docs/n.txt, which the flat extraction never writes.
    EXPECT_NE(LastWriteTime(out_ + "n.txt"), 86400);
}

TEST_F(ExtractArchiveTest, StopsAtTheFirstDamagedEntry) {
    const std::string zip = Zip({{"one.txt", "1111111111", false},
                                 {"two.txt", "2222222222", false},
                                 {"three.txt", "3333333333", false},
                                 {"four.txt", "4444444444", false}});
    PatchFile(zip, EntryDataOffset(zip, "three.txt"), "X");
    EXPECT_EQ(Extract(zip), UNZ_CRCERROR);
    EXPECT_EQ(ReadFile(out_ + "one.txt"), "1111111111");
    EXPECT_EQ(ReadFile(out_ + "two.txt"), "2222222222");
    EXPECT_EQ(ReadFile(out_ + "three.txt"), "X333333333") << "complete but failing its CRC";
    EXPECT_FALSE(Exists(out_ + "four.txt"));
}

TEST_F(ExtractArchiveTest, ArchivesThatCannotBeOpened) {
    EXPECT_EQ(ExtractArchive(dir_.File("missing.zip").c_str(), out_.c_str()), UNZ_PARAMERROR);
    WriteFile(dir_.File("text.zip"), "plain text, not a ZIP archive");
    EXPECT_EQ(ExtractArchive(dir_.File("text.zip").c_str(), out_.c_str()), UNZ_PARAMERROR);
    EXPECT_EQ(ExtractArchive(nullptr, out_.c_str()), UNZ_PARAMERROR);

    WriteFile(dir_.File("empty.zip"), std::string("PK\x05\x06", 4) + std::string(18, '\0'));
    EXPECT_EQ(ExtractArchive(dir_.File("empty.zip").c_str(), out_.c_str()), 0);
    EXPECT_TRUE(std::filesystem::is_empty(dir_.path() / "out"));
}

TEST_F(ExtractArchiveTest, MissingDestinationFolderIsAnError) {
    const std::string zip = Zip({{"a.txt", "alpha"}, {"b.txt", "beta"}});
    const std::string missing = dir_.File("nowhere") + platform::PathSeparator();
    EXPECT_EQ(ExtractArchive(zip.c_str(), missing.c_str()), UNZ_ERRNO);
    EXPECT_FALSE(Exists(missing));
}
