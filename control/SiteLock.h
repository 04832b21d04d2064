#pragma once
// Whether the page hosting the control may drive it. A browser tells its controls the page's
// address through the site it gives them (IServiceProvider -> IWebBrowser2::get_LocationURL);
// that address is judged against the administrator's policy. A container without the browser's
// service is an application and is trusted; so is a control that was never given a site.
#include <windows.h>
#include <unknwn.h>

#include <string>

namespace narvo {

class CSiteLock {
public:
    // Judges the page behind a new site. A null site (the container letting go) keeps the last
    // decision: a refused control does not become trusted by losing its page.
    void SiteChanged(IUnknown* site);
    bool Refused() const { return refused_; }
    // The address last judged, UTF-8 (empty for an application).
    const std::string& PageAddress() const { return page_; }

private:
    bool refused_ = false;
    std::string page_;
};

// The policy's decision for a page address (UTF-8): the administrator's allowed sites when the
// list exists, else the address's URL security zone.
bool IsPageAllowed(const std::string& url);

} // namespace narvo
