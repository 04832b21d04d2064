#include "platform/FileSystem.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace narvo::platform {

char PathSeparator() { return '/'; }

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

bool CreateFolder(const char* path) { return path && *path && mkdir(path, 0777) == 0; }

bool SetAttributes(const char* path, FileAttributes attributes) {
    struct stat st;
    if (!path || stat(path, &st) != 0) return false;
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
    std::tm tm{};
    tm.tm_year = int((date >> 9) & 0x7F) + 80;
    tm.tm_mon = int((date >> 5) & 0x0F) - 1;
    tm.tm_mday = int(date & 0x1F);
    tm.tm_hour = int((time >> 11) & 0x1F);
    tm.tm_min = int((time >> 5) & 0x3F);
    tm.tm_sec = int(time & 0x1F) * 2;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    if (t == std::time_t(-1)) return;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT; // keep the last-access time
    times[1].tv_sec = t;
    times[1].tv_nsec = 0;
    utimensat(AT_FDCWD, path, times, 0);
}

bool RemoveFile(const char* path) { return path && unlink(path) == 0; }

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

std::FILE* CreateSiblingFile(const char* path, std::string& created) {
    if (!path || !*path) return nullptr;
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        const unsigned mix =
            unsigned(getpid()) * 2654435761u ^ unsigned(std::time(nullptr)) ^ counter++ * 40503u;
        std::snprintf(suffix, sizeof suffix, ".~%06x", mix & 0xFFFFFF);
        std::string name = std::string(path) + suffix;
        const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return nullptr;
        }
        std::FILE* file = fdopen(fd, "wb");
        if (!file) {
            close(fd);
            unlink(name.c_str());
            return nullptr;
        }
        created = std::move(name);
        return file;
    }
    return nullptr;
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

} // namespace narvo::platform
