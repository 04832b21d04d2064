#pragma once
// Handing a file to the desktop: running a program, finding the program a file type opens with,
// showing a folder in the file manager. None of these wait for the started program.
#include <string>
#include <string_view>

namespace narvo::platform {

// Asks the desktop to open path: an "exe" (in any letter case) is run directly, otherwise the
// associated program gets the path, and when there is none (or it cannot start) the path's
// folder is shown. The core launches only through this (Shell.cpp); the steps below are what
// each platform provides.
void LaunchFile(const std::string& path);
bool IsExecutableName(std::string_view path);

// Runs an executable file directly.
void RunExecutable(const char* path);

// The program associated with the file's type; false when there is none or the file is missing.
bool FindAssociatedProgram(const char* path, std::string& program);

// Starts program with the file as its one argument; false when it cannot be started.
bool OpenWithProgram(const std::string& program, const char* path);

// Shows a folder in the file manager.
void ExploreFolder(const char* folder);

} // namespace narvo::platform
