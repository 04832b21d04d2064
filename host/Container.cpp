// The container's frame, the control's site in it, and the services `host` hands to the page.
#include "host/Container.h"

#include <commctrl.h>
#include <ole2.h>
#include <shlwapi.h>

#include "host/Bitmap.h"
#include "host/HostSupport.h"
#include "host/ListProbe.h"
#include "host/ResourceCounts.h"
#include "host/ScriptFile.h"

namespace host {
namespace {

constexpr wchar_t kFrameClass[] = L"NarvoHostFrame";
constexpr wchar_t kControlName[] = L"Narvo.Viewer";
// Where the control sits in the frame's client area, and its size before any host.resize.
constexpr int kControlLeft = 10, kControlTop = 10;
constexpr int kControlWidth = 420, kControlHeight = 240;
constexpr int kFrameWidth = 800, kFrameHeight = 600;
// The page's echo lines also show in a log pane below the control.
constexpr int kGap = 10;

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
    CreateSite();
    log_ = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"",
                           WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY |
                               ES_AUTOVSCROLL,
                           0, 0, 0, 0, frame_, nullptr, wc.hInstance, nullptr);
    SendMessageW(log_, WM_SETFONT, WPARAM(GetStockObject(DEFAULT_GUI_FONT)), TRUE);
    PlaceLog();
    return site_ != nullptr;
}

bool CContainer::CreateSite() {
    // AtlAxWin creates the control named by its window text and activates it in place.
    site_ = CreateWindowExW(0, L"AtlAxWin", kControlName, WS_CHILD | WS_VISIBLE, kControlLeft,
                            kControlTop, kControlWidth, kControlHeight, frame_, nullptr,
                            GetModuleHandleW(nullptr), nullptr);
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

IDispatch* CContainer::ResourceCounts() const {
    return ResourceCountsObject(ReadResourceCounts(frame_));
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

} // namespace host
