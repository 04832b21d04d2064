#pragma once
// The transfers' modeless progress box. The control owns one for its whole life; the box has a
// window only while a transfer shows it.
#include <windows.h>

namespace narvo {

class CProgressBox {
public:
    CProgressBox() = default;
    ~CProgressBox() { DestroyBox(); }
    CProgressBox(const CProgressBox&) = delete;
    CProgressBox& operator=(const CProgressBox&) = delete;

    bool HasWindow() const { return hwnd_ && IsWindow(hwnd_); }
    void DestroyBox() {
        if (HasWindow()) DestroyWindow(hwnd_);
        hwnd_ = nullptr;
    }

private:
    HWND hwnd_ = nullptr;
};

} // namespace narvo
