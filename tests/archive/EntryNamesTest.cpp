// Names as the rest of the system sees them, and the base names no build writes.
#include "archive/EntryNames.h"

#include "platform/Text.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

using namespace narvo;

namespace {

#ifdef _WIN32
constexpr bool kWindows = true; // the code page is not UTF-8 there
#else
constexpr bool kWindows = false;
#endif

std::string Decoded(std::string name, std::string extra = {}) {
    DecodeEntryName(name, extra);
    return name;
}

std::string UnicodePathField(const std::string& stored, const std::string& utf8) {
    const auto crc = crc32(0, reinterpret_cast<const Bytef*>(stored.data()), uInt(stored.size()));
    std::string field = {'\x75', '\x70', char(5 + utf8.size()), '\0', '\1'};
    for (int i = 0; i < 4; ++i)
        field += char(crc >> (8 * i));
    return field + utf8;
}

} // namespace

TEST(DecodeEntryName, ComposesAndConvertsUtf8AndKeepsEverythingElse) {
    // Decomposed Hangul (as macOS writes it) composes to the syllables 한글.
    const std::string nfd =
        "\xE1\x84\x92\xE1\x85\xA1\xE1\x86\xAB\xE1\x84\x80\xE1\x85\xB3\xE1\x86\xAF.txt";
    const std::string nfc = "\xED\x95\x9C\xEA\xB8\x80.txt";
    const std::string latin = "re\xCC\x81sume\xCC\x81"; // "résumé" with combining acute accents
    if (!kWindows) {
        EXPECT_EQ(Decoded(nfd), nfc);
        EXPECT_EQ(Decoded(latin), "r\xC3\xA9sum\xC3\xA9");
        EXPECT_EQ(Decoded("a", UnicodePathField("a", "\xC3\xBC.txt")), "\xC3\xBC.txt");
    }
    // Plain ASCII, CP949 bytes (not UTF-8), overlong and surrogate forms stay byte for byte.
    for (const std::string& raw :
         {std::string("plain/name.txt"), std::string("\xC7\xD1\xB1\xDB.txt"),
          std::string("\xC0\xAF.txt"), std::string("\xED\xA0\x80.txt")})
        EXPECT_EQ(Decoded(raw), raw);
    // A Unicode Path field whose CRC belongs to another name is ignored.
    EXPECT_EQ(Decoded("a", UnicodePathField("b", "x.txt")), "a");
    EXPECT_EQ(Decoded("a", std::string("\x75\x70\x50\x00\x01", 5)), "a") << "a truncated field";
}

TEST(IsWritableBaseName, RefusesWhatWindowsWouldNotKeep) {
    for (const char* bad :
         {"CON",    "con.txt",   "AUX .txt", "nul.tar.gz", "COM0", "com9.log", "LPT1",
          "conin$", "CONOUT$.x", "a.",       "a ",         "a:b",  "a<b",      "a>b",
          "a\"b",   "a|b",       "a?b",      "a*b",        "a\tb", "a\x7F"})
        EXPECT_FALSE(IsWritableBaseName(bad)) << bad;
    std::string superscriptOne = "COM"; // COM¹ in the code page names are in
    if (platform::AppendAnsiChar(0xB9, superscriptOne)) {
        EXPECT_FALSE(IsWritableBaseName(superscriptOne + ".txt")) << superscriptOne;
    }
    for (const char* good : {"CONSOLE.txt", "COM10", "nula.txt", "LPT.txt", "a..b.txt", ".profile",
                             "\xC7\xD1.txt", "caf_u00E9.txt"})
        EXPECT_TRUE(IsWritableBaseName(good)) << good;
}
