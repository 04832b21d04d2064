#include "archive/Extraction.h"

#include "archive/ZipArchive.h"
#include "fileutil/Digest.h"
#include "platform/FileSystem.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>
#endif

using namespace narvo;
using namespace narvo::test;

namespace {

// Opens an archive and extracts every entry in order with ExtractCurrentEntry, returning the
// code of each.
std::vector<int> ExtractEach(const std::string& zipPath, const std::string& destFolder) {
    std::vector<int> codes;
    ZipReader reader(zipPath.c_str());
    EXPECT_NE(reader.Handle(), nullptr);
    if (!reader.Handle()) return codes;
    int rc = unzGoToFirstFile(reader.Handle());
    while (rc == UNZ_OK) {
        codes.push_back(ExtractCurrentEntry(reader, destFolder.c_str()));
        rc = unzGoToNextFile(reader.Handle());
    }
    EXPECT_EQ(rc, UNZ_END_OF_LIST_OF_FILE);
    return codes;
}

std::string Pattern(std::size_t size) {
    std::string data(size, '\0');
    std::uint32_t x = 12345;
    for (auto& c : data) {
        x = x * 1103515245u + 12345u;
        c = char(x >> 24);
    }
    return data;
}

LocalTime FromDos(std::uint32_t dos) {
    const unsigned date = dos >> 16, time = dos & 0xFFFF;
    return {int(date >> 9) + 1980, int((date >> 5) & 15), int(date & 31),
            int(time >> 11),       int((time >> 5) & 63), int(time & 31) * 2};
}

} // namespace

TEST(ExtractCurrentEntry, WritesEntriesFlatReadOnlyWithTheirStoredTime) {
    TempDir dir;
    const std::string zip = dir.File("a.zip");
    const std::uint32_t when = DosDateTime(2019, 11, 3, 14, 7, 58);
    const std::string big = Pattern(200000); // spans several copy pieces
    // Large enough to be written behind its decoding, from two blocks in turn.
    const std::string huge = Pattern(5 << 20) + std::string(1 << 20, 'z');
    WriteZip(zip, {{"docs/readme.txt", "nested", true, when},
                   {"stored.bin", big, false, when},
                   {"deflated.bin", big, true, when},
                   {"docs/", ""},
                   {"empty.txt", "", true, when},
                   {"huge.bin", huge, true, when}});
    std::filesystem::create_directory(dir.path() / "out");
    const std::string out = dir.File("out") + platform::PathSeparator();

    EXPECT_EQ(ExtractEach(zip, out), (std::vector<int>{0, 0, 0, 0, 0, 0}));

    EXPECT_EQ(ReadFile(out + "readme.txt"), "nested");
    EXPECT_FALSE(Exists(out + "docs")) << "folders are not recreated";
    EXPECT_EQ(ReadFile(out + "stored.bin"), big);
    EXPECT_EQ(ReadFile(out + "deflated.bin"), big);
    EXPECT_TRUE(Exists(out + "empty.txt"));
    EXPECT_EQ(ReadFile(out + "empty.txt"), "");
    EXPECT_TRUE(ReadFile(out + "huge.bin") == huge);
    for (const char* name : {"readme.txt", "stored.bin", "deflated.bin", "empty.txt", "huge.bin"}) {
        EXPECT_TRUE(IsReadOnly(out + name)) << name;
        EXPECT_EQ(LastWriteLocalTime(out + name), FromDos(when)) << name;
    }
}

