#include "archive/ExtractAll.h"

#include "archive/Extraction.h"
#include "archive/ZipArchive.h"
#include "fileutil/Digest.h"
#include "platform/FileSystem.h"

#include <string>
#include <vector>

namespace narvo {

int ExtractArchive(const char* archivePath, const char* destFolder) {
    ZipReader reader(archivePath);
    if (!reader.Handle()) return reader.IsEmptyArchive() ? UNZ_OK : UNZ_PARAMERROR;

    unz_global_info64 global;
    int result = unzGetGlobalInfo64(reader.Handle(), &global);
    if (result != UNZ_OK) return result;

    const std::string folder = destFolder ? destFolder : "";
    std::vector<char> buffer(detail::kCopyBufferSize);
    unz_file_info64 info;
    std::string name, checkPath;
    for (ZPOS64_T i = 0; i < global.number_entry; ++i) {
        result = ReadCurrentEntryInfo(reader.Handle(), info, name);
        if (result != UNZ_OK) break;
        // The check looks under the full stored name, folders included; only entries at the
        // archive's root are found again where the flat extraction put them.
        checkPath = folder;
        checkPath += name;
        const bool unchanged = name.find('\0') == std::string::npos &&
                               platform::PathExists(checkPath.c_str()) &&
                               FileCrc32(checkPath.c_str()) == std::uint32_t(info.crc);
        if (!unchanged) {
            result = detail::ExtractCurrentEntry(reader.Handle(), folder.c_str(), buffer.data(),
                                                 unsigned(buffer.size()));
            if (result != UNZ_OK) break;
        }
        if (i + 1 < global.number_entry) {
            result = unzGoToNextFile(reader.Handle());
            if (result != UNZ_OK) break;
        }
    }
    return result;
}

} // namespace narvo
