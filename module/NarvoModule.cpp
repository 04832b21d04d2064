// Narvo.dll's entry points: the class factory, the lock count, registration.
#include "module/NarvoModule.h"

#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <atomic>
#include <new>
#include <string>
#include <vector>

#include "Narvo_h.h"
#include "control/ComPtr.h"
#include "control/OleControl.h"
#include "control/ScriptString.h"
#include "control/Viewer.h"
#include "module/Registrar.h"
#include "module/resource.h"

namespace narvo {
namespace {

HINSTANCE g_instance = nullptr;
LONG g_lockCount = 0;
CRITICAL_SECTION g_lock;
std::atomic<IClassFactory*> g_factory{nullptr};

class CClassFactory final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        return QuerySingleInterface<IClassFactory>(this, IID_IClassFactory, riid, ppv);
    }
    // References to the factory do not keep the module loaded; LockServer does.
    STDMETHODIMP_(ULONG) AddRef() override { return InterlockedIncrement(&ref_); }
    STDMETHODIMP_(ULONG) Release() override {
        const LONG ref = InterlockedDecrement(&ref_);
        if (ref == 0) delete this;
        return ULONG(ref);
    }
    STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (pUnkOuter && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
        return CViewer::Create(pUnkOuter, riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL fLock) override {
        if (fLock)
            CNarvoModule::Lock();
        else
            CNarvoModule::Unlock();
        return S_OK;
    }

private:
    LONG ref_ = 1; // the module's cached reference
};

std::wstring GuidText(const GUID& guid) {
    wchar_t text[39] = {};
    StringFromGUID2(guid, text, 39); // braced and upper-case
    return text;
}

HRESULT ModuleReplacements(std::vector<RegistryReplacement>& replacements) {
    std::string path;
    const HRESULT hr = CNarvoModule::FilePath(path);
    if (FAILED(hr)) return hr;
    replacements = {
        {L"APPID", GuidText(LIBID_Narvo)},
        {L"MODULEGUID", GuidText(LIBID_Narvo)},
        {L"MODULE", WideFromNarrow(path, CP_ACP)},
        {L"CLSID", GuidText(CLSID_CViewer)},
    };
    return S_OK;
}

// One of the module's registration scripts (IDR_NARVO: the module's AppID; IDR_VIEWER: the class).
// The packages' registry rows are generated from the same two files.
HRESULT ModuleScript(UINT id, std::wstring& script) {
    HRSRC resource = FindResourceW(g_instance, MAKEINTRESOURCEW(id), L"REGISTRY");
    HGLOBAL loaded = resource ? LoadResource(g_instance, resource) : nullptr;
    const char* text = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (!text) return HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND);
    script = WideFromNarrow(std::string_view(text, SizeofResource(g_instance, resource)), CP_ACP);
    return S_OK;
}

// The type library the module carries, loaded from the module's path (handed back as well).
HRESULT LoadModuleTypeLib(ITypeLib** library, std::wstring& path) {
    std::string narrowPath;
    const HRESULT hr = CNarvoModule::FilePath(narrowPath);
    if (FAILED(hr)) return hr;
    path = WideFromNarrow(narrowPath, CP_ACP);
    return LoadTypeLib(path.c_str(), library);
}

HRESULT RegisterTypeLibrary() {
    ComPtr<ITypeLib> library;
    std::wstring path;
    HRESULT hr = LoadModuleTypeLib(library.Put(), path);
    if (FAILED(hr)) return hr;
    // A library with a help file is registered with the help file's folder.
    BSTR helpFile = nullptr;
    std::wstring helpFolder;
    if (SUCCEEDED(library->GetDocumentation(-1, nullptr, nullptr, nullptr, &helpFile)) &&
        helpFile && *helpFile) {
        helpFolder = helpFile;
        helpFolder.resize(helpFolder.find_last_of(L"\\/") == std::wstring::npos
                              ? 0
                              : helpFolder.find_last_of(L"\\/"));
    }
    SysFreeString(helpFile);
    return RegisterTypeLib(library.Get(), path.data(),
                           helpFolder.empty() ? nullptr : helpFolder.data());
}

