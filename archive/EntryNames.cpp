#include "archive/EntryNames.h"

#include "platform/Text.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace narvo {

namespace {

constexpr unsigned kUnicodePathTag = 0x7075;

// Strict UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF) into code points; false
// for anything else. multiByte tells whether any character took more than one byte.
bool DecodeUtf8(std::string_view text, std::vector<char32_t>& out, bool& multiByte) {
    out.clear();
    multiByte = false;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        int length;
        char32_t c, least;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, c = lead & 0x1F, least = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, c = lead & 0x0F, least = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, c = lead & 0x07, least = 0x10000;
        } else {
            return false;
        }
        if (i + length > text.size()) return false;
        for (int k = 1; k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            c = c << 6 | (next & 0x3F);
        }
        if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        out.push_back(c);
        multiByte = true;
        i += length;
    }
    return true;
}

// Canonical compositions of a Latin letter (A-Z, a-z) with one combining mark into Latin-1
// Supplement and Latin Extended-A, the decomposed forms macOS writes for Western names.
struct Composition {
    std::uint16_t base, mark, composed;
};
constexpr Composition kLatin[] = {
    {0x41, 0x300, 0x0C0}, {0x41, 0x301, 0x0C1}, {0x41, 0x302, 0x0C2}, {0x41, 0x303, 0x0C3},
    {0x41, 0x304, 0x100}, {0x41, 0x306, 0x102}, {0x41, 0x308, 0x0C4}, {0x41, 0x30A, 0x0C5},
    {0x41, 0x328, 0x104}, {0x43, 0x301, 0x106}, {0x43, 0x302, 0x108}, {0x43, 0x307, 0x10A},
    {0x43, 0x30C, 0x10C}, {0x43, 0x327, 0x0C7}, {0x44, 0x30C, 0x10E}, {0x45, 0x300, 0x0C8},
    {0x45, 0x301, 0x0C9}, {0x45, 0x302, 0x0CA}, {0x45, 0x304, 0x112}, {0x45, 0x306, 0x114},
    {0x45, 0x307, 0x116}, {0x45, 0x308, 0x0CB}, {0x45, 0x30C, 0x11A}, {0x45, 0x328, 0x118},
    {0x47, 0x302, 0x11C}, {0x47, 0x306, 0x11E}, {0x47, 0x307, 0x120}, {0x47, 0x327, 0x122},
    {0x48, 0x302, 0x124}, {0x49, 0x300, 0x0CC}, {0x49, 0x301, 0x0CD}, {0x49, 0x302, 0x0CE},
    {0x49, 0x303, 0x128}, {0x49, 0x304, 0x12A}, {0x49, 0x306, 0x12C}, {0x49, 0x307, 0x130},
    {0x49, 0x308, 0x0CF}, {0x49, 0x328, 0x12E}, {0x4A, 0x302, 0x134}, {0x4B, 0x327, 0x136},
    {0x4C, 0x301, 0x139}, {0x4C, 0x30C, 0x13D}, {0x4C, 0x327, 0x13B}, {0x4E, 0x301, 0x143},
    {0x4E, 0x303, 0x0D1}, {0x4E, 0x30C, 0x147}, {0x4E, 0x327, 0x145}, {0x4F, 0x300, 0x0D2},
    {0x4F, 0x301, 0x0D3}, {0x4F, 0x302, 0x0D4}, {0x4F, 0x303, 0x0D5}, {0x4F, 0x304, 0x14C},
    {0x4F, 0x306, 0x14E}, {0x4F, 0x308, 0x0D6}, {0x4F, 0x30B, 0x150}, {0x52, 0x301, 0x154},
    {0x52, 0x30C, 0x158}, {0x52, 0x327, 0x156}, {0x53, 0x301, 0x15A}, {0x53, 0x302, 0x15C},
    {0x53, 0x30C, 0x160}, {0x53, 0x327, 0x15E}, {0x54, 0x30C, 0x164}, {0x54, 0x327, 0x162},
    {0x55, 0x300, 0x0D9}, {0x55, 0x301, 0x0DA}, {0x55, 0x302, 0x0DB}, {0x55, 0x303, 0x168},
    {0x55, 0x304, 0x16A}, {0x55, 0x306, 0x16C}, {0x55, 0x308, 0x0DC}, {0x55, 0x30A, 0x16E},
    {0x55, 0x30B, 0x170}, {0x55, 0x328, 0x172}, {0x57, 0x302, 0x174}, {0x59, 0x301, 0x0DD},
    {0x59, 0x302, 0x176}, {0x59, 0x308, 0x178}, {0x5A, 0x301, 0x179}, {0x5A, 0x307, 0x17B},
    {0x5A, 0x30C, 0x17D}, {0x61, 0x300, 0x0E0}, {0x61, 0x301, 0x0E1}, {0x61, 0x302, 0x0E2},
    {0x61, 0x303, 0x0E3}, {0x61, 0x304, 0x101}, {0x61, 0x306, 0x103}, {0x61, 0x308, 0x0E4},
    {0x61, 0x30A, 0x0E5}, {0x61, 0x328, 0x105}, {0x63, 0x301, 0x107}, {0x63, 0x302, 0x109},
    {0x63, 0x307, 0x10B}, {0x63, 0x30C, 0x10D}, {0x63, 0x327, 0x0E7}, {0x64, 0x30C, 0x10F},
    {0x65, 0x300, 0x0E8}, {0x65, 0x301, 0x0E9}, {0x65, 0x302, 0x0EA}, {0x65, 0x304, 0x113},
    {0x65, 0x306, 0x115}, {0x65, 0x307, 0x117}, {0x65, 0x308, 0x0EB}, {0x65, 0x30C, 0x11B},
    {0x65, 0x328, 0x119}, {0x67, 0x302, 0x11D}, {0x67, 0x306, 0x11F}, {0x67, 0x307, 0x121},
    {0x67, 0x327, 0x123}, {0x68, 0x302, 0x125}, {0x69, 0x300, 0x0EC}, {0x69, 0x301, 0x0ED},
    {0x69, 0x302, 0x0EE}, {0x69, 0x303, 0x129}, {0x69, 0x304, 0x12B}, {0x69, 0x306, 0x12D},
    {0x69, 0x308, 0x0EF}, {0x69, 0x328, 0x12F}, {0x6A, 0x302, 0x135}, {0x6B, 0x327, 0x137},
    {0x6C, 0x301, 0x13A}, {0x6C, 0x30C, 0x13E}, {0x6C, 0x327, 0x13C}, {0x6E, 0x301, 0x144},
    {0x6E, 0x303, 0x0F1}, {0x6E, 0x30C, 0x148}, {0x6E, 0x327, 0x146}, {0x6F, 0x300, 0x0F2},
    {0x6F, 0x301, 0x0F3}, {0x6F, 0x302, 0x0F4}, {0x6F, 0x303, 0x0F5}, {0x6F, 0x304, 0x14D},
    {0x6F, 0x306, 0x14F}, {0x6F, 0x308, 0x0F6}, {0x6F, 0x30B, 0x151}, {0x72, 0x301, 0x155},
    {0x72, 0x30C, 0x159}, {0x72, 0x327, 0x157}, {0x73, 0x301, 0x15B}, {0x73, 0x302, 0x15D},
    {0x73, 0x30C, 0x161}, {0x73, 0x327, 0x15F}, {0x74, 0x30C, 0x165}, {0x74, 0x327, 0x163},
    {0x75, 0x300, 0x0F9}, {0x75, 0x301, 0x0FA}, {0x75, 0x302, 0x0FB}, {0x75, 0x303, 0x169},
    {0x75, 0x304, 0x16B}, {0x75, 0x306, 0x16D}, {0x75, 0x308, 0x0FC}, {0x75, 0x30A, 0x16F},
    {0x75, 0x30B, 0x171}, {0x75, 0x328, 0x173}, {0x77, 0x302, 0x175}, {0x79, 0x301, 0x0FD},
    {0x79, 0x302, 0x177}, {0x79, 0x308, 0x0FF}, {0x7A, 0x301, 0x17A}, {0x7A, 0x307, 0x17C},
    {0x7A, 0x30C, 0x17E}};

