#pragma once
// Page scripts and the text files they read: UTF-16 with its byte-order mark, else UTF-8.
#include <string>

namespace host {

bool ReadScript(const std::wstring& path, std::wstring& code);

} // namespace host
