#include "archive/ArchiveListing.h"

#include "archive/ZipArchive.h"

#include <algorithm>

namespace narvo {

bool IsZipFormat(std::string_view format) {
    return format.size() == 3 && (format[0] == 'Z' || format[0] == 'z') &&
           (format[1] == 'I' || format[1] == 'i') && (format[2] == 'P' || format[2] == 'p');
}

int ForEachArchiveRow(const char* path, const ArchiveRowVisitor& visit) {
    ZipReader reader(path);
    if (!reader.Handle()) return reader.IsEmptyArchive() ? UNZ_OK : UNZ_BADZIPFILE;

    unz_global_info64 global;
    int result = unzGetGlobalInfo64(reader.Handle(), &global);
    if (result != UNZ_OK) return result;
    result = reader.CheckEntryCount(global.number_entry);
    if (result != UNZ_OK) return result;
    unz_file_info64 info;
    ArchiveRow row;
    for (ZPOS64_T j = 0; j < global.number_entry; ++j) {
        result = ReadCurrentEntryInfo(reader.Handle(), info, row.name);
        if (result != UNZ_OK) break;
        row.modTime = std::uint32_t(info.dosDate);
        row.crc = std::uint32_t(info.crc);
        row.size = info.uncompressed_size;
        // A forged size beyond the whole archive is refused rather than shown.
        if (!reader.FitsInArchive(info.compressed_size)) {
            result = UNZ_BADZIPFILE;
            break;
        }
        visit(row, global.number_entry);
        if (j + 1 < global.number_entry) {
            result = unzGoToNextFile(reader.Handle());
            if (result != UNZ_OK) break;
        }
    }
    return result;
}

int CArchiveListing::LoadListing(const char* path) {
    Clear();
    std::vector<ArchiveRow> rows;
    const int result = ForEachArchiveRow(path, [&](const ArchiveRow& row, std::uint64_t count) {
        // The count comes from the file: a forged one must not demand memory up front.
        if (rows.empty()) rows.reserve(std::size_t(std::min<std::uint64_t>(count, 1u << 20)));
        rows.push_back(row);
    });
    if (result != UNZ_OK) return result;
    rows_ = std::move(rows);
    archivePath_ = path;
    return UNZ_OK;
}

void CArchiveListing::Clear() {
    rows_.clear();
    rows_.shrink_to_fit();
    archivePath_.clear();
}

CExcludeFilter::CExcludeFilter(std::string_view text) {
    for (;;) {
        const auto bar = text.find('|');
        patterns_.emplace_back(text.substr(0, bar));
        if (bar == std::string_view::npos) break;
        text.remove_prefix(bar + 1);
    }
}

bool CExcludeFilter::Matches(std::string_view name) const {
    for (const auto& pattern : patterns_)
        if (name.find(pattern) != std::string_view::npos) return true;
    return false;
}

bool IsRowListed(std::string_view name, const CExcludeFilter* filter) {
    if (filter && filter->Matches(name)) return false;
    return name.find(".files") == std::string_view::npos;
}

std::optional<std::string_view> EntryExtension(std::string_view name) {
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos) return std::nullopt;
    return name.substr(dot + 1);
}

std::string FormatSizeText(std::uint64_t size) {
    std::string digits = std::to_string(size);
    std::string text;
    text.reserve(digits.size() + digits.size() / 3);
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
        text += digits[i];
    }
    return text;
}

} // namespace narvo