char32_t ComposeLatin(char32_t base, char32_t mark) {
    if (base > 0x7A || mark < 0x300 || mark > 0x328) return 0;
    const auto found =
        std::lower_bound(std::begin(kLatin), std::end(kLatin),
                         Composition{std::uint16_t(base), std::uint16_t(mark), 0},
                         [](const Composition& a, const Composition& b) {
                             return a.base != b.base ? a.base < b.base : a.mark < b.mark;
                         });
    return found != std::end(kLatin) && found->base == base && found->mark == mark ? found->composed
                                                                                   : 0;
}

// NFC for what archives carry in practice: Hangul syllables from conjoining jamo (algorithmic,
// complete) and the Latin compositions above. Other decomposed text stays as it is.
void Compose(std::vector<char32_t>& text) {
    constexpr char32_t kSBase = 0xAC00, kLBase = 0x1100, kVBase = 0x1161, kTBase = 0x11A7;
    constexpr char32_t kLCount = 19, kVCount = 21, kTCount = 28, kSCount = 11172;
    std::size_t out = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char32_t c = text[i];
        if (out != 0) {
            char32_t& last = text[out - 1];
            if (last >= kLBase && last < kLBase + kLCount && c >= kVBase && c < kVBase + kVCount) {
                last = kSBase + ((last - kLBase) * kVCount + (c - kVBase)) * kTCount;
                continue;
            }
            if (last >= kSBase && last < kSBase + kSCount && (last - kSBase) % kTCount == 0 &&
                c > kTBase && c < kTBase + kTCount) {
                last += c - kTBase;
                continue;
            }
            if (const char32_t composed = ComposeLatin(last, c)) {
                last = composed;
                continue;
            }
        }
        text[out++] = c;
    }
    text.resize(out);
}

