#include "host/Container.h"

#include <commctrl.h>
#include <ole2.h>
#include <shlwapi.h>

#include <cstdio>

#include "host/Bitmap.h"
#include "host/BrowserSite.h"
#include "host/HostSupport.h"
#include "host/ListProbe.h"
#include "host/ModalWatch.h"
#include "host/ScriptFile.h"

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
constexpr wchar_t kFrameClass[] = L"NarvoHostFrame";
constexpr wchar_t kControlName[] = L"Narvo.Viewer";
// Where the control sits in the frame's client area, and its size before any host.resize.
constexpr int kControlLeft = 10, kControlTop = 10;
constexpr int kControlWidth = 420, kControlHeight = 240;
constexpr int kFrameWidth = 800, kFrameHeight = 600;
// The page's echo lines also show in a log pane below the control.
constexpr int kGap = 10;

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

LRESULT CALLBACK CContainer::FrameProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_CLOSE) return 0; // the page decides when the container ends
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

bool CContainer::CreateWindows() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = FrameProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kFrameClass;
    if (!RegisterClassExW(&wc)) return false;
    const std::wstring title = L"Narvo test container - " + scriptName_;
    frame_ = CreateWindowExW(0, kFrameClass, title.c_str(),
                             WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN | WS_VISIBLE, 0, 0, kFrameWidth,
                             kFrameHeight, nullptr, nullptr, wc.hInstance, nullptr);
    if (!frame_) return false;
    // AtlAxWin creates the control named by its window text and activates it in place.
    site_ = CreateWindowExW(0, L"AtlAxWin", kControlName, WS_CHILD | WS_VISIBLE, kControlLeft,
                            kControlTop, kControlWidth, kControlHeight, frame_, nullptr,
                            wc.hInstance, nullptr);
    log_ = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                           WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY |
                               ES_AUTOVSCROLL,
                           0, 0, 0, 0, frame_, nullptr, wc.hInstance, nullptr);
    SendMessageW(log_, WM_SETFONT, WPARAM(GetStockObject(DEFAULT_GUI_FONT)), TRUE);
    PlaceLog();
    return site_ != nullptr;
}

void CContainer::PlaceLog() {
    RECT client{}, site{0, 0, 0, kControlTop};
    GetClientRect(frame_, &client);
    if (site_) {
        GetWindowRect(site_, &site);
        MapWindowPoints(nullptr, frame_, reinterpret_cast<POINT*>(&site), 2);
    }
    const int top = site.bottom + kGap;
    MoveWindow(log_, kControlLeft, top, client.right - 2 * kControlLeft,
               client.bottom - top - kGap > 0 ? client.bottom - top - kGap : 0, TRUE);
}

