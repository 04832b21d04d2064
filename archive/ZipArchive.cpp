#include "archive/ZipArchive.h"

#include <cstdio>
#include <cstring>

namespace narvo {

namespace {

std::uint32_t ReadLe32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}
std::uint16_t ReadLe16(const unsigned char* p) { return std::uint16_t(p[0] | p[1] << 8); }

} // namespace

ZipReader::ZipReader(const char* path) {
    if (!path || !*path) return;
    handle_ = unzOpen64(path);
    if (!handle_) emptyArchive_ = IsEmptyZipArchive(path);
}

void ZipReader::Close() {
    if (!handle_) return;
    unzCloseCurrentFile(handle_);
    unzClose(handle_);
    handle_ = nullptr;
}

bool IsEmptyZipArchive(const char* path) {
    constexpr long kRecordSize = 22;
    std::FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    unsigned char record[kRecordSize];
    bool empty = false;
    if (std::fread(record, 1, kRecordSize, file) == kRecordSize && ReadLe32(record) == 0x06054b50 &&
        ReadLe16(record + 4) == 0 && ReadLe16(record + 6) == 0 && ReadLe16(record + 8) == 0 &&
        ReadLe16(record + 10) == 0 && ReadLe32(record + 12) == 0 && ReadLe32(record + 16) == 0) {
        // Whatever follows the record must be exactly its comment.
        const long commentLength = ReadLe16(record + 20);
        if (std::fseek(file, 0, SEEK_END) == 0) empty = std::ftell(file) == kRecordSize + commentLength;
    }
    std::fclose(file);
    return empty;
}

int ReadCurrentEntryInfo(unzFile archive, unz_file_info64& info, std::string& name) {
    // Try with the room the string already has; most names fit at the first attempt.
    if (name.capacity() < 256) name.reserve(256);
    name.resize(name.capacity());
    int rc = unzGetCurrentFileInfo64(archive, &info, name.data(), uLong(name.size()), nullptr, 0,
                                     nullptr, 0);
    if (rc != UNZ_OK) {
        name.clear();
        return rc;
    }
    if (info.size_filename >= name.size()) {
        name.resize(info.size_filename + 1);
        rc = unzGetCurrentFileInfo64(archive, &info, name.data(), uLong(name.size()), nullptr, 0,
                                     nullptr, 0);
        if (rc != UNZ_OK) {
            name.clear();
            return rc;
        }
    }
    name.resize(info.size_filename);
    return UNZ_OK;
}

} // namespace narvo
