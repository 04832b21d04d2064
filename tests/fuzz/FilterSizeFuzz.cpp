// The exclusion filter, the size text and the other small texts the list view and the file
// dialog build from page input: first 8 bytes a size, then "FILTER\0NAME".
#include "archive/ArchiveListing.h"
#include "archive/EntryOpening.h"
#include "archive/Extraction.h"
#include "fileutil/FileSelection.h"
#include "control/ProgressMeter.h"
#include "tests/fuzz/FuzzSupport.h"

#include <cstring>

using namespace narvo;
namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::uint64_t number = 0;
    std::memcpy(&number, data, std::min<std::size_t>(size, sizeof number));
    const std::string_view rest =
        size > sizeof number ? std::string_view(reinterpret_cast<const char*>(data) + 8, size - 8)
                             : std::string_view();
    const auto [filterText, name] = fuzz::SplitAt(rest, '\0');

    // The size text: the digits of the number, a comma before each group of three from the right.
    const std::string text = FormatSizeText(number);
    std::string digits;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ',') {
            FUZZ_REQUIRE((text.size() - i) % 4 == 0 && i > 0, "misplaced comma in %s",
                         text.c_str());
        } else {
            digits += text[i];
        }
    }
    FUZZ_REQUIRE(digits == std::to_string(number), "%s is not %llu", text.c_str(),
                 (unsigned long long)number);

    // The filter's patterns are the text's parts between bars, all of them.
    const CExcludeFilter filter(filterText);
    std::string joined;
    for (const auto& pattern : filter.patterns()) {
        if (&pattern != &filter.patterns().front()) joined += '|';
        joined += pattern;
    }
    FUZZ_REQUIRE(joined == filterText, "the filter's patterns do not give back its text");
    const bool matched = filter.Matches(name);
    if (!IsRowListed(name, &filter))
        FUZZ_REQUIRE(matched || name.find(".files") != std::string_view::npos,
                     "a row neither excluded nor a companion is hidden");
    else
        FUZZ_REQUIRE(!matched, "an excluded row is listed");
    if (const auto extension = EntryExtension(name))
        FUZZ_REQUIRE(extension->find('.') == std::string_view::npos, "extension with a dot");

    // A name the opening accepts stays inside its folder, whatever its parts.
    const std::string_view plainName = fuzz::SplitAt(name, '\0').first;
    if (IsContainedEntryName(plainName)) {
        const fs::path joinedPath =
            (fs::path("/work/source") / std::string(plainName)).lexically_normal();
        FUZZ_REQUIRE(joinedPath.string().rfind("/work/source", 0) == 0 && joinedPath != "/work",
                     "accepted name %s leads to %s", std::string(plainName).c_str(),
                     joinedPath.c_str());
    }
    const std::string_view base = EntryBaseName(name);
    FUZZ_REQUIRE(base.find_first_of("/\\") == std::string_view::npos, "base name with a separator");
    const std::string work = WorkFolderFor(name);
    FUZZ_REQUIRE(work.size() >= 7 && work.compare(work.size() - 7, 7, "source/") == 0,
                 "work folder %s", work.c_str());

    // The dialog's filter list: NUL-terminated strings closed by an empty one.
    const std::string list = BuildOpenFileFilter(filterText);
    FUZZ_REQUIRE(list.size() >= 2 && list[list.size() - 1] == '\0' && list[list.size() - 2] == '\0',
                 "filter list not closed");

    // The progress box's bar, from counts as the transfers report them.
    ProgressMeter meter;
    const std::int32_t total = std::int32_t(number & 0x7FFFFFFF), done = std::int32_t(number >> 33);
    const ProgressStep step = meter.Report(total, done);
    if (total > 0 && done <= total)
        FUZZ_REQUIRE(step.position <= 1000 && step.percent <= 100, "bar at %d of %d -> %d", done,
                     total, step.position);
    return 0;
}
