#pragma once
// The per-user settings store and the user's documents folder.
#include <string>

namespace narvo::platform {

// Reads a per-user text setting of the product. False when it is missing, cannot be read, is not
// plain text, or does not fit in 1024 bytes with its terminator; value is then empty.
bool ReadUserSetting(const char* name, std::string& value);

// Stores a per-user text setting, creating the product's settings on demand; false on failure.
bool WriteUserSetting(const char* name, const std::string& value);

// The current user's documents folder, created when missing; false when the system cannot say.
bool UserDocumentsFolder(std::string& path);

// The folder offered when the system knows no documents folder at all.
const char* LastResortFolder();

} // namespace narvo::platform
