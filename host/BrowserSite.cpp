#include "host/BrowserSite.h"

#include <exdisp.h>
#include <objsafe.h>
#include <servprov.h>
#include <shlguid.h>

namespace host {
namespace {

using narvo::ComPtr;

// The browser behind the page: its address, nothing else.
class CBrowser final : public IWebBrowser2 {
public:
    explicit CBrowser(std::wstring url) : url_(std::move(url)) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_IWebBrowser ||
            riid == IID_IWebBrowserApp || riid == IID_IWebBrowser2)
            *ppv = static_cast<IWebBrowser2*>(this);
        if (!*ppv) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++ref_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG ref = --ref_;
        if (!ref) delete this;
        return ref;
    }

    STDMETHODIMP get_LocationURL(BSTR* url) override {
        if (!url) return E_POINTER;
        *url = SysAllocStringLen(url_.data(), UINT(url_.size()));
        return *url ? S_OK : E_OUTOFMEMORY;
    }

    // Everything else a browser does is no part of the test container.
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                        UINT*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP GoBack() override { return E_NOTIMPL; }
    STDMETHODIMP GoForward() override { return E_NOTIMPL; }
    STDMETHODIMP GoHome() override { return E_NOTIMPL; }
    STDMETHODIMP GoSearch() override { return E_NOTIMPL; }
    STDMETHODIMP Navigate(BSTR, VARIANT*, VARIANT*, VARIANT*, VARIANT*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Refresh() override { return E_NOTIMPL; }
    STDMETHODIMP Refresh2(VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP Stop() override { return E_NOTIMPL; }
    STDMETHODIMP get_Application(IDispatch**) override { return E_NOTIMPL; }
    STDMETHODIMP get_Parent(IDispatch**) override { return E_NOTIMPL; }
    STDMETHODIMP get_Container(IDispatch**) override { return E_NOTIMPL; }
    STDMETHODIMP get_Document(IDispatch**) override { return E_NOTIMPL; }
    STDMETHODIMP get_TopLevelContainer(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Type(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Left(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Left(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_Top(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Top(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_Width(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Width(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_Height(LONG*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Height(LONG) override { return E_NOTIMPL; }
    STDMETHODIMP get_LocationName(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Busy(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP Quit() override { return E_NOTIMPL; }
    STDMETHODIMP ClientToWindow(int*, int*) override { return E_NOTIMPL; }
    STDMETHODIMP PutProperty(BSTR, VARIANT) override { return E_NOTIMPL; }
    STDMETHODIMP GetProperty(BSTR, VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Name(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_HWND(SHANDLE_PTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_FullName(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Path(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Visible(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Visible(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_StatusBar(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_StatusBar(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_StatusText(BSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP put_StatusText(BSTR) override { return E_NOTIMPL; }
    STDMETHODIMP get_ToolBar(int*) override { return E_NOTIMPL; }
    STDMETHODIMP put_ToolBar(int) override { return E_NOTIMPL; }
    STDMETHODIMP get_MenuBar(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_MenuBar(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_FullScreen(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_FullScreen(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP Navigate2(VARIANT*, VARIANT*, VARIANT*, VARIANT*, VARIANT*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP QueryStatusWB(OLECMDID, OLECMDF*) override { return E_NOTIMPL; }
    STDMETHODIMP ExecWB(OLECMDID, OLECMDEXECOPT, VARIANT*, VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP ShowBrowserBar(VARIANT*, VARIANT*, VARIANT*) override { return E_NOTIMPL; }
    STDMETHODIMP get_ReadyState(READYSTATE*) override { return E_NOTIMPL; }
    STDMETHODIMP get_Offline(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Offline(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_Silent(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Silent(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_RegisterAsBrowser(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_RegisterAsBrowser(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_RegisterAsDropTarget(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_RegisterAsDropTarget(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_TheaterMode(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_TheaterMode(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_AddressBar(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_AddressBar(VARIANT_BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP get_Resizable(VARIANT_BOOL*) override { return E_NOTIMPL; }
    STDMETHODIMP put_Resizable(VARIANT_BOOL) override { return E_NOTIMPL; }

private:
    ~CBrowser() = default;
    ULONG ref_ = 1;
    std::wstring url_;
};

// The client site the control sees: IOleClientSite and IServiceProvider of its own, every other
// interface (the in-place site above all) from the site it wraps.
class CBrowserSite final : public IOleClientSite, public IServiceProvider {
public:
    CBrowserSite(IOleClientSite* inner, std::wstring url)
        : inner_(inner), browser_(new CBrowser(std::move(url))) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IOleClientSite)
            *ppv = static_cast<IOleClientSite*>(this);
        else if (riid == IID_IServiceProvider)
            *ppv = static_cast<IServiceProvider*>(this);
        if (*ppv) {
            AddRef();
            return S_OK;
        }
        return inner_ ? inner_->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++ref_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG ref = --ref_;
        if (!ref) delete this;
        return ref;
    }

    // IServiceProvider: the page's browser under both of the names controls ask for.
    STDMETHODIMP QueryService(REFGUID service, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (service == SID_SWebBrowserApp || service == SID_STopLevelBrowser)
            return browser_->QueryInterface(riid, ppv);
        return E_NOINTERFACE;
    }

    // IOleClientSite: the wrapped site's answers.
    STDMETHODIMP SaveObject() override { return inner_ ? inner_->SaveObject() : E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override {
        return inner_ ? inner_->GetMoniker(assign, which, moniker) : E_NOTIMPL;
    }
    STDMETHODIMP GetContainer(IOleContainer** container) override {
        return inner_ ? inner_->GetContainer(container) : E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return inner_ ? inner_->ShowObject() : S_OK; }
    STDMETHODIMP OnShowWindow(BOOL show) override {
        return inner_ ? inner_->OnShowWindow(show) : S_OK;
    }
    STDMETHODIMP RequestNewObjectLayout() override {
        return inner_ ? inner_->RequestNewObjectLayout() : E_NOTIMPL;
    }

private:
    ~CBrowserSite() { browser_->Release(); }
    ULONG ref_ = 1;
    ComPtr<IOleClientSite> inner_;
    CBrowser* browser_;
};

} // namespace

IOleClientSite* CreateBrowserSite(IOleClientSite* inner, const std::wstring& url) {
    return new CBrowserSite(inner, url);
}

HRESULT GiveBrowserSite(IUnknown* control, const std::wstring& url) {
    ComPtr<IOleObject> object;
    HRESULT hr = control->QueryInterface(IID_IOleObject, object.PutVoid());
    if (FAILED(hr)) return hr;
    ComPtr<IOleClientSite> current;
    object->GetClientSite(current.Put());
    IOleClientSite* site = CreateBrowserSite(current.Get(), url);
    hr = object->SetClientSite(site);
    site->Release();
    return hr;
}

HRESULT NegotiateScriptingSafety(IUnknown* control) {
    ComPtr<IObjectSafety> safety;
    const HRESULT hr = control->QueryInterface(IID_IObjectSafety, safety.PutVoid());
    if (FAILED(hr)) return hr;
    return safety->SetInterfaceSafetyOptions(IID_IDispatch, INTERFACESAFE_FOR_UNTRUSTED_CALLER,
                                             INTERFACESAFE_FOR_UNTRUSTED_CALLER);
}

} // namespace host
