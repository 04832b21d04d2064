#pragma once
// Modal user interface shown while a page script runs: message boxes are logged and dismissed,
// the open-file dialog is read and answered the way a page test asked. Everything runs on the
// container's thread, from a timer that the modal loops of the boxes and dialogs dispatch.
#include <windows.h>

#include <string>

namespace host {

// Starts watching the calling thread's windows; stop with Uninstall before the thread ends.
void InstallModalWatch();
void UninstallModalWatch();

// Every message box so far: its text ("messagebox: TEXT" on standard output as well), its
// caption, and the window class of its owner ("" for none). The window manager makes the
// top-level window of the window a box was given its owner.
struct MessageBoxRecord {
    std::wstring text, caption, owner;
};
int MessageBoxCount();
// The field "text", "caption" or "owner" of the last box; false when there was none.
bool LastMessageBox(const std::wstring& field, std::wstring& value);

// The answer to the next open-file dialog: the path to pick (typed into its file name box and
// confirmed), or "" to cancel it. A dialog nobody answered is cancelled, and so is one still
// open a while after its answer (the path was refused).
void AnswerFileDialog(const std::wstring& path);
int FileDialogCount();
// The field of the last open-file dialog as it was shown: "title", "filters" (the descriptions
// of its filter list, joined by "|"), "filterIndex" (the one selected, from 0), "files" (the
// names its file list showed, joined by "|"), "owner" (the owner's window class, "" for none).
bool LastFileDialog(const std::wstring& field, std::wstring& value);

} // namespace host
