#include "archive/ArchiveListing.h"

#include "archive/ZipArchive.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

using namespace narvo;
using namespace narvo::test;

namespace {

const std::string kEmptyArchive = std::string("PK\x05\x06", 4) + std::string(18, '\0');

std::vector<std::string> Names(const CArchiveListing& listing) {
    std::vector<std::string> names;
    for (const auto& row : listing.rows()) names.push_back(row.name);
    return names;
}

} // namespace

TEST(LoadListing, KeepsEveryEntryInDirectoryOrder) {
    TempDir dir;
    const std::string zip = dir.File("a.zip");
    const std::uint32_t when = DosDateTime(2001, 9, 9, 1, 46, 40);
    const std::string longName = std::string(1500, 'L') + ".txt";
    WriteZip(zip, {{"zeta.txt", "hello", true, when},
                   {"docs/", ""},
                   {"docs/a.txt", std::string(1234567, 'a'), true, when},
                   {"page.files/img.gif", "gif"},
                   {longName, "long"}});
    CArchiveListing listing;
    ASSERT_EQ(listing.LoadListing(zip.c_str()), 0);
    EXPECT_EQ(listing.archivePath(), zip);
    ASSERT_EQ(listing.rowCount(), 5);
    EXPECT_EQ(Names(listing), (std::vector<std::string>{"zeta.txt", "docs/", "docs/a.txt",
                                                        "page.files/img.gif", longName}));
    const ArchiveRow& row = listing.rows()[0];
    EXPECT_EQ(row.modTime, when);
    EXPECT_EQ(row.crc, crc32(0, reinterpret_cast<const Bytef*>("hello"), 5));
    EXPECT_EQ(row.size, 5u);
    EXPECT_EQ(listing.rows()[1].size, 0u);
    EXPECT_EQ(listing.rows()[2].size, 1234567u);
}

TEST(LoadListing, FailureLeavesTheListingEmpty) {
    TempDir dir;
    const std::string good = dir.File("good.zip");
    WriteZip(good, {{"a.txt", "a"}, {"b.txt", "b"}});
    WriteFile(dir.File("text.zip"), "not an archive at all, but long enough to be searched");

    CArchiveListing listing;
    ASSERT_EQ(listing.LoadListing(good.c_str()), 0);
    EXPECT_EQ(listing.LoadListing(dir.File("text.zip").c_str()), UNZ_BADZIPFILE);
    EXPECT_EQ(listing.rowCount(), 0);
    EXPECT_EQ(listing.archivePath(), "");

    ASSERT_EQ(listing.LoadListing(good.c_str()), 0);
    EXPECT_EQ(listing.LoadListing(dir.File("missing.zip").c_str()), UNZ_BADZIPFILE);
    EXPECT_EQ(listing.rowCount(), 0);
    EXPECT_EQ(listing.LoadListing(""), UNZ_BADZIPFILE);
    EXPECT_EQ(listing.LoadListing(nullptr), UNZ_BADZIPFILE);
}

TEST(LoadListing, DamagedDirectoryRecordEndsTheWalkWithItsCode) {
    TempDir dir;
    const std::string zip = dir.File("a.zip");
    WriteZip(zip, {{"a.txt", "a"}, {"b.txt", "b"}, {"c.txt", "c"}});
    // Break the signature of the second central-directory record.
    std::string bytes = ReadFile(zip);
    const auto first = bytes.find("PK\x01\x02");
    const auto second = bytes.find("PK\x01\x02", first + 4);
    ASSERT_NE(second, std::string::npos);
    PatchFile(zip, second, "XX");

    CArchiveListing listing;
    const int result = listing.LoadListing(zip.c_str());
    EXPECT_LT(result, 0);
    EXPECT_EQ(listing.rowCount(), 0) << "complete or empty, never part of the rows";
    EXPECT_EQ(listing.archivePath(), "");
}

