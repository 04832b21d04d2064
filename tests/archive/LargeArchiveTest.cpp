// Archives large enough that directory records and entry data straddle the reader's buffers,
// and extraction runs whose files differ in the details the engine handles per file.
#include "archive/ArchiveListing.h"
#include "archive/ExtractAll.h"
#include "archive/Extraction.h"
#include "archive/ZipArchive.h"
#include "platform/FileSystem.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

using namespace narvo;
using namespace narvo::test;

namespace {

// Text-like bytes that deflate well, or noise that does not.
std::string Data(std::mt19937& random, std::size_t size, bool noise) {
    static const char* const kWords[] = {"alpha ",  "beta ",    "gamma ",
                                         "delta\n", "epsilon ", "zeta "};
    std::string data;
    data.reserve(size);
    while (data.size() < size) {
        if (noise)
            data += char(random() & 0xFF);
        else
            data += kWords[random() % 6];
    }
    data.resize(size);
    return data;
}

// Entries of every size class: many small ones with names long enough that records cross buffer
// boundaries, entries far larger than one buffer (deflated and stored), empty ones, and folders.
std::vector<ZipEntry> MixedEntries() {
    std::mt19937 random(7);
    std::vector<ZipEntry> entries;
    for (int i = 0; i < 400; ++i) {
        std::string name = "file" + std::to_string(i) + "_" + std::string(i % 5 * 45, 'n') + ".txt";
        const std::size_t size = i % 50 == 0 ? 300 * 1024 + i : std::size_t(random() % 3000);
        entries.push_back({name, Data(random, size, i % 3 == 0), i % 4 != 0});
        if (i % 97 == 0) entries.push_back({"dir" + std::to_string(i) + "/", ""});
    }
    entries.push_back({"huge.bin", Data(random, 3 * 1024 * 1024 + 17, false)});
    entries.push_back({"huge-stored.bin", Data(random, 1024 * 1024 + 5, true), false});
    entries.push_back({"last.txt", "the very end"});
    return entries;
}

} // namespace

TEST(LargeArchive, ListsAndExtractsEveryEntryWhole) {
    TempDir dir;
    const std::string zip = dir.File("big.zip");
    const std::vector<ZipEntry> entries = MixedEntries();
    WriteZip(zip, entries);

    CArchiveListing listing;
    ASSERT_EQ(listing.LoadListing(zip.c_str()), 0);
    ASSERT_EQ(listing.rows().size(), entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(listing.rows()[i].name, entries[i].name);
        EXPECT_EQ(listing.rows()[i].size, entries[i].data.size()) << entries[i].name;
    }

    std::filesystem::create_directory(dir.path() / "out");
    const std::string out = dir.File("out") + platform::PathSeparator();
    ASSERT_EQ(ExtractArchive(zip.c_str(), out.c_str()), 0);
    for (const ZipEntry& entry : entries) {
        if (entry.name.back() == '/') continue;
        ASSERT_EQ(ReadFile(out + entry.name), entry.data) << entry.name;
        EXPECT_TRUE(IsReadOnly(out + entry.name)) << entry.name;
    }

    // Random access after a full walk: a single entry from the far end, then one from the start.
    std::filesystem::create_directory(dir.path() / "one");
    const std::string one = dir.File("one") + platform::PathSeparator();
    EXPECT_EQ(ExtractNamedEntry(zip.c_str(), "LAST.TXT", one.c_str()), 0);
    EXPECT_EQ(ReadFile(one + "last.txt"), "the very end");
    EXPECT_EQ(ExtractNamedEntry(zip.c_str(), entries[0].name.c_str(), one.c_str()), 0);
    EXPECT_EQ(ReadFile(one + entries[0].name), entries[0].data);
}

TEST(LargeArchive, EachFileGetsItsOwnEntrysTime) {
    // Times in no order, repeating hours, neighbouring minutes and different days: each file must
    // carry exactly its own entry's time.
    const std::uint32_t times[] = {
        DosDateTime(2021, 6, 15, 10, 30, 24), DosDateTime(2021, 6, 15, 11, 5, 0),
        DosDateTime(2021, 6, 15, 10, 59, 58), DosDateTime(2020, 2, 29, 23, 59, 58),
        DosDateTime(2021, 6, 16, 10, 30, 24), DosDateTime(2021, 6, 15, 10, 0, 0),
        DosDateTime(2021, 12, 31, 0, 0, 2),   DosDateTime(2021, 6, 15, 10, 30, 26),
    };
    std::vector<ZipEntry> entries;
    for (std::size_t i = 0; i < std::size(times); ++i)
        entries.push_back({std::string(1, char('a' + i)) + ".txt", "x", true, times[i]});
    TempDir dir;
    const std::string zip = dir.File("times.zip");
    WriteZip(zip, entries);
    ASSERT_EQ(ExtractArchive(zip.c_str(), dir.Folder().c_str()), 0);
    for (std::size_t i = 0; i < std::size(times); ++i) {
        const unsigned date = times[i] >> 16, time = times[i] & 0xFFFF;
        const LocalTime expected{int(date >> 9) + 1980, int((date >> 5) & 15), int(date & 31),
                                 int(time >> 11),       int((time >> 5) & 63), int(time & 31) * 2};
        EXPECT_EQ(LastWriteLocalTime(dir.File(entries[i].name)), expected) << entries[i].name;
    }
}

