#include "platform/FileSystem.h"

#include <windows.h>
#include <shlwapi.h>

namespace narvo::platform {

char PathSeparator() { return '\\'; }

std::size_t PathRootLength(std::string_view) { return 0; }

bool PathExists(const char* path) { return path && *path && PathFileExistsA(path); }

bool IsFolder(const char* path) {
    if (!path || !*path) return false;
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateFolder(const char* path) { return path && CreateDirectoryA(path, nullptr); }

bool SetAttributes(const char* path, FileAttributes attributes) {
    return path && SetFileAttributesA(path, attributes == FileAttributes::ReadOnly
                                                ? FILE_ATTRIBUTE_READONLY
                                                : FILE_ATTRIBUTE_ARCHIVE);
}

void SetFileTimesFromDos(const char* path, std::uint32_t dosDateTime) {
    HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    FILETIME created, accessed, written, local, utc;
    // The zone offset in force now is applied, as LocalFileTimeToFileTime does everywhere else.
    if (GetFileTime(file, &created, &accessed, &written) &&
        DosDateTimeToFileTime(WORD(dosDateTime >> 16), WORD(dosDateTime & 0xFFFF), &local) &&
        LocalFileTimeToFileTime(&local, &utc)) {
        SetFileTime(file, &utc, &accessed, &utc);
    }
    CloseHandle(file);
}

bool RemoveFile(const char* path) { return path && DeleteFileA(path); }

} // namespace narvo::platform
