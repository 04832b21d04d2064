#pragma once
// The page's two global objects: `viewer`, which forwards to the control's IDispatch and nothing
// else, and `host`, the container's services (HostObject.cpp).
#include <windows.h>
#include <oaidl.h>

#include "com/ComPtr.h"

namespace host {

using narvo::ComPtr;

// A page object; the script engine reaches it through IDispatch.
class CDispatchObject : public IDispatch {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        return narvo::QuerySingleInterface<IDispatch>(this, IID_IDispatch, riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++ref_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG ref = --ref_;
        if (!ref) delete this;
        return ref;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info) *info = nullptr;
        return E_NOTIMPL;
    }

protected:
    virtual ~CDispatchObject() = default;

private:
    ULONG ref_ = 1;
};

// `viewer`: forwards every call to the control's IDispatch, and only to it. After host.release()
// the control is gone and every call fails with E_UNEXPECTED.
class CViewerProxy final : public CDispatchObject {
public:
    void Attach(IDispatch* target) { target_ = target; }
    void Detach() { target_.Reset(); }

    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                               DISPID* ids) override {
        return target_ ? target_->GetIDsOfNames(riid, names, count, lcid, ids) : E_UNEXPECTED;
    }
    STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params,
                        VARIANT* result, EXCEPINFO* exception, UINT* argErr) override {
        return target_ ? target_->Invoke(id, riid, lcid, flags, params, result, exception, argErr)
                       : E_UNEXPECTED;
    }

private:
    ComPtr<IDispatch> target_;
};

class CContainer;

// `host`: the container's services to the page.
class CHostObject final : public CDispatchObject {
public:
    explicit CHostObject(CContainer& container) : container_(container) {}
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argErr) override;
    CContainer& container() { return container_; }

private:
    CContainer& container_;
};

} // namespace host
