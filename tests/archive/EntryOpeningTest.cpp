#include "archive/EntryOpening.h"

#include "platform/AsciiCase.h"
#include "platform/FileSystem.h"
#include "platform/Shell.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

using namespace narvo;
using namespace narvo::test;

namespace {

const char kSep = platform::PathSeparator();
#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

std::string S(const std::string& text) {
    std::string converted = text;
    for (char& c : converted)
        if (c == '|') c = kSep;
    return converted;
}

const ArchiveRow& Row(const CArchiveListing& listing, const std::string& name) {
    for (const auto& row : listing.rows())
        if (row.name == name) return row;
    ADD_FAILURE() << "no row " << name;
    return listing.rows().front();
}

// Everything below root, as relative paths with '/' between levels.
std::vector<std::string> Tree(const std::filesystem::path& root) {
    std::vector<std::string> paths;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        paths.push_back(std::filesystem::relative(entry.path(), root).generic_string());
    std::sort(paths.begin(), paths.end());
    return paths;
}

TEST(WorkFolderFor, IsTheFolderSourceBesideTheArchive) {
    EXPECT_EQ(WorkFolderFor(S("docs|in|a.zip")), S("docs|in|source|"));
    EXPECT_EQ(WorkFolderFor("a.zip"), S("source|"));
    EXPECT_EQ(WorkFolderFor(""), S("source|"));
#ifdef _WIN32
    EXPECT_EQ(WorkFolderFor("C:\\docs\\a.zip"), "C:\\docs\\source\\");
    EXPECT_EQ(WorkFolderFor("C:\\a.zip"), "C:\\source\\");
    // Rooted without a drive: the root is all of the folder.
    EXPECT_EQ(WorkFolderFor("\\a.zip"), "\\source\\");
#else
    EXPECT_EQ(WorkFolderFor("/docs/a.zip"), "/docs/source/");
    EXPECT_EQ(WorkFolderFor("/a.zip"), "/source/");
#endif
}

TEST(IsContainedEntryName, RejectsNamesThatLeaveTheFolder) {
    for (const char* safe : {"a.txt", "docs/a.txt", "a..b.txt", "..a", "docs/", "./a.txt", ""})
        EXPECT_TRUE(IsContainedEntryName(safe)) << safe;
    for (const char* unsafe : {"..", "../a.txt", "docs/../../a.txt", "docs\\..\\a.txt", "/etc/x",
                               "\\x.txt", "C:x.txt", "c:\\x.txt", "docs/.."})
        EXPECT_FALSE(IsContainedEntryName(unsafe)) << unsafe;
    // Device names are files like any other off Windows; on Windows they reach a device.
    for (const char* device : {"NUL", "con.txt", "docs/COM1.log", "lpt9", "AUX .txt", "nul/a.txt"})
        EXPECT_EQ(IsContainedEntryName(device), !kWindows) << device;
    for (const char* plain : {"CONSOLE.txt", "COM0", "COM10.txt", "nula.txt", "docs/LPT.txt"})
        EXPECT_TRUE(IsContainedEntryName(plain)) << plain;
}

class EntryOpeningTest : public testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directory(dir_.path() / "docs");
        zip_ = dir_.File(S("docs|a.zip"));
        work_ = dir_.File(S("docs|source|"));
#ifndef _WIN32
        // No desktop opener may be found: launching ends in a quiet no-op on the build machine.
        const char* path = std::getenv("PATH");
        savedPath_ = path ? path : "";
        setenv("PATH", "/nonexistent", 1);
#endif
    }
    void TearDown() override {
#ifndef _WIN32
        setenv("PATH", savedPath_.c_str(), 1);
#endif
    }
    void Load(const std::vector<ZipEntry>& entries) {
        WriteZip(zip_, entries);
        ASSERT_EQ(listing_.LoadListing(zip_.c_str()), 0);
    }

    TempDir dir_;
    std::string zip_, work_, savedPath_;
    CArchiveListing listing_;
};

} // namespace

