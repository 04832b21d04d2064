#include "control/ProgressBox.h"

#include <commctrl.h>

#include <cstdio>

#include "com/ComModule.h"
#include "control/ControlResources.h"

namespace narvo {
namespace {

// The bar counts in per mille.
constexpr LPARAM kBarRange = MAKELPARAM(0, 1000);

// Runs the messages waiting for this thread. A quit request is put back and ends the round: the
// host's own message loop has to see it once the transfer is over.
void RunWaitingMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(int(msg.wParam));
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

} // namespace

bool CProgressBox::Show(const char* message) {
    InitCommonControls();
    pendingMessage_ = message;
    // No owner: the box stands on its own, whatever happens to the page's windows meanwhile.
    CreateDialogParamA(ComModule::Instance(), MAKEINTRESOURCEA(IDD_PROGRESS), nullptr, DialogProc,
                       reinterpret_cast<LPARAM>(this));
    pendingMessage_ = nullptr;
    if (!hwnd_) return false;
    CenterInWorkArea();
    ShowWindow(hwnd_, SW_SHOW);
    return true;
}

void CProgressBox::DestroyBox() {
    if (hwnd_) DestroyWindow(hwnd_);
    hwnd_ = nullptr;
}

void CProgressBox::CenterInWorkArea() {
    RECT work{}, box{};
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0) || !GetWindowRect(hwnd_, &box)) return;
    const int width = box.right - box.left, height = box.bottom - box.top;
    // Centred, then pushed back inside where the box is larger than the room left.
    int x = work.left + (work.right - work.left - width) / 2;
    int y = work.top + (work.bottom - work.top - height) / 2;
    if (x + width > work.right) x = work.right - width;
    if (y + height > work.bottom) y = work.bottom - height;
    if (x < work.left) x = work.left;
    if (y < work.top) y = work.top;
    SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CProgressBox::SetProgress(std::int32_t total, std::int32_t done) {
    // The meter moves on even without a window (a nested transfer may have closed it), so the
    // next box labels relative to what was shown last.
    const ProgressStep step = meter_.Report(total, done);
    if (!hwnd_) return;
    HWND bar = GetDlgItem(hwnd_, IDC_PROGRESS_BAR);
    SendMessageA(bar, PBM_SETPOS, step.position, 0);
    if (step.relabel) {
        char text[16];
        std::snprintf(text, sizeof text, "%d %%", step.percent);
        SetDlgItemTextA(hwnd_, IDC_PROGRESS_PERCENT, text);
    }
    // The thread does not return to its message loop before the transfer ends: paint now.
    UpdateWindow(bar);
}

INT_PTR CALLBACK CProgressBox::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto* box = reinterpret_cast<CProgressBox*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    switch (msg) {
    case WM_INITDIALOG:
        box = reinterpret_cast<CProgressBox*>(lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        box->hwnd_ = hwnd;
        SendDlgItemMessageA(hwnd, IDC_PROGRESS_BAR, PBM_SETRANGE, 0, kBarRange);
        if (box->pendingMessage_) SetDlgItemTextA(hwnd, IDC_PROGRESS_MESSAGE, box->pendingMessage_);
        return TRUE;
    case WM_COMMAND:
        // The box has no buttons: these come from the dialog manager, for instance when the
        // user closes the box from the keyboard. It leaves the screen; the transfer goes on.
        if (HIWORD(wParam) == 0 && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
            EndDialog(hwnd, LOWORD(wParam));
            return TRUE;
        }
        return LOWORD(wParam) == IDC_PROGRESS_MESSAGE && HIWORD(wParam) == 0;
    case WM_DESTROY:
        // The picture the template had the static control load is taken back and freed here:
        // Wine's static control never frees a bitmap it loaded (a bitmap lost with every box),
        // and one taken out of the control is no longer the control's to free anywhere.
        if (HGDIOBJ picture = reinterpret_cast<HGDIOBJ>(
                SendDlgItemMessageA(hwnd, IDC_PROGRESS_PICTURE, STM_SETIMAGE, IMAGE_BITMAP, 0)))
            DeleteObject(picture);
        return FALSE;
    case WM_NCDESTROY:
        if (box) box->hwnd_ = nullptr;
        return FALSE;
    default:
        return FALSE;
    }
}

void TransferProgress(std::int32_t total, std::int32_t done, void* context) {
    RunWaitingMessages();
    static_cast<CProgressBox*>(context)->SetProgress(total, done);
}

} // namespace narvo
