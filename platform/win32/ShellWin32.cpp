#include "platform/Shell.h"

#include <windows.h>
#include <shellapi.h>

namespace narvo::platform {

namespace {
// ShellExecuteA and FindExecutableA report success as a value above 32.
bool Succeeded(HINSTANCE result) {
    return reinterpret_cast<INT_PTR>(result) > 32;
}
} // namespace

void RunExecutable(const char* path) {
    ShellExecuteA(nullptr, nullptr, path, nullptr, nullptr, SW_SHOWNORMAL);
}

bool FindAssociatedProgram(const char* path, std::string& program) {
    // Not every FindExecutableA fails for a missing file (Wine's finds the type's program all the
    // same); a file that is not there has no program to open it.
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    char found[1024] = "";
    if (!Succeeded(FindExecutableA(path, nullptr, found))) return false;
    program = found;
    return true;
}

bool OpenWithProgram(const std::string& program, const char* path) {
    const std::string quoted = std::string("\"") + path + "\"";
    return Succeeded(
        ShellExecuteA(nullptr, "open", program.c_str(), quoted.c_str(), nullptr, SW_SHOWNORMAL));
}

void ExploreFolder(const char* folder) {
    ShellExecuteA(nullptr, "explore", folder, nullptr, nullptr, SW_SHOWNORMAL);
}

} // namespace narvo::platform
