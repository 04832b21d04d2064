#include "module/Registrar.h"

#include <cwctype>
#include <memory>
#include <new>
#include <optional>

namespace narvo {
namespace {

const HRESULT kBadScript = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

struct Entry;

struct Key {
    enum class Mark { None, NoRemove, ForceRemove } mark = Mark::None;
    std::wstring name;
    std::optional<std::wstring> defaultValue;
    std::vector<Entry> entries; // named values and subkeys, in script order
};

struct Entry {
    bool isValue = false;
    std::wstring valueName, valueData; // for a named value
    Key key;                           // for a subkey
};

struct Root {
    HKEY hive;
    std::vector<Entry> entries;
};

struct Token {
    std::wstring text;
    bool quoted = false;
    bool Is(const wchar_t* word) const { return !quoted && _wcsicmp(text.c_str(), word) == 0; }
};

class Parser {
public:
    Parser(std::wstring_view script, const std::vector<RegistryReplacement>& replacements)
        : script_(script), replacements_(replacements) {}

    HRESULT Parse(std::vector<Root>& roots) {
        Token token;
        while (Next(token)) {
            Root root{Hive(token), {}};
            if (!root.hive || !Expect(L"{") || !ParseEntries(root.entries)) return kBadScript;
            roots.push_back(std::move(root));
        }
        return failed_ ? kBadScript : S_OK;
    }

private:
    static HKEY Hive(const Token& token) {
        if (token.Is(L"HKCR") || token.Is(L"HKEY_CLASSES_ROOT")) return HKEY_CLASSES_ROOT;
        if (token.Is(L"HKCU") || token.Is(L"HKEY_CURRENT_USER")) return HKEY_CURRENT_USER;
        if (token.Is(L"HKLM") || token.Is(L"HKEY_LOCAL_MACHINE")) return HKEY_LOCAL_MACHINE;
        return nullptr;
    }

    // Entries up to and including the closing brace.
    bool ParseEntries(std::vector<Entry>& entries) {
        Token token;
        while (Next(token)) {
            if (token.Is(L"}")) return true;
            Entry entry;
            if (token.Is(L"val")) {
                entry.isValue = true;
                if (!Next(token) || !IsName(token) || HasNul(token.text)) return false;
                entry.valueName = token.text;
                if (!Expect(L"=") || !ParseText(entry.valueData)) return false;
            } else if (!ParseKey(token, entry.key)) {
                return false;
            }
            entries.push_back(std::move(entry));
        }
        return false; // the script ended inside a block
    }

    bool ParseKey(Token token, Key& key) {
        if (token.Is(L"NoRemove") || token.Is(L"ForceRemove")) {
            key.mark = token.Is(L"NoRemove") ? Key::Mark::NoRemove : Key::Mark::ForceRemove;
            if (!Next(token)) return false;
        }
        if (!IsName(token) || !IsKeyPath(token.text)) return false;
        key.name = token.text;
        Token next;
        if (Peek(next) && next.Is(L"=")) {
            Next(next);
            std::wstring value;
            if (!ParseText(value)) return false;
            key.defaultValue = std::move(value);
        }
        if (Peek(next) && next.Is(L"{")) {
            Next(next);
            return ParseEntries(key.entries);
        }
        return !failed_;
    }

    // "s 'text'": the only value type the product writes is text.
    bool ParseText(std::wstring& value) {
        Token token;
        if (!Next(token) || !token.Is(L"s") || !Next(token) || !IsName(token)) return false;
        value = token.text;
        return true;
    }

    static bool IsName(const Token& token) {
        return token.quoted || (!token.text.empty() && token.text != L"{" && token.text != L"}" &&
                                token.text != L"=");
    }

    static bool HasNul(const std::wstring& text) { return text.find(L'\0') != std::wstring::npos; }

    // A key's name must name a key below its parent: an empty name (or an empty part between
    // backslashes) names the parent itself, which removing would empty, and the registry would
    // read a name with a NUL only up to it.
    static bool IsKeyPath(const std::wstring& name) {
        if (name.empty() || HasNul(name) || name.front() == L'\\' || name.back() == L'\\')
            return false;
        return name.find(L"\\\\") == std::wstring::npos;
    }

    bool Expect(const wchar_t* word) {
        Token token;
        return Next(token) && token.Is(word);
    }

    bool Peek(Token& token) {
        const size_t saved = position_;
        const bool found = Next(token);
        position_ = saved;
        return found;
    }

