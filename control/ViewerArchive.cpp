// The archive view of CViewer: ViewArchive fills the list from the listing, a double-click opens
// the selected row. The work itself (listing, filter, entry opening) is the core's.
#include "control/Viewer.h"

#include <commctrl.h>

#include <new>

#include "archive/EntryOpening.h"
#include "com/ScriptString.h"

namespace narvo {
namespace {

// The two things that can go wrong for the user here. Shown as wide text, so they read right
// whatever the system's ANSI code page is.
constexpr wchar_t kInvalidFormatText[] = L"잘못된 파일 형식입니다";
constexpr wchar_t kCannotCreateText[] = L"임시 파일을 생성할 수 없습니다";

void SetItemText(HWND list, int item, int column, const char* text) {
    LVITEMA sub{};
    sub.iSubItem = column;
    sub.pszText = const_cast<char*>(text);
    SendMessageA(list, LVM_SETITEMTEXTA, WPARAM(item), reinterpret_cast<LPARAM>(&sub));
}

} // namespace

STDMETHODIMP CViewer::ViewArchive(BSTR format, BSTR fileName, LONG, LONG* ret) {
    if (!ret) return E_POINTER;
    if (!IsZipFormat(NarrowFromScript(format))) {
        // Nothing is touched: the list keeps what it showed.
        *ret = kUnsupportedFormat;
        return S_OK;
    }
    // Emptied before the archive is read, so that a failed call leaves no stale rows (whose
    // items would point into the listing about to be replaced).
    if (listView_) SendMessageA(listView_, LVM_DELETEALLITEMS, 0, 0);
    int result;
    try {
        const std::string path = NarrowFromScript(fileName);
        result = listing_.LoadListing(path.c_str());
        if (result == 0) archivePath_ = path;
    } catch (const std::bad_alloc&) {
        listing_.Clear();
        return E_OUTOFMEMORY;
    }
    if (result != 0) {
        ShowWarning(kInvalidFormatText);
        *ret = result;
        return S_OK;
    }
    try {
        FillArchiveList();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    *ret = 0;
    return S_OK;
}

void CViewer::FillArchiveList() {
    // Without a list window there is nothing to fill, and no icon to keep for it.
    if (!listView_) return;
    SendMessageA(listView_, WM_SETREDRAW, FALSE, 0);
    int shown = 0;
    for (const ArchiveRow& row : listing_.rows()) {
        // Hidden rows are looked up too: the cache then knows every type of the archive.
        const FileTypeEntry* type = nullptr;
        if (const auto extension = EntryExtension(row.name))
            type = &fileTypeCache_.Lookup(*extension);
        if (!IsRowListed(row.name, currentFilter_.get())) continue;

        LVITEMA item{};
        item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
        item.iItem = shown;
        item.pszText = const_cast<char*>(row.name.c_str());
        item.iImage = type ? type->imageIndex : 0;
        // The item carries its row; the list is emptied before the listing changes.
        item.lParam = reinterpret_cast<LPARAM>(&row);
        SendMessageA(listView_, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
        SetItemText(listView_, shown, 1, type ? type->typeName.c_str() : "");
        SetItemText(listView_, shown, 2, FormatSizeText(row.size).c_str());
        ++shown;
    }
    SendMessageA(listView_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(listView_, nullptr, TRUE);
}

void CViewer::OnListDoubleClick() {
    // The selected row is opened, wherever in the list the double-click landed.
    if (!listView_) return;
    const int selected = int(SendMessageA(listView_, LVM_GETNEXTITEM, WPARAM(-1), LVNI_SELECTED));
    if (selected < 0) return;
    LVITEMA item{};
    item.mask = LVIF_PARAM;
    item.iItem = selected;
    if (!SendMessageA(listView_, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)) || !item.lParam)
        return;
    bool opened = false;
    try {
        // A copy: launching may run a message loop in which script can replace the listing.
        const ArchiveRow row = *reinterpret_cast<const ArchiveRow*>(item.lParam);
        opened = OpenEntry(listing_, archivePath_, row);
    } catch (const std::bad_alloc&) {
        // Reported like any other failure to make the file.
    }
    if (!opened) ShowWarning(kCannotCreateText);
}

void CViewer::ShowWarning(const wchar_t* text) const {
    HWND owner = ControlWindow();
    if (!owner) owner = SiteWindow();
    MessageBoxW(owner, text, L"", MB_OK | MB_ICONEXCLAMATION);
}

} // namespace narvo
