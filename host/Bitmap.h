#pragma once
// Screenshots: what a device context shows, saved as a 24-bit BMP file.
#include <windows.h>

#include <string>

namespace host {

// Saves what source shows from (0, 0) to (width, height).
bool SaveBitmap(HDC source, int width, int height, const std::wstring& path);

} // namespace host
