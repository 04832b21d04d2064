#include "tests/fuzz/shim/Registry.h"

#include <cwctype>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <vector>

using narvo::fuzz::RegistryKey;

// A handle names its key by the path from its root, so a handle to a key deleted since reads
// as missing instead of reaching freed memory.
struct RegistryHandle {
    RegistryKey* root;
    std::vector<std::wstring> path;
};

namespace {

RegistryKey roots[3];
RegistryHandle rootHandles[3] = {{&roots[0], {}}, {&roots[1], {}}, {&roots[2], {}}};
std::set<RegistryHandle*> open;

std::wstring Fold(std::wstring text) {
    for (wchar_t& c : text)
        c = wchar_t(std::towlower(wint_t(c)));
    return text;
}

RegistryKey* Find(const RegistryHandle* handle) {
    RegistryKey* key = handle->root;
    for (const auto& part : handle->path) {
        const auto found = key->keys.find(part);
        if (found == key->keys.end()) return nullptr;
        key = &found->second;
    }
    return key;
}

bool IsHandle(HKEY key) {
    for (auto& root : rootHandles)
        if (key == &root) return true;
    return open.count(key) != 0;
}

// The parts of a subkey path; Windows splits at backslashes, and an empty path names the key.
std::vector<std::wstring> Parts(const wchar_t* subKey) {
    std::vector<std::wstring> parts;
    std::wstring part;
    for (const wchar_t* p = subKey ? subKey : L""; *p; ++p) {
        if (*p == L'\\') {
            if (!part.empty()) parts.push_back(Fold(part));
            part.clear();
        } else {
            part += *p;
        }
    }
    if (!part.empty()) parts.push_back(Fold(part));
    return parts;
}

LONG Open(HKEY parent, const wchar_t* subKey, bool create, PHKEY result) {
    if (!IsHandle(parent) || !result) return ERROR_ACCESS_DENIED;
    RegistryKey* key = Find(parent);
    if (!key) return ERROR_FILE_NOT_FOUND;
    auto* handle = new RegistryHandle{parent->root, parent->path};
    for (const auto& part : Parts(subKey)) {
        if (!create && !key->keys.count(part)) {
            delete handle;
            return ERROR_FILE_NOT_FOUND;
        }
        key = &key->keys[part];
        handle->path.push_back(part);
    }
    open.insert(handle);
    *result = handle;
    return ERROR_SUCCESS;
}

} // namespace

HKEY HKEY_CLASSES_ROOT = &rootHandles[0];
HKEY HKEY_CURRENT_USER = &rootHandles[1];
HKEY HKEY_LOCAL_MACHINE = &rootHandles[2];

int _wcsicmp(const wchar_t* a, const wchar_t* b) {
    const std::wstring x = Fold(a), y = Fold(b);
    return x.compare(y);
}

LONG RegCreateKeyExW(HKEY parent, const wchar_t* subKey, DWORD, wchar_t*, DWORD, REGSAM, void*,
                     PHKEY result, DWORD*) {
    return Open(parent, subKey, true, result);
}

LONG RegOpenKeyExW(HKEY parent, const wchar_t* subKey, DWORD, REGSAM, PHKEY result) {
    return Open(parent, subKey, false, result);
}

LONG RegSetValueExW(HKEY handle, const wchar_t* name, DWORD, DWORD type, const BYTE* data,
                    DWORD size) {
    if (!IsHandle(handle) || type != REG_SZ || (size % sizeof(wchar_t)) != 0)
        return ERROR_ACCESS_DENIED;
    RegistryKey* key = Find(handle);
    if (!key) return ERROR_FILE_NOT_FOUND;
    const auto* text = reinterpret_cast<const wchar_t*>(data);
    const std::size_t count = size / sizeof(wchar_t);
    if (count == 0 || text[count - 1] != L'\0') return ERROR_INVALID_DATA;
    key->values[Fold(name ? name : L"")] = std::wstring(text, count - 1);
    return ERROR_SUCCESS;
}

LONG RegDeleteValueW(HKEY handle, const wchar_t* name) {
    if (!IsHandle(handle)) return ERROR_ACCESS_DENIED;
    RegistryKey* key = Find(handle);
    if (!key) return ERROR_FILE_NOT_FOUND;
    return key->values.erase(Fold(name ? name : L"")) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

// As on Windows: the named subkey goes with everything below it; an empty name empties the key
// itself (its values and subkeys) and keeps it.
LONG RegDeleteTreeW(HKEY handle, const wchar_t* subKey) {
    if (getenv("SHIM_TRACE")) fprintf(stderr, "DeleteTree [%ls]\n", subKey);
    if (!IsHandle(handle)) return ERROR_ACCESS_DENIED;
    RegistryKey* key = Find(handle);
    if (!key) return ERROR_FILE_NOT_FOUND;
    const auto parts = Parts(subKey);
    if (parts.empty()) {
        key->values.clear();
        key->keys.clear();
        return ERROR_SUCCESS;
    }
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        const auto found = key->keys.find(parts[i]);
        if (found == key->keys.end()) return ERROR_FILE_NOT_FOUND;
        key = &found->second;
    }
    return key->keys.erase(parts.back()) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

LONG RegCloseKey(HKEY handle) {
    if (!open.erase(handle)) return ERROR_ACCESS_DENIED;
    delete handle;
    return ERROR_SUCCESS;
}

namespace narvo::fuzz {

RegistryKey& RegistryRoot(HKEY root) {
    return *root->root;
}
int OpenRegistryHandles() {
    return int(open.size());
}

} // namespace narvo::fuzz
