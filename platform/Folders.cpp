// Folder creation along a whole path, for every layer above the platform, on both builds.
#include "platform/FileSystem.h"

namespace narvo::platform {

int CreateDirectoryPath(const char* path, FolderAccess access) {
    if (!path || !*path) return 0;
    if (PathExists(path)) return 1;
    const char separator = PathSeparator();
    std::string work(path);
    if (work.back() != separator) work += separator;
    for (auto pos = work.find(separator, PathRootLength(work)); pos != std::string::npos;
         pos = work.find(separator, pos + 1)) {
        work[pos] = '\0';
        const char* prefix = work.c_str();
        const bool ok = PathExists(prefix) || CreateFolder(prefix, access);
        work[pos] = separator;
        if (!ok) return 0;
    }
    return 1;
}

} // namespace narvo::platform