// The UTF-8 name of an Info-ZIP Unicode Path field (version 1) whose CRC-32 is the stored name's.
bool UnicodePathField(std::string_view stored, std::string_view extra, std::string_view& name) {
    while (extra.size() >= 4) {
        const auto byte = [&](std::size_t at) {
            return unsigned(static_cast<unsigned char>(extra[at]));
        };
        const unsigned tag = byte(0) | byte(1) << 8;
        const std::size_t length = byte(2) | byte(3) << 8;
        if (4 + length > extra.size()) return false;
        if (tag == kUnicodePathTag && length >= 5 && byte(4) == 1) {
            const std::uint32_t crc =
                byte(5) | byte(6) << 8 | byte(7) << 16 | std::uint32_t(byte(8)) << 24;
            const auto* bytes = reinterpret_cast<const Bytef*>(stored.data());
            if (crc32_z(crc32(0, nullptr, 0), bytes, stored.size()) != crc) return false;
            name = extra.substr(9, length - 5);
            return true;
        }
        extra.remove_prefix(4 + length);
    }
    return false;
}

} // namespace

bool DecodeEntryName(std::string& name, std::string_view extra) {
    std::string_view utf8 = name;
    std::string_view fromField;
    const bool field = !extra.empty() && UnicodePathField(name, extra, fromField);
    if (field) {
        utf8 = fromField;
    } else if (std::all_of(name.begin(), name.end(), [](char c) { return (c & 0x80) == 0; })) {
        return false; // plain ASCII reads the same in every encoding (the common case, kept fast)
    }
    // The UTF-8 flag needs no test of its own: a flagged name is valid UTF-8 or unusable as
    // such, and an unflagged name in the ANSI code page is almost never valid UTF-8 with
    // multi-byte characters, so validity decides for both.
    thread_local std::vector<char32_t> text;
    bool multiByte = false;
    if (!DecodeUtf8(utf8, text, multiByte)) return false;
    Compose(text);
    std::string converted;
    converted.reserve(utf8.size());
    for (const char32_t c : text) {
        if (c >= 0x80 && platform::AppendAnsiChar(c, converted)) continue;
        if (c < 0x80) {
            converted += char(c);
            continue;
        }
        // The rule for a character the code page cannot hold: "_u" and its code point in
        // upper-case hexadecimal, so that the name stays distinct and valid.
        char code[16];
        const int n = std::snprintf(code, sizeof code, "_u%04X", unsigned(c));
        converted.append(code, std::size_t(n));
    }
    name = std::move(converted);
    return true;
}

} // namespace narvo

namespace narvo {

namespace {

// The superscript digits ¹ ² ³ in the ANSI code page (empty where it has none).
const std::array<std::string, 3>& SuperscriptDigits() {
    static const std::array<std::string, 3> digits = [] {
        std::array<std::string, 3> d;
        const char32_t codes[3] = {0xB9, 0xB2, 0xB3};
        for (int i = 0; i < 3; ++i)
            if (!platform::AppendAnsiChar(codes[i], d[i])) d[i].clear();
        return d;
    }();
    return digits;
}

bool IsDeviceStem(std::string_view stem) {
    while (!stem.empty() && stem.back() == ' ')
        stem.remove_suffix(1);
    std::string upper(stem.substr(0, 8));
    if (stem.size() > 8) return false;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" || upper == "CONIN$" ||
        upper == "CONOUT$")
        return true;
    if (!upper.starts_with("COM") && !upper.starts_with("LPT")) return false;
    const std::string_view digit = std::string_view(upper).substr(3);
    if (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') return true;
    for (const std::string& superscript : SuperscriptDigits())
        if (!superscript.empty() && digit == superscript) return true;
    return false;
}

} // namespace

bool IsWritableBaseName(std::string_view baseName) {
    if (baseName.empty()) return true;
    if (baseName.back() == '.' || baseName.back() == ' ') return false;
    for (const char c : baseName) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F ||
            std::string_view(":<>\"|?*").find(c) != std::string_view::npos)
            return false;
    }
    return !IsDeviceStem(baseName.substr(0, baseName.find('.')));
}

} // namespace narvo
