#include "host/ProgressProbe.h"

#include <commctrl.h>

#include "com/Dispatch.h"
#include "control/ControlResources.h"
#include "host/HostSupport.h"

using narvo::SetBool;
using narvo::SetNull;
using narvo::SetNumber;
using narvo::SetText;

namespace host {
namespace {

// The progress box of this thread: a dialog holding the progress bar.
BOOL CALLBACK MatchProgressBox(HWND hwnd, LPARAM found) {
    if (ClassOf(hwnd) != L"#32770" ||
        _wcsicmp(ClassOf(GetDlgItem(hwnd, IDC_PROGRESS_BAR)).c_str(), PROGRESS_CLASSW) != 0)
        return TRUE;
    *reinterpret_cast<HWND*>(found) = hwnd;
    return FALSE;
}

} // namespace

HWND FindProgressBox() {
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), MatchProgressBox, reinterpret_cast<LPARAM>(&found));
    return found;
}

void ProgressBoxField(const std::wstring& what, VARIANT* result) {
    HWND box = FindProgressBox();
    SetNull(result);
    if (!box) return;
    HWND bar = GetDlgItem(box, IDC_PROGRESS_BAR);
    if (what == L"message") {
        SetText(result, TextOf(GetDlgItem(box, IDC_PROGRESS_MESSAGE)));
    } else if (what == L"percent") {
        SetText(result, TextOf(GetDlgItem(box, IDC_PROGRESS_PERCENT)));
    } else if (what == L"bar") {
        SetNumber(result, long(SendMessageW(bar, PBM_GETPOS, 0, 0)));
    } else if (what == L"range") {
        PBRANGE range{};
        SendMessageW(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
        SetText(result, std::to_wstring(range.iLow) + L"-" + std::to_wstring(range.iHigh));
    } else if (what == L"visible") {
        SetBool(result, IsWindowVisible(box));
    } else if (what == L"style") {
        SetNumber(result, long(GetWindowLongW(box, GWL_STYLE)));
    } else if (what == L"rect") {
        RECT bounds{};
        GetWindowRect(box, &bounds);
        SetText(result, RectText(bounds));
    } else if (what == L"picture") {
        HBITMAP picture = reinterpret_cast<HBITMAP>(
            SendDlgItemMessageW(box, IDC_PROGRESS_PICTURE, STM_GETIMAGE, IMAGE_BITMAP, 0));
        BITMAP info{};
        const bool found = picture && GetObjectW(picture, sizeof info, &info);
        Answer(result, found,
               std::to_wstring(info.bmWidth) + L"x" + std::to_wstring(info.bmHeight));
    } else if (what == L"close") {
        // Alt+F4 as keyboard input to the box, as a user would close it.
        SetForegroundWindow(box);
        INPUT keys[4] = {};
        const WORD codes[4] = {VK_MENU, VK_F4, VK_F4, VK_MENU};
        for (int i = 0; i < 4; ++i) {
            keys[i].type = INPUT_KEYBOARD;
            keys[i].ki.wVk = codes[i];
            keys[i].ki.dwFlags = i < 2 ? 0 : KEYEVENTF_KEYUP;
        }
        SetNumber(result, long(SendInput(4, keys, sizeof(INPUT))));
        PumpMessages(0);
    }
}

} // namespace host
