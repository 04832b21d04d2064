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

namespace detail {

template <class Char>
constexpr bool AsciiEqualNoCase(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

} // namespace detail

constexpr bool AsciiEqualNoCase(std::string_view a, std::string_view b) {
    return detail::AsciiEqualNoCase(a, b);
}
constexpr bool AsciiEqualNoCase(std::wstring_view a, std::wstring_view b) {
    return detail::AsciiEqualNoCase(a, b);
}
constexpr bool AsciiStartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && AsciiEqualNoCase(text.substr(0, prefix.size()), prefix);
}
constexpr bool AsciiStartsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
    return text.size() >= prefix.size() && AsciiEqualNoCase(text.substr(0, prefix.size()), prefix);
}

} // namespace narvo
