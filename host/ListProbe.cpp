#include "host/ListProbe.h"

#include <commctrl.h>

#include "host/HostSupport.h"

namespace host {
namespace {

// Longest time the container waits for its own input to be handled.
constexpr ULONGLONG kInputWaitMs = 5000;

INPUT MouseInput(DWORD flags, POINT screen) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    // Absolute positions run from 0 to 65535 across the primary screen.
    const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    input.mi.dx = LONG((LONGLONG(screen.x) * 65536 + width - 1) / width);
    input.mi.dy = LONG((LONGLONG(screen.y) * 65536 + height - 1) / height);
    input.mi.dwFlags = flags | MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    return input;
}

} // namespace

int ListRowCount(HWND list) {
    return list ? int(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0)) : 0;
}

bool ListCell(HWND list, int row, int column, std::wstring& text) {
    if (!list || column < 0) return false;
    wchar_t buffer[1024] = {};
    if (row == -1) {
        LVCOLUMNW header{};
        header.mask = LVCF_TEXT;
        header.pszText = buffer;
        header.cchTextMax = 1023;
        if (!SendMessageW(list, LVM_GETCOLUMNW, WPARAM(column), reinterpret_cast<LPARAM>(&header)))
            return false;
    } else {
        HWND header = reinterpret_cast<HWND>(SendMessageW(list, LVM_GETHEADER, 0, 0));
        if (row < 0 || row >= ListRowCount(list) ||
            column >= int(SendMessageW(header, HDM_GETITEMCOUNT, 0, 0)))
            return false;
        LVITEMW item{};
        item.iSubItem = column;
        item.pszText = buffer;
        item.cchTextMax = 1023;
        SendMessageW(list, LVM_GETITEMTEXTW, WPARAM(row), reinterpret_cast<LPARAM>(&item));
    }
    text = buffer;
    return true;
}

bool ListImage(HWND list, int row, int& image) {
    if (!list || row < 0 || row >= ListRowCount(list)) return false;
    LVITEMW item{};
    item.mask = LVIF_IMAGE;
    item.iItem = row;
    if (!SendMessageW(list, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item))) return false;
    image = item.iImage;
    return true;
}

int ListSelection(HWND list) {
    return list ? int(SendMessageW(list, LVM_GETNEXTITEM, WPARAM(-1), LVNI_SELECTED)) : -1;
}

bool ImageListInfo(HWND list, const std::wstring& field, long& value) {
    HIMAGELIST images =
        list ? reinterpret_cast<HIMAGELIST>(SendMessageW(list, LVM_GETIMAGELIST, LVSIL_SMALL, 0))
             : nullptr;
    if (!images) return false;
    int width = 0, height = 0;
    ImageList_GetIconSize(images, &width, &height);
    IMAGEINFO info{};
    BITMAP bitmap{};
    const bool hasImage = ImageList_GetImageInfo(images, 0, &info) &&
                          GetObjectW(info.hbmImage, sizeof bitmap, &bitmap);
    if (_wcsicmp(field.c_str(), L"count") == 0)
        value = ImageList_GetImageCount(images);
    else if (_wcsicmp(field.c_str(), L"width") == 0)
        value = width;
    else if (_wcsicmp(field.c_str(), L"height") == 0)
        value = height;
    else if (_wcsicmp(field.c_str(), L"bits") == 0 && hasImage)
        value = bitmap.bmBitsPixel;
    else if (_wcsicmp(field.c_str(), L"masked") == 0 && hasImage)
        value = info.hbmMask ? 1 : 0;
    else
        return false;
    return true;
}

bool DoubleClickRow(HWND list, int row) {
    if (!list) return false;
    const int count = ListRowCount(list);
    POINT point{};
    if (row >= 0) {
        if (row >= count) return false;
        SendMessageW(list, LVM_ENSUREVISIBLE, WPARAM(row), FALSE);
        LVITEMW state{};
        state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
        SendMessageW(list, LVM_SETITEMSTATE, WPARAM(row), reinterpret_cast<LPARAM>(&state));
        RECT label{};
        label.left = LVIR_LABEL;
        if (!SendMessageW(list, LVM_GETITEMRECT, WPARAM(row), reinterpret_cast<LPARAM>(&label)))
            return false;
        point = {label.left + (label.right - label.left) / 4, (label.top + label.bottom) / 2};
    } else {
        RECT client{}, last{};
        GetClientRect(list, &client);
        last.left = LVIR_BOUNDS;
        const int lastBottom = count > 0 && SendMessageW(list, LVM_GETITEMRECT, WPARAM(count - 1),
                                                         reinterpret_cast<LPARAM>(&last))
                                   ? last.bottom
                                   : 0;
        point = {client.left + 20, client.bottom - 6};
        if (point.y <= lastBottom) return false;
    }
    ClientToScreen(list, &point);
    // Windows that launches opened may lie over the container: it comes to the top first, and
    // the input goes out only when the list is what the mouse will hit.
    HWND frame = GetAncestor(list, GA_ROOT);
    SetWindowPos(frame, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(frame);
    PumpMessages(0);
    if (WindowFromPoint(point) != list) return false;
    SetCursorPos(point.x, point.y);
    INPUT inputs[] = {MouseInput(0, point), MouseInput(MOUSEEVENTF_LEFTDOWN, point),
                      MouseInput(MOUSEEVENTF_LEFTUP, point),
                      MouseInput(MOUSEEVENTF_LEFTDOWN, point),
                      MouseInput(MOUSEEVENTF_LEFTUP, point)};
    if (SendInput(UINT(std::size(inputs)), inputs, sizeof(INPUT)) != std::size(inputs))
        return false;
    // The input arrives through the window server; handle it, and whatever modal user interface
    // the double-click starts, until none is left.
    const ULONGLONG end = GetTickCount64() + kInputWaitMs;
    PumpMessages(100);
    while (HIWORD(GetQueueStatus(QS_INPUT)) && GetTickCount64() < end)
        PumpMessages(20);
    return true;
}

} // namespace host
