#include "control/FileTypeCache.h"

namespace narvo {

CFileTypeCache::~CFileTypeCache() {
    if (imageList_) ImageList_Destroy(imageList_);
}

HIMAGELIST CFileTypeCache::CreateImageList() {
    if (imageList_) ImageList_Destroy(imageList_);
    imageList_ = ImageList_Create(16, 16, ILC_COLOR8, 4, 4);
    if (imageList_) ImageList_ReplaceIcon(imageList_, -1, LoadIconA(nullptr, IDI_HAND));
    return imageList_;
}

void CFileTypeCache::ImageListDestroyed() {
    imageList_ = nullptr;
}

} // namespace narvo
