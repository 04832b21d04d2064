#include "com/ComModule.h"

#include <oleauto.h>

#include "com/ScriptString.h"

namespace narvo {
namespace {

HINSTANCE g_instance = nullptr;
LONG g_lockCount = 0;
ITypeLib* g_typeLibrary = nullptr;

} // namespace

HINSTANCE ComModule::Instance() {
    return g_instance;
}
void ComModule::SetInstance(HINSTANCE instance) {
    g_instance = instance;
}
void ComModule::Lock() {
    InterlockedIncrement(&g_lockCount);
}
void ComModule::Unlock() {
    InterlockedDecrement(&g_lockCount);
}
LONG ComModule::LockCount() {
    return InterlockedCompareExchange(&g_lockCount, 0, 0);
}

HRESULT ComModule::FilePath(std::string& path) {
    char buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameA(g_instance, buffer, MAX_PATH);
    if (length == 0) return HRESULT_FROM_WIN32(GetLastError());
    if (length >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    path.assign(buffer, length);
    return S_OK;
}

HRESULT ComModule::WideFilePath(std::wstring& path) {
    std::string narrow;
    const HRESULT hr = FilePath(narrow);
    if (FAILED(hr)) return hr;
    path = WideFromNarrow(narrow, CP_ACP);
    return path.empty() ? E_OUTOFMEMORY : S_OK;
}

HRESULT ComModule::TypeLibrary(ITypeLib** library) {
    if (!library) return E_POINTER;
    *library = nullptr;
    ITypeLib* cached = static_cast<ITypeLib*>(InterlockedCompareExchangePointer(
        reinterpret_cast<void**>(&g_typeLibrary), nullptr, nullptr));
    if (!cached) {
        // A module without a usable path has no type library to offer.
        std::string narrow;
        if (FAILED(FilePath(narrow))) return E_FAIL;
        const std::wstring path = WideFromNarrow(narrow, CP_ACP);
        if (path.empty()) return E_OUTOFMEMORY;
        ITypeLib* loaded = nullptr;
        const HRESULT hr = LoadTypeLib(path.c_str(), &loaded);
        if (FAILED(hr)) return hr;
        // Two threads may load at once; the first to store wins and the other's copy goes.
        cached = static_cast<ITypeLib*>(InterlockedCompareExchangePointer(
            reinterpret_cast<void**>(&g_typeLibrary), loaded, nullptr));
        if (cached)
            loaded->Release();
        else
            cached = loaded;
    }
    cached->AddRef();
    *library = cached;
    return S_OK;
}

HRESULT ComModule::TypeInfo(REFGUID guid, ITypeInfo** info) {
    if (!info) return E_POINTER;
    *info = nullptr;
    ITypeLib* library = nullptr;
    const HRESULT hr = TypeLibrary(&library);
    if (FAILED(hr)) return hr;
    const HRESULT found = library->GetTypeInfoOfGuid(guid, info);
    library->Release();
    return found;
}

void ComModule::ReleaseTypeLibrary() {
    if (ITypeLib* library = static_cast<ITypeLib*>(
            InterlockedExchangePointer(reinterpret_cast<void**>(&g_typeLibrary), nullptr)))
        library->Release();
}

} // namespace narvo
