#pragma once
// Opening a listed entry: it is extracted into a work folder beside the archive (with its
// companion entries) and handed to the program its type opens with.
#include "archive/ArchiveListing.h"

#include <string>
#include <string_view>

namespace narvo {

// The folder "source" beside the archive, ending with the platform's separator: for
// C:\docs\a.zip it is C:\docs\source\, for a bare file name the relative folder source\.
std::string WorkFolderFor(std::string_view archivePath);

// False for a stored name that would lead outside the folder it is opened in: a ".." part, a
// drive or root prefix, a name starting with a separator, a part naming a device (Windows' NUL,
// COM1 and the like).
bool IsContainedEntryName(std::string_view name);

// Makes sure the entry's file is in folder (which ends with a separator): present already with
// the entry's CRC-32, or extracted from archivePath now. 0 on success, 1 on failure.
int PrepareEntry(const ArchiveRow& row, const std::string& folder, const char* archivePath);

// Opens row of listing, whose archive was shown from currentArchivePath: prepares it and its
// companion entries (stored under "<stem>.files/") in the work folder and launches it. False when
// the entry could not be prepared; nothing is launched then and the caller tells the user.
bool OpenEntry(const CArchiveListing& listing, std::string_view currentArchivePath,
               const ArchiveRow& row);

} // namespace narvo
