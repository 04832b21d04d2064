// The progress box as Narvo.dll carries it: dialog 103 made into a window from the built module,
// and picture 203.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/WindowsSupport.h"

using namespace narvo::test;

namespace {

class ProgressTemplate : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        module_ = LoadLibraryExW(NarvoDllPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    }
    static void TearDownTestSuite() { FreeLibrary(module_); }
    void SetUp() override { ASSERT_NE(module_, nullptr); }

    static const BYTE* Resource(LPCWSTR type, int id, DWORD* size = nullptr) {
        HRSRC found = FindResourceW(module_, MAKEINTRESOURCEW(id), type);
        if (!found) return nullptr;
        if (size) *size = SizeofResource(module_, found);
        return static_cast<const BYTE*>(LockResource(LoadResource(module_, found)));
    }

    static HMODULE module_;
};

HMODULE ProgressTemplate::module_ = nullptr;

} // namespace

TEST_F(ProgressTemplate, BoxShowsItsPartsWhereAPersonLooksForThem) {
    InitCommonControls();
    // Loaded for real, so the picture control can load its bitmap from the module.
    HMODULE module = LoadLibraryW(NarvoDllPath().c_str());
    ASSERT_NE(module, nullptr);
    HWND box = CreateDialogParamW(
        module, MAKEINTRESOURCEW(103), nullptr,
        [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; }, 0);
    ASSERT_NE(box, nullptr);

    // A strip without a title bar.
    const LONG style = GetWindowLongW(box, GWL_STYLE);
    EXPECT_TRUE(style & WS_POPUP);
    EXPECT_FALSE((style & WS_CAPTION) == WS_CAPTION);
    RECT client{};
    GetClientRect(box, &client);
    EXPECT_GT(client.right, 3 * client.bottom);

    // Exactly its four parts, each of the kind it shows.
    std::vector<int> ids;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        ids.push_back(GetDlgCtrlID(child));
    EXPECT_EQ(ids, std::vector<int>({205, 202, 204, 206}));
    const auto classOf = [box](int id) {
        wchar_t name[64] = {};
        GetClassNameW(GetDlgItem(box, id), name, 64);
        std::string text = Utf8(name);
        for (char& c : text)
            c = char(tolower(static_cast<unsigned char>(c)));
        return text;
    };
    EXPECT_EQ(classOf(202), "msctls_progress32");
    for (int id : {204, 205, 206})
        EXPECT_EQ(classOf(id), "static") << id;

    // Where they stand in the box, as the window places them.
    const auto place = [box](int id) {
        RECT r{};
        GetWindowRect(GetDlgItem(box, id), &r);
        MapWindowPoints(nullptr, box, reinterpret_cast<POINT*>(&r), 2);
        return r;
    };
    const RECT message = place(205), bar = place(202), picture = place(204), percent = place(206);
    for (const RECT& r : {message, bar, picture, percent}) {
        EXPECT_GE(r.left, 0);
        EXPECT_GE(r.top, 0);
        EXPECT_LE(r.right, client.right);
        EXPECT_LE(r.bottom, client.bottom);
        EXPECT_GT(r.right, r.left);
        EXPECT_GT(r.bottom, r.top);
    }
    // The picture at the left, the message line beside it, the percentage at the top right on
    // the message's line, the bar along the bottom below both, as far right as the percentage.
    EXPECT_LT(picture.right, message.left);
    EXPECT_LT(picture.right, bar.left);
    EXPECT_LE(message.right, percent.left);
    EXPECT_EQ(message.top, percent.top);
    EXPECT_GE(bar.top, message.bottom);
    EXPECT_GE(bar.top, percent.bottom);
    EXPECT_EQ(bar.right, percent.right);
    EXPECT_GT(bar.right - bar.left, 4 * (bar.bottom - bar.top));
    EXPECT_TRUE(GetWindowLongW(GetDlgItem(box, 206), GWL_EXSTYLE) & WS_EX_RIGHT);

    // The picture shows the module's bitmap at its own size.
    const auto image =
        reinterpret_cast<HBITMAP>(SendDlgItemMessageW(box, 204, STM_GETIMAGE, IMAGE_BITMAP, 0));
    BITMAP info{};
    ASSERT_NE(image, nullptr);
    ASSERT_TRUE(GetObjectW(image, sizeof info, &info));
    EXPECT_EQ(info.bmWidth, 48);
    EXPECT_EQ(info.bmHeight, 46);

    DestroyWindow(box);
    FreeLibrary(module);
}

TEST_F(ProgressTemplate, PictureIsAPalettedBitmap) {
    DWORD size = 0;
    const BYTE* data = Resource(MAKEINTRESOURCEW(2), 203, &size); // RT_BITMAP
    ASSERT_NE(data, nullptr);
    BITMAPINFOHEADER header;
    ASSERT_GE(size, sizeof header);
    memcpy(&header, data, sizeof header);
    EXPECT_EQ(header.biWidth, 48);
    EXPECT_EQ(header.biHeight, 46);
    EXPECT_EQ(header.biBitCount, 8);
    EXPECT_EQ(header.biCompression, DWORD(BI_RGB));
    EXPECT_TRUE(header.biClrUsed == 0 || header.biClrUsed == 256) << header.biClrUsed;
    // Header, 256 palette entries, 46 rows of 48 bytes.
    EXPECT_EQ(size, sizeof header + 256 * 4 + 48 * 46);
    // A picture, not a blank: the ground, the sheet and the disc differ.
    const BYTE* pixels = data + sizeof header + 256 * 4;
    std::vector<bool> used(256);
    for (int i = 0; i < 48 * 46; ++i)
        used[pixels[i]] = true;
    int colours = 0;
    for (bool u : used)
        colours += u;
    EXPECT_GE(colours, 4);
}
