#pragma once
// The module object: its instance handle, its count of reasons to stay loaded, its file path.
#include <windows.h>
#include <string>

namespace narvo {

class CNarvoModule {
public:
    static HINSTANCE Instance();
    // Live control objects and LockServer(TRUE) calls each hold one lock.
    static void Lock();
    static void Unlock();
    static LONG LockCount();
    // The module's narrow path (GetModuleFileNameA). A path of 260 characters or more gives
    // HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER); no path at all gives the last error.
    static HRESULT FilePath(std::string& path);
};

} // namespace narvo
