#include "tests/support/WindowsSupport.h"

#include <objbase.h>

#include "Narvo_h.h"

#include <algorithm>

namespace narvo::test {

std::wstring NarvoDllPath() {
    const std::string path = NARVO_DLL_PATH;
    std::wstring wide(path.begin(), path.end());
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    // The build tree lies on the Unix side, which Wine shows as drive Z:.
    return L"Z:" + wide;
}

int RunProgram(const std::wstring& commandLine) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    std::wstring line = commandLine;
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return -1;
    DWORD code = DWORD(-1);
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return int(code);
}

int RunRegsvr32(bool unregister) {
    return RunProgram(std::wstring(L"regsvr32.exe ") + (unregister ? L"/u " : L"") + L"/s \"" +
                      NarvoDllPath() + L"\"");
}

namespace {

void Dump(HKEY key, const std::wstring& name, std::vector<std::wstring>& lines) {
    lines.push_back(name);
    for (DWORD i = 0;; ++i) {
        wchar_t valueName[16384];
        DWORD nameLength = 16384, type = 0, size = 0;
        if (RegEnumValueW(key, i, valueName, &nameLength, nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS)
            break;
        std::vector<BYTE> data(size + sizeof(wchar_t));
        nameLength = 16384;
        RegEnumValueW(key, i, valueName, &nameLength, nullptr, &type, data.data(), &size);
        const std::wstring shown = nameLength ? std::wstring(valueName, nameLength) : L"(default)";
        if (type == REG_SZ)
            lines.push_back(name + L" [" + shown + L"] = \"" +
                            reinterpret_cast<const wchar_t*>(data.data()) + L"\"");
        else
            lines.push_back(name + L" [" + shown + L"] : type " + std::to_wstring(type));
    }
    for (DWORD i = 0;; ++i) {
        wchar_t subName[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, subName, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        HKEY sub = nullptr;
        if (RegOpenKeyExW(key, subName, 0, KEY_READ, &sub) == ERROR_SUCCESS) {
            Dump(sub, name + L"\\" + subName, lines);
            RegCloseKey(sub);
        }
    }
}

} // namespace

std::vector<std::wstring> DumpRegistryTree(HKEY root, const std::wstring& path) {
    std::vector<std::wstring> lines;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return lines;
    Dump(key, path, lines);
    RegCloseKey(key);
    std::sort(lines.begin(), lines.end());
    return lines;
}

bool RegistryKeyExists(HKEY root, const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

std::wstring RegistryText(HKEY root, const std::wstring& path, const std::wstring& name) {
    wchar_t data[4096] = {};
    DWORD size = sizeof(data) - sizeof(wchar_t);
    if (RegGetValueW(root, path.c_str(), name.empty() ? nullptr : name.c_str(), RRF_RT_REG_SZ,
                     nullptr, data, &size) != ERROR_SUCCESS)
        return {};
    return data;
}

NarvoLibrary::NarvoLibrary() : NarvoLibrary(NarvoDllPath()) {}

NarvoLibrary::NarvoLibrary(const std::wstring& path) : module_(LoadLibraryW(path.c_str())) {
    if (!module_) return;
    getClassObject_ = reinterpret_cast<decltype(getClassObject_)>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllGetClassObject")));
    canUnloadNow_ = reinterpret_cast<decltype(canUnloadNow_)>(
        reinterpret_cast<void*>(GetProcAddress(module_, "DllCanUnloadNow")));
}

NarvoLibrary::~NarvoLibrary() {
    if (module_) FreeLibrary(module_);
}

HRESULT NarvoLibrary::GetClassObject(REFCLSID clsid, REFIID iid, void** object) const {
    return getClassObject_(clsid, iid, object);
}

HRESULT NarvoLibrary::CanUnloadNow() const {
    return canUnloadNow_();
}

HRESULT NarvoLibrary::Create(REFIID iid, void** object, IUnknown* outer) const {
    IClassFactory* factory = nullptr;
    HRESULT hr =
        getClassObject_(CLSID_CViewer, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(outer, iid, object);
    factory->Release();
    return hr;
}

const NarvoLibrary& SharedNarvoLibrary() {
    static NarvoLibrary library;
    return library;
}

std::wstring GuidText(const GUID& guid) {
    wchar_t text[39] = {};
    StringFromGUID2(guid, text, 39);
    return text;
}

std::string Utf8(const std::wstring& text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string result(size > 0 ? size : 0, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), result.data(), size, nullptr,
                            nullptr);
    return result;
}

} // namespace narvo::test
