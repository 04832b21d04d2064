#pragma once
// Registration scripts: a small tree language naming registry keys and their text values, applied
// to write the tree or to remove it again.
//
//   HKCR                                   a root: HKCR, HKCU or HKLM (or their long names)
//   {
//       NoRemove AppID                     kept when removing; only what is listed below goes
//       {
//           'Name' = s 'text'              a key with its default value
//           ForceRemove Key                deleted with everything below it before writing
//           {
//               val Value = s 'text'       a named value
//           }
//       }
//   }
//
// Names and values may be quoted with ' (a doubled '' stands for one). %NAME% is replaced from
// the replacement list, %% gives one %.
#include <windows.h>
#include <string>
#include <string_view>
#include <vector>

namespace narvo {

struct RegistryReplacement {
    std::wstring name;
    std::wstring value;
};

// Registering writes every key and value in script order; removing deletes every key not marked
// NoRemove with everything below it (a missing key is already removed). A script that does not
// parse changes nothing. Returns the first failure.
HRESULT ApplyRegistryScript(std::wstring_view script,
                            const std::vector<RegistryReplacement>& replacements, bool registering);

} // namespace narvo
