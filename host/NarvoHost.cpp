// narvo-host: a test container for Narvo.Viewer. It hosts the control in place in a top-level
// window through the platform's ATL host (AtlAxWin) and runs a page script in the JScript engine
// with two global objects: `viewer`, the control as a page sees it (IDispatch only), and `host`,
// the container's own services. See docs/test-container.md.
#include <windows.h>
#include <activscp.h>
#include <commctrl.h>
#include <ole2.h>
#include <oleauto.h>
#include <shlwapi.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "host/HostSupport.h"
#include "host/ListProbe.h"
#include "host/ModalWatch.h"
#include "control/ControlResources.h"

using host::ClassOf;
using host::PumpMessages;
using host::TextOf;
using host::Utf8;
using host::WriteLine;
using narvo::ComPtr;

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

constexpr int kExitScriptError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoControl = 3;

void Fail(const std::string& message) {
    WriteLine(STD_ERROR_HANDLE, "narvo-host: " + message);
}

std::wstring RectText(const RECT& r) {
    return std::to_wstring(r.left) + L"," + std::to_wstring(r.top) + L"," +
           std::to_wstring(r.right) + L"," + std::to_wstring(r.bottom);
}

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

bool ReadScript(const std::wstring& path, std::wstring& code);

// A page object with a fixed name table; the script engine reaches it through IDispatch.
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

private:
    CContainer& container_;
};

enum HostMember : DISPID {
    kEcho = 1,
    kQuit,
    kSleep,
    kResize,
    kArg,
    kArgCount,
    kColumnHeader,
    kDeactivate,
    kActivate,
    kRelease,
    kCanUnload,
    kScreenshot,
    kFocus,
    kReadText,
    kListRowCount,
    kListCell,
    kListImage,
    kListSelection,
    kImageList,
    kDoubleClickRow,
    kMessageBoxCount,
    kLastMessageBox,
    kAnswerFileDialog,
    kFileDialogCount,
    kLastFileDialog,
    kFindWindow,
    kEndProcess,
    kAfter,
    kProgressBox,
    kWorkArea,
    kScreenshotScreen,
    kPostQuit,
    kTakeQuit,
};

struct HostName {
    const wchar_t* name;
    DISPID id;
    UINT argCount;
};

constexpr HostName kHostNames[] = {
    {L"echo", kEcho, 1},
    {L"quit", kQuit, 1},
    {L"sleep", kSleep, 1},
    {L"resize", kResize, 2},
    {L"arg", kArg, 1},
    {L"argCount", kArgCount, 0},
    {L"columnHeader", kColumnHeader, 1},
    {L"deactivate", kDeactivate, 0},
    {L"activate", kActivate, 0},
    {L"release", kRelease, 0},
    {L"canUnload", kCanUnload, 0},
    {L"screenshot", kScreenshot, 1},
    {L"focus", kFocus, 0},
    {L"readText", kReadText, 1},
    {L"listRowCount", kListRowCount, 0},
    {L"listCell", kListCell, 2},
    {L"listImage", kListImage, 1},
    {L"listSelection", kListSelection, 0},
    {L"imageList", kImageList, 1},
    {L"doubleClickRow", kDoubleClickRow, 1},
    {L"messageBoxCount", kMessageBoxCount, 0},
    {L"lastMessageBox", kLastMessageBox, 1},
    {L"answerFileDialog", kAnswerFileDialog, 1},
    {L"fileDialogCount", kFileDialogCount, 0},
    {L"lastFileDialog", kLastFileDialog, 1},
    {L"findWindow", kFindWindow, 2},
    {L"endProcess", kEndProcess, 1},
    {L"after", kAfter, 2},
    {L"progressBox", kProgressBox, 1},
    {L"workArea", kWorkArea, 0},
    {L"screenshotScreen", kScreenshotScreen, 1},
    {L"postQuit", kPostQuit, 1},
    {L"takeQuit", kTakeQuit, 0},
};

