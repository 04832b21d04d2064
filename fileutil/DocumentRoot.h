#pragma once
// The per-user document folder handed to page scripts.
#include <string>

namespace narvo {

// The name of the per-user setting that holds the document folder.
constexpr const char kDocumentRootSetting[] = "document_root";

// The stored setting exactly as stored when it is non-empty text. Otherwise the user's documents
// folder followed by one separator (or the platform's last-resort folder), which is then stored
// for next time; a failure to store it changes nothing about the answer. Never empty.
std::string ResolveDocumentRoot();

} // namespace narvo
