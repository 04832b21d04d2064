#pragma once
// Entry names as the rest of the system uses them: in the ANSI code page, decoded once where the
// directory is read.
#include <string>
#include <string_view>

namespace narvo {

// Rewrites a stored name that is UTF-8 into the ANSI code page: a name with the UTF-8 flag (bit
// 11) or any other name that is valid UTF-8 with multi-byte characters, and a name whose Info-ZIP
// Unicode Path field (0x7075 in extra) carries the CRC-32 of the stored name (the field's name is
// taken). The text is composed to NFC as far as Hangul and Latin letters with one mark go; a
// character the code page cannot hold becomes "_u" and its code point in hexadecimal
// ("_uE9" style, at least four digits). Any other name stays byte for byte. True when rewritten.
bool DecodeEntryName(std::string& name, std::string_view extra);

} // namespace narvo

namespace narvo {

// False for a base name Windows would not keep as a file of that name, checked on both builds so
// that an archive behaves the same everywhere: a device name (CON, PRN, AUX, NUL, COM0-COM9,
// LPT0-LPT9, COM and LPT with a superscript 1-3, CONIN$, CONOUT$; any letter case, whatever
// follows its first dot, trailing spaces ignored), a name ending in a dot or a space, or a name
// holding a control character or one of : < > " | ? * (':' would open an alternate data stream).
bool IsWritableBaseName(std::string_view baseName);

} // namespace narvo
