#pragma once
// Programs a launch started: found by a window title, and ended as a person would end them.
#include <windows.h>

#include <string>

namespace host {

// The process of a visible top-level window of another process whose title holds text.
struct WindowSearch {
    std::wstring text;
    DWORD pid = 0;
    std::wstring title;
};

// Waits up to timeoutMs (pumping messages) for such a window.
WindowSearch FindWindowOfOtherProcess(const std::wstring& text, DWORD timeoutMs);
// Asks the process's windows to close, waits, and terminates it when it is still there.
bool EndProcess(DWORD pid);

} // namespace host
