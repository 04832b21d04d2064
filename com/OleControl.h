#pragma once
// A small OLE control base: what a container needs to host a windowed control in place, show,
// resize, save and release it. The control always runs in its own child window.
#include <windows.h>
#include <ole2.h>
#include <ocidl.h>
#include <memory>
#include <vector>

#include "com/ComPtr.h"
#include "com/ConnectionPoint.h"

namespace narvo {

class COleControl : public IPersistStreamInit,
                    public IOleControl,
                    public IOleObject,
                    public IOleInPlaceActiveObject,
                    public IViewObjectEx,
                    public IOleInPlaceObjectWindowless,
                    public IPersistStorage,
                    public ISpecifyPropertyPages,
                    public IQuickActivate,
                    public IDataObject,
                    public IConnectionPointContainer {
public:
    // The extent a new control reports, in HIMETRIC units: two inches square.
    static constexpr LONG kDefaultExtent = 5080;

    // connectionPoints: the outgoing interfaces, in the order the container enumerates them.
    // The first that is not IPropertyNotifySink is the default source for quick activation.
    COleControl(const CLSID& clsid, std::vector<IID> connectionPoints);
    virtual ~COleControl();
    COleControl(const COleControl&) = delete;
    COleControl& operator=(const COleControl&) = delete;

    HWND ControlWindow() const { return hwnd_; }
    bool IsInPlaceActive() const { return inPlaceActive_; }
    // The container's window for the control (from the in-place site), or none.
    HWND SiteWindow() const;
    CConnectionPoint* FindPoint(const IID& iid) const;

    // IPersist / IPersistStreamInit
    STDMETHODIMP GetClassID(CLSID* pClassID) override;
    STDMETHODIMP IsDirty() override;
    STDMETHODIMP Load(LPSTREAM pStm) override;
    STDMETHODIMP Save(LPSTREAM pStm, BOOL fClearDirty) override;
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER* pCbSize) override;
    STDMETHODIMP InitNew() override;

    // IPersistStorage
    STDMETHODIMP InitNew(IStorage* pStg) override;
    STDMETHODIMP Load(IStorage* pStg) override;
    STDMETHODIMP Save(IStorage* pStgSave, BOOL fSameAsLoad) override;
    STDMETHODIMP SaveCompleted(IStorage* pStgNew) override;
    STDMETHODIMP HandsOffStorage() override;