// The container: its frame window, the AtlAxWin site holding the control, the script engine.
class CContainer final : public IActiveScriptSite, public IActiveScriptSiteWindow {
public:
    CContainer(std::wstring scriptName, std::vector<std::wstring> args)
        : scriptName_(std::move(scriptName)), args_(std::move(args)) {}

    int Run(const std::wstring& code);

    // Services of `host`.
    void Echo(const std::wstring& line);
    const std::vector<std::wstring>& args() const { return args_; }
    [[noreturn]] void Quit(int code);
    void Resize(int width, int height);
    bool ColumnHeader(int index, std::wstring& text) const;
    HRESULT Deactivate();
    HRESULT Activate();
    void ReleaseControl();
    bool CanUnload() const;
    bool Screenshot(const std::wstring& path) const;
    bool FocusControl(std::wstring& focusedClass);
    bool ReadText(const std::wstring& path, std::wstring& text) const;
    HWND ListWindow() const;
    void After(int ms, IDispatch* callback);
    void DropCallbacks();
    void ProgressBox(const std::wstring& what, VARIANT* result) const;
    bool ScreenshotScreen(const std::wstring& path) const;

    // IUnknown: the container lives on main's stack.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IActiveScriptSite)
            *ppv = static_cast<IActiveScriptSite*>(this);
        else if (riid == IID_IActiveScriptSiteWindow)
            *ppv = static_cast<IActiveScriptSiteWindow*>(this);
        else
            *ppv = nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    // IActiveScriptSite
    STDMETHODIMP GetLCID(LCID* lcid) override {
        if (lcid) *lcid = GetUserDefaultLCID();
        return S_OK;
    }
    STDMETHODIMP GetItemInfo(LPCOLESTR name, DWORD mask, IUnknown** item,
                             ITypeInfo** info) override;
    STDMETHODIMP GetDocVersionString(BSTR* version) override {
        if (version) *version = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP OnScriptTerminate(const VARIANT*, const EXCEPINFO*) override { return S_OK; }
    STDMETHODIMP OnStateChange(SCRIPTSTATE) override { return S_OK; }
    STDMETHODIMP OnScriptError(IActiveScriptError* error) override;
    STDMETHODIMP OnEnterScript() override { return S_OK; }
    STDMETHODIMP OnLeaveScript() override { return S_OK; }

    // IActiveScriptSiteWindow
    STDMETHODIMP GetWindow(HWND* window) override {
        if (!window) return E_POINTER;
        *window = frame_;
        return S_OK;
    }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }

private:
    bool CreateWindows();
    void PlaceLog();
    HWND ControlWindow() const;
    static LRESULT CALLBACK FrameProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    static void CALLBACK CallbackTimer(HWND, UINT, UINT_PTR id, DWORD);

    // host.after callbacks by timer id; the one container of the program runs them.
    static inline CContainer* current_ = nullptr;
    std::map<UINT_PTR, ComPtr<IDispatch>> callbacks_;

    std::wstring scriptName_;
    std::vector<std::wstring> args_;
    HWND frame_ = nullptr;
    HWND site_ = nullptr; // the AtlAxWin window
    HWND log_ = nullptr;
    ComPtr<IUnknown> control_;
    CViewerProxy* viewer_ = new CViewerProxy;
    CHostObject* host_ = new CHostObject(*this);
    bool scriptFailed_ = false;
};

// ---- host object ----

STDMETHODIMP CHostObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (count && (!names || !ids)) return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        for (const HostName& entry : kHostNames)
            if (names[i] && _wcsicmp(names[i], entry.name) == 0) ids[i] = entry.id;
        if (ids[i] == DISPID_UNKNOWN) return DISP_E_UNKNOWNNAME;
    }
    return S_OK;
}

// A member's answer: a string or a number, or null when there is none.
void SetText(VARIANT* result, bool found, const std::wstring& text) {
    V_VT(result) = found ? VT_BSTR : VT_NULL;
    if (found) V_BSTR(result) = SysAllocStringLen(text.data(), UINT(text.size()));
}