HRESULT UnregisterTypeLibrary() {
    ComPtr<ITypeLib> library;
    std::wstring path;
    HRESULT hr = LoadModuleTypeLib(library.Put(), path);
    if (FAILED(hr)) return hr;
    TLIBATTR* attributes = nullptr;
    hr = library->GetLibAttr(&attributes);
    if (FAILED(hr)) return hr;
    // A library that is not registered is already as unregistration leaves it.
    wchar_t versionKey[80];
    wsprintfW(versionKey, L"TypeLib\\%s\\%x.%x", GuidText(attributes->guid).c_str(),
              attributes->wMajorVerNum, attributes->wMinorVerNum);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, versionKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegCloseKey(key);
        hr = UnRegisterTypeLib(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                               attributes->lcid, attributes->syskind);
    }
    library->ReleaseTLibAttr(attributes);
    return hr;
}

// Registration runs under the system's default locale, whatever the caller's thread uses.
class SystemLocaleScope {
public:
    SystemLocaleScope() : saved_(GetThreadLocale()) { SetThreadLocale(LOCALE_SYSTEM_DEFAULT); }
    ~SystemLocaleScope() { SetThreadLocale(saved_); }

private:
    LCID saved_;
};

} // namespace

HINSTANCE CNarvoModule::Instance() {
    return g_instance;
}
void CNarvoModule::Lock() {
    InterlockedIncrement(&g_lockCount);
}
void CNarvoModule::Unlock() {
    InterlockedDecrement(&g_lockCount);
}
LONG CNarvoModule::LockCount() {
    return InterlockedCompareExchange(&g_lockCount, 0, 0);
}

HRESULT CNarvoModule::FilePath(std::string& path) {
    char buffer[MAX_PATH];
    const DWORD length = GetModuleFileNameA(g_instance, buffer, MAX_PATH);
    if (length == 0) return HRESULT_FROM_WIN32(GetLastError());
    if (length >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    path.assign(buffer, length);
    return S_OK;
}

} // namespace narvo

using namespace narvo;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_instance = instance;
        if (!InitializeCriticalSectionAndSpinCount(&g_lock, 0)) return FALSE;
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        // Unloaded by FreeLibrary: what this load registered and cached goes with it.
        UnregisterControlWindowClass();
        if (IClassFactory* factory = g_factory.exchange(nullptr)) factory->Release();
        DeleteCriticalSection(&g_lock);
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (rclsid != CLSID_CViewer) return CLASS_E_CLASSNOTAVAILABLE;
    IClassFactory* factory = g_factory.load();
    if (!factory) {
        EnterCriticalSection(&g_lock);
        factory = g_factory.load();
        if (!factory) {
            factory = new (std::nothrow) CClassFactory;
            g_factory.store(factory);
        }
        LeaveCriticalSection(&g_lock);
        if (!factory) return E_OUTOFMEMORY;
    }
    return factory->QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow() {
    return CNarvoModule::LockCount() == 0 ? S_OK : S_FALSE;
}

namespace {

// Both directions run under the system locale, with the module's replacements and its script;
// the first failing step ends them.
HRESULT UpdateRegistry(bool registering) {
    SystemLocaleScope locale;
    std::vector<RegistryReplacement> replacements;
    std::wstring moduleScript, classScript;
    HRESULT hr = ModuleReplacements(replacements);
    if (SUCCEEDED(hr)) hr = ModuleScript(IDR_NARVO, moduleScript);
    if (SUCCEEDED(hr)) hr = ModuleScript(IDR_VIEWER, classScript);
    if (registering) {
        if (SUCCEEDED(hr)) hr = ApplyRegistryScript(moduleScript, replacements, true);
        if (SUCCEEDED(hr)) hr = ApplyRegistryScript(classScript, replacements, true);
        if (SUCCEEDED(hr)) hr = RegisterTypeLibrary();
    } else {
        if (SUCCEEDED(hr)) hr = ApplyRegistryScript(classScript, replacements, false);
        if (SUCCEEDED(hr)) hr = UnregisterTypeLibrary();
        if (SUCCEEDED(hr)) hr = ApplyRegistryScript(moduleScript, replacements, false);
    }
    return hr;
}

} // namespace

STDAPI DllRegisterServer() {
    return UpdateRegistry(true);
}

STDAPI DllUnregisterServer() {
    return UpdateRegistry(false);
}
