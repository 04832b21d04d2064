#include "platform/Shell.h"

#include <cstdlib>
#include <spawn.h>
#include <string_view>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace narvo::platform {

namespace {

// Starts program with one argument in the background through a shell that exits at once, so the
// started program is never left as our child to reap.
bool StartDetached(const char* program, const char* argument) {
    const char* argv[] = {"/bin/sh", "-c", "\"$0\" \"$1\" </dev/null >/dev/null 2>&1 &",
                          program, argument, nullptr};
    pid_t pid;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
        return false;
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The freedesktop opener, which knows every type's associated program.
bool FindOpener(std::string& opener) {
    const char* path = std::getenv("PATH");
    std::string_view dirs = path ? path : "/usr/bin:/bin";
    while (!dirs.empty()) {
        const auto colon = dirs.find(':');
        std::string candidate(dirs.substr(0, colon));
        candidate += "/xdg-open";
        if (access(candidate.c_str(), X_OK) == 0) {
            opener = candidate;
            return true;
        }
        if (colon == std::string_view::npos) break;
        dirs.remove_prefix(colon + 1);
    }
    return false;
}

} // namespace

void RunExecutable(const char* path) {
    const char* argv[] = {"/bin/sh", "-c", "\"$0\" </dev/null >/dev/null 2>&1 &", path, nullptr};
    pid_t pid;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) == 0)
        waitpid(pid, nullptr, 0);
}

bool FindAssociatedProgram(const char* path, std::string& program) {
    struct stat st;
    return path && stat(path, &st) == 0 && S_ISREG(st.st_mode) && FindOpener(program);
}

bool OpenWithProgram(const std::string& program, const char* path) {
    return StartDetached(program.c_str(), path);
}

void ExploreFolder(const char* folder) {
    std::string opener;
    if (folder && FindOpener(opener)) StartDetached(opener.c_str(), folder);
}

} // namespace narvo::platform
