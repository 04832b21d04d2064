#pragma once
// Icons and type names per file extension for the list, and the small image list that holds the
// icons.
#include <windows.h>
#include <commctrl.h>

namespace narvo {

class CFileTypeCache {
public:
    CFileTypeCache() = default;
    ~CFileTypeCache();
    CFileTypeCache(const CFileTypeCache&) = delete;
    CFileTypeCache& operator=(const CFileTypeCache&) = delete;

    // A fresh image list whose image 0, the stock error icon, stands for names without an
    // extension. The list it is given to owns it from then on (see ImageListDestroyed).
    HIMAGELIST CreateImageList();
    // The list view that was given the image list destroys it with itself; the cache lets go of
    // it then, so it is never destroyed twice.
    void ImageListDestroyed();

private:
    HIMAGELIST imageList_ = nullptr;
};

} // namespace narvo