void SetNumber(VARIANT* result, bool found, long number) {
    V_VT(result) = found ? VT_I4 : VT_NULL;
    if (found) V_I4(result) = number;
}

void SetBool(VARIANT* result, bool value) {
    V_VT(result) = VT_BOOL;
    V_BOOL(result) = value ? VARIANT_TRUE : VARIANT_FALSE;
}

// The process of a visible top-level window of another process whose title holds text.
struct WindowSearch {
    std::wstring text;
    DWORD pid = 0;
    std::wstring title;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM searchAddress) {
    auto& search = *reinterpret_cast<WindowSearch*>(searchAddress);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t title[512] = {};
    if (pid == GetCurrentProcessId() || !IsWindowVisible(window) ||
        !GetWindowTextW(window, title, 512) || !wcsstr(title, search.text.c_str()))
        return TRUE;
    search.pid = pid;
    search.title = title;
    return FALSE;
}

WindowSearch FindWindowOfOtherProcess(const std::wstring& text, DWORD timeoutMs) {
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    WindowSearch search;
    search.text = text;
    for (;;) {
        EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&search));
        if (search.pid || GetTickCount64() >= end) return search;
        PumpMessages(50);
    }
}

BOOL CALLBACK CloseWindowOf(HWND window, LPARAM pid) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == DWORD(pid) && IsWindowVisible(window)) PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

