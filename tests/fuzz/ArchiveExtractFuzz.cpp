// Arbitrary bytes as an archive to extract, the way the control and the tool do it: extract-all
// into a fresh folder (twice, so the second pass takes the unchanged-entry path), then every
// listed entry opened into a work folder. Every result is one the engine documents, and nothing
// appears, changes or goes outside the two folders.
#include "archive/ArchiveListing.h"
#include "archive/EntryOpening.h"
#include "archive/ExtractAll.h"
#include "archive/Extraction.h"
#include "tests/fuzz/FuzzSupport.h"

#include <fstream>

using namespace narvo;
namespace fs = std::filesystem;

namespace {

constexpr int kMaxOpenedEntries = 32;

void RequireDocumented(const char* what, int result) {
    FUZZ_REQUIRE(fuzz::IsDocumentedArchiveResult(result), "%s gave result %d", what, result);
}

// Inside a destination folder the engine writes only plain files, flat.
void RequireFlatFiles(const fuzz::Tree& tree, const char* folder) {
    for (const auto& [path, kind] : tree)
        FUZZ_REQUIRE(kind[0] == 'f' && path.find('/') == std::string::npos, "%s holds %s (%s)",
                     folder, path.c_str(), kind.c_str());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::LimitFileSize(8u << 20);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The scratch folder: the archive, a file that must survive, and the two destinations.
    const fs::path root = fuzz::Scratch() / "extract";
    const fs::path archive = root / "in.zip", keep = root / "keep.txt";
    const fs::path out = root / "out", open = root / "open";
    std::error_code ec;
    fs::remove_all(root, ec);
    fs::create_directories(out);
    fuzz::WriteBytes(archive, data, size);
    fuzz::WriteBytes(keep, reinterpret_cast<const std::uint8_t*>("keep"), 4);
    const fuzz::Tree before = fuzz::Snapshot(fuzz::Scratch());

    const std::string outFolder = out.string() + "/", openFolder = open.string() + "/";
    RequireDocumented("extract-all", ExtractArchive(archive.c_str(), outFolder.c_str()));
    RequireDocumented("extract-all again", ExtractArchive(archive.c_str(), outFolder.c_str()));

    CArchiveListing listing;
    RequireDocumented("listing", listing.LoadListing(archive.c_str()));
    int opened = 0;
    for (const ArchiveRow& row : listing.rows()) {
        if (++opened > kMaxOpenedEntries) break;
        const int prepared = PrepareEntry(row, openFolder, archive.c_str());
        FUZZ_REQUIRE(prepared == 0 || prepared == 1, "PrepareEntry gave %d", prepared);
        if (row.name.find('\0') == std::string::npos)
            RequireDocumented("named entry", ExtractNamedEntry(archive.c_str(), row.name.c_str(),
                                                               outFolder.c_str()));
    }

    // Only the two destinations may have changed.
    fuzz::Tree after = fuzz::Snapshot(fuzz::Scratch());
    fuzz::Tree outTree, openTree;
    for (auto it = after.begin(); it != after.end();) {
        const std::string& path = it->first;
        fuzz::Tree* inside = path.rfind("extract/out/", 0) == 0    ? &outTree
                             : path.rfind("extract/open/", 0) == 0 ? &openTree
                                                                   : nullptr;
        if (inside) {
            (*inside)[path.substr(path.find('/', 8) + 1)] = it->second;
            it = after.erase(it);
        } else {
            ++it;
        }
    }
    after.erase("extract/open"); // made by the first entry opened
    FUZZ_REQUIRE(after == before, "the scratch folder changed outside the destinations");
    RequireFlatFiles(outTree, "out");
    RequireFlatFiles(openTree, "open");
    std::ifstream kept(keep);
    std::string text((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>());
    FUZZ_REQUIRE(text == "keep", "the file beside the destinations changed");
    return 0;
}
