#include "com/OleControl.h"

#include <cstddef>
#include <new>

#include "com/ComModule.h"

namespace narvo {
namespace {

constexpr wchar_t kWindowClass[] = L"NarvoControl";
// The persisted form starts with the framework version that wrote it; newer forms are refused.
constexpr DWORD kStreamVersion = 0x0900;
constexpr wchar_t kContentsStream[] = L"Contents";

HRESULT ReadExactly(IStream* stream, void* data, ULONG size) {
    ULONG read = 0;
    const HRESULT hr = stream->Read(data, size, &read);
    if (FAILED(hr)) return hr;
    return read == size ? S_OK : STG_E_READFAULT;
}

HRESULT WriteExactly(IStream* stream, const void* data, ULONG size) {
    ULONG written = 0;
    const HRESULT hr = stream->Write(data, size, &written);
    if (FAILED(hr)) return hr;
    return written == size ? S_OK : STG_E_WRITEFAULT;
}

} // namespace

COleControl::COleControl(const CLSID& clsid, std::vector<IID> connectionPoints) : clsid_(clsid) {
    for (const IID& iid : connectionPoints)
        points_.push_back(std::make_unique<CConnectionPoint>(this, iid));
}

COleControl::~COleControl() {
    // A derived control destroys its window first; this only catches a window left behind.
    if (hwnd_) {
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
        DestroyWindow(hwnd_);
    }
}

HWND COleControl::SiteWindow() const {
    HWND window = nullptr;
    if (inPlaceSite_ && SUCCEEDED(inPlaceSite_->GetWindow(&window))) return window;
    return nullptr;
}

CConnectionPoint* COleControl::FindPoint(const IID& iid) const {
    for (const auto& point : points_)
        if (point->iid() == iid) return point.get();
    return nullptr;
}

void COleControl::DestroyControlWindow() {
    if (hwnd_) DestroyWindow(hwnd_);
}

// ---- window ----

LRESULT CALLBACK COleControl::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        auto* self = static_cast<COleControl*>(create->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<COleControl*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, msg, wParam, lParam);
    const LRESULT result = self->OnMessage(msg, wParam, lParam);
    if (msg == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
    }
    return result;
}

LRESULT COleControl::DefaultMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(hwnd_, msg, wParam, lParam);
}

LRESULT COleControl::StandardMessage(UINT msg, WPARAM wParam, LPARAM, bool& handled) {
    handled = false;
    switch (msg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC hdc = BeginPaint(hwnd_, &ps);
        RECT client;
        GetClientRect(hwnd_, &client);
        OnDraw(hdc, client);
        EndPaint(hwnd_, &ps);
        handled = true;
        return 0;
    }
    case WM_SETFOCUS: {
        // Taking the focus makes an in-place active control UI active, and the site hears of it.
        if (inPlaceActive_ && !uiActive_) InPlaceActivate(OLEIVERB_UIACTIVATE);
        ComPtr<IOleControlSite> site;
        if (inPlaceActive_ && clientSite_ && SUCCEEDED(clientSite_.As(site))) site->OnFocus(TRUE);
        return 1;
    }
    case WM_KILLFOCUS: {
        // The focus moving on to one of the control's own children is no loss for the site.
        HWND next = reinterpret_cast<HWND>(wParam);
        ComPtr<IOleControlSite> site;
        if (inPlaceActive_ && next != hwnd_ && !IsChild(hwnd_, next) && clientSite_ &&
            SUCCEEDED(clientSite_.As(site)))
            site->OnFocus(FALSE);
        return 1;
    }
    case WM_MOUSEACTIVATE:
        if (inPlaceActive_ && !uiActive_) InPlaceActivate(OLEIVERB_UIACTIVATE);
        return 1;
    default:
        return 0;
    }
}

void COleControl::OnDraw(HDC hdc, const RECT& bounds) {
    static constexpr char kBanner[] = "ATL 9.00";
    SetTextAlign(hdc, TA_CENTER | TA_BASELINE);
    TextOutA(hdc, bounds.left + (bounds.right - bounds.left) / 2,
             bounds.top + (bounds.bottom - bounds.top) / 2, kBanner, int(sizeof(kBanner) - 1));
}

