// regsvr32 on the built Narvo.dll: the registry tree it writes, rewrites and removes, and the type
// library it registers. These tests share the prefix's registry and leave the DLL registered.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Narvo_h.h"
#include "tests/support/WindowsSupport.h"

using namespace narvo::test;

namespace {

const std::wstring kClsid = GuidText(CLSID_CViewer);
const std::wstring kAppId = GuidText(LIBID_Narvo);
const std::wstring kClassKey = L"CLSID\\" + kClsid;

std::wstring Quoted(const std::wstring& text) {
    return L"\"" + text + L"\"";
}

std::vector<std::wstring> ExpectedTree() {
    const std::wstring module = NarvoDllPath();
    const std::wstring name = Quoted(L"CViewer Object");
    std::vector<std::wstring> lines = {
        L"Narvo.Viewer.1",
        L"Narvo.Viewer.1 [(default)] = " + name,
        L"Narvo.Viewer.1\\CLSID",
        L"Narvo.Viewer.1\\CLSID [(default)] = " + Quoted(kClsid),
        L"Narvo.Viewer",
        L"Narvo.Viewer [(default)] = " + name,
        L"Narvo.Viewer\\CLSID",
        L"Narvo.Viewer\\CLSID [(default)] = " + Quoted(kClsid),
        L"Narvo.Viewer\\CurVer",
        L"Narvo.Viewer\\CurVer [(default)] = \"Narvo.Viewer.1\"",
        kClassKey,
        kClassKey + L" [(default)] = " + name,
        kClassKey + L" [AppID] = " + Quoted(kAppId),
        kClassKey + L"\\ProgID",
        kClassKey + L"\\ProgID [(default)] = \"Narvo.Viewer.1\"",
        kClassKey + L"\\VersionIndependentProgID",
        kClassKey + L"\\VersionIndependentProgID [(default)] = \"Narvo.Viewer\"",
        kClassKey + L"\\InprocServer32",
        kClassKey + L"\\InprocServer32 [(default)] = " + Quoted(module),
        kClassKey + L"\\InprocServer32 [ThreadingModel] = \"apartment\"",
        kClassKey + L"\\Control",
        kClassKey + L"\\ToolboxBitmap32",
        kClassKey + L"\\ToolboxBitmap32 [(default)] = " + Quoted(module + L", 1"),
        kClassKey + L"\\MiscStatus",
        kClassKey + L"\\MiscStatus [(default)] = \"0\"",
        kClassKey + L"\\MiscStatus\\1",
        kClassKey + L"\\MiscStatus\\1 [(default)] = \"131473\"",
        kClassKey + L"\\TypeLib",
        kClassKey + L"\\TypeLib [(default)] = " + Quoted(kAppId),
        kClassKey + L"\\Version",
        kClassKey + L"\\Version [(default)] = \"1.0\"",
        L"AppID\\" + kAppId,
        L"AppID\\" + kAppId + L" [(default)] = \"Narvo\"",
        L"AppID\\Narvo.DLL",
        L"AppID\\Narvo.DLL [AppID] = " + Quoted(kAppId),
    };
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::vector<std::wstring> WrittenTree() {
    std::vector<std::wstring> lines;
    for (const std::wstring& root :
         {std::wstring(L"Narvo.Viewer.1"), std::wstring(L"Narvo.Viewer"), kClassKey,
          L"AppID\\" + kAppId, std::wstring(L"AppID\\Narvo.DLL")}) {
        auto tree = DumpRegistryTree(HKEY_CLASSES_ROOT, root);
        lines.insert(lines.end(), tree.begin(), tree.end());
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::string Show(const std::vector<std::wstring>& lines) {
    std::string text;
    for (const auto& line : lines)
        text += Utf8(line) + "\n";
    return text;
}

const std::wstring kTypeLibKey = L"TypeLib\\" + kAppId;
const std::wstring kInterfaceKey = L"Interface\\" + GuidText(IID_IViewer);
// The type library's platform subkey: each build registers its own module under its own.
const std::wstring kPlatform = sizeof(void*) == 8 ? L"win64" : L"win32";
const std::wstring kEventsKey = L"Interface\\" + GuidText(DIID__IViewerEvents);

void SetText(const std::wstring& path, const std::wstring& name, const std::wstring& text) {
    RegSetKeyValueW(HKEY_CLASSES_ROOT, path.c_str(), name.empty() ? nullptr : name.c_str(), REG_SZ,
                    text.c_str(), DWORD((text.size() + 1) * sizeof(wchar_t)));
}

class Registration : public ::testing::Test {
protected:
    // Every test starts from a registered DLL and leaves one behind, whatever happened.
    void SetUp() override { ASSERT_EQ(RunRegsvr32(false), 0); }
    void TearDown() override { EXPECT_EQ(RunRegsvr32(false), 0); }
};

} // namespace

TEST_F(Registration, WritesExactlyTheTreeAndRebuildsTheReplacedKeys) {
    EXPECT_EQ(Show(WrittenTree()), Show(ExpectedTree()));

    // Strays below replaced keys go on the next registration; the rest is written once again.
    SetText(kClassKey + L"\\Control\\Stray", L"", L"x");
    SetText(kClassKey, L"Stray", L"x");
    SetText(kClassKey + L"\\ToolboxBitmap32", L"Stray", L"x");
    ASSERT_EQ(RunRegsvr32(false), 0);
    EXPECT_EQ(Show(WrittenTree()), Show(ExpectedTree()));
}

TEST_F(Registration, RegistersTheTypeLibraryForTheModule) {
    EXPECT_EQ(Utf8(RegistryText(HKEY_CLASSES_ROOT, kTypeLibKey + L"\\1.0\\409\\" + kPlatform)),
              Utf8(NarvoDllPath()));
    EXPECT_EQ(Utf8(RegistryText(HKEY_CLASSES_ROOT, kInterfaceKey + L"\\TypeLib")), Utf8(kAppId));
    EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, kEventsKey));

    ITypeLib* library = nullptr;
    ASSERT_EQ(LoadRegTypeLib(LIBID_Narvo, 1, 0, 0x0409, &library), S_OK);
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, LIBID_Narvo));
    EXPECT_EQ(attributes->lcid, 0x0409u);
    EXPECT_EQ(attributes->syskind, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
    library->ReleaseTLibAttr(attributes);
    library->Release();
}

