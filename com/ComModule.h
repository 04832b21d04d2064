#pragma once
// What every in-process server keeps for its whole load: its instance handle, its count of reasons
// to stay loaded, its file path, and the type library it carries (loaded once, then shared).
#include <windows.h>
#include <oaidl.h>
#include <string>

namespace narvo {

class ComModule {
public:
    static HINSTANCE Instance();
    // Called once from DllMain's attach.
    static void SetInstance(HINSTANCE instance);
    // Live control objects and LockServer(TRUE) calls each hold one lock.
    static void Lock();
    static void Unlock();
    static LONG LockCount();
    // The module's narrow path (GetModuleFileNameA). A path of 260 characters or more gives
    // HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER); no path at all gives the last error.
    static HRESULT FilePath(std::string& path);
    // The same path widened in the process's code page, whatever the thread's locale is.
    static HRESULT WideFilePath(std::wstring& path);
    // The module's own type library, loaded from its file on first use and kept until
    // ReleaseTypeLibrary. The caller gets a reference of its own.
    static HRESULT TypeLibrary(ITypeLib** library);
    static HRESULT TypeInfo(REFGUID guid, ITypeInfo** info);
    // Called from DllMain's detach.
    static void ReleaseTypeLibrary();
};

// One lock for as long as the holder lives. A control makes this its first base, so the lock is
// released after everything else of the object is gone.
class ModuleLock {
public:
    ModuleLock() { ComModule::Lock(); }
    ~ModuleLock() { ComModule::Unlock(); }
    ModuleLock(const ModuleLock&) = delete;
    ModuleLock& operator=(const ModuleLock&) = delete;
};

} // namespace narvo