// Asks the process's windows to close, as a person would, so that it leaves nothing behind
// (the file manager answers later requests through a registration of its own); a process that
// is still there after a while is terminated.
bool EndProcess(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (!process) return false;
    EnumWindows(CloseWindowOf, LPARAM(pid));
    bool ended = false;
    for (int waited = 0; !ended && waited < 5000; waited += 50) {
        PumpMessages(0);
        ended = WaitForSingleObject(process, 50) == WAIT_OBJECT_0;
    }
    if (!ended)
        ended = TerminateProcess(process, 1) && WaitForSingleObject(process, 5000) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

STDMETHODIMP CHostObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                 VARIANT* result, EXCEPINFO*, UINT* argErr) {
    if (!params) return DISP_E_BADVARTYPE;
    if (!(flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET))) return DISP_E_MEMBERNOTFOUND;
    const HostName* member = nullptr;
    for (const HostName& entry : kHostNames)
        if (entry.id == id) member = &entry;
    if (!member) return DISP_E_MEMBERNOTFOUND;
    if (params->cArgs != member->argCount || params->cNamedArgs) return DISP_E_BADPARAMCOUNT;

    // Arguments in declaration order, each brought to the type the member wants.
    const auto argument = [&](UINT i, VARTYPE type, VARIANT& out) -> HRESULT {
        VariantInit(&out);
        const UINT position = params->cArgs - 1 - i;
        if (FAILED(VariantChangeType(&out, &params->rgvarg[position], 0, type))) {
            if (argErr) *argErr = position;
            return DISP_E_TYPEMISMATCH;
        }
        return S_OK;
    };
    VARIANT a, b;
    VariantInit(&a);
    VariantInit(&b);
    struct Clear {
        VARIANT &a, &b;
        ~Clear() {
            VariantClear(&a);
            VariantClear(&b);
        }
    } clear{a, b};
    VARIANT ignored;
    VariantInit(&ignored);
    if (!result) result = &ignored;
    VariantInit(result);

    HRESULT hr = S_OK;
    switch (id) {
    case kEcho: {
        VARIANT& given = params->rgvarg[0];
        if (V_VT(&given) == VT_NULL)
            container_.Echo(L"null");
        else if (FAILED(VariantChangeType(&a, &given, VARIANT_ALPHABOOL, VT_BSTR)))
            container_.Echo(L"[object]");
        else
            container_.Echo(std::wstring(V_BSTR(&a), SysStringLen(V_BSTR(&a))));
        break;
    }
    case kQuit:
        if (FAILED(hr = argument(0, VT_I4, a))) break;
        container_.Quit(V_I4(&a));
    case kSleep:
        if (FAILED(hr = argument(0, VT_I4, a))) break;
        PumpMessages(V_I4(&a) > 0 ? DWORD(V_I4(&a)) : 0);
        break;
    case kResize:
        if (FAILED(hr = argument(0, VT_I4, a)) || FAILED(hr = argument(1, VT_I4, b))) break;
        container_.Resize(V_I4(&a), V_I4(&b));
        break;
    case kArg:
        if (FAILED(hr = argument(0, VT_I4, a))) break;
        if (V_I4(&a) >= 0 && size_t(V_I4(&a)) < container_.args().size()) {
            V_VT(result) = VT_BSTR;
            V_BSTR(result) = SysAllocString(container_.args()[V_I4(&a)].c_str());
        }
        break;
    case kArgCount:
        V_VT(result) = VT_I4;
        V_I4(result) = LONG(container_.args().size());
        break;
    case kColumnHeader: {
        if (FAILED(hr = argument(0, VT_I4, a))) break;
        std::wstring text;
        const bool found = container_.ColumnHeader(V_I4(&a), text);
        SetText(result, found, text);
        break;
    }
    case kDeactivate:
    case kActivate:
        V_VT(result) = VT_I4;
        V_I4(result) = id == kDeactivate ? container_.Deactivate() : container_.Activate();
        break;
    case kRelease:
        container_.ReleaseControl();
        break;
    case kCanUnload:
        SetBool(result, container_.CanUnload());
        break;
    case kScreenshot:
        if (FAILED(hr = argument(0, VT_BSTR, a))) break;
        SetBool(result, container_.Screenshot(V_BSTR(&a)));
        break;
    case kReadText: {
        if (FAILED(hr = argument(0, VT_BSTR, a))) break;
        std::wstring text;
        const bool found = container_.ReadText(V_BSTR(&a), text);
        SetText(result, found, text);
        break;
    }
    case kFocus: {
        std::wstring focused;
        const bool found = container_.FocusControl(focused);
        SetText(result, found, focused);
        break;
    }
    case kListRowCount:
        SetNumber(result, container_.ListWindow(), host::ListRowCount(container_.ListWindow()));
        break;
    case kListCell: {
        if (FAILED(hr = argument(0, VT_I4, a)) || FAILED(hr = argument(1, VT_I4, b))) break;
        std::wstring text;
        const bool found = host::ListCell(container_.ListWindow(), V_I4(&a), V_I4(&b), text);
        SetText(result, found, text);
        break;
    }
    case kListImage: {
        if (FAILED(hr = argument(0, VT_I4, a))) break;
        int image = 0;
        const bool found = host::ListImage(container_.ListWindow(), V_I4(&a), image);
        SetNumber(result, found, image);
        break;
    }
    case kListSelection:
        SetNumber(result, container_.ListWindow(), host::ListSelection(container_.ListWindow()));
        break;
    case kImageList: {
        if (FAILED(hr = argument(0, VT_BSTR, a))) break;
        long value = 0;
        const bool found = host::ImageListInfo(container_.ListWindow(), V_BSTR(&a), value);
        SetNumber(result, found, value);
        break;
    }
    case kDoubleClickRow:
        if (FAILED(hr = argument(0, VT_I4, a))) break;
        SetBool(result, host::DoubleClickRow(container_.ListWindow(), V_I4(&a)));
        break;
    case kMessageBoxCount:
        SetNumber(result, true, host::MessageBoxCount());
        break;
    case kFileDialogCount:
        SetNumber(result, true, host::FileDialogCount());
        break;
    case kLastMessageBox:
    case kLastFileDialog: {
        if (FAILED(hr = argument(0, VT_BSTR, a))) break;
        std::wstring value;
        const bool found = id == kLastMessageBox ? host::LastMessageBox(V_BSTR(&a), value)
                                                 : host::LastFileDialog(V_BSTR(&a), value);
        SetText(result, found, value);
        break;
    }
    case kAnswerFileDialog:
        if (FAILED(hr = argument(0, VT_BSTR, a))) break;
        host::AnswerFileDialog(V_BSTR(&a));
        break;
    case kFindWindow: {
        if (FAILED(hr = argument(0, VT_BSTR, a)) || FAILED(hr = argument(1, VT_I4, b))) break;
        const WindowSearch found =
            FindWindowOfOtherProcess(V_BSTR(&a), V_I4(&b) > 0 ? DWORD(V_I4(&b)) : 0);
        SetText(result, found.pid != 0, std::to_wstring(found.pid) + L" " + found.title);
        break;
    }
    case kEndProcess:
        if (FAILED(hr = argument(0, VT_I4, a))) break;
        SetBool(result, EndProcess(DWORD(V_I4(&a))));
        break;
    case kAfter:
        if (FAILED(hr = argument(0, VT_I4, a)) || FAILED(hr = argument(1, VT_DISPATCH, b))) break;
        if (!V_DISPATCH(&b)) {
            hr = DISP_E_TYPEMISMATCH;
            break;
        }
        container_.After(V_I4(&a), V_DISPATCH(&b));
        break;
    case kProgressBox:
        if (FAILED(hr = argument(0, VT_BSTR, a))) break;
        container_.ProgressBox(V_BSTR(&a), result);
        break;
    case kWorkArea: {
        RECT work{};
        SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
        SetText(result, true, RectText(work));
        break;
    }
    case kScreenshotScreen:
        if (FAILED(hr = argument(0, VT_BSTR, a))) break;
        SetBool(result, container_.ScreenshotScreen(V_BSTR(&a)));
        break;
    case kPostQuit:
        if (FAILED(hr = argument(0, VT_I4, a))) break;
        PostQuitMessage(V_I4(&a));
        break;
    case kTakeQuit: {
        MSG msg;
        const bool found = PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
        SetNumber(result, found, found ? long(msg.wParam) : 0);
        break;
    }
    default:
        hr = DISP_E_MEMBERNOTFOUND;
    }
    VariantClear(&ignored);
    return hr;
}

