// A module whose path does not fit in 260 characters: registration refuses to write a truncated
// path, and the type information cannot be found.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>

#include "Narvo_h.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WindowsSupport.h"

using namespace narvo::test;

TEST(LongModulePath, RegistrationAndTypeInformationRefuseIt) {
    TempDir dir;
    std::wstring folder(dir.path().wstring());
    while (folder.size() < 280) {
        folder += L"\\a-rather-long-folder-name";
        ASSERT_TRUE(CreateDirectoryW((L"\\\\?\\" + folder).c_str(), nullptr));
    }
    const std::wstring copy = L"\\\\?\\" + folder + L"\\Narvo.dll";
    ASSERT_TRUE(CopyFileW(NarvoDllPath().c_str(), copy.c_str(), FALSE));
    HMODULE module = LoadLibraryW(copy.c_str());
    ASSERT_NE(module, nullptr) << GetLastError();

    const std::wstring inproc = L"CLSID\\" + GuidText(CLSID_CViewer) + L"\\InprocServer32";
    const std::wstring registered = RegistryText(HKEY_CLASSES_ROOT, inproc);
    using Entry = HRESULT(STDAPICALLTYPE*)();
    const auto call = [module](const char* name) {
        return reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(module, name)))();
    };
    EXPECT_EQ(call("DllRegisterServer"), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(call("DllUnregisterServer"), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(Utf8(RegistryText(HKEY_CLASSES_ROOT, inproc)), Utf8(registered));

    OleInitialize(nullptr);
    using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    const auto getClassObject = reinterpret_cast<GetClassObject>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    ASSERT_EQ(getClassObject(CLSID_CViewer, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
              S_OK);
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&dispatch)),
              S_OK);
    UINT count = 7;
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(1);
    EXPECT_EQ(dispatch->GetTypeInfo(0, 0, &info), E_FAIL);
    EXPECT_EQ(info, nullptr);
    EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 0u);
    dispatch->Release();
    factory->Release();
    OleUninitialize();
    FreeLibrary(module);
    DeleteFileW(copy.c_str());
    while (folder.size() > dir.path().wstring().size()) {
        RemoveDirectoryW((L"\\\\?\\" + folder).c_str());
        folder.resize(folder.rfind(L'\\'));
    }
}