    bool Next(Token& token) {
        token = Token{};
        while (position_ < script_.size() && std::iswspace(script_[position_]))
            ++position_;
        if (position_ >= script_.size()) return false;
        std::wstring raw;
        if (script_[position_] == L'\'') {
            token.quoted = true;
            for (++position_;; ++position_) {
                if (position_ >= script_.size()) {
                    failed_ = true; // an unterminated quote
                    return false;
                }
                if (script_[position_] == L'\'') {
                    if (position_ + 1 < script_.size() && script_[position_ + 1] == L'\'') {
                        raw += L'\'';
                        ++position_;
                        continue;
                    }
                    ++position_;
                    break;
                }
                raw += script_[position_];
            }
        } else if (script_[position_] == L'=') {
            raw = L"=";
            ++position_;
        } else {
            while (position_ < script_.size() && !std::iswspace(script_[position_]) &&
                   script_[position_] != L'=')
                raw += script_[position_++];
        }
        if (!Replace(raw, token.text)) {
            failed_ = true;
            return false;
        }
        return true;
    }

    bool Replace(const std::wstring& raw, std::wstring& out) const {
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] != L'%') {
                out += raw[i];
                continue;
            }
            const size_t end = raw.find(L'%', i + 1);
            if (end == std::wstring::npos) return false;
            const std::wstring name = raw.substr(i + 1, end - i - 1);
            if (name.empty()) {
                out += L'%';
            } else {
                const RegistryReplacement* found = nullptr;
                for (const auto& replacement : replacements_)
                    if (_wcsicmp(replacement.name.c_str(), name.c_str()) == 0) found = &replacement;
                if (!found) return false;
                out += found->value;
            }
            i = end;
        }
        return true;
    }

    std::wstring_view script_;
    const std::vector<RegistryReplacement>& replacements_;
    size_t position_ = 0;
    bool failed_ = false;
};

HRESULT FromStatus(LONG status) {
    return status == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(status);
}

HRESULT DeleteTree(HKEY parent, const std::wstring& name) {
    const LONG status = RegDeleteTreeW(parent, name.c_str());
    return status == ERROR_FILE_NOT_FOUND ? S_OK : FromStatus(status);
}

HRESULT SetText(HKEY key, const wchar_t* name, const std::wstring& text) {
    return FromStatus(RegSetValueExW(key, name, 0, REG_SZ,
                                     reinterpret_cast<const BYTE*>(text.c_str()),
                                     DWORD((text.size() + 1) * sizeof(wchar_t))));
}

HRESULT Write(HKEY parent, const std::vector<Entry>& entries);

HRESULT WriteKey(HKEY parent, const Key& key) {
    if (key.mark == Key::Mark::ForceRemove) {
        const HRESULT hr = DeleteTree(parent, key.name);
        if (FAILED(hr)) return hr;
    }
    HKEY handle = nullptr;
    HRESULT hr = FromStatus(RegCreateKeyExW(parent, key.name.c_str(), 0, nullptr, 0,
                                            KEY_READ | KEY_WRITE, nullptr, &handle, nullptr));
    if (FAILED(hr)) return hr;
    if (key.defaultValue) hr = SetText(handle, nullptr, *key.defaultValue);
    if (SUCCEEDED(hr)) hr = Write(handle, key.entries);
    RegCloseKey(handle);
    return hr;
}

HRESULT Write(HKEY parent, const std::vector<Entry>& entries) {
    for (const Entry& entry : entries) {
        const HRESULT hr = entry.isValue ? SetText(parent, entry.valueName.c_str(), entry.valueData)
                                         : WriteKey(parent, entry.key);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT Remove(HKEY parent, const std::vector<Entry>& entries) {
    for (const Entry& entry : entries) {
        if (entry.isValue) {
            const LONG status = RegDeleteValueW(parent, entry.valueName.c_str());
            if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
                return FromStatus(status);
            continue;
        }
        const Key& key = entry.key;
        if (key.mark != Key::Mark::NoRemove) {
            const HRESULT hr = DeleteTree(parent, key.name);
            if (FAILED(hr)) return hr;
            continue;
        }
        HKEY handle = nullptr;
        const LONG status =
            RegOpenKeyExW(parent, key.name.c_str(), 0, KEY_READ | KEY_WRITE, &handle);
        if (status == ERROR_FILE_NOT_FOUND) continue;
        if (status != ERROR_SUCCESS) return FromStatus(status);
        const HRESULT hr = Remove(handle, key.entries);
        RegCloseKey(handle);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

} // namespace

HRESULT ApplyRegistryScript(std::wstring_view script,
                            const std::vector<RegistryReplacement>& replacements,
                            bool registering) {
    std::vector<Root> roots;
    try {
        const HRESULT hr = Parser(script, replacements).Parse(roots);
        if (FAILED(hr)) return hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    for (const Root& root : roots) {
        const HRESULT hr =
            registering ? Write(root.hive, root.entries) : Remove(root.hive, root.entries);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

} // namespace narvo