TEST(ExtractCurrentEntry, TargetIsDestinationTextFollowedByBaseName) {
    TempDir dir;
    const std::string zip = dir.File("a.zip");
    WriteZip(zip, {{"a/x.txt", "first"}, {"b\\x.txt", "second"}, {"readme.txt", "r"}});
    // No separator is added: "out" + "x.txt" is the file "outx.txt" beside the folder.
    const std::string prefix = dir.File("out");
    EXPECT_EQ(ExtractEach(zip, prefix), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(ReadFile(prefix + "x.txt"), "second") << "the entry extracted last wins";
    EXPECT_EQ(ReadFile(prefix + "readme.txt"), "r");
}

TEST(ExtractCurrentEntry, ReplacesAnExistingReadOnlyFile) {
    TempDir dir;
    const std::string zip = dir.File("a.zip");
    WriteZip(zip, {{"doc.txt", "new contents"}});
    const std::string target = dir.File("doc.txt");
    WriteFile(target, "old contents that are longer than the new ones");
    ASSERT_TRUE(platform::SetAttributes(target.c_str(), platform::FileAttributes::ReadOnly));

    EXPECT_EQ(ExtractEach(zip, dir.Folder()), std::vector<int>{0});
    EXPECT_EQ(ReadFile(target), "new contents");
    EXPECT_TRUE(IsReadOnly(target));
}

TEST(ExtractCurrentEntry, CrcMismatchKeepsTheCompleteFile) {
    TempDir dir;
    const std::string zip = dir.File("a.zip");
    const std::uint32_t when = DosDateTime(2020, 2, 29, 23, 59, 58);
    WriteZip(zip, {{"data.bin", "0123456789", false, when}});
    PatchFile(zip, EntryDataOffset(zip, "data.bin") + 3, "X");

    testing::internal::CaptureStdout();
    EXPECT_EQ(ExtractEach(zip, dir.Folder()), std::vector<int>{UNZ_CRCERROR});
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(ReadFile(dir.File("data.bin")), "012X456789");
    EXPECT_TRUE(IsReadOnly(dir.File("data.bin")));
    EXPECT_EQ(LastWriteLocalTime(dir.File("data.bin")), FromDos(when));
}

TEST(ExtractCurrentEntry, CorruptCompressedDataReportsDataError) {
    TempDir dir;
    const std::string zip = dir.File("a.zip");
    WriteZip(zip, {{"data.txt", std::string(5000, 'z')}});
    // 0xFF starts a deflate block of the reserved type 3: the stream is invalid at once.
    PatchFile(zip, EntryDataOffset(zip, "data.txt"), std::string(4, '\xFF'));

    testing::internal::CaptureStdout();
    EXPECT_EQ(ExtractEach(zip, dir.Folder()), std::vector<int>{Z_DATA_ERROR});
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "error -3 with zipfile in unzReadCurrentFile\n");
    EXPECT_TRUE(Exists(dir.File("data.txt"))) << "the partial file stays";
    EXPECT_TRUE(IsReadOnly(dir.File("data.txt")));
}

TEST(ExtractCurrentEntry, TargetThatCannotBeCreatedIsAnError) {
    TempDir dir;
    const std::string zip = dir.File("a.zip");
    WriteZip(zip, {{"doc.txt", "contents"}, {"folder/", ""}});
    // The destination folder does not exist.
    const std::string missing = dir.File("missing") + platform::PathSeparator();
    EXPECT_EQ(ExtractEach(zip, missing), (std::vector<int>{UNZ_ERRNO, 0}));
    EXPECT_FALSE(Exists(missing));
    // A folder stands where the file would go.
    std::filesystem::create_directory(dir.path() / "doc.txt");
    EXPECT_EQ(ExtractEach(zip, dir.Folder()), (std::vector<int>{UNZ_ERRNO, 0}));
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "doc.txt"));
}

TEST(ExtractCurrentEntry, NamesOfAnyLengthAreUsedWhole) {
    TempDir dir;
    const std::string zip = dir.File("a.zip");
    const std::string longFolder(600, 'd');
    const std::string longBase(300, 'n'); // more than a file system allows in one name
    WriteZip(zip, {{longFolder + "/short.txt", "under a long folder"},
                   {"x/" + longBase, "too long for the file system"},
                   {"dots/..", "a parent reference"}});
    const std::string out = dir.Folder();
    EXPECT_EQ(ExtractEach(zip, out), (std::vector<int>{0, UNZ_ERRNO, 0}));
    EXPECT_EQ(ReadFile(out + "short.txt"), "under a long folder");
    // Nothing was written under a shortened name.
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        files += entry.path().filename() != "a.zip";
    EXPECT_EQ(files, 1);
}

#ifndef _WIN32
// A write that fails part way (here a file-size limit, as a full disk would) is reported, for an
// entry written in turn and for one large enough to be written behind its decoding.
TEST(ExtractCurrentEntry, FailedWriteReportsErrnoAndKeepsThePartialFile) {
    for (const std::size_t size : {std::size_t(300000), std::size_t(6) << 20}) {
        TempDir dir;
        const std::string zip = dir.File("a.zip");
        WriteZip(zip, {{"big.bin", Pattern(size)}});
        struct rlimit saved;
        ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
        struct rlimit limited = saved;
        limited.rlim_cur = size / 3;
        auto previous = signal(SIGXFSZ, SIG_IGN);
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
        testing::internal::CaptureStdout();
        const std::vector<int> codes = ExtractEach(zip, dir.File("out-"));
        const std::string printed = testing::internal::GetCapturedStdout();
        setrlimit(RLIMIT_FSIZE, &saved);
        signal(SIGXFSZ, previous);

        EXPECT_EQ(codes, std::vector<int>{UNZ_ERRNO}) << size;
        EXPECT_EQ(printed, "error in writing extracted file\n") << size;
        EXPECT_LE(ReadFile(dir.File("out-big.bin")).size(), size / 3) << size;
        EXPECT_TRUE(IsReadOnly(dir.File("out-big.bin"))) << size;
    }
}
#endif

