#pragma once
// Icons and type names per file extension for the list, and the small image list that holds the
// icons. The shell is asked once per extension for the life of the control.
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <string_view>
#include <unordered_map>

namespace narvo {

struct FileTypeEntry {
    int imageIndex = 0;   // into the image list
    std::string typeName; // the shell's name for the type, as it gave it
};

class CFileTypeCache {
public:
    CFileTypeCache() = default;
    ~CFileTypeCache();
    CFileTypeCache(const CFileTypeCache&) = delete;
    CFileTypeCache& operator=(const CFileTypeCache&) = delete;

    // The image list for a new list window: 16 x 16, 8-bit colour, image 0 the stock error icon
    // that stands for names without an extension. A list made earlier in the control's life is
    // handed out again, so the indexes the cache remembers keep naming their icons. The cache
    // owns the list: a list window must let go of it before it is destroyed (ReleaseFrom).
    HIMAGELIST CreateImageList();
    // Takes the image list back from listView, which is about to be destroyed and would
    // otherwise destroy the list with itself.
    void ReleaseFrom(HWND listView) const;

    // The icon and type name for an extension (the text after the last '.', compared as exact
    // bytes). The first lookup of an extension asks the shell and adds its icon to the image
    // list; an icon the shell does not give shows as image 0. Needs the image list.
    const FileTypeEntry& Lookup(std::string_view extension);

private:
    std::unordered_map<std::string, FileTypeEntry> entries_;
    HIMAGELIST imageList_ = nullptr;
};

} // namespace narvo
