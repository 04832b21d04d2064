#pragma once
// What the portable core needs from the file system, beyond C stdio. Paths are narrow strings in
// the process's ANSI code page (Windows) or the locale's encoding (POSIX).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace narvo::platform {

// The separator between folder levels: '\' on Windows, '/' on POSIX.
char PathSeparator();

// Length of the part of path that names an always-existing root and is never created: 1 for a
// POSIX absolute path ("/"), 0 on Windows (a drive such as "C:" simply exists as a prefix).
std::size_t PathRootLength(std::string_view path);

// True when something (file or folder) exists at path.
bool PathExists(const char* path);

// True when path names an existing folder.
bool IsFolder(const char* path);

// Who may enter a folder created for us: anyone the system lets in, or only the user (POSIX:
// mode 0700; Windows folders inherit their parent's access either way).
enum class FolderAccess { Shared, Private };

// Creates one folder level; false when it cannot be created (including when it already exists).
bool CreateFolder(const char* path, FolderAccess access = FolderAccess::Shared);

// Creates every missing folder along path (levels split by the platform's separator). Returns 1
// when every level exists at the end, 0 when a missing level cannot be created.
int CreateDirectoryPath(const char* path, FolderAccess access = FolderAccess::Shared);

enum class FileAttributes {
    Archive,  // a plain writable file (Windows: FILE_ATTRIBUTE_ARCHIVE alone)
    ReadOnly, // read-only (Windows: FILE_ATTRIBUTE_READONLY alone; POSIX: write bits removed)
};
// Replaces the attributes of what is at path; false on failure.
bool SetAttributes(const char* path, FileAttributes attributes);

// Sets a file's last-write time (and creation time where the platform keeps one) to the local
// wall-clock time given by a DOS date (high 16 bits) and DOS time (low 16 bits). The last-access
// time is kept. The caller has checked the fields' ranges. Any failure leaves the times as they
// were.
void SetFileTimesFromDos(const char* path, std::uint32_t dosDateTime);

// The bytes the caller may still write on the file system holding folder ("" is the current
// folder); false when it cannot be told.
bool FreeSpace(const char* folder, std::uint64_t& bytes);

// Removes a file; false when it could not be removed.
bool RemoveFile(const char* path);

// True when one path component names a device rather than a file wherever it stands (Windows:
// CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without an extension); never on POSIX.
bool IsDeviceName(std::string_view component);

// The length of the file at path, opened for reading as a reader sharing it with other readers
// only would open it; false when it cannot be opened that way or is not a file.
bool FileSize(const char* path, std::uint64_t& size);

// Creates the file at path, which must not exist yet, and returns it open for writing ("wb");
// null on failure, with exists telling whether something was already there.
std::FILE* CreateNewFile(const char* path, bool& exists);

// Puts the file from in the place of to in one step, replacing a file there, so that no reader
// ever sees a mix of both. False, with both left as they were, when to is a folder or a read-only
// file or cannot be replaced.
bool MoveFileOver(const char* from, const char* to);

// A file being written by the extraction engine, straight from the caller's blocks (no stream
// buffer in between). The file is meant to end up read-only: where the platform can create a new
// file read-only while still writing through the handle, it does, and CreatedReadOnly() says so,
// sparing the caller a separate attribute change.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates path, or truncates the file there; false when it cannot be opened for writing.
    bool Open(const char* path);
    // Writes the whole block; false when it could not be written whole.
    bool Write(const void* data, std::size_t size);
    // Closes the file; false when data could not be written out.
    bool Close();
    bool CreatedReadOnly() const { return createdReadOnly_; }

private:
    std::intptr_t handle_ = -1;
    bool createdReadOnly_ = false;
};

} // namespace narvo::platform
