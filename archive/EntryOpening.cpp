#include "archive/EntryOpening.h"

#include "archive/Extraction.h"
#include "fileutil/Digest.h"
#include "platform/FileSystem.h"
#include "platform/Shell.h"

namespace narvo {

std::string WorkFolderFor(std::string_view archivePath) {
    const char separator = platform::PathSeparator();
    const auto cut = archivePath.rfind(separator);
    std::string folder;
    if (cut != std::string_view::npos) {
        // A root keeps its separator ("/a.zip" has the folder "/"); elsewhere it goes.
        const bool root = cut < platform::PathRootLength(archivePath);
        folder.assign(archivePath.substr(0, root ? cut + 1 : cut));
        if (folder.back() != separator) folder += separator;
    }
    folder += "source";
    folder += separator;
    return folder;
}

bool IsContainedEntryName(std::string_view name) {
    if (!name.empty() && (name.front() == '/' || name.front() == '\\')) return false;
    if (name.size() >= 2 && name[1] == ':') return false; // a drive prefix such as C:
    while (!name.empty()) {
        const auto end = name.find_first_of("/\\");
        const auto component = name.substr(0, end);
        if (component == ".." || platform::IsDeviceName(component)) return false;
        if (end == std::string_view::npos) break;
        name.remove_prefix(end + 1);
    }
    return true;
}

int PrepareEntry(const ArchiveRow& row, const std::string& folder, const char* archivePath) {
    if (!IsContainedEntryName(row.name) || row.name.find('\0') != std::string::npos) return 1;
    // No separate existence test: a missing file reads as CRC 0, like an empty entry.
    if (FileCrc32((folder + row.name).c_str()) == row.crc) return 0;
    if (!platform::CreateDirectoryPath(folder.c_str())) return 1;
    return ExtractNamedEntry(archivePath, row.name.c_str(), folder.c_str()) == 0 ? 0 : 1;
}

void LaunchFile(const std::string& path) {
    const auto extension = EntryExtension(path);
    if (extension && extension->size() == 3 && (((*extension)[0] | 0x20) == 'e') &&
        (((*extension)[1] | 0x20) == 'x') && (((*extension)[2] | 0x20) == 'e')) {
        platform::RunExecutable(path.c_str());
        return;
    }
    std::string program;
    if (platform::FindAssociatedProgram(path.c_str(), program) &&
        platform::OpenWithProgram(program, path.c_str()))
        return;
    const auto cut = path.rfind(platform::PathSeparator());
    const std::string folder = cut == std::string::npos ? path : path.substr(0, cut + 1);
    platform::ExploreFolder(folder.c_str());
}

bool OpenEntry(const CArchiveListing& listing, std::string_view currentArchivePath,
               const ArchiveRow& row) {
    const std::string workFolder = WorkFolderFor(currentArchivePath);
    const char* archivePath = listing.archivePath().c_str();
    if (PrepareEntry(row, workFolder, archivePath) != 0) return false;

    const auto dot = row.name.rfind('.');
    if (dot != std::string::npos) {
        const std::string stem = row.name.substr(0, dot);
        const std::string companionFolder =
            workFolder + stem + ".files" + platform::PathSeparator();
        const std::string prefix = stem + ".files/";
        for (const ArchiveRow& other : listing.rows()) {
            // The companion folder's own entry (exactly the prefix) is passed over.
            if (other.name.size() > prefix.size() &&
                other.name.compare(0, prefix.size(), prefix) == 0)
                PrepareEntry(other, companionFolder, archivePath);
        }
    }
    LaunchFile(workFolder + row.name);
    return true;
}

} // namespace narvo
