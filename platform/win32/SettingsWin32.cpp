#include "platform/Settings.h"

#include <windows.h>
#include <shlobj.h>

#include <cstring>

namespace narvo::platform {
namespace {

// HKEY_CURRENT_USER holds the product's settings under this key, read and written as narrow text.
constexpr char kSettingsKey[] = "SOFTWARE\\Veltrix\\Narvo";
constexpr DWORD kLargestValue = 1024;

} // namespace

bool ReadUserSetting(const char* name, std::string& value) {
    value.clear();
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    // One byte beyond the largest value, so a stored text without its terminator still ends.
    char buffer[kLargestValue + 1] = {};
    DWORD type = 0, size = kLargestValue;
    const LONG status =
        RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) return false;
    value.assign(buffer, strnlen(buffer, size));
    return true;
}

bool WriteUserSetting(const char* name, const std::string& value) {
    HKEY key = nullptr;
    char noClass[] = "";
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, noClass, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG status =
        RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       DWORD(value.size() + 1));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool UserDocumentsFolder(std::string& path) {
    char folder[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathA(nullptr, folder, CSIDL_PERSONAL, TRUE)) return false;
    path = folder;
    return true;
}

const char* LastResortFolder() {
    return "c:\\";
}

} // namespace narvo::platform
