#pragma once
// The control's progress box as a person sees it: the dialog of this thread that holds a
// progress bar, its texts, bar, place and picture, and Alt+F4 typed at it.
#include <windows.h>
#include <oaidl.h>

#include <string>

namespace host {

HWND FindProgressBox();
// One field of the box (docs/test-container.md, host.progressBox); null while there is none.
void ProgressBoxField(const std::wstring& what, VARIANT* result);

} // namespace host
