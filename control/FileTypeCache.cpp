#include "control/FileTypeCache.h"

#include <shellapi.h>

namespace narvo {

CFileTypeCache::~CFileTypeCache() {
    if (imageList_) ImageList_Destroy(imageList_);
}

HIMAGELIST CFileTypeCache::CreateImageList() {
    if (imageList_) return imageList_;
    imageList_ = ImageList_Create(16, 16, ILC_COLOR8, 4, 4);
    if (imageList_) ImageList_ReplaceIcon(imageList_, -1, LoadIconA(nullptr, IDI_HAND));
    return imageList_;
}

void CFileTypeCache::ReleaseFrom(HWND listView) const {
    if (listView && imageList_ &&
        reinterpret_cast<HIMAGELIST>(SendMessageA(listView, LVM_GETIMAGELIST, LVSIL_SMALL, 0)) ==
            imageList_)
        SendMessageA(listView, LVM_SETIMAGELIST, LVSIL_SMALL, 0);
}

const FileTypeEntry& CFileTypeCache::Lookup(std::string_view extension) {
    std::string key(extension);
    if (const auto found = entries_.find(key); found != entries_.end()) return found->second;

    // Only the extension matters to the shell here: no file of this name needs to exist.
    const std::string madeUpName = "fool." + key;
    SHFILEINFOA info{};
    SHGetFileInfoA(madeUpName.c_str(), FILE_ATTRIBUTE_NORMAL, &info, sizeof info,
                   SHGFI_USEFILEATTRIBUTES | SHGFI_ICON | SHGFI_SMALLICON | SHGFI_TYPENAME);
    FileTypeEntry entry;
    entry.typeName = info.szTypeName;
    if (info.hIcon) {
        // The image list keeps its own copy of the icon.
        const int index = imageList_ ? ImageList_ReplaceIcon(imageList_, -1, info.hIcon) : -1;
        if (index > 0) entry.imageIndex = index;
        DestroyIcon(info.hIcon);
    }
    return entries_.emplace(std::move(key), std::move(entry)).first->second;
}

} // namespace narvo
