#include "fileutil/FileSelection.h"

namespace narvo {

std::string BuildOpenFileFilter(std::string_view filterText) {
    // Codes 1 to 32 only: bytes of a double-byte code page are never cut.
    while (!filterText.empty() && static_cast<unsigned char>(filterText.back()) >= 1 &&
           static_cast<unsigned char>(filterText.back()) <= 32)
        filterText.remove_suffix(1);
    if (filterText.empty()) filterText = kDefaultFileFilter;
    std::string list(filterText);
    for (char& c : list)
        if (c == '\t') c = '\0';
    list.push_back('\0');
    list.push_back('\0');
    return list;
}

} // namespace narvo