    // IOleControl
    STDMETHODIMP GetControlInfo(CONTROLINFO* pCI) override;
    STDMETHODIMP OnMnemonic(MSG* pMsg) override;
    STDMETHODIMP OnAmbientPropertyChange(DISPID dispID) override;
    STDMETHODIMP FreezeEvents(BOOL bFreeze) override;

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* pClientSite) override;
    STDMETHODIMP GetClientSite(IOleClientSite** ppClientSite) override;
    STDMETHODIMP SetHostNames(LPCOLESTR szContainerApp, LPCOLESTR szContainerObj) override;
    STDMETHODIMP Close(DWORD dwSaveOption) override;
    STDMETHODIMP SetMoniker(DWORD dwWhichMoniker, IMoniker* pmk) override;
    STDMETHODIMP GetMoniker(DWORD dwAssign, DWORD dwWhichMoniker, IMoniker** ppmk) override;
    STDMETHODIMP InitFromData(IDataObject* pDataObject, BOOL fCreation, DWORD dwReserved) override;
    STDMETHODIMP GetClipboardData(DWORD dwReserved, IDataObject** ppDataObject) override;
    STDMETHODIMP DoVerb(LONG iVerb, LPMSG lpmsg, IOleClientSite* pActiveSite, LONG lindex,
                        HWND hwndParent, LPCRECT lprcPosRect) override;
    STDMETHODIMP EnumVerbs(IEnumOLEVERB** ppEnumOleVerb) override;
    STDMETHODIMP Update() override;
    STDMETHODIMP IsUpToDate() override;
    STDMETHODIMP GetUserClassID(CLSID* pClsid) override;
    STDMETHODIMP GetUserType(DWORD dwFormOfType, LPOLESTR* pszUserType) override;
    STDMETHODIMP SetExtent(DWORD dwDrawAspect, SIZEL* psizel) override;
    STDMETHODIMP GetExtent(DWORD dwDrawAspect, SIZEL* psizel) override;
    STDMETHODIMP Advise(IAdviseSink* pAdvSink, DWORD* pdwConnection) override;
    STDMETHODIMP Unadvise(DWORD dwConnection) override;
    STDMETHODIMP EnumAdvise(IEnumSTATDATA** ppenumAdvise) override;
    STDMETHODIMP GetMiscStatus(DWORD dwAspect, DWORD* pdwStatus) override;
    STDMETHODIMP SetColorScheme(LOGPALETTE* pLogpal) override;

    // IOleWindow, IOleInPlaceActiveObject
    STDMETHODIMP GetWindow(HWND* phwnd) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL fEnterMode) override;
    STDMETHODIMP TranslateAccelerator(LPMSG lpmsg) override;
    STDMETHODIMP OnFrameWindowActivate(BOOL fActivate) override;
    STDMETHODIMP OnDocWindowActivate(BOOL fActivate) override;
    STDMETHODIMP ResizeBorder(LPCRECT prcBorder, IOleInPlaceUIWindow* pUIWindow,
                              BOOL fFrameWindow) override;
    STDMETHODIMP EnableModeless(BOOL fEnable) override;

    // IOleInPlaceObject(Windowless)
    STDMETHODIMP InPlaceDeactivate() override;
    STDMETHODIMP UIDeactivate() override;
    STDMETHODIMP SetObjectRects(LPCRECT lprcPosRect, LPCRECT lprcClipRect) override;
    STDMETHODIMP ReactivateAndUndo() override;
    STDMETHODIMP OnWindowMessage(UINT msg, WPARAM wParam, LPARAM lParam,
                                 LRESULT* plResult) override;
    STDMETHODIMP GetDropTarget(IDropTarget** ppDropTarget) override;

    // IViewObject, IViewObject2, IViewObjectEx
    STDMETHODIMP Draw(DWORD dwDrawAspect, LONG lindex, void* pvAspect, DVTARGETDEVICE* ptd,
                      HDC hdcTargetDev, HDC hdcDraw, LPCRECTL lprcBounds, LPCRECTL lprcWBounds,
                      BOOL(STDMETHODCALLTYPE* pfnContinue)(ULONG_PTR dwContinue),
                      ULONG_PTR dwContinue) override;
    STDMETHODIMP GetColorSet(DWORD dwDrawAspect, LONG lindex, void* pvAspect, DVTARGETDEVICE* ptd,
                             HDC hicTargetDev, LOGPALETTE** ppColorSet) override;
    STDMETHODIMP Freeze(DWORD dwDrawAspect, LONG lindex, void* pvAspect, DWORD* pdwFreeze) override;
    STDMETHODIMP Unfreeze(DWORD dwFreeze) override;
    STDMETHODIMP SetAdvise(DWORD aspects, DWORD advf, IAdviseSink* pAdvSink) override;
    STDMETHODIMP GetAdvise(DWORD* pAspects, DWORD* pAdvf, IAdviseSink** ppAdvSink) override;
    STDMETHODIMP GetExtent(DWORD dwDrawAspect, LONG lindex, DVTARGETDEVICE* ptd,
                           LPSIZEL lpsizel) override;
    STDMETHODIMP GetRect(DWORD dwAspect, LPRECTL pRect) override;
    STDMETHODIMP GetViewStatus(DWORD* pdwStatus) override;
    STDMETHODIMP QueryHitPoint(DWORD dwAspect, LPCRECT pRectBounds, POINT ptlLoc, LONG lCloseHint,
                               DWORD* pHitResult) override;
    STDMETHODIMP QueryHitRect(DWORD dwAspect, LPCRECT pRectBounds, LPCRECT pRectLoc,
                              LONG lCloseHint, DWORD* pHitResult) override;
    STDMETHODIMP GetNaturalExtent(DWORD dwAspect, LONG lindex, DVTARGETDEVICE* ptd,
                                  HDC hicTargetDev, DVEXTENTINFO* pExtentInfo,
                                  LPSIZEL pSizel) override;

    // ISpecifyPropertyPages
    STDMETHODIMP GetPages(CAUUID* pPages) override;

    // IQuickActivate
    STDMETHODIMP QuickActivate(QACONTAINER* pQaContainer, QACONTROL* pQaControl) override;
    STDMETHODIMP SetContentExtent(LPSIZEL pSizel) override;
    STDMETHODIMP GetContentExtent(LPSIZEL pSizel) override;

    // IDataObject
    STDMETHODIMP GetData(FORMATETC* pformatetcIn, STGMEDIUM* pmedium) override;
    STDMETHODIMP GetDataHere(FORMATETC* pformatetc, STGMEDIUM* pmedium) override;
    STDMETHODIMP QueryGetData(FORMATETC* pformatetc) override;
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC* pformatectIn, FORMATETC* pformatetcOut) override;
    STDMETHODIMP SetData(FORMATETC* pformatetc, STGMEDIUM* pmedium, BOOL fRelease) override;
    STDMETHODIMP EnumFormatEtc(DWORD dwDirection, IEnumFORMATETC** ppenumFormatEtc) override;
    STDMETHODIMP DAdvise(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink,
                         DWORD* pdwConnection) override;
    STDMETHODIMP DUnadvise(DWORD dwConnection) override;
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA** ppenumAdvise) override;

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

