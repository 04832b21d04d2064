// The policy lives under HKEY_LOCAL_MACHINE only: HKEY_CURRENT_USER belongs to the user whose
// pages the policy restrains. The 64-bit view is read from 32-bit processes as well, so that one
// policy covers both builds.
#include "platform/Policy.h"

#include <windows.h>
#include <urlmon.h>

#include <string>

namespace narvo::platform {
namespace {

constexpr char kPolicyKey[] = "SOFTWARE\\Policies\\Veltrix\\Narvo";
constexpr DWORD kLargestSite = 2048;

class Key {
public:
    explicit Key(const std::string& path) {
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY,
                          &key_) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~Key() {
        if (key_) RegCloseKey(key_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    HKEY get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

} // namespace

bool LegacyCertificateChecks() {
    const Key key(kPolicyKey);
    if (!key.get()) return false;
    DWORD value = 0, type = 0, size = sizeof value;
    if (RegQueryValueExA(key.get(), "LegacyCertificateChecks", nullptr, &type,
                         reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS)
        return false;
    return type == REG_DWORD && size == sizeof value && value == 1;
}

int TransferStallSeconds() {
    const Key key(kPolicyKey);
    DWORD value = 0, type = 0, size = sizeof value;
    if (key.get() &&
        RegQueryValueExA(key.get(), "TransferStallSeconds", nullptr, &type,
                         reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS &&
        type == REG_DWORD && size == sizeof value && value >= 1 &&
        value < DWORD(kDefaultTransferStallSeconds))
        return int(value);
    return kDefaultTransferStallSeconds;
}

bool AllowedSites(std::vector<std::string>& sites) {
    sites.clear();
    const Key key(std::string(kPolicyKey) + "\\AllowedSites");
    if (!key.get()) return false;
    for (unsigned index = 1;; ++index) {
        char buffer[kLargestSite + 1] = {};
        DWORD type = 0, size = kLargestSite;
        const std::string name = std::to_string(index);
        if (RegQueryValueExA(key.get(), name.c_str(), nullptr, &type,
                             reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS)
            break;
        // A value of another type or too long for any address is skipped, not a reason to
        // drop the rest of the list.
        if (type == REG_SZ || type == REG_EXPAND_SZ)
            sites.emplace_back(buffer, strnlen(buffer, size));
    }
    return true;
}

int UrlSecurityZone(const std::string& url) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, url.c_str(), -1, nullptr, 0);
    if (length <= 0) return -1;
    std::wstring wide(std::size_t(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, url.c_str(), -1, wide.data(), length);
    // The caller's apartment may or may not be initialised; the manager works in either.
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int zone = -1;
    IInternetSecurityManager* manager = nullptr;
    if (SUCCEEDED(CoInternetCreateSecurityManager(nullptr, &manager, 0)) && manager) {
        DWORD mapped = 0;
        if (SUCCEEDED(manager->MapUrlToZone(wide.c_str(), &mapped, 0))) zone = int(mapped);
        manager->Release();
    }
    if (SUCCEEDED(init)) CoUninitialize();
    return zone;
}

} // namespace narvo::platform
