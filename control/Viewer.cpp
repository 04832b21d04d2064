#include "control/Viewer.h"

#include <commctrl.h>

#include <new>

#include "archive/ExtractAll.h"
#include "com/ScriptString.h"
#include "fileutil/Digest.h"
#include "fileutil/DocumentRoot.h"
#include "com/ComModule.h"
#include "control/ControlResources.h"

namespace narvo {
namespace {

constexpr DWORD kListStyle = WS_CHILD | WS_VISIBLE | WS_BORDER | LVS_REPORT | LVS_SINGLESEL;
// Room kept free beside the columns, so a fresh list shows no horizontal scroll bar.
constexpr int kColumnMargin = 20;

void InsertColumn(HWND list, int index, const std::string& header, int format, int width) {
    LVCOLUMNA column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
    column.fmt = format;
    column.cx = width;
    column.pszText = const_cast<char*>(header.c_str());
    SendMessageA(list, LVM_INSERTCOLUMNA, WPARAM(index), reinterpret_cast<LPARAM>(&column));
}

} // namespace

// ---- object and identity ----

CViewer::CViewer(IUnknown* outer)
    : COleControl(CLSID_CViewer, {IID_IPropertyNotifySink, DIID__IViewerEvents}),
      outer_(outer ? outer : &inner_) {}

CViewer::~CViewer() {
    DestroyControlWindow();
}

HRESULT CViewer::Create(IUnknown* outer, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
    CViewer* viewer = nullptr;
    try {
        viewer = new CViewer(outer);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    viewer->inner_.AddRef();
    const HRESULT hr = viewer->inner_.QueryInterface(riid, ppv);
    viewer->inner_.Release();
    return hr;
}

void* CViewer::FindInterface(REFIID riid) {
    if (riid == IID_IViewer) return static_cast<IViewer*>(this);
    if (riid == IID_IDispatch) return static_cast<IDispatch*>(static_cast<IViewer*>(this));
    if (riid == IID_IPersistStreamInit) return static_cast<IPersistStreamInit*>(this);
    if (riid == IID_IPersist) return static_cast<IPersist*>(static_cast<IPersistStreamInit*>(this));
    if (riid == IID_IOleControl) return static_cast<IOleControl*>(this);
    if (riid == IID_IOleObject) return static_cast<IOleObject*>(this);
    if (riid == IID_IOleInPlaceActiveObject) return static_cast<IOleInPlaceActiveObject*>(this);
    if (riid == IID_IOleWindow)
        return static_cast<IOleWindow*>(static_cast<IOleInPlaceActiveObject*>(this));
    if (riid == IID_IViewObjectEx) return static_cast<IViewObjectEx*>(this);
    if (riid == IID_IViewObject2) return static_cast<IViewObject2*>(this);
    if (riid == IID_IViewObject) return static_cast<IViewObject*>(this);
    if (riid == IID_IOleInPlaceObjectWindowless)
        return static_cast<IOleInPlaceObjectWindowless*>(this);
    if (riid == IID_IOleInPlaceObject) return static_cast<IOleInPlaceObject*>(this);
    if (riid == IID_IPersistStorage) return static_cast<IPersistStorage*>(this);
    if (riid == IID_ISpecifyPropertyPages) return static_cast<ISpecifyPropertyPages*>(this);
    if (riid == IID_IQuickActivate) return static_cast<IQuickActivate*>(this);
    if (riid == IID_IDataObject) return static_cast<IDataObject*>(this);
    if (riid == IID_IObjectSafety) return static_cast<IObjectSafety*>(this);
    if (riid == IID_IObjectWithSite) return static_cast<IObjectWithSite*>(this);
    if (riid == IID_IConnectionPointContainer) return static_cast<IConnectionPointContainer*>(this);
    if (riid == IID_ISupportErrorInfo) return static_cast<ISupportErrorInfo*>(this);
    if (riid == IID_IProvideClassInfo2) return static_cast<IProvideClassInfo2*>(this);
    if (riid == IID_IProvideClassInfo)
        return static_cast<IProvideClassInfo*>(static_cast<IProvideClassInfo2*>(this));
    return nullptr;
}

STDMETHODIMP CViewer::CInner::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = riid == IID_IUnknown ? static_cast<IUnknown*>(this) : viewer_.FindInterface(riid);
    if (!*ppv) return E_NOINTERFACE;
    static_cast<IUnknown*>(*ppv)->AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) CViewer::CInner::AddRef() {
    return ++viewer_.ref_;
}

STDMETHODIMP_(ULONG) CViewer::CInner::Release() {
    const ULONG ref = --viewer_.ref_;
    if (ref == 0) {
        // Guards against a nested release while the object takes itself apart.
        viewer_.ref_ = 1;
        delete &viewer_;
    }
    return ref;
}

STDMETHODIMP CViewer::QueryInterface(REFIID riid, void** ppv) {
    return outer_->QueryInterface(riid, ppv);
}
STDMETHODIMP_(ULONG) CViewer::AddRef() {
    return outer_->AddRef();
}
STDMETHODIMP_(ULONG) CViewer::Release() {
    return outer_->Release();
}

// ---- window and list ----

LRESULT CViewer::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_DESTROY:
        if (progressBox_.HasWindow()) progressBox_.DestroyBox();
        // The list view goes with this window; the cache keeps the image list for the next one.
        fileTypeCache_.ReleaseFrom(listView_);
        listView_ = nullptr;
        return 0;
    case WM_CREATE:
        return OnCreate();
    default:
        break;
    }
    bool handled = false;
    if (msg == WM_SETFOCUS) {
        // Standard handling first, so the control is UI active before its list takes the focus;
        // it runs once more below, as for every message.
        StandardMessage(msg, wParam, lParam, handled);
        HWND focus = GetFocus();
        if (IsInPlaceActive() && listView_ && !IsChild(ControlWindow(), focus)) SetFocus(listView_);
    }
    const LRESULT result = StandardMessage(msg, wParam, lParam, handled);
    if (handled) return result;
    if (msg == WM_NOTIFY && lParam &&
        reinterpret_cast<const NMHDR*>(lParam)->code == UINT(NM_DBLCLK)) {
        OnListDoubleClick();
        return 0;
    }
    return DefaultMessage(msg, wParam, lParam);
}

