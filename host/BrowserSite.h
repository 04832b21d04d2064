#pragma once
// The container as a browser's page (--url): a client site that answers the browser's services
// with a minimal IWebBrowser2 whose only working member is get_LocationURL, and the scripting
// safety negotiation Internet Explorer runs before a page may script a control.
#include <windows.h>
#include <ole2.h>

#include <string>

#include "com/ComPtr.h"

namespace host {

// A client site for a browser's page at url that wraps inner (may be null), with one reference
// for the caller.
IOleClientSite* CreateBrowserSite(IOleClientSite* inner, const std::wstring& url);

// Gives the control a browser-like client site for the page at url, wrapping the site it has:
// the original site keeps answering everything but the browser's services. S_OK or the failure.
HRESULT GiveBrowserSite(IUnknown* control, const std::wstring& url);

// IObjectSafety::SetInterfaceSafetyOptions(IID_IDispatch, INTERFACESAFE_FOR_UNTRUSTED_CALLER,
// INTERFACESAFE_FOR_UNTRUSTED_CALLER), as the browser asks it; E_NOINTERFACE without the interface.
HRESULT NegotiateScriptingSafety(IUnknown* control);

} // namespace host