TEST_F(EntryOpeningTest, PrepareExtractsOnceAndAgainWhenTheFileChanged) {
    Load({{"report.doc", "report"}, {"empty.txt", ""}});
    const ArchiveRow& row = Row(listing_, "report.doc");
    ASSERT_EQ(PrepareEntry(row, work_, zip_.c_str()), 0);
    EXPECT_EQ(ReadFile(work_ + "report.doc"), "report");

    SetLastWriteTime(work_ + "report.doc", 86400);
    ASSERT_EQ(PrepareEntry(row, work_, zip_.c_str()), 0);
    EXPECT_EQ(LastWriteTime(work_ + "report.doc"), 86400) << "a file with the CRC is kept";

    MakeWritable(work_ + "report.doc");
    WriteFile(work_ + "report.doc", "edited");
    ASSERT_EQ(PrepareEntry(row, work_, zip_.c_str()), 0);
    EXPECT_EQ(ReadFile(work_ + "report.doc"), "report");

    // An entry with CRC 0 counts as present, file or no file.
    EXPECT_EQ(PrepareEntry(Row(listing_, "empty.txt"), work_, zip_.c_str()), 0);
    EXPECT_FALSE(Exists(work_ + "empty.txt"));
}

TEST_F(EntryOpeningTest, PrepareFailsWhenTheEntryCannotBeWritten) {
    Load({{"report.doc", "report"}});
    const ArchiveRow row = Row(listing_, "report.doc");
    // The archive is gone.
    EXPECT_EQ(PrepareEntry(row, work_, dir_.File("gone.zip").c_str()), 1);
    // A folder stands where the file would go.
    std::filesystem::create_directories(work_ + "report.doc");
    EXPECT_EQ(PrepareEntry(row, work_, zip_.c_str()), 1);
    // A level of the work folder cannot be created.
    WriteFile(dir_.File("blocker"), "");
    EXPECT_EQ(PrepareEntry(row, dir_.File(S("blocker|source|")), zip_.c_str()), 1);
}

#ifndef _WIN32 // launching would start real programs under Wine; the control's tests do that
TEST_F(EntryOpeningTest, OpensAnEntryWithItsCompanions) {
    Load({{"page.htm", "<html>"},
          {"page.files/", ""},
          {"page.files/a.gif", "gif"},
          {"page.files/b.css", "css"},
          {"Page.files/c.gif", "other case"},
          {"pages.files/d.gif", "other stem"}});
    ASSERT_TRUE(OpenEntry(listing_, zip_, Row(listing_, "page.htm")));
    EXPECT_EQ(Tree(dir_.path() / "docs" / "source"),
              (std::vector<std::string>{"page.files", "page.files/a.gif", "page.files/b.css",
                                        "page.htm"}));
    EXPECT_EQ(ReadFile(work_ + S("page.files|a.gif")), "gif");
}
#endif

TEST_F(EntryOpeningTest, NeverReachesOutsideTheWorkFolder) {
    Load({{"../escape.txt", "up"},
          {"docs/../../deep.txt", "up twice"},
          {"/rooted.txt", "root"},
          {"C:drive.txt", "drive"},
          {"page.htm", "<html>"},
          {"page.files/../../../evil.txt", "companion going up"},
          {"page.files/ok.gif", "gif"}});
    for (const char* name : {"../escape.txt", "docs/../../deep.txt", "/rooted.txt", "C:drive.txt"})
        EXPECT_FALSE(OpenEntry(listing_, zip_, Row(listing_, name))) << name;
    EXPECT_EQ(Tree(dir_.path()), (std::vector<std::string>{"docs", "docs/a.zip"}))
        << "nothing was written for hostile names";
#ifndef _WIN32
    // The main entry opens; the hostile companion is passed over, the good one extracted.
    ASSERT_TRUE(OpenEntry(listing_, zip_, Row(listing_, "page.htm")));
    EXPECT_EQ(Tree(dir_.path()), (std::vector<std::string>{
                                     "docs", "docs/a.zip", "docs/source", "docs/source/page.files",
                                     "docs/source/page.files/ok.gif", "docs/source/page.htm"}));
#endif
}

TEST(LaunchFile, RunsOnlyExeNamesDirectlyWhateverTheirAsciiCase) {
    for (const char* exe : {"a.exe", "A.EXE", "docs|setup.Exe", ".exe"})
        EXPECT_TRUE(platform::IsExecutableName(S(exe))) << exe;
    for (const char* other : {"a.exe.txt", "exe", "a.ex", "a.exe ", "a_exe", ""})
        EXPECT_FALSE(platform::IsExecutableName(other)) << other;
    // Only ASCII letters fold: a dotted capital I (U+0130) is not an "i".
    EXPECT_FALSE(narvo::AsciiEqualNoCase(std::wstring_view(L"\u0130d"), std::wstring_view(L"id")));
    EXPECT_EQ(narvo::AsciiLower(L'\u00C4'), L'\u00C4');
    EXPECT_TRUE(narvo::AsciiStartsWithNoCase(std::string_view("HTTPS://x"), "https://"));
}
