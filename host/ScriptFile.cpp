#include "host/ScriptFile.h"

#include <windows.h>

namespace host {

bool ReadScript(const std::wstring& path, std::wstring& code) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::string bytes;
    char buffer[8192];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read)
        bytes.append(buffer, read);
    CloseHandle(file);
    // UTF-16 with its byte-order mark, else UTF-8 (with or without one).
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        code.assign(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
        return true;
    }
    size_t start = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    const int size = MultiByteToWideChar(CP_UTF8, 0, bytes.data() + start,
                                         int(bytes.size() - start), nullptr, 0);
    code.assign(size > 0 ? size : 0, L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_UTF8, 0, bytes.data() + start, int(bytes.size() - start),
                            code.data(), size);
    return true;
}

} // namespace host
