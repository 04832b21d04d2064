#pragma once
// The ANSI code page the core's narrow strings are in, as far as entry names need it.
#include <string>

namespace narvo::platform {

// Appends the code page's bytes for one Unicode character and returns true; false, appending
// nothing, when the code page cannot hold it exactly (no best-fit look-alikes). The POSIX build's
// code page is UTF-8, which holds every character.
bool AppendAnsiChar(char32_t c, std::string& out);

} // namespace narvo::platform
