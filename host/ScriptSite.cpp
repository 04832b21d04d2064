// The container as the script engine's site: running the page with its two named objects, the
// errors it reports, and the timed callbacks of host.after.
#include <windows.h>
#include <ole2.h>

#include <cstdio>

#include "host/BrowserSite.h"
#include "host/Container.h"
#include "host/HostSupport.h"
#include "host/ModalWatch.h"

namespace host {
namespace {

const CLSID kClsidJScript = {
    0xf414c260, 0x6ac0, 0x11cf, {0xb6, 0xd1, 0x00, 0xaa, 0x00, 0xbb, 0xbb, 0x58}};
// mingw's import libraries lack the parse interface's identifiers.
#ifdef _WIN64
const IID kIidActiveScriptParse = {
    0xc7ef7658, 0xe1ee, 0x480e, {0x97, 0xea, 0xd5, 0x2c, 0xb4, 0xd7, 0x6d, 0x17}};
#else
const IID kIidActiveScriptParse = {
    0xbb1a2ae2, 0xa4f9, 0x11cf, {0x8f, 0x20, 0x00, 0x80, 0x5f, 0x2c, 0xd0, 0x64}};
#endif

std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lx", static_cast<unsigned long>(hr));
    return text;
}

// Lets go of the strings an engine or a callee filled in.
void FreeException(EXCEPINFO& exception) {
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
}

} // namespace

int CContainer::Run(const std::wstring& code) {
    // The platform's ATL host, from atl.dll itself: not every toolchain ships its import library.
    HMODULE atl = LoadLibraryW(L"atl.dll");
    using AtlAxWinInitFn = BOOL(WINAPI*)();
    const auto atlAxWinInit = reinterpret_cast<AtlAxWinInitFn>(
        reinterpret_cast<void*>(atl ? GetProcAddress(atl, "AtlAxWinInit") : nullptr));
    atlAxGetControl_ = reinterpret_cast<AtlAxGetControlFn>(
        reinterpret_cast<void*>(atl ? GetProcAddress(atl, "AtlAxGetControl") : nullptr));
    if (!atlAxWinInit || !atlAxGetControl_) {
        Fail("cannot load the ATL host (atl.dll)");
        return kExitNoControl;
    }
    if (!atlAxWinInit() || !CreateWindows()) {
        Fail("cannot create the container's windows");
        return kExitNoControl;
    }
    if (!HostControl()) return kExitNoControl;
    const bool scriptable = SUCCEEDED(safetyResult_);
    UpdateWindow(frame_);
    PumpMessages(0);

    ComPtr<IActiveScript> engine;
    ComPtr<IActiveScriptParse> parser;
    HRESULT hr = CoCreateInstance(kClsidJScript, nullptr, CLSCTX_INPROC_SERVER, IID_IActiveScript,
                                  engine.PutVoid());
    if (SUCCEEDED(hr)) hr = engine->QueryInterface(kIidActiveScriptParse, parser.PutVoid());
    if (SUCCEEDED(hr)) hr = parser->InitNew();
    if (SUCCEEDED(hr)) hr = engine->SetScriptSite(this);
    if (SUCCEEDED(hr) && scriptable) hr = engine->AddNamedItem(L"viewer", SCRIPTITEM_ISVISIBLE);
    if (SUCCEEDED(hr)) hr = engine->AddNamedItem(L"host", SCRIPTITEM_ISVISIBLE);
    if (SUCCEEDED(hr)) hr = engine->SetScriptState(SCRIPTSTATE_STARTED);
    if (FAILED(hr)) {
        Fail("cannot start the JScript engine: " + Hex(hr));
        return kExitScriptError;
    }
    if (!scriptable)
        hr = parser->ParseScriptText(L"var viewer = null;", nullptr, nullptr, nullptr, 0, 0,
                                     SCRIPTTEXT_ISVISIBLE, nullptr, nullptr);
    if (FAILED(hr)) {
        Fail("cannot start the page: " + Hex(hr));
        return kExitScriptError;
    }
    EXCEPINFO exception{};
    host::InstallModalWatch();
    current_ = this;
    hr = parser->ParseScriptText(code.c_str(), nullptr, nullptr, nullptr, 0, 0,
                                 SCRIPTTEXT_ISVISIBLE, nullptr, &exception);
    host::UninstallModalWatch();
    FreeException(exception);
    if (FAILED(hr) && !scriptFailed_) {
        Fail(Utf8(scriptName_) + ": the script did not run: " + Hex(hr));
        scriptFailed_ = true;
    }
    DropCallbacks();
    engine->Close();
    parser.Reset();
    engine.Reset();
    ReleaseControl();
    viewer_->Release();
    forcedViewer_->Release();
    host_->Release();
    DestroyWindow(frame_);
    return scriptFailed_ ? kExitScriptError : 0;
}