std::string CViewer::LoadHeader(UINT id) const {
    const wchar_t* text = nullptr;
    const int length = LoadStringW(ComModule::Instance(), id, reinterpret_cast<LPWSTR>(&text), 0);
    return length > 0 && text ? NarrowFromWide(std::wstring_view(text, length)) : std::string();
}

LRESULT CViewer::OnCreate() {
    HWND hwnd = ControlWindow();
    RECT bounds;
    GetWindowRect(hwnd, &bounds);
    const int width = bounds.right - bounds.left, height = bounds.bottom - bounds.top;
    if (!nameHeader_) {
        nameHeader_ = LoadHeader(IDS_HEADER_NAME);
        typeHeader_ = LoadHeader(IDS_HEADER_TYPE);
        sizeHeader_ = LoadHeader(IDS_HEADER_SIZE);
    }
    const int w = width - kColumnMargin;

    InitCommonControls();
    listView_ = CreateWindowExA(0, WC_LISTVIEWA, "", kListStyle, 0, 0, width, height, hwnd, nullptr,
                                ComModule::Instance(), nullptr);
    SendMessageA(listView_, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT);
    InsertColumn(listView_, 0, *nameHeader_, LVCFMT_LEFT, w * 50 / 100);
    InsertColumn(listView_, 1, *typeHeader_, LVCFMT_LEFT, w * 30 / 100);
    InsertColumn(listView_, 2, *sizeHeader_, LVCFMT_RIGHT, w * 20 / 100);
    if (listView_)
        SendMessageA(listView_, LVM_SETIMAGELIST, LVSIL_SMALL,
                     reinterpret_cast<LPARAM>(fileTypeCache_.CreateImageList()));
    return 0;
}

STDMETHODIMP CViewer::SetObjectRects(LPCRECT lprcPosRect, LPCRECT lprcClipRect) {
    if (!lprcPosRect) return E_POINTER;
    COleControl::SetObjectRects(lprcPosRect, lprcClipRect);
    if (listView_)
        SetWindowPos(listView_, nullptr, 0, 0, lprcPosRect->right - lprcPosRect->left,
                     lprcPosRect->bottom - lprcPosRect->top, SWP_NOZORDER | SWP_NOACTIVATE);
    return S_OK;
}

STDMETHODIMP CViewer::SetColumnWidth(LONG columnIndex, LONG columnWidth, LONG* isOk) {
    if (!isOk) return E_POINTER;
    // The list view reads the low 16 bits as a signed width: -1 and -2 keep their meanings.
    const LRESULT answer = listView_
                               ? SendMessageA(listView_, LVM_SETCOLUMNWIDTH, WPARAM(columnIndex),
                                              MAKELPARAM(LOWORD(columnWidth), 0))
                               : 0;
    *isOk = answer == 1 ? 1 : 0;
    return S_OK;
}

STDMETHODIMP CViewer::GetColumnWidth(LONG columnIndex, LONG* columnWidth) {
    if (!columnWidth) return E_POINTER;
    *columnWidth =
        listView_ ? LONG(SendMessageA(listView_, LVM_GETCOLUMNWIDTH, WPARAM(columnIndex), 0)) : 0;
    return S_OK;
}

STDMETHODIMP CViewer::GetWindowWidth(LONG* width) {
    if (!width) return E_POINTER;
    RECT bounds{};
    *width = listView_ && GetWindowRect(listView_, &bounds) ? bounds.right - bounds.left : 0;
    return S_OK;
}

