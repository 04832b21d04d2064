#pragma once
// The in-memory registry behind the shim: keys by folded name, text values, a handle count.
#include <windows.h>

#include <map>
#include <string>

namespace narvo::fuzz {

struct RegistryKey {
    std::map<std::wstring, std::wstring> values; // by folded name; "" is the default value
    std::map<std::wstring, RegistryKey> keys;    // by folded name
    bool operator==(const RegistryKey&) const = default;
};

// The three roots' trees, to set up and compare.
RegistryKey& RegistryRoot(HKEY root);
// Handles opened and not yet closed.
int OpenRegistryHandles();

} // namespace narvo::fuzz
