// Archives the fuzz targets (tests/fuzz) found answering outside the documented result codes,
// kept here as they were found.
#include "archive/ArchiveListing.h"
#include "archive/ArchiveResults.h"
#include "archive/ExtractAll.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <string>
#include <string_view>

#include "tests/support/TestSupport.h"

using namespace narvo;

namespace {

// Info-ZIP's archive with a damaged deflate stream that ends before its entry's stored size: the
// engine once passed zlib's Z_BUF_ERROR (-5) on as the result.
const std::string kDeflateEndsEarly("\x50\x4b\x03\x04\x0a\x00\x00\x00\x00\x00\x5c\x1c\x89\x5d\x00"
                                    "\x00\x00\x00\x00\x00\x00\x00\x00\x00"
                                    "\x00\x00\x05\x00\x00\x00\x64\x6f\x63\x73\x2f\x50\x4b\x03\x04"
                                    "\x14\x00\x00\x00\x08\x00\x54\x1c\x89"
                                    "\x5d\xc5\x8b\x9c\x29\x13\x00\x00\x00\xe0\x01\x00\x00\x0f\x00"
                                    "\x00\x00\x64\x6f\x63\x73\x2f\x72\x65"
                                    "\x70\x6f\x72\x74\x2e\x64\x6f\x63\x2b\x4a\x2d\xc8\x2f\x65\x78"
                                    "\x74\x72\x61\x63\x74\x2f\x6b\x65\x65"
                                    "\x3b\x36\x00\x50\x4b\x03\x04\x0a\x00\x00\x00\x00\x00\x5c\x1c"
                                    "\x89\x5d\x00\x00\x00\x00\x00\x00\x00"
                                    "\x00\x00\x00\x00\x00\x12\x00\x00\x00\x64\x6f\x63\x73\x2f\x72"
                                    "\x65\x70\x6f\x72\x74\x2e\x66\x69\x6c"
                                    "\x65\x73\x2f\x50\x4b\x03\x04\x0a\x00\x00\x00\x00\x00\x5c\x1c"
                                    "\x89\x5d\xac\xc8\xc2\xbb\x03\x00\x00"
                                    "\x00\x03\x00\x00\x00\x11\x00\x00\x00\x64\x6f\x63\x73\x2f\x72"
                                    "\x65\x70\x6f\x72\x74\x2e\x66\x69\x6c"
                                    "\x65\x73\x2f\x70\x69\x63\x2e\x70\x6e\x67\x69\x6d\x67\x50\x4b"
                                    "\x03\x04\x0a\x00\x00\x00\x00\x00\x5c"
                                    "\x1c\x89\x5d\x72\x29\xa4\xc6\x0c\x00\x00\x00\x0c\x00\x00\x00"
                                    "\x0a\x00\x00\x00\x64\x6f\x63\x73\x2f"
                                    "\x61\x2e\x74\x78\x74\x68\x65\x6c\x6c\x4f\x20\x6e\x61\x72\x76"
                                    "\x6f\x0a\x50\x4b\x03\x04\x0a\x00\x00"
                                    "\x00\x00\x00\x5c\x1c\x89\x5d\x00\x00\x00\x00\x00\x00\x00\x00"
                                    "\x00\x00\x00\x00\x09\x00\x00\x00\x65"
                                    "\x6d\x70\x74\x79\x2e\x74\x78\x74\x50\x4b\x01\x02\x1e\x03\x0a"
                                    "\x00\x00\x00\x00\x00\x5c\x1c\x89\x5d"
                                    "\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x05\x00\x00"
                                    "\x00\x00\x00\x00\x00\x00\x00\x10\x00"
                                    "\xed\x41\x00\x00\x00\x00\x64\x6f\x63\x73\x2f\x50\x4b\x01\x02"
                                    "\x1e\x03\x14\x00\x00\x00\x08\x00\x5c"
                                    "\x1c\x89\x5d\xc5\x8b\x9c\x29\x13\x00\x00\x00\xe0\x01\x00\x00"
                                    "\x0f\x00\x00\x00\x00\x00\x00\x00\x01"
                                    "\x00\x00\x00\xa4\x81\x23\x00\x00\x00\x64\x6f\x63\x73\x2f\x72"
                                    "\x65\x70\x6f\x72\x74\x2e\x64\x63\x50"
                                    "\x4b\x01\x6f\x02\x1e\x03\x0a\x00\x00\x00\x00\x00\x5c\x1c\x89"
                                    "\x5d\x00\x00\x00\x00\x00\x00\x00\x00"
                                    "\x00\x00\x00\x00\x12\x00\x00\x00\x00\x00\x00\x00\x00\x00\x10"
                                    "\x00\xed\x41\x63\x00\x00\x00\x64\x6f"
                                    "\x63\x73\x2f\x72\x65\x70\x6f\x72\x74\x2e\x66\x69\x6c\x65\x73"
                                    "\x2f\x50\x4b\x01\x02\x1e\x03\x0a\x00"
                                    "\x00\x00\x00\x00\x5c\x1c\x89\x5d\xac\xc8\xc2\xbb\x03\x00\x00"
                                    "\x00\x03\x00\x00\x00\x19\x00\x00\x00"
                                    "\x00\x00\x00\x00\x01\x00\x00\x00\xa4\x81\x93\x00\x00\x00\x64"
                                    "\x6f\x63\x73\x2f\x72\x65\x70\x6f\x72"
                                    "\x74\x2e\x66\x69\x6c\x65\x73\x2f\x70\x69\x63\x2e\x70\x6e\x67"
                                    "\x50\x4b\x01\x02\x1e\x03\x0a\x00\x00"
                                    "\x00\x00\x00\x5c\x1c\x89\x5d\x72\x29\xa4\xc6\x0c\x00\x00\x00"
                                    "\x0c\x00\x00\x00\x0a\x00\x00\x00\x00"
                                    "\x00\x00\x00\x01\x00\x00\x00\xa4\x81\xcd\x00\x00\x00\x64\x6f"
                                    "\x63\x73\xfe\xff\xff\x9a\x78\x74\x50"
                                    "\x4b\x01\x02\x1e\x03\x0a\x00\x00\x00\x00\x00\x5c\x1c\x89\x5d"
                                    "\x00\x00\x00\x00\x00\x00\x00\x00\x00"
                                    "\x00\x00\x00\x09\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
                                    "\xa4\x81\x01\x01\x00\x00\x65\x6d\x70"
                                    "\x74\x79\x2e\x74\x78\x74\x50\x4b\x05\x06\x00\x00\x00\x00\x06"
                                    "\x00\x06\x00\x66\x01\x00\x00\x28\x01"
                                    "\x00\x00\x00\x00",
                                    676);

bool IsDescribed(int result) {
    const std::string_view text = DescribeArchiveResult(result);
    return text != "zlib or unzip library error" && text != "unknown result";
}

} // namespace

