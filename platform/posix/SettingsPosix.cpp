#include "platform/Settings.h"

#include "platform/FileSystem.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace narvo::platform {
namespace {

constexpr std::size_t kLargestValue = 1024;

std::string Home() {
    const char* home = std::getenv("HOME");
    return home && *home ? home : "";
}

// Settings live as one small file per name under the XDG configuration folder.
std::string SettingsFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && *config == '/') return std::string(config) + "/narvo";
    const std::string home = Home();
    return home.empty() ? "" : home + "/.config/narvo";
}

bool MakeFolders(const std::string& path) {
    return CreateDirectoryPath(path.c_str(), FolderAccess::Private) == 1;
}

} // namespace

bool ReadUserSetting(const char* name, std::string& value) {
    value.clear();
    const std::string folder = SettingsFolder();
    if (folder.empty()) return false;
    std::FILE* file = std::fopen((folder + "/" + name).c_str(), "rb");
    if (!file) return false;
    char buffer[kLargestValue + 1];
    const std::size_t size = std::fread(buffer, 1, sizeof buffer, file);
    const bool ok = !std::ferror(file) && size < kLargestValue;
    std::fclose(file);
    if (!ok) return false;
    value.assign(buffer, size);
    // Like a registry text, the value ends at its first NUL.
    value.resize(value.find('\0') == std::string::npos ? value.size() : value.find('\0'));
    return true;
}

bool WriteUserSetting(const char* name, const std::string& value) {
    const std::string folder = SettingsFolder();
    if (folder.empty() || !MakeFolders(folder)) return false;
    std::FILE* file = std::fopen((folder + "/" + name).c_str(), "wb");
    if (!file) return false;
    const bool written = std::fwrite(value.data(), 1, value.size(), file) == value.size();
    return std::fclose(file) == 0 && written;
}

bool UserDocumentsFolder(std::string& path) {
    const std::string home = Home();
    if (home.empty()) return false;
    path = home + "/Documents";
    return MakeFolders(path);
}

const char* LastResortFolder() {
    return "/";
}

} // namespace narvo::platform
