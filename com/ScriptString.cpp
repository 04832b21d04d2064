#include "com/ScriptString.h"

namespace narvo {

std::string NarrowFromWide(std::wstring_view text, UINT codePage) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string result(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), result.data(), size,
                            nullptr, nullptr);
    return result;
}

std::wstring WideFromNarrow(std::string_view text, UINT codePage) {
    if (text.empty()) return {};
    const int size = MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring result(size > 0 ? size : 0, L'\0');
    if (size > 0)
        MultiByteToWideChar(codePage, 0, text.data(), int(text.size()), result.data(), size);
    return result;
}

std::string NarrowFromScript(BSTR text) {
    return text ? NarrowFromWide(std::wstring_view(text, SysStringLen(text))) : std::string();
}

BSTR ScriptFromNarrow(std::string_view text) {
    const std::wstring wide = WideFromNarrow(text);
    return SysAllocStringLen(wide.data(), UINT(wide.size()));
}

} // namespace narvo
