#pragma once
// The filter list of the open-file dialog, built from a page's tab-separated filter text.
#include <string>
#include <string_view>

namespace narvo {

// The filter offered when a page gives none: All Files, *.*.
inline constexpr std::string_view kDefaultFileFilter = "All Files\t*.*";

// Turns "description<TAB>pattern<TAB>..." into the dialog's list of NUL-terminated strings closed
// by an empty one. Trailing blanks and control characters are dropped first, so a trailing tab
// adds no empty part; a text left empty gives the default filter.
std::string BuildOpenFileFilter(std::string_view filterText);

} // namespace narvo