// ---- container ----

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
    viewer_->Attach(dispatch.Get());
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
    if (SUCCEEDED(hr)) hr = engine->AddNamedItem(L"viewer", SCRIPTITEM_ISVISIBLE);
    if (SUCCEEDED(hr)) hr = engine->AddNamedItem(L"host", SCRIPTITEM_ISVISIBLE);
    if (SUCCEEDED(hr)) hr = engine->SetScriptState(SCRIPTSTATE_STARTED);
    if (FAILED(hr)) {
        Fail("cannot start the JScript engine: " + Hex(hr));
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

// Saves what source shows from (0, 0) to (width, height) as a 24-bit BMP file.
bool SaveBitmap(HDC source, int width, int height, const std::wstring& path) {
    HDC memory = CreateCompatibleDC(source);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height; // bottom-up, as BMP files store rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool saved = false;
    if (bitmap) {
        HGDIOBJ previous = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
        SelectObject(memory, previous);
        GdiFlush();
        const DWORD rowSize = (DWORD(width) * 3 + 3) & ~3u;
        const DWORD imageSize = rowSize * DWORD(height);
        BITMAPFILEHEADER header{};
        header.bfType = 0x4D42; // "BM"
        header.bfOffBits = sizeof(header) + sizeof(info.bmiHeader);
        header.bfSize = header.bfOffBits + imageSize;
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            saved = WriteFile(file, &header, sizeof(header), &written, nullptr) &&
                    WriteFile(file, &info.bmiHeader, sizeof(info.bmiHeader), &written, nullptr) &&
                    WriteFile(file, bits, imageSize, &written, nullptr) && written == imageSize;
            CloseHandle(file);
        }
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    return saved;
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

// The progress box of this thread: a dialog holding the progress bar.
BOOL CALLBACK MatchProgressBox(HWND hwnd, LPARAM found) {
    if (ClassOf(hwnd) != L"#32770" ||
        _wcsicmp(ClassOf(GetDlgItem(hwnd, IDC_PROGRESS_BAR)).c_str(), PROGRESS_CLASSW) != 0)
        return TRUE;
    *reinterpret_cast<HWND*>(found) = hwnd;
    return FALSE;
}

HWND FindProgressBox() {
    HWND found = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), MatchProgressBox, reinterpret_cast<LPARAM>(&found));
    return found;
}

