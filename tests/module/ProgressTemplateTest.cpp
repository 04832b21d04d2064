// The progress box as Narvo.dll stores it: dialog template 103 read back from the built module
// (what the resource compiler made of the script, default styles included) and picture 203.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/WindowsSupport.h"

using namespace narvo::test;

namespace {

// Reads a DLGTEMPLATEEX front to back.
class TemplateReader {
public:
    explicit TemplateReader(const BYTE* data) : p_(data) {}
    WORD Word() { return Take<WORD>(); }
    DWORD Dword() { return Take<DWORD>(); }
    short Short() { return Take<short>(); }
    BYTE Byte() { return Take<BYTE>(); }
    // A name or an ordinal: "" for none, "#N" for ordinal N, else the text.
    std::string NameOrOrdinal() {
        if (*reinterpret_cast<const WORD*>(p_) == 0xFFFF) {
            Word();
            std::string ordinal = "#";
            ordinal += std::to_string(Word()); // "#" + ... trips a false -Wrestrict in GCC 12
            return ordinal;
        }
        return Text();
    }
    std::string Text() {
        std::wstring text;
        while (WORD c = Word())
            text += wchar_t(c);
        return Utf8(text);
    }
    void AlignDword(const BYTE* base) {
        while ((p_ - base) % 4)
            ++p_;
    }
    void Skip(size_t bytes) { p_ += bytes; }

private:
    template <class T> T Take() {
        T value;
        memcpy(&value, p_, sizeof value);
        p_ += sizeof value;
        return value;
    }
    const BYTE* p_;
};

// Class names are matched without regard to case; ordinal 0x82 is the predefined static class.
std::string ClassName(std::string name) {
    if (name == "#130") return "static";
    for (char& c : name)
        c = char(tolower(static_cast<unsigned char>(c)));
    return name;
}

struct Item {
    DWORD id;
    std::string className, text;
    DWORD style, exStyle;
    short x, y, cx, cy;
};

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

TEST_F(ProgressTemplate, DialogAndControlsAsLaidOut) {
    const BYTE* data = Resource(MAKEINTRESOURCEW(5), 103); // RT_DIALOG
    ASSERT_NE(data, nullptr);
    TemplateReader in(data);
    ASSERT_EQ(in.Word(), 1);      // version
    ASSERT_EQ(in.Word(), 0xFFFF); // an extended template
    in.Dword();                   // help id
    EXPECT_EQ(in.Dword(), 0u);    // extended style
    // WS_POPUP | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS: no caption, no title bar.
    EXPECT_EQ(in.Dword(), 0x800800C8u);
    const WORD count = in.Word();
    const short x = in.Short(), y = in.Short(), cx = in.Short(), cy = in.Short();
    EXPECT_EQ(std::vector<short>({x, y, cx, cy}), std::vector<short>({0, 0, 217, 33}));
    EXPECT_EQ(in.NameOrOrdinal(), ""); // no menu
    EXPECT_EQ(in.NameOrOrdinal(), ""); // the default dialog class
    EXPECT_EQ(in.Text(), "");          // no title
    EXPECT_EQ(in.Word(), 9);           // points
    EXPECT_EQ(in.Word(), 0);           // weight
    EXPECT_EQ(in.Byte(), 0);           // not italic
    EXPECT_EQ(in.Byte(), 0);           // character set
    EXPECT_EQ(in.Text(), "MS Shell Dlg");

    std::vector<Item> items;
    for (WORD i = 0; i < count; ++i) {
        in.AlignDword(data);
        Item item{};
        in.Dword(); // help id
        item.exStyle = in.Dword();
        item.style = in.Dword();
        item.x = in.Short();
        item.y = in.Short();
        item.cx = in.Short();
        item.cy = in.Short();
        item.id = in.Dword();
        item.className = ClassName(in.NameOrOrdinal());
        item.text = in.NameOrOrdinal();
        in.Skip(in.Word());
        items.push_back(item);
    }
    const std::vector<Item> expected = {
        {205, "static", "", 0x50020000, 0, 35, 2, 133, 11},
        {202, "msctls_progress32", "", 0x50000000, WS_EX_STATICEDGE, 34, 23, 179, 6},
        {204, "static", "#203", 0x50001A0E, WS_EX_TRANSPARENT, 2, 2, 27, 26},
        {206, "static", "", 0x50020000, WS_EX_RIGHT, 176, 2, 37, 11},
    };
    ASSERT_EQ(items.size(), expected.size());
    for (size_t i = 0; i < items.size(); ++i) {
        const Item &got = items[i], &want = expected[i];
        SCOPED_TRACE("control " + std::to_string(want.id));
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(got.className, want.className);
        EXPECT_EQ(got.text, want.text);
        EXPECT_EQ(got.style, want.style);
        EXPECT_EQ(got.exStyle, want.exStyle);
        EXPECT_EQ(std::vector<short>({got.x, got.y, got.cx, got.cy}),
                  std::vector<short>({want.x, want.y, want.cx, want.cy}));
    }
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
