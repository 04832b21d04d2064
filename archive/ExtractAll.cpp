#include "archive/ExtractAll.h"

#include "archive/EntryWriter.h"
#include "archive/Extraction.h"
#include "archive/ZipArchive.h"
#include "fileutil/Digest.h"
#include "platform/FileSystem.h"

#include <cerrno>
#include <string>

namespace narvo {

int ExtractArchive(const char* archivePath, const char* destFolder) {
    ZipReader reader(archivePath);
    if (!reader.Handle()) return reader.IsEmptyArchive() ? UNZ_OK : UNZ_PARAMERROR;

    unz_global_info64 global;
    int result = unzGetGlobalInfo64(reader.Handle(), &global);
    if (result != UNZ_OK) return result;
    // An archive whose entries share their bytes is refused before anything is written.
    result = reader.CheckEntriesApart(global.number_entry);
    if (result != UNZ_OK) return result;

    const std::string folder = destFolder ? destFolder : "";
    EntryWriter writer;
    unz_file_info64 info;
    std::string name, checkPath;
    for (ZPOS64_T i = 0; i < global.number_entry; ++i) {
        result = ReadCurrentEntryInfo(reader.Handle(), info, name);
        if (result != UNZ_OK) break;
        // The check looks under the full stored name, folders included; only entries at the
        // archive's root are found again where the flat extraction put them.
        checkPath = folder;
        checkPath += name;
        bool unchanged = false, targetAbsent = false;
        if (name.find('\0') == std::string::npos) {
            // Reading first and asking whether anything is there only when the file cannot be
            // read spares a lookup per entry; an unreadable file counts as CRC-32 0.
            std::uint32_t crc = 0;
            errno = 0;
            if (TryFileCrc32(checkPath.c_str(), crc)) {
                unchanged = crc == std::uint32_t(info.crc);
            } else {
                const bool absent = errno == ENOENT || !platform::PathExists(checkPath.c_str());
                unchanged = !absent && info.crc == 0;
                // Where the check path is the target itself, the engine need not look again.
                targetAbsent = absent && EntryBaseName(name).size() == name.size();
            }
        }
        if (!unchanged) {
            result = writer.Extract(reader, info, name, folder.c_str(), targetAbsent);
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
