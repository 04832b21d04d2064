#pragma once
// CViewer: the control a page creates. A report list fills its window; script calls arrive
// through the dual interface IViewer and are handed to the core.
#include <windows.h>
#include <objsafe.h>
#include <ocidl.h>
#include <memory>
#include <optional>
#include <string>

#include "Narvo_h.h"
#include "archive/ArchiveListing.h"
#include "com/ComModule.h"
#include "control/FileTypeCache.h"
#include "com/OleControl.h"
#include "control/ProgressBox.h"
#include "control/SiteLock.h"

namespace narvo {

// The module lock is the first base: bases go in reverse order, so it is released only after the
// members and the OLE control base are gone, and the module cannot be unloaded under them.
class CViewer final : private ModuleLock,
                      public COleControl,
                      public IViewer,
                      public IObjectSafety,
                      public IObjectWithSite,
                      public ISupportErrorInfo,
                      public IProvideClassInfo2 {
public:
    // Makes a control, inside outer when one is given (then riid must be IID_IUnknown), and
    // hands out its riid interface. The object goes again when that fails.
    static HRESULT Create(IUnknown* outer, REFIID riid, void** ppv);

    // IUnknown: every interface answers for the controlling object.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override;
    STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                               DISPID* rgDispId) override;
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                        DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                        UINT* puArgErr) override;

    // IViewer
    STDMETHODIMP get_DocumentRoot(BSTR* pVal) override;
    STDMETHODIMP HttpDownload(BSTR caption, BSTR server, LONG port, BSTR url, BSTR header,
                              BSTR destFileName, LONG* errCode) override;
    STDMETHODIMP ViewArchive(BSTR format, BSTR fileName, LONG option, LONG* ret) override;
    STDMETHODIMP GetSHA1(BSTR fileName, BSTR* pVal) override;
    STDMETHODIMP GetCRC32(BSTR fileName, ULONG* ret) override;
    STDMETHODIMP HttpUploadSimple(BSTR caption, BSTR server, LONG port, BSTR url, BSTR header,
                                  BSTR fileName, LONG* errCode) override;
    STDMETHODIMP get_ViewFilterExclude(BSTR* pVal) override;
    STDMETHODIMP put_ViewFilterExclude(BSTR newVal) override;
    STDMETHODIMP ExtractAll(BSTR format, BSTR fileName, BSTR path, LONG option, LONG* ret) override;
    STDMETHODIMP SelectFile(BSTR title, BSTR filter, BSTR options, BSTR* fileName) override;
    STDMETHODIMP SetColumnWidth(LONG columnIndex, LONG columnWidth, LONG* isOk) override;
    STDMETHODIMP GetColumnWidth(LONG columnIndex, LONG* columnWidth) override;
    STDMETHODIMP GetWindowWidth(LONG* width) override;
    STDMETHODIMP GetWindowHeight(LONG* height) override;
    STDMETHODIMP get_InternetOption(LONG* pVal) override;
    STDMETHODIMP put_InternetOption(LONG newVal) override;

    // IObjectSafety
    STDMETHODIMP GetInterfaceSafetyOptions(REFIID riid, DWORD* pdwSupportedOptions,
                                           DWORD* pdwEnabledOptions) override;
    STDMETHODIMP SetInterfaceSafetyOptions(REFIID riid, DWORD dwOptionSetMask,
                                           DWORD dwEnabledOptions) override;

    // IObjectWithSite, and the client site (ViewerSite.cpp): a new site has its page judged.
    STDMETHODIMP SetSite(IUnknown* pUnkSite) override;
    STDMETHODIMP GetSite(REFIID riid, void** ppvSite) override;
    STDMETHODIMP SetClientSite(IOleClientSite* pClientSite) override;

    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

    // IProvideClassInfo, IProvideClassInfo2
    STDMETHODIMP GetClassInfo(ITypeInfo** ppTI) override;
    STDMETHODIMP GetGUID(DWORD dwGuidKind, GUID* pGUID) override;

    // IOleInPlaceObject: the list follows the control's size.
    STDMETHODIMP SetObjectRects(LPCRECT lprcPosRect, LPCRECT lprcClipRect) override;

protected:
    LRESULT OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;
    DWORD ViewStatus() const override { return VIEWSTATUS_OPAQUE | VIEWSTATUS_SOLIDBKGND; }
    DWORD WindowStyle() const override {
        return WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    }

private:
    // The non-delegating IUnknown an outer object holds.
    class CInner : public IUnknown {
    public:
        explicit CInner(CViewer& viewer) : viewer_(viewer) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;

    private:
        CViewer& viewer_;
    };

    explicit CViewer(IUnknown* outer);
    ~CViewer();
    // The object's own interface table, in the order it is searched.
    void* FindInterface(REFIID riid);
    LRESULT OnCreate();
    std::string LoadHeader(UINT id) const;
    // The archive view (ViewerArchive.cpp): the listing's rows into the list, opening the
    // selected row, and the warning box that tells the user when either fails.
    void FillArchiveList();
    void OnListDoubleClick();
    void ShowWarning(const wchar_t* text) const;
    // The transfers (ViewerTransfer.cpp): a reference held while one runs; the progress box
    // opened unless one is open already.
    ComPtr<IViewer> KeepAlive();
    void ShowProgressBox(BSTR caption);

    CInner inner_{*this};
    IUnknown* outer_;
    ULONG ref_ = 0;
    DWORD safetyOptions_ = 0;
    CSiteLock siteLock_;
    ComPtr<IUnknown> objectSite_;

    HWND listView_ = nullptr;
    CProgressBox progressBox_;
    CArchiveListing listing_;
    std::string documentRoot_;
    std::string filterText_;
    CFileTypeCache fileTypeCache_;
    std::unique_ptr<CExcludeFilter> currentFilter_;
    std::string archivePath_;
    std::optional<std::string> nameHeader_, typeHeader_, sizeHeader_;
    LONG internetOption_ = 0;
};

} // namespace narvo
