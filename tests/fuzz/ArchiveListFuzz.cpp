// Arbitrary bytes as an archive to list: the result is one the listing documents, a failure
// leaves the listing empty, and the rows visited agree with the rows kept.
#include "archive/ArchiveListing.h"
#include "archive/EntryOpening.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace narvo;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto path = fuzz::Scratch() / "listed.zip";
    fuzz::WriteBytes(path, data, size);

    CArchiveListing listing;
    const int result = listing.LoadListing(path.c_str());
    FUZZ_REQUIRE(fuzz::IsDocumentedArchiveResult(result), "listing gave result %d", result);
    if (result != 0) {
        FUZZ_REQUIRE(listing.rowCount() == 0 && listing.archivePath().empty(),
                     "a failed listing kept %d rows", listing.rowCount());
        return 0;
    }

    std::uint64_t visited = 0;
    const int again =
        ForEachArchiveRow(path.c_str(), [&](const ArchiveRow& row, std::uint64_t count) {
            FUZZ_REQUIRE(visited < count, "row %llu of an archive declaring %llu",
                         (unsigned long long)visited, (unsigned long long)count);
            FUZZ_REQUIRE(row.name == listing.rows()[visited].name, "row %llu differs between reads",
                         (unsigned long long)visited);
            ++visited;
        });
    FUZZ_REQUIRE(again == 0 && visited == std::uint64_t(listing.rowCount()),
                 "second read gave %d after %llu rows", again, (unsigned long long)visited);

    // What the list view does with each row.
    const CExcludeFilter filter(".txt|/");
    for (const ArchiveRow& row : listing.rows()) {
        IsRowListed(row.name, &filter);
        EntryExtension(row.name);
        IsContainedEntryName(row.name);
        FormatSizeText(row.size);
    }
    return 0;
}
