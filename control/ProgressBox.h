#pragma once
// The transfers' modeless progress box: a message line, a picture, a per-mille bar and a
// whole-percent label. The control owns one for its whole life; the box has a window only while
// a transfer shows it.
#include <windows.h>

#include <cstdint>

#include "control/ProgressMeter.h"

namespace narvo {

class CProgressBox {
public:
    CProgressBox() = default;
    ~CProgressBox() { DestroyBox(); }
    CProgressBox(const CProgressBox&) = delete;
    CProgressBox& operator=(const CProgressBox&) = delete;

    // Creates the box, a top-level window of its own, with message in its message line (null
    // leaves the line empty), centres it in the work area and shows it. False when the window
    // cannot be made.
    bool Show(const char* message);
    bool HasWindow() const { return hwnd_ != nullptr; }
    void DestroyBox();

    // Moves the bar to done/total and, when the whole percent changed, rewrites the label.
    void SetProgress(std::int32_t total, std::int32_t done);

private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    void CenterInWorkArea();

    HWND hwnd_ = nullptr;
    const char* pendingMessage_ = nullptr; // handed to WM_INITDIALOG
    ProgressMeter meter_;
};

// The progress callback the control gives both transfers (context: its CProgressBox). Lets the
// thread's waiting messages run first, so the page stays alive while a transfer blocks it.
void TransferProgress(std::int32_t total, std::int32_t done, void* context);

} // namespace narvo
