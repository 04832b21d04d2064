#pragma once
// Script strings (BSTR) and the narrow strings the core works with, converted in the calling
// thread's ANSI code page. Characters without a mapping become the code page's default character.
#include <windows.h>
#include <oleauto.h>
#include <string>
#include <string_view>

namespace narvo {

// A null BSTR counts as empty.
std::string NarrowFromScript(BSTR text);
std::string NarrowFromWide(std::wstring_view text, UINT codePage = CP_THREAD_ACP);
std::wstring WideFromNarrow(std::string_view text, UINT codePage = CP_THREAD_ACP);
// A new BSTR the caller owns; null only when out of memory.
BSTR ScriptFromNarrow(std::string_view text);

} // namespace narvo
