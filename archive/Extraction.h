#pragma once
// The extraction engine: writes archive entries flat into a folder, read-only, with their stored
// times, decoding and verifying each entry itself.
#include "archive/ZipArchive.h"

#include <cstdint>
#include <string_view>

namespace narvo {

// Writes the entry at the archive's current position into destFolder under its base name (the
// part of its stored name after the last '/' or '\'). destFolder is put directly in front of the
// base name, so it should end with a separator. Folder entries produce nothing and give 0.
// Returns 0 or the archive result code: -1 when the target cannot be created or written, -3 when
// the data are corrupt, end early or run past the stored size (writing stops there), -105 when
// the data decode whole but their size or CRC-32 differ from the stored ones (the file stays
// complete), -103 before anything is written for an encrypted entry, a compression method this
// build does not decode, or records that point outside the archive.
int ExtractCurrentEntry(ZipReader& archive, const char* destFolder);

// Opens archivePath, finds entryName (ASCII letters compared without regard to case) and extracts
// it with ExtractCurrentEntry. -103 when the archive cannot be opened, -100 when no entry has the
// name.
int ExtractNamedEntry(const char* archivePath, const char* entryName, const char* destFolder);

// Gives a file the DOS date (high 16 bits) and time (low 16 bits) as its last-write time (and
// creation time where kept). Out-of-range fields leave the file's times as they were.
void SetFileTimeFromDos(const char* path, std::uint32_t dosDateTime);

// The part of a stored entry name after its last '/' or '\'; empty for a folder entry.
std::string_view EntryBaseName(std::string_view storedName);

} // namespace narvo