STDMETHODIMP CViewer::GetWindowHeight(LONG* height) {
    if (!height) return E_POINTER;
    RECT bounds{};
    *height = listView_ && GetWindowRect(listView_, &bounds) ? bounds.bottom - bounds.top : 0;
    return S_OK;
}

// ---- settings ----

STDMETHODIMP CViewer::get_DocumentRoot(BSTR* pVal) {
    if (!pVal) return E_POINTER;
    // Read once per control: later changes to the stored value reach only newer controls.
    if (documentRoot_.empty()) documentRoot_ = ResolveDocumentRoot();
    *pVal = ScriptFromNarrow(documentRoot_);
    return S_OK;
}

STDMETHODIMP CViewer::get_InternetOption(LONG* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = internetOption_;
    return S_OK;
}

STDMETHODIMP CViewer::put_InternetOption(LONG newVal) {
    internetOption_ = newVal;
    return S_OK;
}

STDMETHODIMP CViewer::get_ViewFilterExclude(BSTR* pVal) {
    if (!pVal) return E_POINTER;
    *pVal = ScriptFromNarrow(filterText_);
    return S_OK;
}

STDMETHODIMP CViewer::put_ViewFilterExclude(BSTR newVal) {
    std::string text = NarrowFromScript(newVal);
    try {
        auto filter = std::make_unique<CExcludeFilter>(text);
        filterText_ = std::move(text);
        currentFilter_ = std::move(filter);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

// ---- work handed to the core ----

STDMETHODIMP CViewer::ExtractAll(BSTR format, BSTR fileName, BSTR path, LONG, LONG* ret) {
    if (!ret) return E_POINTER;
    if (!IsZipFormat(NarrowFromScript(format))) {
        *ret = kUnsupportedFormat;
        return S_OK;
    }
    *ret = ExtractArchive(NarrowFromScript(fileName).c_str(), NarrowFromScript(path).c_str());
    return S_OK;
}

STDMETHODIMP CViewer::GetSHA1(BSTR fileName, BSTR* pVal) {
    if (!pVal) return E_POINTER;
    std::uint8_t digest[20] = {};
    char text[41];
    FileSha1(NarrowFromScript(fileName).c_str(), digest);
    DigestToHex(digest, text);
    *pVal = ScriptFromNarrow(text);
    return S_OK;
}

STDMETHODIMP CViewer::GetCRC32(BSTR fileName, ULONG* ret) {
    if (!ret) return E_POINTER;
    *ret = FileCrc32(NarrowFromScript(fileName).c_str());
    return S_OK;
}

// ---- safety, error information, class information ----

STDMETHODIMP CViewer::GetInterfaceSafetyOptions(REFIID riid, DWORD* pdwSupportedOptions,
                                                DWORD* pdwEnabledOptions) {
    if (!pdwSupportedOptions || !pdwEnabledOptions) return E_POINTER;
    if (!FindInterface(riid) && riid != IID_IUnknown) {
        *pdwSupportedOptions = *pdwEnabledOptions = 0;
        return E_NOINTERFACE;
    }
    // A page the policy refuses learns that the control is safe for nothing.
    *pdwSupportedOptions = siteLock_.Refused() ? 0 : INTERFACESAFE_FOR_UNTRUSTED_CALLER;
    *pdwEnabledOptions = siteLock_.Refused() ? 0 : safetyOptions_;
    return S_OK;
}

STDMETHODIMP CViewer::SetInterfaceSafetyOptions(REFIID riid, DWORD dwOptionSetMask,
                                                DWORD dwEnabledOptions) {
    if (!FindInterface(riid) && riid != IID_IUnknown) return E_NOINTERFACE;
    if (dwOptionSetMask > INTERFACESAFE_FOR_UNTRUSTED_CALLER || siteLock_.Refused()) return E_FAIL;
    safetyOptions_ = (safetyOptions_ & ~dwOptionSetMask) | (dwOptionSetMask & dwEnabledOptions);
    return S_OK;
}

STDMETHODIMP CViewer::InterfaceSupportsErrorInfo(REFIID riid) {
    return riid == IID_IViewer ? S_OK : S_FALSE;
}

STDMETHODIMP CViewer::GetClassInfo(ITypeInfo** ppTI) {
    if (!ppTI) return E_POINTER;
    *ppTI = nullptr;
    return ComModule::TypeInfo(CLSID_CViewer, ppTI);
}

STDMETHODIMP CViewer::GetGUID(DWORD dwGuidKind, GUID* pGUID) {
    if (!pGUID) return E_POINTER;
    if (dwGuidKind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
        *pGUID = GUID_NULL;
        return E_INVALIDARG;
    }
    *pGUID = DIID__IViewerEvents;
    return S_OK;
}

} // namespace narvo
