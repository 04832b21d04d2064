#include "platform/Text.h"

#include <windows.h>

namespace narvo::platform {

bool AppendAnsiChar(char32_t c, std::string& out) {
    wchar_t wide[2];
    int units = 1;
    if (c >= 0x10000) {
        wide[0] = wchar_t(0xD800 + ((c - 0x10000) >> 10));
        wide[1] = wchar_t(0xDC00 + ((c - 0x10000) & 0x3FF));
        units = 2;
    } else {
        wide[0] = wchar_t(c);
    }
    char bytes[8];
    BOOL usedDefault = FALSE;
    const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, units, bytes,
                                      sizeof bytes, nullptr, &usedDefault);
    if (n <= 0 || usedDefault) return false;
    out.append(bytes, std::size_t(n));
    return true;
}

} // namespace narvo::platform
