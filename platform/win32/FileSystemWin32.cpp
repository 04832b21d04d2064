#include "platform/FileSystem.h"

#include <windows.h>
#include <shlwapi.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>
#include <string>

namespace narvo::platform {

char PathSeparator() {
    return '\\';
}

std::size_t PathRootLength(std::string_view) {
    return 0;
}

bool PathExists(const char* path) {
    return path && *path && PathFileExistsA(path);
}

bool IsFolder(const char* path) {
    if (!path || !*path) return false;
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool CreateFolder(const char* path, FolderAccess) {
    return path && CreateDirectoryA(path, nullptr);
}

bool FreeSpace(const char* folder, std::uint64_t& bytes) {
    ULARGE_INTEGER available;
    if (!folder || !GetDiskFreeSpaceExA(*folder ? folder : nullptr, &available, nullptr, nullptr))
        return false;
    bytes = available.QuadPart;
    return true;
}

bool SetAttributes(const char* path, FileAttributes attributes) {
    return path && SetFileAttributesA(path, attributes == FileAttributes::ReadOnly
                                                ? FILE_ATTRIBUTE_READONLY
                                                : FILE_ATTRIBUTE_ARCHIVE);
}

void SetFileTimesFromDos(const char* path, std::uint32_t dosDateTime) {
    HANDLE file =
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
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

bool IsDeviceName(std::string_view component) {
    // The name counts up to its first dot, and trailing blanks and dots do not change it.
    std::string_view base = component.substr(0, component.find('.'));
    while (!base.empty() && (base.back() == ' ' || base.back() == '.'))
        base.remove_suffix(1);
    std::string upper(base);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" || upper == "CONIN$" ||
        upper == "CONOUT$")
        return true;
    return upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT")) &&
           upper[3] >= '1' && upper[3] <= '9';
}

bool RemoveFile(const char* path) {
    return path && DeleteFileA(path);
}

bool FileSize(const char* path, std::uint64_t& size) {
    if (!path) return false;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER length;
    const bool ok = GetFileSizeEx(file, &length);
    CloseHandle(file);
    if (ok) size = std::uint64_t(length.QuadPart);
    return ok;
}

std::FILE* CreateNewFile(const char* path, bool& exists) {
    exists = false;
    if (!path || !*path) return nullptr;
    HANDLE handle =
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        exists = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    std::FILE* file = fd < 0 ? nullptr : _fdopen(fd, "wb");
    if (!file) {
        if (fd < 0)
            CloseHandle(handle);
        else
            _close(fd);
        DeleteFileA(path);
    }
    return file;
}

bool MoveFileOver(const char* from, const char* to) {
    if (!from || !to) return false;
    const DWORD attributes = GetFileAttributesA(to);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)))
        return false;
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING);
}

OutputFile::~OutputFile() {
    Close();
}

bool OutputFile::Open(const char* path) {
    Close();
    // Shared as the C runtime's "wb" shares. Attributes are the caller's business afterwards:
    // overwriting keeps an existing file's attributes alongside any given here.
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    createdReadOnly_ = false;
    if (file == INVALID_HANDLE_VALUE) return false;
    handle_ = reinterpret_cast<std::intptr_t>(file);
    return true;
}

bool OutputFile::Write(const void* data, std::size_t size) {
    auto bytes = static_cast<const char*>(data);
    while (size > 0) {
        const DWORD piece = size > 0x40000000 ? 0x40000000 : DWORD(size);
        DWORD written = 0;
        if (!WriteFile(reinterpret_cast<HANDLE>(handle_), bytes, piece, &written, nullptr) ||
            written == 0)
            return false;
        bytes += written;
        size -= written;
    }
    return true;
}

bool OutputFile::Close() {
    if (handle_ == -1) return true;
    HANDLE file = reinterpret_cast<HANDLE>(handle_);
    handle_ = -1;
    return CloseHandle(file) != 0;
}

} // namespace narvo::platform