HRESULT COleControl::CreateControlWindow(HWND parent, const RECT& position) {
    const HINSTANCE instance = ComModule::Instance();
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    if (!GetClassInfoExW(instance, kWindowClass, &wc)) {
        wc.cbSize = sizeof(wc);
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = WindowProc;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = kWindowClass;
        if (!RegisterClassExW(&wc)) return HRESULT_FROM_WIN32(GetLastError());
    }
    const HWND hwnd =
        CreateWindowExW(0, kWindowClass, nullptr, WindowStyle(), position.left, position.top,
                        position.right - position.left, position.bottom - position.top, parent,
                        nullptr, instance, this);
    return hwnd ? S_OK : E_FAIL;
}

void UnregisterControlWindowClass() {
    UnregisterClassW(kWindowClass, ComModule::Instance());
}

// ---- in-place activation ----

HRESULT COleControl::InPlaceActivate(LONG verb) {
    if (!clientSite_) return S_OK;
    if (!inPlaceActive_) {
        ComPtr<IOleInPlaceSiteEx> siteEx;
        if (SUCCEEDED(clientSite_.As(siteEx))) {
            inPlaceSite_ = siteEx.Get();
            inPlaceSiteEx_ = true;
        } else {
            inPlaceSiteEx_ = false;
            if (FAILED(clientSite_.As(inPlaceSite_))) return E_NOINTERFACE;
        }
        const HRESULT can = inPlaceSite_->CanInPlaceActivate();
        if (can != S_OK) {
            inPlaceSite_.Reset();
            return FAILED(can) ? can : E_FAIL;
        }
        // Window-only: the control never asks for windowless activation.
        BOOL noRedraw = FALSE;
        if (inPlaceSiteEx_)
            siteEx->OnInPlaceActivateEx(&noRedraw, 0);
        else
            inPlaceSite_->OnInPlaceActivate();
        inPlaceActive_ = true;
    }

    OLEINPLACEFRAMEINFO frameInfo{};
    frameInfo.cb = sizeof(frameInfo);
    RECT position{}, clip{};
    frame_.Reset();
    uiWindow_.Reset();
    HRESULT hr =
        inPlaceSite_->GetWindowContext(frame_.Put(), uiWindow_.Put(), &position, &clip, &frameInfo);
    if (FAILED(hr)) return hr;
    HWND parent = nullptr;
    hr = inPlaceSite_->GetWindow(&parent);
    if (FAILED(hr)) return hr;

    if (!hwnd_) {
        hr = CreateControlWindow(parent, position);
        if (FAILED(hr)) return hr;
    } else {
        if (GetParent(hwnd_) != parent) SetParent(hwnd_, parent);
        ShowWindow(hwnd_, SW_SHOW);
    }
    SetObjectRects(&position, &clip);

    if ((verb == OLEIVERB_PRIMARY || verb == OLEIVERB_UIACTIVATE) && !uiActive_) {
        uiActive_ = true;
        inPlaceSite_->OnUIActivate();
        if (hwnd_ && !IsChild(hwnd_, GetFocus()) && GetFocus() != hwnd_) SetFocus(hwnd_);
        auto* active = static_cast<IOleInPlaceActiveObject*>(this);
        if (frame_) {
            frame_->SetActiveObject(active, nullptr);
            frame_->SetBorderSpace(nullptr);
        }
        if (uiWindow_) {
            uiWindow_->SetActiveObject(active, nullptr);
            uiWindow_->SetBorderSpace(nullptr);
        }
    }
    clientSite_->ShowObject();
    return S_OK;
}

STDMETHODIMP COleControl::InPlaceDeactivate() {
    if (!inPlaceActive_) return S_OK;
    if (uiActive_) UIDeactivate();
    inPlaceActive_ = false;
    DestroyControlWindow();
    ComPtr<IOleInPlaceSite> site = inPlaceSite_;
    if (site) {
        ComPtr<IOleInPlaceSiteEx> siteEx;
        if (inPlaceSiteEx_ && SUCCEEDED(site.As(siteEx)))
            siteEx->OnInPlaceDeactivateEx(TRUE);
        else
            site->OnInPlaceDeactivate();
    }
    ReleaseSites();
    return S_OK;
}