TEST(ExtractNamedEntry, FindsNamesWithoutRegardToAsciiCase) {
    TempDir dir;
    const std::string zip = dir.File("a.zip");
    const std::string longName = std::string(280, 'p') + "/Target.TXT";
    WriteZip(zip, {{"Docs/Report.DOC", "report"},
                   {std::string(280, 'p') + "/other.txt", "other"},
                   {longName, "found by its whole name"}});
    EXPECT_EQ(ExtractNamedEntry(zip.c_str(), "docs/report.doc", dir.Folder().c_str()), 0);
    EXPECT_EQ(ReadFile(dir.File("Report.DOC")), "report");
    // Names longer than 255 bytes are compared whole, past the point where they differ.
    std::string query = longName;
    for (auto& c : query) c = char(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(ExtractNamedEntry(zip.c_str(), query.c_str(), dir.Folder().c_str()), 0);
    EXPECT_EQ(ReadFile(dir.File("Target.TXT")), "found by its whole name");
    EXPECT_FALSE(Exists(dir.File("other.txt")));
}

TEST(ExtractNamedEntry, ReportsMissingEntriesAndUnreadableArchives) {
    TempDir dir;
    const std::string zip = dir.File("a.zip");
    WriteZip(zip, {{"a.txt", "a"}});
    const std::string out = dir.Folder();
    EXPECT_EQ(ExtractNamedEntry(zip.c_str(), "b.txt", out.c_str()), UNZ_END_OF_LIST_OF_FILE);
    EXPECT_EQ(ExtractNamedEntry(zip.c_str(), "a.tx", out.c_str()), UNZ_END_OF_LIST_OF_FILE);
    EXPECT_EQ(ExtractNamedEntry(dir.File("none.zip").c_str(), "a.txt", out.c_str()),
              UNZ_BADZIPFILE);
    WriteFile(dir.File("text.zip"), "this is not an archive");
    EXPECT_EQ(ExtractNamedEntry(dir.File("text.zip").c_str(), "a.txt", out.c_str()),
              UNZ_BADZIPFILE);
    EXPECT_EQ(ExtractNamedEntry("", "a.txt", out.c_str()), UNZ_BADZIPFILE);
    WriteFile(dir.File("empty.zip"), std::string("PK\x05\x06", 4) + std::string(18, '\0'));
    EXPECT_EQ(ExtractNamedEntry(dir.File("empty.zip").c_str(), "a.txt", out.c_str()),
              UNZ_END_OF_LIST_OF_FILE);
}

TEST(SetFileTimeFromDos, OutOfRangeFieldsLeaveTimesAlone) {
    TempDir dir;
    const std::string path = dir.File("f.txt");
    WriteFile(path, "x");
    SetLastWriteTime(path, 1000000000);
    for (std::uint32_t bad : {DosDateTime(2020, 13, 1, 0, 0, 0), DosDateTime(2020, 1, 0, 0, 0, 0),
                              DosDateTime(2020, 1, 1, 24, 0, 0), DosDateTime(2020, 1, 1, 0, 60, 0),
                              DosDateTime(2020, 1, 1, 0, 0, 0) | 30u})
        SetFileTimeFromDos(path.c_str(), bad);
    EXPECT_EQ(LastWriteTime(path), 1000000000);
    SetFileTimeFromDos(path.c_str(), DosDateTime(1980, 1, 1, 0, 0, 0));
    EXPECT_EQ(LastWriteLocalTime(path), (LocalTime{1980, 1, 1, 0, 0, 0}));
}

TEST(CreateDirectoryPath, CreatesEveryMissingLevel) {
    TempDir dir;
    const char sep = platform::PathSeparator();
    const std::string deep = dir.File("a") + sep + "b" + sep + "c";
    EXPECT_EQ(platform::CreateDirectoryPath(deep.c_str()), 1);
    EXPECT_TRUE(std::filesystem::is_directory(deep));
    EXPECT_EQ(platform::CreateDirectoryPath(deep.c_str()), 1) << "an existing path";
    EXPECT_EQ(platform::CreateDirectoryPath((dir.File("t") + sep + "u" + sep).c_str()), 1);
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("t") + sep + "u"));

    // A file in the way of a level cannot become a folder; the levels before it stay.
    WriteFile(dir.File("file"), "");
    EXPECT_EQ(platform::CreateDirectoryPath((dir.File("file") + sep + "x").c_str()), 0);
    EXPECT_EQ(platform::CreateDirectoryPath(""), 0);
    EXPECT_EQ(platform::CreateDirectoryPath(nullptr), 0);
}
