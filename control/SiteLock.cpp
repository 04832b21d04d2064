#include "control/SiteLock.h"

#include <exdisp.h>
#include <servprov.h>
#include <shlguid.h>

#include "http/SitePolicy.h"
#include "platform/Policy.h"

namespace narvo {
namespace {

template <class T> struct Released {
    T* p = nullptr;
    ~Released() {
        if (p) p->Release();
    }
};

std::string Utf8(const wchar_t* text, UINT length) {
    if (!text || length == 0) return {};
    const int size =
        WideCharToMultiByte(CP_UTF8, 0, text, int(length), nullptr, 0, nullptr, nullptr);
    std::string out(std::size_t(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, int(length), out.data(), size, nullptr, nullptr);
    return out;
}

// The browser's page address behind site. False when the site offers no browser at all.
bool PageAddressOf(IUnknown* site, std::string& url, bool& known) {
    known = false;
    Released<IServiceProvider> services;
    if (FAILED(site->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&services.p))) ||
        !services.p)
        return false;
    Released<IWebBrowser2> browser;
    if (FAILED(services.p->QueryService(SID_SWebBrowserApp, IID_IWebBrowser2,
                                        reinterpret_cast<void**>(&browser.p))) ||
        !browser.p)
        return false;
    BSTR location = nullptr;
    if (SUCCEEDED(browser.p->get_LocationURL(&location)) && location) {
        url = Utf8(location, SysStringLen(location));
        known = !url.empty();
    }
    SysFreeString(location);
    return true;
}

} // namespace

bool IsPageAllowed(const std::string& url) {
    std::vector<std::string> sites;
    if (platform::AllowedSites(sites)) return SiteListAllows(sites, url);
    return SiteZoneAllows(platform::UrlSecurityZone(url));
}

void CSiteLock::SiteChanged(IUnknown* site) {
    if (!site) return;
    std::string url;
    bool known = false;
    if (!PageAddressOf(site, url, known)) {
        refused_ = false;
        page_.clear();
        return;
    }
    // A browser that cannot say which page it shows is not trusted with the control.
    page_ = url;
    refused_ = !known || !IsPageAllowed(url);
}

} // namespace narvo
