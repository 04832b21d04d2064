#include "platform/FileSystem.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace narvo::platform {

char PathSeparator() {
    return '/';
}

std::size_t PathRootLength(std::string_view path) {
    return !path.empty() && path.front() == '/' ? 1 : 0;
}

bool PathExists(const char* path) {
    struct stat st;
    return path && *path && stat(path, &st) == 0;
}

bool IsFolder(const char* path) {
    struct stat st;
    return path && *path && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateFolder(const char* path, FolderAccess access) {
    return path && *path && mkdir(path, access == FolderAccess::Private ? 0700 : 0777) == 0;
}

bool FreeSpace(const char* folder, std::uint64_t& bytes) {
    struct statvfs fs;
    if (!folder || statvfs(*folder ? folder : ".", &fs) != 0) return false;
    bytes = std::uint64_t(fs.f_bavail) * fs.f_frsize;
    return true;
}

bool SetAttributes(const char* path, FileAttributes attributes) {
    struct stat st;
    // A symbolic link is never followed: what it points to is not ours to change.
    if (!path || lstat(path, &st) != 0 || S_ISLNK(st.st_mode)) return false;
    mode_t mode = st.st_mode & 07777;
    if (attributes == FileAttributes::ReadOnly) {
        mode &= ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH);
    } else {
        // Writable again, as a newly created file would be under the current umask.
        const mode_t mask = umask(0);
        umask(mask);
        mode |= S_IWUSR | ((S_IWGRP | S_IWOTH) & ~mask);
    }
    return chmod(path, mode) == 0;
}

void SetFileTimesFromDos(const char* path, std::uint32_t dosDateTime) {
    const unsigned date = dosDateTime >> 16, time = dosDateTime & 0xFFFF;
    const unsigned hour = (time >> 11) & 0x1F, minute = (time >> 5) & 0x3F,
                   second = (time & 0x1F) * 2;
    // mktime consults the zone file on every call (a stat per extracted file), so the start of the
    // last local hour asked for is kept: within an hour the mapping is linear, as the zone's
    // changes fall on whole hours.
    thread_local std::uint32_t cachedHour = 0;
    thread_local std::time_t cachedStart = -1;
    const std::uint32_t hourKey = date << 5 | hour;
    if (cachedStart == std::time_t(-1) || cachedHour != hourKey) {
        std::tm tm{};
        tm.tm_year = int((date >> 9) & 0x7F) + 80;
        tm.tm_mon = int((date >> 5) & 0x0F) - 1;
        tm.tm_mday = int(date & 0x1F);
        tm.tm_hour = int(hour);
        tm.tm_isdst = -1;
        cachedStart = std::mktime(&tm);
        cachedHour = hourKey;
        if (cachedStart == std::time_t(-1)) return;
    }
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT; // keep the last-access time
    times[1].tv_sec = cachedStart + std::time_t(minute) * 60 + std::time_t(second);
    times[1].tv_nsec = 0;
    utimensat(AT_FDCWD, path, times, 0);
}

bool IsDeviceName(std::string_view) {
    return false;
}

bool RemoveFile(const char* path) {
    return path && unlink(path) == 0;
}

bool FileSize(const char* path, std::uint64_t& size) {
    if (!path) return false;
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    const bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    close(fd);
    if (ok) size = std::uint64_t(st.st_size);
    return ok;
}

std::FILE* CreateNewFile(const char* path, bool& exists) {
    exists = false;
    if (!path || !*path) return nullptr;
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        exists = errno == EEXIST;
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "wb");
    if (!file) {
        close(fd);
        unlink(path);
    }
    return file;
}

bool MoveFileOver(const char* from, const char* to) {
    if (!from || !to) return false;
    struct stat st;
    if (stat(to, &st) == 0) {
        // A file without write permission is read-only here, as on Windows.
        if (S_ISDIR(st.st_mode) || !(st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH))) return false;
        // The new content keeps the permissions the old file had.
        chmod(from, st.st_mode & 07777);
    }
    return rename(from, to) == 0;
}

OutputFile::~OutputFile() {
    Close();
}

bool OutputFile::Open(const char* path) {
    Close();
    // A new file is born without write bits (the descriptor still writes); an existing one is
    // truncated and keeps its mode until the caller changes it.
    int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0444);
    createdReadOnly_ = fd >= 0;
    if (fd < 0 && errno == EEXIST) {
        // A symbolic link standing there is replaced by the file, never written through.
        fd = open(path, O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0 && errno == ELOOP && unlink(path) == 0) {
            fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0444);
            createdReadOnly_ = fd >= 0;
        }
    }
    handle_ = fd;
    return fd >= 0;
}

bool OutputFile::Write(const void* data, std::size_t size) {
    auto bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = write(int(handle_), bytes, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        size -= std::size_t(n);
    }
    return true;
}

bool OutputFile::Close() {
    if (handle_ < 0) return true;
    const int fd = int(handle_);
    handle_ = -1;
    return close(fd) == 0;
}

} // namespace narvo::platform
