#include "host/OtherProcess.h"

#include "host/HostSupport.h"

namespace host {

namespace {

BOOL CALLBACK MatchWindow(HWND window, LPARAM searchAddress) {
    auto& search = *reinterpret_cast<WindowSearch*>(searchAddress);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t title[512] = {};
    if (pid == GetCurrentProcessId() || !IsWindowVisible(window) ||
        !GetWindowTextW(window, title, 512) || !wcsstr(title, search.text.c_str()))
        return TRUE;
    search.pid = pid;
    search.title = title;
    return FALSE;
}

} // namespace

WindowSearch FindWindowOfOtherProcess(const std::wstring& text, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    WindowSearch search;
    search.text = text;
    for (;;) {
        EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.pid || GetTickCount64() >= end) return search;
        PumpMessages(50);
    }
}

namespace {

BOOL CALLBACK CloseWindowOf(HWND window, LPARAM pid) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == DWORD(pid) && IsWindowVisible(window)) PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

} // namespace

// Asks the process's windows to close, as a person would, so that it leaves nothing behind
// (the file manager answers later requests through a registration of its own); a process that
// is still there after a while is terminated.
bool EndProcess(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (!process) return false;
    EnumWindows(CloseWindowOf, LPARAM(pid));
    bool ended = false;
    for (int waited = 0; !ended && waited < 5000; waited += 50) {
        PumpMessages(0);
        ended = WaitForSingleObject(process, 50) == WAIT_OBJECT_0;
    }
    if (!ended)
        ended = TerminateProcess(process, 1) && WaitForSingleObject(process, 5000) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

} // namespace host
