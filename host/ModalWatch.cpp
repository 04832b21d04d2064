#include "host/ModalWatch.h"

#include <commctrl.h>
#include <dlgs.h>

#include <map>
#include <optional>
#include <vector>

#include "host/HostSupport.h"
#include "host/ListProbe.h"

namespace host {
namespace {

// The static control that holds a message box's text.
constexpr int kMessageTextId = 0xFFFF;
constexpr UINT kTickMs = 50;
// An open-file dialog fills its file list after it shows: it is read once the list has held the
// same rows for a while, or at the latest after kDialogWaitMs.
constexpr ULONGLONG kDialogSettleMs = 500;
constexpr ULONGLONG kDialogWaitMs = 10000; // generous: a loaded CI machine fills lists slowly
// A dialog still open this long after its answer refused it; it is cancelled.
constexpr ULONGLONG kAnswerGraceMs = 1500;

struct FileDialogRecord {
    std::wstring title, filters, filterIndex, files, owner;
};

struct WatchedDialog {
    ULONGLONG seen = 0;     // first tick that found it
    ULONGLONG answered = 0; // when its answer was given; 0 before
    int files = -1;         // rows of its file list at the last tick
    ULONGLONG filesSince = 0;
};

UINT_PTR timer = 0;
std::map<HWND, WatchedDialog> dialogs;
std::vector<MessageBoxRecord> boxes;
std::vector<FileDialogRecord> fileDialogs;
std::optional<std::wstring> fileAnswer;

bool IsDialog(HWND window) {
    return ClassOf(window) == L"#32770";
}

void Click(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

// The owner as the window manager keeps it: the top-level window of the one asked for.
std::wstring OwnerOf(HWND window) {
    return ClassOf(GetWindow(window, GW_OWNER));
}

void HandleMessageBox(HWND box) {
    MessageBoxRecord record{TextOf(GetDlgItem(box, kMessageTextId)), TextOf(box), OwnerOf(box)};
    WriteLine(STD_OUTPUT_HANDLE, "messagebox: " + Utf8(record.text));
    boxes.push_back(std::move(record));
    Click(box, IDOK);
}

std::wstring Join(const std::vector<std::wstring>& parts) {
    std::wstring joined;
    for (size_t i = 0; i < parts.size(); ++i)
        joined += (i ? L"|" : L"") + parts[i];
    return joined;
}

BOOL CALLBACK FindList(HWND child, LPARAM found) {
    if (ClassOf(child) != WC_LISTVIEWW) return TRUE;
    *reinterpret_cast<HWND*>(found) = child;
    return FALSE;
}

HWND FileList(HWND dialog) {
    HWND files = nullptr;
    EnumChildWindows(dialog, FindList, reinterpret_cast<LPARAM>(&files));
    return files;
}

// Whether the dialog's file list has settled (the same rows for a while), so it can be read.
bool Settled(HWND dialog, WatchedDialog& watched, ULONGLONG now) {
    const int files = ListRowCount(FileList(dialog));
    if (files != watched.files) {
        watched.files = files;
        watched.filesSince = now;
    }
    return (files > 0 && now - watched.filesSince >= kDialogSettleMs) ||
           now - watched.seen >= kDialogWaitMs;
}

void ReadFileDialog(HWND dialog) {
    FileDialogRecord record;
    record.title = TextOf(dialog);
    record.owner = OwnerOf(dialog);
    HWND types = GetDlgItem(dialog, cmb1);
    std::vector<std::wstring> parts;
    const int count = int(SendMessageW(types, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        const int length = int(SendMessageW(types, CB_GETLBTEXTLEN, WPARAM(i), 0));
        std::wstring text(length > 0 ? length + 1 : 1, L'\0');
        SendMessageW(types, CB_GETLBTEXT, WPARAM(i), reinterpret_cast<LPARAM>(text.data()));
        text.resize(wcslen(text.c_str()));
        parts.push_back(text);
    }
    record.filters = Join(parts);
    record.filterIndex = std::to_wstring(int(SendMessageW(types, CB_GETCURSEL, 0, 0)));
    HWND files = FileList(dialog);
    parts.clear();
    const int rows = ListRowCount(files);
    for (int i = 0; i < rows; ++i) {
        wchar_t text[MAX_PATH] = {};
        LVITEMW item{};
        item.iSubItem = 0;
        item.pszText = text;
        item.cchTextMax = MAX_PATH;
        SendMessageW(files, LVM_GETITEMTEXTW, WPARAM(i), reinterpret_cast<LPARAM>(&item));
        parts.push_back(text);
    }
    record.files = Join(parts);
    fileDialogs.push_back(std::move(record));
}

void AnswerDialog(HWND dialog) {
    const std::wstring answer = fileAnswer.value_or(L"");
    fileAnswer.reset();
    if (answer.empty()) {
        Click(dialog, IDCANCEL);
        return;
    }
    HWND name = GetDlgItem(dialog, cmb13);
    if (!name) name = GetDlgItem(dialog, edt1);
    SetWindowTextW(name, answer.c_str());
    Click(dialog, IDOK);
}

// The tick count comes by address: an LPARAM holds only 32 bits on the 32-bit build, and the count
// passes 2^31 after 25 days of uptime.
BOOL CALLBACK VisitWindow(HWND window, LPARAM tickCount) {
    const ULONGLONG now = *reinterpret_cast<const ULONGLONG*>(tickCount);
    if (!IsWindowVisible(window) || !IsDialog(window)) return TRUE;
    WatchedDialog& watched = dialogs[window];
    if (!watched.seen) watched.seen = now;
    if (GetDlgItem(window, kMessageTextId)) {
        if (!watched.answered) HandleMessageBox(window);
        watched.answered = now;
    } else if (GetDlgItem(window, cmb1)) {
        if (!watched.answered && Settled(window, watched, now)) {
            ReadFileDialog(window);
            AnswerDialog(window);
            watched.answered = now;
        } else if (watched.answered && now - watched.answered >= kAnswerGraceMs) {
            Click(window, IDCANCEL);
            watched.answered = now;
        }
    }
    return TRUE;
}

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    // Forget windows that are gone, so a reused handle counts as a new window.
    for (auto it = dialogs.begin(); it != dialogs.end();)
        it = IsWindow(it->first) ? std::next(it) : dialogs.erase(it);
    const ULONGLONG now = GetTickCount64();
    EnumThreadWindows(GetCurrentThreadId(), VisitWindow, reinterpret_cast<LPARAM>(&now));
}

bool Field(const std::wstring& field,
           std::initializer_list<std::pair<const wchar_t*, const std::wstring*>> fields,
           std::wstring& value) {
    for (const auto& [name, text] : fields)
        if (_wcsicmp(field.c_str(), name) == 0) {
            value = *text;
            return true;
        }
    return false;
}

} // namespace

void InstallModalWatch() {
    timer = SetTimer(nullptr, 0, kTickMs, Tick);
}

void UninstallModalWatch() {
    if (timer) KillTimer(nullptr, timer);
    timer = 0;
}

int MessageBoxCount() {
    return int(boxes.size());
}

bool LastMessageBox(const std::wstring& field, std::wstring& value) {
    if (boxes.empty()) return false;
    const MessageBoxRecord& last = boxes.back();
    return Field(field,
                 {{L"text", &last.text}, {L"caption", &last.caption}, {L"owner", &last.owner}},
                 value);
}

void AnswerFileDialog(const std::wstring& path) {
    fileAnswer = path;
}

int FileDialogCount() {
    return int(fileDialogs.size());
}

bool LastFileDialog(const std::wstring& field, std::wstring& value) {
    if (fileDialogs.empty()) return false;
    const FileDialogRecord& last = fileDialogs.back();
    return Field(field,
                 {{L"title", &last.title},
                  {L"filters", &last.filters},
                  {L"filterIndex", &last.filterIndex},
                  {L"files", &last.files},
                  {L"owner", &last.owner}},
                 value);
}

} // namespace host
