#include "platform/FileSystem.h"

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

} // namespace narvo::platform