// Takes the control the site window created and hands it to the page's objects; on a browser's
// page, after giving it the page's site and asking whether it is safe to script.
bool CContainer::HostControl() {
    ComPtr<IDispatch> dispatch;
    if (FAILED(atlAxGetControl_(site_, control_.Put())) || !control_ ||
        FAILED(control_.As(dispatch))) {
        Fail("cannot host Narvo.Viewer (is Narvo.dll registered?)");
        return false;
    }
    // A browser's page gives the control its site and asks whether it is safe to script; a
    // control that says no is no `viewer` of the page.
    if (!pageUrl_.empty()) {
        if (FAILED(GiveBrowserSite(control_.Get(), pageUrl_))) {
            Fail("cannot give the control the page's site");
            return false;
        }
        safetyResult_ = NegotiateScriptingSafety(control_.Get());
    }
    if (SUCCEEDED(safetyResult_)) viewer_->Attach(dispatch.Get());
    forcedViewer_->Attach(dispatch.Get());
    // From here on the page's `viewer` and the site hold the control.
    return true;
}

bool CContainer::Recreate() {
    ReleaseControl();
    if (!CreateSite()) {
        Fail("cannot create the control's site again");
        return false;
    }
    PlaceLog();
    const bool hosted = HostControl();
    PumpMessages(0);
    return hosted;
}

STDMETHODIMP CContainer::GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item,
                                     ITypeInfo** info) {
    if (mask & SCRIPTINFO_ITYPEINFO) {
        if (!info) return E_POINTER;
        *info = nullptr;
    }
    if (!(mask & SCRIPTINFO_IUNKNOWN)) return TYPE_E_ELEMENTNOTFOUND;
    if (!item) return E_POINTER;
    *item = nullptr;
    IDispatch* object = nullptr;
    if (name && _wcsicmp(name, L"viewer") == 0) object = viewer_;
    if (name && _wcsicmp(name, L"host") == 0) object = host_;
    if (!object) return TYPE_E_ELEMENTNOTFOUND;
    object->AddRef();
    *item = object;
    return S_OK;
}

STDMETHODIMP CContainer::OnScriptError(IActiveScriptError* error) {
    scriptFailed_ = true;
    EXCEPINFO exception{};
    error->GetExceptionInfo(&exception);
    if (exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);
    DWORD context = 0;
    ULONG line = 0;
    LONG column = 0;
    error->GetSourcePosition(&context, &line, &column);
    std::string text = Utf8(scriptName_) + ":" + std::to_string(line + 1) + ":" +
                       std::to_string(column + 1) + ": script error " +
                       Hex(exception.scode ? exception.scode : HRESULT(exception.wCode));
    if (exception.bstrDescription)
        text += ": " + Utf8(exception.bstrDescription, SysStringLen(exception.bstrDescription));
    Fail(text);
    FreeException(exception);
    return S_OK;
}

// ---- timed callbacks ----

void CContainer::After(int ms, IDispatch* callback) {
    const UINT_PTR id = SetTimer(nullptr, 0, UINT(ms > 0 ? ms : 0), CallbackTimer);
    if (id) callbacks_[id] = ComPtr<IDispatch>(callback);
}

void CALLBACK CContainer::CallbackTimer(HWND, UINT, UINT_PTR id, DWORD) {
    KillTimer(nullptr, id);
    CContainer* self = current_;
    if (!self) return;
    const auto found = self->callbacks_.find(id);
    if (found == self->callbacks_.end()) return;
    const ComPtr<IDispatch> callback = found->second;
    self->callbacks_.erase(found);
    DISPPARAMS none{};
    EXCEPINFO exception{};
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr = callback->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_METHOD, &none, &result,
                                        &exception, nullptr);
    VariantClear(&result);
    if (FAILED(hr)) {
        std::string text =
            "a host.after callback failed: " + Hex(exception.scode ? exception.scode : hr);
        if (exception.bstrDescription)
            text += ": " + Utf8(exception.bstrDescription, SysStringLen(exception.bstrDescription));
        Fail(text);
        self->scriptFailed_ = true;
    }
    FreeException(exception);
}

void CContainer::DropCallbacks() {
    for (const auto& entry : callbacks_)
        KillTimer(nullptr, entry.first);
    callbacks_.clear();
}

} // namespace host
