#include "platform/Shell.h"

#include "platform/AsciiCase.h"
#include "platform/FileSystem.h"

namespace narvo::platform {

bool IsExecutableName(std::string_view path) {
    constexpr std::string_view kSuffix = ".exe";
    return path.size() >= kSuffix.size() &&
           AsciiEqualNoCase(path.substr(path.size() - kSuffix.size()), kSuffix);
}

void LaunchFile(const std::string& path) {
    if (IsExecutableName(path)) {
        RunExecutable(path.c_str());
        return;
    }
    std::string program;
    if (FindAssociatedProgram(path.c_str(), program) && OpenWithProgram(program, path.c_str()))
        return;
    const auto cut = path.rfind(PathSeparator());
    const std::string folder = cut == std::string::npos ? path : path.substr(0, cut + 1);
    ExploreFolder(folder.c_str());
}

} // namespace narvo::platform
