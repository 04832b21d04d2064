#include "host/Bitmap.h"

namespace host {

bool SaveBitmap(HDC source, int width, int height, const std::wstring& path) {
    HDC memory = CreateCompatibleDC(source);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height; // bottom-up, as BMP files store rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool saved = false;
    if (bitmap) {
        HGDIOBJ previous = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
        SelectObject(memory, previous);
        GdiFlush();
        const DWORD rowSize = (DWORD(width) * 3 + 3) & ~3u;
        const DWORD imageSize = rowSize * DWORD(height);
        BITMAPFILEHEADER header{};
        header.bfType = 0x4D42; // "BM"
        header.bfOffBits = sizeof(header) + sizeof(info.bmiHeader);
        header.bfSize = header.bfOffBits + imageSize;
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            saved = WriteFile(file, &header, sizeof(header), &written, nullptr) &&
                    WriteFile(file, &info.bmiHeader, sizeof(info.bmiHeader), &written, nullptr) &&
                    WriteFile(file, bits, imageSize, &written, nullptr) && written == imageSize;
            CloseHandle(file);
        }
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    return saved;
}

} // namespace host
