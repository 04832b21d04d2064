#pragma once
// The control's list view as a person sees it: its rows, cells, icons and image list, read back
// through the list view's own messages, and rows double-clicked with real mouse input.
#include <windows.h>

#include <string>

namespace host {

int ListRowCount(HWND list);
// The text of a cell; row -1 reads the column header. False when there is no such cell.
bool ListCell(HWND list, int row, int column, std::wstring& text);
// The image index of a row's icon.
bool ListImage(HWND list, int row, int& image);
// The first selected row, or -1.
int ListSelection(HWND list);
// The small-icon image list: "count" (images), "width", "height" (of one image), "bits" (bits
// per pixel of its images), "masked" (1 when it keeps masks). False without an image list.
bool ImageListInfo(HWND list, const std::wstring& field, long& value);
// Selects a row and double-clicks it with the mouse (SendInput at the row's place on the screen),
// then lets the container handle the input and whatever it starts. Row -1 double-clicks the
// empty space below the last row instead. False when the row, or that space, is not there.
bool DoubleClickRow(HWND list, int row);

} // namespace host
