// The control's sites: the client site of an embedded control and the site of one created by
// script (IObjectWithSite). Each new site has its page judged again (control/SiteLock.h).
#include "control/Viewer.h"

namespace narvo {

STDMETHODIMP CViewer::SetClientSite(IOleClientSite* pClientSite) {
    siteLock_.SiteChanged(pClientSite);
    return COleControl::SetClientSite(pClientSite);
}

STDMETHODIMP CViewer::SetSite(IUnknown* pUnkSite) {
    siteLock_.SiteChanged(pUnkSite);
    objectSite_ = pUnkSite;
    return S_OK;
}

STDMETHODIMP CViewer::GetSite(REFIID riid, void** ppvSite) {
    if (!ppvSite) return E_POINTER;
    *ppvSite = nullptr;
    if (!objectSite_) return E_FAIL;
    return objectSite_->QueryInterface(riid, ppvSite);
}

} // namespace narvo