protected:
    // The control's message map. Messages it does not handle go to StandardMessage, then to
    // the default window procedure.
    virtual LRESULT OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) = 0;
    // Painting, focus reports and activation on mouse clicks, as every control does them.
    // handled is false for messages the default window procedure should see as well.
    LRESULT StandardMessage(UINT msg, WPARAM wParam, LPARAM lParam, bool& handled);
    LRESULT DefaultMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    // Draws the control into a device context (printing, metafiles, painting): the framework's
    // banner, centred in bounds.
    virtual void OnDraw(HDC hdc, const RECT& bounds);
    virtual DWORD ViewStatus() const { return 0; }
    virtual DWORD WindowStyle() const { return WS_CHILD | WS_VISIBLE; }
    // Destroys the control's window while the whole object is still alive to see its messages.
    void DestroyControlWindow();

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    HRESULT InPlaceActivate(LONG verb);
    HRESULT CreateControlWindow(HWND parent, const RECT& position);
    void ReleaseSites();
    void FireViewChange();
    void SetDirty() { dirty_ = true; }

    CLSID clsid_;
    std::vector<std::unique_ptr<CConnectionPoint>> points_;
    ComPtr<IOleClientSite> clientSite_;
    ComPtr<IOleInPlaceSite> inPlaceSite_;
    bool inPlaceSiteEx_ = false;
    ComPtr<IOleInPlaceFrame> frame_;
    ComPtr<IOleInPlaceUIWindow> uiWindow_;
    ComPtr<IOleAdviseHolder> oleAdviseHolder_;
    ComPtr<IDataAdviseHolder> dataAdviseHolder_;
    ComPtr<IAdviseSink> viewSink_;
    DWORD viewAspects_ = 0;
    DWORD viewAdvf_ = 0;
    SIZEL extent_{kDefaultExtent, kDefaultExtent};
    SIZEL naturalExtent_{kDefaultExtent, kDefaultExtent};
    HWND hwnd_ = nullptr;
    bool inPlaceActive_ = false;
    bool uiActive_ = false;
    bool dirty_ = false;
};

// The window class stays registered while the module is loaded; it goes when the module does,
// so that a later load registers its own procedure again.
void UnregisterControlWindowClass();

} // namespace narvo