STDMETHODIMP COleControl::UIDeactivate() {
    if (!uiActive_) return S_OK;
    uiActive_ = false;
    if (uiWindow_) uiWindow_->SetActiveObject(nullptr, nullptr);
    if (frame_) frame_->SetActiveObject(nullptr, nullptr);
    if (inPlaceSite_) inPlaceSite_->OnUIDeactivate(FALSE);
    return S_OK;
}

void COleControl::ReleaseSites() {
    frame_.Reset();
    uiWindow_.Reset();
    inPlaceSite_.Reset();
    inPlaceSiteEx_ = false;
}

STDMETHODIMP COleControl::SetObjectRects(LPCRECT lprcPosRect, LPCRECT lprcClipRect) {
    if (!lprcPosRect) return E_POINTER;
    if (!hwnd_) return S_OK;
    // Clip the window to the visible part when the container asks for less than all of it.
    HRGN region = nullptr;
    RECT visible;
    if (lprcClipRect && IntersectRect(&visible, lprcPosRect, lprcClipRect) &&
        !EqualRect(&visible, lprcPosRect)) {
        OffsetRect(&visible, -lprcPosRect->left, -lprcPosRect->top);
        region = CreateRectRgnIndirect(&visible);
    }
    SetWindowRgn(hwnd_, region, TRUE); // the window owns the region from here on
    SetWindowPos(hwnd_, nullptr, lprcPosRect->left, lprcPosRect->top,
                 lprcPosRect->right - lprcPosRect->left, lprcPosRect->bottom - lprcPosRect->top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    return S_OK;
}

STDMETHODIMP COleControl::ReactivateAndUndo() {
    return E_NOTIMPL;
}

STDMETHODIMP COleControl::OnWindowMessage(UINT, WPARAM, LPARAM, LRESULT* plResult) {
    if (plResult) *plResult = 0;
    return S_FALSE; // a windowed control gets its messages through its window
}

STDMETHODIMP COleControl::GetDropTarget(IDropTarget** ppDropTarget) {
    if (ppDropTarget) *ppDropTarget = nullptr;
    return E_NOTIMPL;
}

// ---- IOleWindow, IOleInPlaceActiveObject ----

STDMETHODIMP COleControl::GetWindow(HWND* phwnd) {
    if (!phwnd) return E_POINTER;
    *phwnd = hwnd_;
    return hwnd_ ? S_OK : E_FAIL;
}

STDMETHODIMP COleControl::ContextSensitiveHelp(BOOL) {
    return E_NOTIMPL;
}
STDMETHODIMP COleControl::TranslateAccelerator(LPMSG) {
    return S_FALSE;
}
STDMETHODIMP COleControl::OnFrameWindowActivate(BOOL) {
    return S_OK;
}
STDMETHODIMP COleControl::OnDocWindowActivate(BOOL) {
    return S_OK;
}
STDMETHODIMP COleControl::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) {
    return S_OK;
}
STDMETHODIMP COleControl::EnableModeless(BOOL) {
    return S_OK;
}

// ---- IOleObject ----

STDMETHODIMP COleControl::SetClientSite(IOleClientSite* pClientSite) {
    clientSite_ = pClientSite;
    return S_OK;
}

STDMETHODIMP COleControl::GetClientSite(IOleClientSite** ppClientSite) {
    if (!ppClientSite) return E_POINTER;
    *ppClientSite = clientSite_.Get();
    if (*ppClientSite) (*ppClientSite)->AddRef();
    return S_OK;
}

STDMETHODIMP COleControl::SetHostNames(LPCOLESTR, LPCOLESTR) {
    return S_OK;
}

STDMETHODIMP COleControl::Close(DWORD dwSaveOption) {
    InPlaceDeactivate();
    if (dirty_ && clientSite_ &&
        (dwSaveOption == OLECLOSE_SAVEIFDIRTY || dwSaveOption == OLECLOSE_PROMPTSAVE)) {
        clientSite_->SaveObject();
        if (oleAdviseHolder_) oleAdviseHolder_->SendOnSave();
    }
    ReleaseSites();
    if (oleAdviseHolder_) oleAdviseHolder_->SendOnClose();
    return S_OK;
}

STDMETHODIMP COleControl::SetMoniker(DWORD, IMoniker*) {
    return E_NOTIMPL;
}

