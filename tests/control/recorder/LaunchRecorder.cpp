// narvo-launch-recorder: a program the entry-opening tests have launched. It appends one line to
// the file named by NARVO_LAUNCH_LOG: its own path, a tab, and the command line it was started
// with (UTF-8), then ends. It stands for the program a file type opens with, and, copied into an
// archive, for an executable entry.
#include <windows.h>

#include <string>

#include "tests/support/WindowsSupport.h"

using narvo::test::Utf8;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    wchar_t log[MAX_PATH] = {}, self[MAX_PATH] = {};
    if (!GetEnvironmentVariableW(L"NARVO_LAUNCH_LOG", log, MAX_PATH)) return 2;
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::string line = Utf8(std::wstring(self) + L"\t" + GetCommandLineW()) + "\n";
    // Several launches may append at once: each writes its line in one call at the end.
    HANDLE file = CreateFileW(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    const bool ok = WriteFile(file, line.data(), DWORD(line.size()), &written, nullptr);
    CloseHandle(file);
    return ok ? 0 : 1;
}
