#pragma once
// What the container's parts share: UTF-8 output lines, a window's class and text, a message pump,
// the answers of the `host` members.
#include <windows.h>
#include <oaidl.h>

#include <string>

#include "com/Dispatch.h"

namespace host {

inline std::string Utf8(const wchar_t* text, size_t length) {
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text, int(length), nullptr, 0, nullptr, nullptr);
    std::string result(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, int(length), result.data(), size, nullptr, nullptr);
    return result;
}

inline std::string Utf8(const std::wstring& text) {
    return Utf8(text.data(), text.size());
}

// "" for no window.
inline std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    return window && GetClassNameW(window, name, 256) ? name : L"";
}

inline std::wstring TextOf(HWND window) {
    const int length = window ? GetWindowTextLengthW(window) : 0;
    std::wstring text(length + 1, L'\0');
    if (length > 0)
        text.resize(GetWindowTextW(window, text.data(), length + 1));
    else
        text.clear();
    return text;
}

// Unbuffered: a test reading the output sees each line at once.
inline void WriteLine(DWORD handle, const std::string& line) {
    const std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(handle), text.data(), DWORD(text.size()), &written, nullptr);
}

// Keeps the user interface alive: dispatches whatever is pending, for at least ms milliseconds.
inline void PumpMessages(DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        const ULONGLONG now = GetTickCount64();
        if (now >= end) return;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, DWORD(end - now), QS_ALLINPUT);
    }
}

// A line on standard error, "narvo-host: " first.
inline void Fail(const std::string& message) {
    WriteLine(STD_ERROR_HANDLE, "narvo-host: " + message);
}

inline std::wstring RectText(const RECT& r) {
    return std::to_wstring(r.left) + L"," + std::to_wstring(r.top) + L"," +
           std::to_wstring(r.right) + L"," + std::to_wstring(r.bottom);
}

// A member's answer, or null when there is none.
inline void Answer(VARIANT* result, bool found, const std::wstring& text) {
    if (found)
        narvo::SetText(result, text);
    else
        narvo::SetNull(result);
}

inline void Answer(VARIANT* result, bool found, long number) {
    if (found)
        narvo::SetNumber(result, number);
    else
        narvo::SetNull(result);
}

} // namespace host
