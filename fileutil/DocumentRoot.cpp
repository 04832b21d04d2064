#include "fileutil/DocumentRoot.h"

#include "platform/FileSystem.h"
#include "platform/Settings.h"

namespace narvo {

std::string ResolveDocumentRoot() {
    std::string value;
    if (platform::ReadUserSetting(kDocumentRootSetting, value) && !value.empty()) return value;
    std::string folder;
    if (platform::UserDocumentsFolder(folder))
        value = folder + platform::PathSeparator();
    else
        value = platform::LastResortFolder();
    platform::WriteUserSetting(kDocumentRootSetting, value);
    return value;
}

} // namespace narvo