// The other bitness's build of the control, registered in its own registry view of this prefix.
bool OtherBuildRegistered() {
    const std::wstring path = kClassKey + L"\\InprocServer32";
    const REGSAM other = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ | other, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

TEST_F(Registration, UnregisteringRemovesAllButTheSharedRoots) {
    SetText(kClassKey + L"\\Extra", L"", L"x"); // keys below removed keys go with them
    // The ProgIDs, one key for both views, stay while the other build still answers to them.
    const bool other = OtherBuildRegistered();
    if (!other) SetText(L"Narvo.Viewer\\Extra", L"", L"x");
    ASSERT_EQ(RunRegsvr32(true), 0);
    std::vector<std::wstring> left;
    for (const std::wstring& line : ExpectedTree())
        if (other && line.rfind(L"Narvo.Viewer", 0) == 0) left.push_back(line);
    EXPECT_EQ(Show(WrittenTree()), Show(left));
    EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, L"AppID"));
    EXPECT_TRUE(RegistryKeyExists(HKEY_CLASSES_ROOT, L"CLSID"));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, kTypeLibKey + L"\\1.0\\409\\" + kPlatform));
    if (!other) {
        EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, kTypeLibKey));
    }
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, kInterfaceKey));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CLASSES_ROOT, kEventsKey));

    // Removing what is already gone is no failure.
    EXPECT_EQ(RunRegsvr32(true), 0);
}
