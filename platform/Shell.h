#pragma once
// Handing a file to the desktop: running a program, finding the program a file type opens with,
// showing a folder in the file manager. None of these wait for the started program.
#include <string>

namespace narvo::platform {

// Runs an executable file directly.
void RunExecutable(const char* path);

// The program associated with the file's type; false when there is none or the file is missing.
bool FindAssociatedProgram(const char* path, std::string& program);

// Starts program with the file as its one argument; false when it cannot be started.
bool OpenWithProgram(const std::string& program, const char* path);

// Shows a folder in the file manager.
void ExploreFolder(const char* folder);

} // namespace narvo::platform