STDMETHODIMP COleControl::GetMoniker(DWORD, DWORD, IMoniker** ppmk) {
    if (ppmk) *ppmk = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP COleControl::InitFromData(IDataObject*, BOOL, DWORD) {
    return E_NOTIMPL;
}

STDMETHODIMP COleControl::GetClipboardData(DWORD, IDataObject** ppDataObject) {
    if (ppDataObject) *ppDataObject = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP COleControl::DoVerb(LONG iVerb, LPMSG, IOleClientSite*, LONG, HWND, LPCRECT) {
    switch (iVerb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_INPLACEACTIVATE:
    case OLEIVERB_UIACTIVATE:
        return InPlaceActivate(iVerb);
    case OLEIVERB_HIDE:
        UIDeactivate();
        if (hwnd_) ShowWindow(hwnd_, SW_HIDE);
        return S_OK;
    case OLEIVERB_DISCARDUNDOSTATE:
        return S_OK;
    default:
        return iVerb < 0 ? E_NOTIMPL : OLEOBJ_S_INVALIDVERB;
    }
}

STDMETHODIMP COleControl::EnumVerbs(IEnumOLEVERB** ppEnumOleVerb) {
    if (!ppEnumOleVerb) return E_POINTER;
    return OleRegEnumVerbs(clsid_, ppEnumOleVerb);
}

STDMETHODIMP COleControl::Update() {
    return S_OK;
}
STDMETHODIMP COleControl::IsUpToDate() {
    return S_OK;
}

STDMETHODIMP COleControl::GetUserClassID(CLSID* pClsid) {
    if (!pClsid) return E_POINTER;
    *pClsid = clsid_;
    return S_OK;
}

STDMETHODIMP COleControl::GetUserType(DWORD dwFormOfType, LPOLESTR* pszUserType) {
    if (!pszUserType) return E_POINTER;
    return OleRegGetUserType(clsid_, dwFormOfType, pszUserType);
}

STDMETHODIMP COleControl::SetExtent(DWORD dwDrawAspect, SIZEL* psizel) {
    if (dwDrawAspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!psizel) return E_POINTER;
    const bool changed = psizel->cx != extent_.cx || psizel->cy != extent_.cy;
    extent_ = *psizel;
    naturalExtent_ = *psizel;
    if (changed) {
        SetDirty();
        // The control recomposes on resize: observers of its picture hear of the change.
        if (dataAdviseHolder_) dataAdviseHolder_->SendOnDataChange(this, 0, 0);
        FireViewChange();
    }
    return S_OK;
}

STDMETHODIMP COleControl::GetExtent(DWORD dwDrawAspect, SIZEL* psizel) {
    if (dwDrawAspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!psizel) return E_POINTER;
    *psizel = extent_;
    return S_OK;
}

STDMETHODIMP COleControl::Advise(IAdviseSink* pAdvSink, DWORD* pdwConnection) {
    if (!pdwConnection) return E_POINTER;
    *pdwConnection = 0;
    if (!oleAdviseHolder_) {
        const HRESULT hr = CreateOleAdviseHolder(oleAdviseHolder_.Put());
        if (FAILED(hr)) return hr;
    }
    return oleAdviseHolder_->Advise(pAdvSink, pdwConnection);
}

STDMETHODIMP COleControl::Unadvise(DWORD dwConnection) {
    if (!oleAdviseHolder_) return OLE_E_NOCONNECTION;
    return oleAdviseHolder_->Unadvise(dwConnection);
}

STDMETHODIMP COleControl::EnumAdvise(IEnumSTATDATA** ppenumAdvise) {
    if (!ppenumAdvise) return E_POINTER;
    *ppenumAdvise = nullptr;
    if (!oleAdviseHolder_) return E_FAIL;
    return oleAdviseHolder_->EnumAdvise(ppenumAdvise);
}

STDMETHODIMP COleControl::GetMiscStatus(DWORD dwAspect, DWORD* pdwStatus) {
    if (!pdwStatus) return E_POINTER;
    return OleRegGetMiscStatus(clsid_, dwAspect, pdwStatus);
}

STDMETHODIMP COleControl::SetColorScheme(LOGPALETTE*) {
    return E_NOTIMPL;
}

void COleControl::FireViewChange() {
    if (inPlaceActive_ && hwnd_) {
        InvalidateRect(hwnd_, nullptr, TRUE);
    } else if (viewSink_) {
        viewSink_->OnViewChange(DVASPECT_CONTENT, -1);
        if (viewAdvf_ & ADVF_ONLYONCE) viewSink_.Reset();
    }
}

// ---- IOleControl ----

STDMETHODIMP COleControl::GetControlInfo(CONTROLINFO*) {
    return E_NOTIMPL;
}
STDMETHODIMP COleControl::OnMnemonic(MSG*) {
    return E_NOTIMPL;
}
STDMETHODIMP COleControl::OnAmbientPropertyChange(DISPID) {
    return S_OK;
}

// The control fires no events, so there is nothing to hold back.
STDMETHODIMP COleControl::FreezeEvents(BOOL) {
    return S_OK;
}

// ---- persistence: the extent, as two 32-bit values after the version ----

STDMETHODIMP COleControl::GetClassID(CLSID* pClassID) {
    if (!pClassID) return E_POINTER;
    *pClassID = clsid_;
    return S_OK;
}

STDMETHODIMP COleControl::IsDirty() {
    return dirty_ ? S_OK : S_FALSE;
}

STDMETHODIMP COleControl::Load(LPSTREAM pStm) {
    if (!pStm) return E_POINTER;
    DWORD version = 0;
    ULONG cx = 0, cy = 0;
    HRESULT hr = ReadExactly(pStm, &version, sizeof(version));
    if (FAILED(hr)) return hr;
    if (version > kStreamVersion) return E_FAIL;
    if (FAILED(hr = ReadExactly(pStm, &cx, sizeof(cx)))) return hr;
    if (FAILED(hr = ReadExactly(pStm, &cy, sizeof(cy)))) return hr;
    // Applied only once the whole record is read: a short stream changes nothing.
    extent_.cx = LONG(cx);
    extent_.cy = LONG(cy);
    naturalExtent_ = extent_;
    dirty_ = false;
    return S_OK;
}

STDMETHODIMP COleControl::Save(LPSTREAM pStm, BOOL fClearDirty) {
    if (!pStm) return E_POINTER;
    const DWORD version = kStreamVersion;
    const ULONG cx = ULONG(extent_.cx), cy = ULONG(extent_.cy);
    HRESULT hr = WriteExactly(pStm, &version, sizeof(version));
    if (SUCCEEDED(hr)) hr = WriteExactly(pStm, &cx, sizeof(cx));
    if (SUCCEEDED(hr)) hr = WriteExactly(pStm, &cy, sizeof(cy));
    if (SUCCEEDED(hr) && fClearDirty) dirty_ = false;
    return hr;
}

STDMETHODIMP COleControl::GetSizeMax(ULARGE_INTEGER* pCbSize) {
    if (!pCbSize) return E_POINTER;
    pCbSize->QuadPart = sizeof(DWORD) + 2 * sizeof(ULONG);
    return S_OK;
}

STDMETHODIMP COleControl::InitNew() {
    dirty_ = false;
    return S_OK;
}

STDMETHODIMP COleControl::InitNew(IStorage*) {
    return InitNew();
}

STDMETHODIMP COleControl::Load(IStorage* pStg) {
    if (!pStg) return E_POINTER;
    ComPtr<IStream> stream;
    const HRESULT hr = pStg->OpenStream(
        kContentsStream, nullptr, STGM_DIRECT | STGM_SHARE_EXCLUSIVE | STGM_READ, 0, stream.Put());
    if (FAILED(hr)) return hr;
    return Load(stream.Get());
}

STDMETHODIMP COleControl::Save(IStorage* pStgSave, BOOL) {
    if (!pStgSave) return E_POINTER;
    ComPtr<IStream> stream;
    const HRESULT hr = pStgSave->CreateStream(
        kContentsStream, STGM_DIRECT | STGM_SHARE_EXCLUSIVE | STGM_CREATE | STGM_READWRITE, 0, 0,
        stream.Put());
    if (FAILED(hr)) return hr;
    return Save(stream.Get(), TRUE);
}

STDMETHODIMP COleControl::SaveCompleted(IStorage*) {
    return S_OK;
}
STDMETHODIMP COleControl::HandsOffStorage() {
    return S_OK;
}

} // namespace narvo