TEST(LoadListing, EmptyArchivesListWithNoRows) {
    TempDir dir;
    CArchiveListing listing;
    WriteFile(dir.File("empty.zip"), kEmptyArchive);
    EXPECT_EQ(listing.LoadListing(dir.File("empty.zip").c_str()), 0);
    EXPECT_EQ(listing.rowCount(), 0);
    EXPECT_EQ(listing.archivePath(), dir.File("empty.zip"));

    // With an archive comment after the end record.
    std::string commented = kEmptyArchive;
    commented[20] = 5;
    WriteFile(dir.File("comment.zip"), commented + "hello");
    EXPECT_EQ(listing.LoadListing(dir.File("comment.zip").c_str()), 0);

    // A record that claims entries, or stray bytes after it, is not an empty archive.
    std::string claims = kEmptyArchive;
    claims[10] = 1;
    WriteFile(dir.File("claims.zip"), claims);
    EXPECT_EQ(listing.LoadListing(dir.File("claims.zip").c_str()), UNZ_BADZIPFILE);
    WriteFile(dir.File("trailing.zip"), kEmptyArchive + "x");
    EXPECT_EQ(listing.LoadListing(dir.File("trailing.zip").c_str()), UNZ_BADZIPFILE);
    WriteFile(dir.File("short.zip"), kEmptyArchive.substr(0, 21));
    EXPECT_EQ(listing.LoadListing(dir.File("short.zip").c_str()), UNZ_BADZIPFILE);
}

TEST(CExcludeFilter, SplitsAtEveryBarVerbatim) {
    using V = std::vector<std::string>;
    EXPECT_EQ(CExcludeFilter("").patterns(), V{""});
    EXPECT_EQ(CExcludeFilter("a||b").patterns(), (V{"a", "", "b"}));
    EXPECT_EQ(CExcludeFilter("a|").patterns(), (V{"a", ""}));
    EXPECT_EQ(CExcludeFilter("|").patterns(), (V{"", ""}));
    EXPECT_EQ(CExcludeFilter(" .tmp |~").patterns(), (V{" .tmp ", "~"}));
}

TEST(CExcludeFilter, MatchesCaseSensitiveSubstringsAnywhere) {
    const CExcludeFilter filter(".tmp|~");
    EXPECT_TRUE(filter.Matches("a.tmp"));
    EXPECT_TRUE(filter.Matches("~x.doc"));
    EXPECT_TRUE(filter.Matches("dir.tmp/inner.doc")) << "folder parts count";
    EXPECT_FALSE(filter.Matches("a.TMP"));
    EXPECT_FALSE(filter.Matches("report.doc"));
    EXPECT_TRUE(CExcludeFilter("").Matches("anything")) << "an empty pattern matches every name";
    EXPECT_TRUE(CExcludeFilter("x|").Matches("abc"));
}

TEST(IsRowListed, HidesCompanionEntriesWhateverTheFilter) {
    EXPECT_FALSE(IsRowListed("page.files/", nullptr));
    EXPECT_FALSE(IsRowListed("page.files/img.gif", nullptr));
    EXPECT_FALSE(IsRowListed("my.filesystem.txt", nullptr));
    EXPECT_TRUE(IsRowListed("page.FILES/img.gif", nullptr));
    EXPECT_TRUE(IsRowListed("page.htm", nullptr));
    const CExcludeFilter filter(".gif");
    EXPECT_FALSE(IsRowListed("a.gif", &filter));
    EXPECT_TRUE(IsRowListed("a.htm", &filter));
}

TEST(EntryExtension, IsTheTextAfterTheLastDotOfTheWholeName) {
    EXPECT_EQ(EntryExtension("report.doc"), "doc");
    EXPECT_EQ(EntryExtension("a.b.htm"), "htm");
    EXPECT_EQ(EntryExtension("old.dir/readme"), "dir/readme");
    EXPECT_EQ(EntryExtension("trailing."), "");
    EXPECT_EQ(EntryExtension("README"), std::nullopt);
    EXPECT_EQ(EntryExtension("docs/"), std::nullopt);
}

TEST(FormatSizeText, GroupsDigitsInThrees) {
    EXPECT_EQ(FormatSizeText(0), "0");
    EXPECT_EQ(FormatSizeText(999), "999");
    EXPECT_EQ(FormatSizeText(1000), "1,000");
    EXPECT_EQ(FormatSizeText(100000), "100,000");
    EXPECT_EQ(FormatSizeText(1234567), "1,234,567");
    EXPECT_EQ(FormatSizeText(4294967295u), "4,294,967,295");
    EXPECT_EQ(FormatSizeText(5000000000ull), "5,000,000,000");
}

TEST(IsZipFormat, AcceptsZipInAnyCase) {
    for (const char* yes : {"ZIP", "zip", "Zip", "zIp"}) EXPECT_TRUE(IsZipFormat(yes)) << yes;
    for (const char* no : {"", "RAR", "ZIP ", "zipx", "ZI"}) EXPECT_FALSE(IsZipFormat(no)) << no;
}
