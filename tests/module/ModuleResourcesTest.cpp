// What Narvo.dll carries besides code: its exports, strings, type library, the application entry
// its registration writes, and its version record.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Narvo_h.h"
#include "tests/support/WindowsSupport.h"

using namespace narvo::test;

namespace {

class ModuleResources : public ::testing::Test {
protected:
    static void SetUpTestSuite() { module_ = LoadLibraryW(NarvoDllPath().c_str()); }
    static void TearDownTestSuite() { FreeLibrary(module_); }
    void SetUp() override { ASSERT_NE(module_, nullptr); }

    static std::wstring String(UINT id) {
        const wchar_t* text = nullptr;
        const int length = LoadStringW(module_, id, reinterpret_cast<LPWSTR>(&text), 0);
        return length > 0 ? std::wstring(text, length) : std::wstring();
    }

    static HMODULE module_;
};

HMODULE ModuleResources::module_ = nullptr;

} // namespace

TEST_F(ModuleResources, ExportsTheComEntryPoints) {
    for (const char* name :
         {"DllGetClassObject", "DllCanUnloadNow", "DllRegisterServer", "DllUnregisterServer"})
        EXPECT_NE(GetProcAddress(module_, name), nullptr) << name;
}

TEST_F(ModuleResources, KoreanStringTable) {
    EXPECT_EQ(Utf8(String(100)), "Narvo");
    EXPECT_EQ(Utf8(String(1000)), "이름");
    EXPECT_EQ(Utf8(String(1001)), "종류");
    EXPECT_EQ(Utf8(String(1002)), "크기");
    // Strings 1000-1015 share block 63; it is stored under the Korean language.
    EXPECT_NE(FindResourceExW(module_, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(1000 / 16 + 1),
                              MAKELANGID(LANG_KOREAN, SUBLANG_KOREAN)),
              nullptr);
}

TEST_F(ModuleResources, CarriesItsTypeLibraryAndRegistersItsApplication) {
    // The type library a client loads from the module file itself, without the registry.
    ITypeLib* library = nullptr;
    ASSERT_EQ(LoadTypeLibEx(NarvoDllPath().c_str(), REGKIND_NONE, &library), S_OK);
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, LIBID_Narvo));
    library->ReleaseTLibAttr(attributes);
    library->Release();

    // What the module's own part of registration writes: the application a client finds by the
    // module's file name, and its name.
    ASSERT_EQ(RunRegsvr32(false), 0);
    const std::wstring appId = GuidText(LIBID_Narvo);
    EXPECT_EQ(Utf8(RegistryText(HKEY_CLASSES_ROOT, L"AppID\\Narvo.DLL", L"AppID")), Utf8(appId));
    EXPECT_EQ(Utf8(RegistryText(HKEY_CLASSES_ROOT, L"AppID\\" + appId)), "Narvo");
}

TEST_F(ModuleResources, VersionRecord) {
    const std::wstring path = NarvoDllPath();
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> data(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, data.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00040000u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
    EXPECT_EQ(fixed->dwProductVersionLS, 0x00040000u);

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_GE(length, 4u);
    EXPECT_EQ(translation[0], 0x0412);
    EXPECT_EQ(translation[1], 949);

    for (const auto& [name, expected] :
         {std::pair{L"InternalName", "Narvo.dll"}, std::pair{L"OriginalFilename", "Narvo.dll"},
          std::pair{L"FileVersion", "1.0.4.0"}}) {
        wchar_t* value = nullptr;
        const std::wstring query = std::wstring(L"\\StringFileInfo\\041203b5\\") + name;
        ASSERT_TRUE(
            VerQueryValueW(data.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
            << Utf8(name);
        EXPECT_EQ(Utf8(value), expected);
    }
}
