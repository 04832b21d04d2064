#pragma once
// What the Windows tests of the control share: the built Narvo.dll, child programs, the registry.
#include <windows.h>
#include <string>
#include <vector>

namespace narvo::test {

// The built Narvo.dll, as a Windows path.
std::wstring NarvoDllPath();

// Runs a program of the system (regsvr32, cscript, ...) with a command line and waits for it;
// returns its exit code, or -1 when it could not be started or took longer than a minute.
int RunProgram(const std::wstring& commandLine);

// regsvr32 [/u] /s on the built Narvo.dll; returns regsvr32's exit code.
int RunRegsvr32(bool unregister);

// Every key below root\path and the key itself, one line per key and one per value:
//   KEY
//   KEY [NAME] = "TEXT"        (a REG_SZ value; (default) for the unnamed one)
//   KEY [NAME] : type N        (a value of another type)
// Key names are as given plus the subkey names; lines come sorted. Empty when the key is missing.
std::vector<std::wstring> DumpRegistryTree(HKEY root, const std::wstring& path);

bool RegistryKeyExists(HKEY root, const std::wstring& path);
// The key's text value (name empty for the default value); empty when missing.
std::wstring RegistryText(HKEY root, const std::wstring& path, const std::wstring& name = {});

// A GUID in its braced upper-case registry form.
std::wstring GuidText(const GUID& guid);

// Narvo.dll loaded into the test process, driven through its exports as COM drives them.
class NarvoLibrary {
public:
    NarvoLibrary();
    // A copy of the module loaded from another place.
    explicit NarvoLibrary(const std::wstring& path);
    ~NarvoLibrary();
    NarvoLibrary(const NarvoLibrary&) = delete;
    NarvoLibrary& operator=(const NarvoLibrary&) = delete;

    bool loaded() const { return module_ && getClassObject_ && canUnloadNow_; }
    HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object) const;
    HRESULT CanUnloadNow() const;
    // A new control through the class factory.
    HRESULT Create(REFIID iid, void** object, IUnknown* outer = nullptr) const;

private:
    HMODULE module_ = nullptr;
    HRESULT(STDAPICALLTYPE* getClassObject_)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(STDAPICALLTYPE* canUnloadNow_)() = nullptr;
};

// One NarvoLibrary for the whole test program.
const NarvoLibrary& SharedNarvoLibrary();

// UTF-16 to UTF-8, for readable test messages.
std::string Utf8(const std::wstring& text);

} // namespace narvo::test
