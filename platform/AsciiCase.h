#pragma once
// Letter case of ASCII letters only: names in archives, URLs, file extensions and script members
// compare the same whatever the locale, and non-ASCII characters are never folded.
#include <string_view>

namespace narvo {

template <class Char> constexpr Char AsciiLower(Char c) {
    return c >= Char('A') && c <= Char('Z') ? Char(c - Char('A') + Char('a')) : c;
}

template <class Char> constexpr Char AsciiUpper(Char c) {
    return c >= Char('a') && c <= Char('z') ? Char(c - Char('a') + Char('A')) : c;
}

template <class Char>
constexpr bool AsciiEqualNoCase(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

template <class Char>
constexpr bool AsciiStartsWithNoCase(std::basic_string_view<Char> text,
                                     std::basic_string_view<Char> prefix) {
    return text.size() >= prefix.size() && AsciiEqualNoCase(text.substr(0, prefix.size()), prefix);
}

} // namespace narvo