void CContainer::Echo(const std::wstring& line) {
    WriteLine(STD_OUTPUT_HANDLE, Utf8(line));
    if (!log_) return;
    const std::wstring text = (GetWindowTextLengthW(log_) ? L"\r\n" : L"") + line;
    SendMessageW(log_, EM_SETSEL, GetWindowTextLengthW(log_), GetWindowTextLengthW(log_));
    SendMessageW(log_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

int CContainer::Run(const std::wstring& code) {
    // The platform's ATL host, from atl.dll itself: not every toolchain ships its import library.
    HMODULE atl = LoadLibraryW(L"atl.dll");
    using AtlAxWinInitFn = BOOL(WINAPI*)();
    using AtlAxGetControlFn = HRESULT(WINAPI*)(HWND, IUnknown**);
    const auto atlAxWinInit = reinterpret_cast<AtlAxWinInitFn>(
        reinterpret_cast<void*>(atl ? GetProcAddress(atl, "AtlAxWinInit") : nullptr));
    const auto atlAxGetControl = reinterpret_cast<AtlAxGetControlFn>(
        reinterpret_cast<void*>(atl ? GetProcAddress(atl, "AtlAxGetControl") : nullptr));
    if (!atlAxWinInit || !atlAxGetControl) {
        Fail("cannot load the ATL host (atl.dll)");
        return kExitNoControl;
    }
    if (!atlAxWinInit() || !CreateWindows()) {
        Fail("cannot create the container's windows");
        return kExitNoControl;
    }
    ComPtr<IDispatch> dispatch;
    if (FAILED(atlAxGetControl(site_, control_.Put())) || !control_ ||
        FAILED(control_.As(dispatch))) {
        Fail("cannot host Narvo.Viewer (is Narvo.dll registered?)");
        return kExitNoControl;
    }
    // A browser's page gives the control its site and asks whether it is safe to script; a
    // control that says no is no `viewer` of the page.
    if (!pageUrl_.empty()) {
        if (FAILED(GiveBrowserSite(control_.Get(), pageUrl_))) {
            Fail("cannot give the control the page's site");
            return kExitNoControl;
        }
        safetyResult_ = NegotiateScriptingSafety(control_.Get());
    }
    const bool scriptable = SUCCEEDED(safetyResult_);
    if (scriptable) viewer_->Attach(dispatch.Get());
    forcedViewer_->Attach(dispatch.Get());
    dispatch.Reset(); // from here on the page's `viewer` and the site hold the control
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
    if (SUCCEEDED(hr) && !scriptable)
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

void CContainer::Quit(int code) {
    // Ends at once, whatever the page's try blocks say: the exit code is the page's verdict.
    ExitProcess(UINT(code));
}

void CContainer::Resize(int width, int height) {
    if (site_)
        SetWindowPos(site_, nullptr, 0, 0, width, height,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    PlaceLog();
    PumpMessages(0);
}

HWND CContainer::ControlWindow() const {
    ComPtr<IOleWindow> window;
    HWND control = nullptr;
    if (!control_ || FAILED(control_.As(window)) || FAILED(window->GetWindow(&control)))
        return nullptr;
    return control;
}

HWND CContainer::ListWindow() const {
    HWND control = ControlWindow();
    return control ? FindWindowExW(control, nullptr, WC_LISTVIEWW, nullptr) : nullptr;
}

bool CContainer::ReadText(const std::wstring& path, std::wstring& text) const {
    std::wstring full = path;
    for (wchar_t& c : full)
        if (c == L'/') c = L'\\';
    // A relative path starts from the page script's folder.
    if (PathIsRelativeW(full.c_str())) {
        const size_t slash = scriptName_.find_last_of(L"\\/");
        full = (slash == std::wstring::npos ? L"" : scriptName_.substr(0, slash + 1)) + full;
    }
    return ReadScript(full, text);
}

bool CContainer::FocusControl(std::wstring& focusedClass) {
    HWND control = ControlWindow();
    if (!control) return false;
    SetFocus(control);
    PumpMessages(0);
    focusedClass = ClassOf(GetFocus());
    return !focusedClass.empty();
}

bool CContainer::ColumnHeader(int index, std::wstring& text) const {
    return host::ListCell(ListWindow(), -1, index, text);
}

HRESULT CContainer::Deactivate() {
    ComPtr<IOleInPlaceObject> inPlace;
    HRESULT hr = control_ ? control_.As(inPlace) : E_UNEXPECTED;
    if (SUCCEEDED(hr)) hr = inPlace->InPlaceDeactivate();
    PumpMessages(0);
    return hr;
}

HRESULT CContainer::Activate() {
    ComPtr<IOleObject> object;
    ComPtr<IOleClientSite> site;
    HRESULT hr = control_ ? control_.As(object) : E_UNEXPECTED;
    if (SUCCEEDED(hr)) hr = object->GetClientSite(site.Put());
    RECT bounds{};
    GetClientRect(site_, &bounds);
    if (SUCCEEDED(hr))
        hr = object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site.Get(), 0, site_, &bounds);
    PumpMessages(0);
    return hr;
}

void CContainer::ReleaseControl() {
    // Destroying the site window makes the ATL host close the control and let it go.
    viewer_->Detach();
    forcedViewer_->Detach();
    control_.Reset();
    if (site_) DestroyWindow(site_);
    site_ = nullptr;
    if (log_) PlaceLog();
    PumpMessages(0);
}

bool CContainer::CanUnload() const {
    HMODULE module = GetModuleHandleW(L"Narvo.dll");
    if (!module) return true;
    using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
    auto canUnload = reinterpret_cast<CanUnloadNow>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    return canUnload && canUnload() == S_OK;
}

// Saves the frame's client area as a 24-bit BMP file.
bool CContainer::Screenshot(const std::wstring& path) const {
    PumpMessages(0);
    RECT client;
    GetClientRect(frame_, &client);
    HDC window = GetDC(frame_);
    const bool saved = SaveBitmap(window, client.right, client.bottom, path);
    ReleaseDC(frame_, window);
    return saved;
}

// The whole screen, with every top-level window on it (the progress box stands on its own).
bool CContainer::ScreenshotScreen(const std::wstring& path) const {
    PumpMessages(0);
    HDC screen = GetDC(nullptr);
    const bool saved =
        SaveBitmap(screen, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), path);
    ReleaseDC(nullptr, screen);
    return saved;
}

// ---- timed callbacks and the progress box ----

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
