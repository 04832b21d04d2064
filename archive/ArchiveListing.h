#pragma once
// The archive listing the control shows: one row per entry, the exclusion filter, the size text.
#include "archive/ArchiveResults.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace narvo {

// True for "ZIP" in any letter case.
bool IsZipFormat(std::string_view format);

struct ArchiveRow {
    std::string name; // decoded (EntryNames.h); '/' between folder parts, folders end in '/'
    std::uint32_t modTime = 0; // DOS date (high 16 bits) and time (low 16 bits)
    std::uint32_t crc = 0;     // CRC-32 stored in the central directory
    std::uint64_t size = 0;    // uncompressed size in bytes
};

// Called once per entry in directory order with the entry's row (valid during the call) and the
// entry count the archive declares.
using ArchiveRowVisitor = std::function<void(const ArchiveRow& row, std::uint64_t entryCount)>;

// Reads the archive's central directory as LoadListing does, handing each row to visit instead of
// keeping it. Returns 0 or the unzip code (-103 when the file cannot be opened as a ZIP archive);
// after a failure the rows visited so far were read before it.
int ForEachArchiveRow(const char* path, const ArchiveRowVisitor& visit);

class CArchiveListing {
public:
    // Reads the archive's central directory; on success the listing holds every row and the
    // path. Any failure leaves the listing empty and returns the unzip code (-103 when the file
    // cannot be opened as a ZIP archive).
    int LoadListing(const char* path);
    void Clear();

    const std::string& archivePath() const { return archivePath_; }
    const std::vector<ArchiveRow>& rows() const { return rows_; }
    int rowCount() const { return int(rows_.size()); }

private:
    std::string archivePath_;
    std::vector<ArchiveRow> rows_;
};

// The page-set exclusion filter: "|"-separated patterns, each matched as a case-sensitive
// substring anywhere in an entry's full name. An empty pattern matches every name.
class CExcludeFilter {
public:
    explicit CExcludeFilter(std::string_view text);
    bool Matches(std::string_view name) const;
    const std::vector<std::string>& patterns() const { return patterns_; }

private:
    std::vector<std::string> patterns_;
};

// Whether a row is shown in the list: not excluded by the filter (none means nothing is
// excluded by it) and not a companion entry (a name containing ".files").
bool IsRowListed(std::string_view name, const CExcludeFilter* filter);

// The text after the last '.' of a name, even when that dot lies in a folder part; none without
// one.
std::optional<std::string_view> EntryExtension(std::string_view name);

// Decimal digits with ',' between groups of three: 1234567 gives "1,234,567".
std::string FormatSizeText(std::uint64_t size);

} // namespace narvo