TEST(LargeArchive, SkipCheckTellsFoldersAndMissingFilesApart) {
    TempDir dir;
    const std::string zip = dir.File("a.zip");
    WriteZip(zip, {{"empty.txt", ""}, {"full.txt", "content"}, {"fresh.txt", "new"}});
    std::filesystem::create_directory(dir.path() / "out");
    const std::string out = dir.File("out") + platform::PathSeparator();
    // A folder where an empty entry's file would be counts as an unchanged file (CRC-32 0);
    // a folder where a non-empty one belongs is in the way and stops the run.
    std::filesystem::create_directory(dir.path() / "out" / "empty.txt");
    std::filesystem::create_directory(dir.path() / "out" / "full.txt");
    EXPECT_EQ(ExtractArchive(zip.c_str(), out.c_str()), UNZ_ERRNO);
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "out" / "empty.txt"));
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "out" / "full.txt"));
    EXPECT_FALSE(Exists(out + "fresh.txt"));

    std::filesystem::remove(dir.path() / "out" / "full.txt");
    EXPECT_EQ(ExtractArchive(zip.c_str(), out.c_str()), 0);
    EXPECT_EQ(ReadFile(out + "full.txt"), "content");
    EXPECT_EQ(ReadFile(out + "fresh.txt"), "new");
}

TEST(BufferedFileFunctions, ReadsWhatTheFileHoldsWhereverTheyStart) {
    TempDir dir;
    const std::string path = dir.File("data.bin");
    std::mt19937 random(11);
    const std::string content = Data(random, 1536 * 1024 + 333, true);
    WriteFile(path, content);

    zlib_filefunc64_def io = BufferedFileFunctions();
    voidpf file = io.zopen64_file(io.opaque, path.c_str(),
                                  ZLIB_FILEFUNC_MODE_READ | ZLIB_FILEFUNC_MODE_EXISTING);
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(io.zseek64_file(io.opaque, file, 0, ZLIB_FILEFUNC_SEEK_END), 0);
    ASSERT_EQ(io.ztell64_file(io.opaque, file), content.size());

    // From sequential positions, near ones behind and ahead, and far away (some past the end):
    // runs of one-byte reads, as header fields are read; runs of small blocks, as names are; and
    // large blocks, as entry data are.
    std::string got;
    ZPOS64_T pos = 0;
    for (int step = 0; step < 3000; ++step) {
        const unsigned where = random() % 8;
        if (where == 0)
            pos = random() % (content.size() + 10);
        else if (where == 1)
            pos = pos > 5000 ? pos - random() % 5000 : 0;
        else if (where == 2)
            pos += random() % 300000;
        if (pos >= content.size()) pos = random() % content.size();
        ASSERT_EQ(io.zseek64_file(io.opaque, file, pos, ZLIB_FILEFUNC_SEEK_SET), 0);
        const unsigned kind = random() % 3;
        const int reads = kind == 2 ? 1 : 1 + int(random() % 400);
        for (int r = 0; r < reads; ++r) {
            const uLong size = kind == 0   ? 1
                               : kind == 1 ? uLong(2 + random() % 63)
                                           : uLong(random() % 70000);
            got.assign(size, '\0');
            const uLong n = io.zread_file(io.opaque, file, got.data(), size);
            const std::string expected = pos < content.size() ? content.substr(pos, size) : "";
            ASSERT_EQ(n, expected.size()) << "at " << pos << " size " << size;
            ASSERT_EQ(got.substr(0, n), expected) << "at " << pos << " size " << size;
            pos += n;
        }
        ASSERT_EQ(io.ztell64_file(io.opaque, file), pos);
    }
    EXPECT_EQ(io.zerror_file(io.opaque, file), 0);
    EXPECT_EQ(io.zwrite_file(io.opaque, file, "x", 1), 0u);
    EXPECT_EQ(io.zclose_file(io.opaque, file), 0);
    EXPECT_EQ(io.zopen64_file(io.opaque, dir.File("missing.bin").c_str(),
                              ZLIB_FILEFUNC_MODE_READ | ZLIB_FILEFUNC_MODE_EXISTING),
              nullptr);
}
