// Damaged and truncated archives must give a result code, never a crash or a write outside the
// destination (the native build runs this under ASan/UBSan).
#include "archive/ArchiveListing.h"
#include "archive/ExtractAll.h"
#include "archive/ZipArchive.h"
#include "platform/FileSystem.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

using namespace narvo;
using namespace narvo::test;

namespace {

bool IsKnownCode(int code) {
    return code == 0 || code == UNZ_ERRNO || code == Z_DATA_ERROR || code == Z_STREAM_ERROR ||
           code == Z_MEM_ERROR || code == Z_BUF_ERROR || code == Z_NEED_DICT ||
           code == UNZ_END_OF_LIST_OF_FILE || code == UNZ_PARAMERROR || code == UNZ_BADZIPFILE ||
           code == UNZ_INTERNALERROR || code == UNZ_CRCERROR;
}

class HostileArchiveTest : public testing::Test {
protected:
    void SetUp() override {
        original_ = dir_.File("good.zip");
        std::string text;
        for (int i = 0; i < 400; ++i) text += "line " + std::to_string(i) + " of a document\n";
        WriteZip(original_, {{"a.txt", text},
                             {"docs/", ""},
                             {"docs/b.bin", std::string(3000, '\x5A'), false},
                             {"c.txt", text.substr(0, 1000)}});
        bytes_ = ReadFile(original_);
        std::filesystem::create_directory(dir_.path() / "out");
    }

    // Lists and extracts a damaged copy; only known codes, and nothing beside the output folder.
    void Check(const std::string& damaged, const std::string& what) {
        const std::string path = dir_.File("bad.zip");
        WriteFile(path, damaged);
        CArchiveListing listing;
        const int listed = listing.LoadListing(path.c_str());
        EXPECT_TRUE(IsKnownCode(listed)) << what << ": list " << listed;
        if (listed != 0) {
            EXPECT_EQ(listing.rowCount(), 0) << what;
        }
        testing::internal::CaptureStdout();
        const int extracted =
            ExtractArchive(path.c_str(), (dir_.File("out") + platform::PathSeparator()).c_str());
        testing::internal::GetCapturedStdout();
        EXPECT_TRUE(IsKnownCode(extracted)) << what << ": extract " << extracted;
        for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
            const auto name = entry.path().filename().string();
            EXPECT_TRUE(name == "good.zip" || name == "bad.zip" || name == "out") << what << ": " << name;
        }
    }

    TempDir dir_;
    std::string original_, bytes_;
};

} // namespace

TEST_F(HostileArchiveTest, RandomByteDamage) {
    std::mt19937 random(20261208);
    for (int round = 0; round < 300; ++round) {
        std::string damaged = bytes_;
        const int changes = 1 + int(random() % 8);
        for (int i = 0; i < changes; ++i) damaged[random() % damaged.size()] = char(random());
        Check(damaged, "round " + std::to_string(round));
        if (HasFailure()) break;
    }
}

TEST_F(HostileArchiveTest, TruncatedAtManyLengths) {
    for (std::size_t length = 0; length < bytes_.size(); length += 1 + length / 16) {
        Check(bytes_.substr(0, length), "length " + std::to_string(length));
        if (HasFailure()) break;
    }
}

TEST_F(HostileArchiveTest, ForgedSizesAndCounts) {
    // Every 16- and 32-bit field of the central directory and end record set to its maximum.
    const auto directory = bytes_.find("PK\x01\x02");
    ASSERT_NE(directory, std::string::npos);
    for (std::size_t offset = directory; offset + 4 <= bytes_.size(); offset += 2) {
        std::string damaged = bytes_;
        damaged.replace(offset, 4, "\xFF\xFF\xFF\xFF");
        Check(damaged, "offset " + std::to_string(offset));
        if (HasFailure()) break;
    }
}
