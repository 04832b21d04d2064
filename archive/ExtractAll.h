#pragma once

namespace narvo {

// Extracts every entry of the archive flat into destFolder (put directly in front of each base
// name), skipping an entry when destFolder followed by its stored name holds a file with the
// entry's CRC-32. Returns 0, -102 when the archive cannot be opened, or the first failing
// entry's code; entries extracted before a failure stay on disk.
int ExtractArchive(const char* archivePath, const char* destFolder);

} // namespace narvo
