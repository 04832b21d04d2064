#pragma once
// The container: its frame window, the AtlAxWin site holding the control, the script engine and
// its site, and the services the `host` object hands to the page.
#include <windows.h>
#include <activscp.h>

#include <map>
#include <string>
#include <vector>

#include "com/ComPtr.h"
#include "host/PageObjects.h"

namespace host {

constexpr int kExitScriptError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitNoControl = 3;

class CContainer final : public IActiveScriptSite, public IActiveScriptSiteWindow {
public:
    CContainer(std::wstring scriptName, std::vector<std::wstring> args)
        : scriptName_(std::move(scriptName)), args_(std::move(args)) {}

    // --url: the container plays a browser's page at url (host/BrowserSite.h).
    void SetPageUrl(std::wstring url) { pageUrl_ = std::move(url); }
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
    // Releases the control and hosts a new one in a new site window at the same place.
    bool Recreate();
    IDispatch* ResourceCounts() const;
    HRESULT SafetyResult() const { return safetyResult_; }
    IDispatch* ViewerByForce() const { return forcedViewer_; }
    bool CanUnload() const;
    bool Screenshot(const std::wstring& path) const;
    bool FocusControl(std::wstring& focusedClass);
    bool ReadText(const std::wstring& path, std::wstring& text) const;
    HWND ListWindow() const;
    void After(int ms, IDispatch* callback);
    void DropCallbacks();
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
    bool CreateSite();
    bool HostControl();
    void PlaceLog();
    HWND ControlWindow() const;
    static LRESULT CALLBACK FrameProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    static void CALLBACK CallbackTimer(HWND, UINT, UINT_PTR id, DWORD);

    // host.after callbacks by timer id; the one container of the program runs them.
    static inline CContainer* current_ = nullptr;
    std::map<UINT_PTR, ComPtr<IDispatch>> callbacks_;

    std::wstring scriptName_;
    std::vector<std::wstring> args_;
    using AtlAxGetControlFn = HRESULT(WINAPI*)(HWND, IUnknown**);
    AtlAxGetControlFn atlAxGetControl_ = nullptr;
    HWND frame_ = nullptr;
    HWND site_ = nullptr; // the AtlAxWin window
    HWND log_ = nullptr;
    ComPtr<IUnknown> control_;
    CViewerProxy* viewer_ = new CViewerProxy;
    CViewerProxy* forcedViewer_ = new CViewerProxy; // attached even when the page may not script
    std::wstring pageUrl_;
    HRESULT safetyResult_ = S_OK;
    CHostObject* host_ = new CHostObject(*this);
    bool scriptFailed_ = false;
};

} // namespace host