TEST(FuzzFindings, DataEndingEarlyGiveADescribedResult) {
    test::TempDir dir;
    const std::string archive = dir.File("found.zip");
    test::WriteFile(archive, kDeflateEndsEarly);
    const int extracted = ExtractArchive(archive.c_str(), dir.Folder().c_str());
    EXPECT_TRUE(IsDescribed(extracted)) << extracted;
    EXPECT_NE(extracted, 0);
    CArchiveListing listing;
    EXPECT_TRUE(IsDescribed(listing.LoadListing(archive.c_str())));
}

#ifndef _WIN32
// The unchanged-entry check of extract-all read the file under the full stored name, which ".."
// parts lead anywhere: here /dev/zero, which never ends. Such an entry is written flat instead.
TEST(FuzzFindings, ExtractAllNeverReadsOutsideItsFolder) {
    test::TempDir dir;
    const std::string archive = dir.File("up.zip");
    std::string name;
    for (int i = 0; i < 24; ++i)
        name += "../";
    test::WriteZip(archive, {{name + "dev/zero", "z"}, {name + "dev/null", ""}});
    auto extraction = std::async(
        std::launch::async, [&] { return ExtractArchive(archive.c_str(), dir.Folder().c_str()); });
    if (extraction.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        ADD_FAILURE() << "extract-all still reading after a minute";
        std::_Exit(1); // the reading thread cannot be stopped
    }
    EXPECT_EQ(extraction.get(), 0);
    EXPECT_EQ(test::ReadFile(dir.File("zero")), "z");
    EXPECT_TRUE(test::Exists(dir.File("null")));
}
#endif