void CContainer::ProgressBox(const std::wstring& what, VARIANT* result) const {
    HWND box = FindProgressBox();
    V_VT(result) = VT_NULL;
    if (!box) return;
    HWND bar = GetDlgItem(box, IDC_PROGRESS_BAR);
    if (what == L"message") {
        SetText(result, true, TextOf(GetDlgItem(box, IDC_PROGRESS_MESSAGE)));
    } else if (what == L"percent") {
        SetText(result, true, TextOf(GetDlgItem(box, IDC_PROGRESS_PERCENT)));
    } else if (what == L"bar") {
        SetNumber(result, true, long(SendMessageW(bar, PBM_GETPOS, 0, 0)));
    } else if (what == L"range") {
        PBRANGE range{};
        SendMessageW(bar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
        SetText(result, true, std::to_wstring(range.iLow) + L"-" + std::to_wstring(range.iHigh));
    } else if (what == L"visible") {
        SetBool(result, IsWindowVisible(box));
    } else if (what == L"style") {
        SetNumber(result, true, long(GetWindowLongW(box, GWL_STYLE)));
    } else if (what == L"rect") {
        RECT bounds{};
        GetWindowRect(box, &bounds);
        SetText(result, true, RectText(bounds));
    } else if (what == L"picture") {
        HBITMAP picture = reinterpret_cast<HBITMAP>(
            SendDlgItemMessageW(box, IDC_PROGRESS_PICTURE, STM_GETIMAGE, IMAGE_BITMAP, 0));
        BITMAP info{};
        const bool found = picture && GetObjectW(picture, sizeof info, &info);
        SetText(result, found,
                std::to_wstring(info.bmWidth) + L"x" + std::to_wstring(info.bmHeight));
    } else if (what == L"close") {
        // Alt+F4 as keyboard input to the box, as a user would close it.
        SetForegroundWindow(box);
        INPUT keys[4] = {};
        const WORD codes[4] = {VK_MENU, VK_F4, VK_F4, VK_MENU};
        for (int i = 0; i < 4; ++i) {
            keys[i].type = INPUT_KEYBOARD;
            keys[i].ki.wVk = codes[i];
            keys[i].ki.dwFlags = i < 2 ? 0 : KEYEVENTF_KEYUP;
        }
        SetNumber(result, true, long(SendInput(4, keys, sizeof(INPUT))));
        PumpMessages(0);
    }
}

bool ReadScript(const std::wstring& path, std::wstring& code) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::string bytes;
    char buffer[8192];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read)
        bytes.append(buffer, read);
    CloseHandle(file);
    // UTF-16 with its byte-order mark, else UTF-8 (with or without one).
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        code.assign(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
        return true;
    }
    size_t start = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    const int size = MultiByteToWideChar(CP_UTF8, 0, bytes.data() + start,
                                         int(bytes.size() - start), nullptr, 0);
    code.assign(size > 0 ? size : 0, L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_UTF8, 0, bytes.data() + start, int(bytes.size() - start),
                            code.data(), size);
    return true;
}

} // namespace

int main() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 2) {
        Fail("usage: narvo-host SCRIPT.js [ARG...]");
        return kExitUsage;
    }
    const std::wstring scriptPath = argv[1];
    std::vector<std::wstring> args(argv + 2, argv + argc);
    LocalFree(argv);

    std::wstring code;
    if (!ReadScript(scriptPath, code)) {
        Fail("cannot read " + Utf8(scriptPath));
        return kExitUsage;
    }
    if (FAILED(OleInitialize(nullptr))) {
        Fail("cannot initialise OLE");
        return kExitNoControl;
    }
    InitCommonControls();
    int status = 0;
    {
        CContainer container(scriptPath, std::move(args));
        status = container.Run(code);
    }
    OleUninitialize();
    return status;
}
