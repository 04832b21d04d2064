// Narvo.dll's entry points: the class factory, the lock count, registration.
#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <atomic>
#include <new>
#include <string>
#include <vector>

#include "Narvo_h.h"
#include "com/ComModule.h"
#include "com/ComPtr.h"
#include "com/OleControl.h"
#include "com/ScriptString.h"
#include "control/Viewer.h"
#include "module/Registrar.h"
#include "module/resource.h"

namespace narvo {
namespace {

CRITICAL_SECTION g_lock;
std::atomic<IClassFactory*> g_factory{nullptr};

constexpr wchar_t kFriendlyName[] = L"CViewer Object";

// The class part of the registry tree; the module part is resource 101.
constexpr wchar_t kClassScript[] = LR"(HKCR
{
	Narvo.Viewer.1 = s '%FriendlyName%'
	{
		CLSID = s '%CLSID%'
	}
	Narvo.Viewer = s '%FriendlyName%'
	{
		CLSID = s '%CLSID%'
		CurVer = s 'Narvo.Viewer.1'
	}
	NoRemove CLSID
	{
		ForceRemove '%CLSID%' = s '%FriendlyName%'
		{
			ProgID = s 'Narvo.Viewer.1'
			VersionIndependentProgID = s 'Narvo.Viewer'
			'%MODULETYPE%' = s '%MODULE%'
			{
				val ThreadingModel = s 'apartment'
			}
			ForceRemove Control
			ForceRemove ToolboxBitmap32 = s '%MODULE%, 1'
			MiscStatus = s '0'
			{
				'1' = s '131473'
			}
			val AppID = s '%APPID%'
			TypeLib = s '%MODULEGUID%'
			Version = s '1.0'
		}
	}
}
)";

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
            ComModule::Lock();
        else
            ComModule::Unlock();
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
    const HRESULT hr = ComModule::FilePath(path);
    if (FAILED(hr)) return hr;
    replacements = {
        {L"APPID", GuidText(LIBID_Narvo)},         {L"MODULEGUID", GuidText(LIBID_Narvo)},
        {L"MODULE", WideFromNarrow(path, CP_ACP)}, {L"MODULETYPE", L"InprocServer32"},
        {L"FriendlyName", kFriendlyName},          {L"CLSID", GuidText(CLSID_CViewer)},
    };
    return S_OK;
}

HRESULT ModuleScript(std::wstring& script) {
    const HINSTANCE instance = ComModule::Instance();
    HRSRC resource = FindResourceW(instance, MAKEINTRESOURCEW(IDR_NARVO), L"REGISTRY");
    HGLOBAL loaded = resource ? LoadResource(instance, resource) : nullptr;
    const char* text = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (!text) return HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND);
    script = WideFromNarrow(std::string_view(text, SizeofResource(instance, resource)), CP_ACP);
    return S_OK;
}

HRESULT RegisterTypeLibrary() {
    ComPtr<ITypeLib> library;
    std::wstring path;
    HRESULT hr = ComModule::WideFilePath(path);
    if (SUCCEEDED(hr)) hr = ComModule::TypeLibrary(library.Put());
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
    HRESULT hr = ComModule::TypeLibrary(library.Put());
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

} // namespace narvo

using namespace narvo;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        ComModule::SetInstance(instance);
        if (!InitializeCriticalSectionAndSpinCount(&g_lock, 0)) return FALSE;
    } else if (reason == DLL_PROCESS_DETACH && !reserved) {
        // Unloaded by FreeLibrary: what this load registered and cached goes with it.
        UnregisterControlWindowClass();
        if (IClassFactory* factory = g_factory.exchange(nullptr)) factory->Release();
        ComModule::ReleaseTypeLibrary();
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
    return ComModule::LockCount() == 0 ? S_OK : S_FALSE;
}

namespace {

// Both directions run under the system locale, with the module's replacements and its script;
// the first failing step ends them.
HRESULT UpdateRegistry(bool registering) {
    SystemLocaleScope locale;
    std::vector<RegistryReplacement> replacements;
    std::wstring moduleScript;
    HRESULT hr = ModuleReplacements(replacements);
    if (SUCCEEDED(hr)) hr = ModuleScript(moduleScript);
    if (registering) {
        if (SUCCEEDED(hr)) hr = ApplyRegistryScript(moduleScript, replacements, true);
        if (SUCCEEDED(hr)) hr = ApplyRegistryScript(kClassScript, replacements, true);
        if (SUCCEEDED(hr)) hr = RegisterTypeLibrary();
    } else {
        if (SUCCEEDED(hr)) hr = ApplyRegistryScript(kClassScript, replacements, false);
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
