// The OLE control base, continued: its views, quick activation, the data it offers (its picture as
// a metafile) and its connection points.
#include "com/OleControl.h"

#include <new>

namespace narvo {

// ---- views ----

STDMETHODIMP COleControl::Draw(DWORD dwDrawAspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC hdcDraw,
                               LPCRECTL lprcBounds, LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR),
                               ULONG_PTR) {
    if (dwDrawAspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!hdcDraw || !lprcBounds) return E_INVALIDARG;
    const RECT bounds{lprcBounds->left, lprcBounds->top, lprcBounds->right, lprcBounds->bottom};
    // The caller's device context comes back as it was given.
    const int saved = SaveDC(hdcDraw);
    OnDraw(hdcDraw, bounds);
    if (saved) RestoreDC(hdcDraw, saved);
    return S_OK;
}

STDMETHODIMP COleControl::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC,
                                      LOGPALETTE** ppColorSet) {
    if (ppColorSet) *ppColorSet = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP COleControl::Freeze(DWORD, LONG, void*, DWORD*) {
    return E_NOTIMPL;
}
STDMETHODIMP COleControl::Unfreeze(DWORD) {
    return E_NOTIMPL;
}

STDMETHODIMP COleControl::SetAdvise(DWORD aspects, DWORD advf, IAdviseSink* pAdvSink) {
    viewSink_ = pAdvSink;
    viewAspects_ = aspects;
    viewAdvf_ = advf;
    return S_OK;
}

STDMETHODIMP COleControl::GetAdvise(DWORD* pAspects, DWORD* pAdvf, IAdviseSink** ppAdvSink) {
    if (pAspects) *pAspects = viewAspects_;
    if (pAdvf) *pAdvf = viewAdvf_;
    if (ppAdvSink) {
        *ppAdvSink = viewSink_.Get();
        if (*ppAdvSink) (*ppAdvSink)->AddRef();
    }
    return S_OK;
}

STDMETHODIMP COleControl::GetExtent(DWORD dwDrawAspect, LONG, DVTARGETDEVICE*, LPSIZEL lpsizel) {
    return GetExtent(dwDrawAspect, lpsizel);
}

STDMETHODIMP COleControl::GetRect(DWORD, LPRECTL) {
    return E_NOTIMPL;
}

STDMETHODIMP COleControl::GetViewStatus(DWORD* pdwStatus) {
    if (!pdwStatus) return E_POINTER;
    *pdwStatus = ViewStatus();
    return S_OK;
}

STDMETHODIMP COleControl::QueryHitPoint(DWORD dwAspect, LPCRECT pRectBounds, POINT ptlLoc, LONG,
                                        DWORD* pHitResult) {
    if (!pRectBounds || !pHitResult) return E_POINTER;
    if (dwAspect != DVASPECT_CONTENT) return E_FAIL;
    *pHitResult = PtInRect(pRectBounds, ptlLoc) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
    return S_OK;
}

STDMETHODIMP COleControl::QueryHitRect(DWORD dwAspect, LPCRECT pRectBounds, LPCRECT pRectLoc, LONG,
                                       DWORD* pHitResult) {
    if (!pRectBounds || !pRectLoc || !pHitResult) return E_POINTER;
    if (dwAspect != DVASPECT_CONTENT) return E_FAIL;
    RECT overlap;
    *pHitResult =
        IntersectRect(&overlap, pRectBounds, pRectLoc) ? HITRESULT_HIT : HITRESULT_OUTSIDE;
    return S_OK;
}

STDMETHODIMP COleControl::GetNaturalExtent(DWORD dwAspect, LONG, DVTARGETDEVICE*, HDC,
                                           DVEXTENTINFO* pExtentInfo, LPSIZEL pSizel) {
    if (!pExtentInfo || !pSizel) return E_POINTER;
    if (dwAspect != DVASPECT_CONTENT || pExtentInfo->dwExtentMode != DVEXTENT_CONTENT)
        return E_FAIL;
    *pSizel = naturalExtent_;
    return S_OK;
}

// ---- property pages: there are none ----

STDMETHODIMP COleControl::GetPages(CAUUID* pPages) {
    if (!pPages) return E_POINTER;
    pPages->cElems = 0;
    pPages->pElems = nullptr;
    return S_OK;
}

// ---- quick activation ----

STDMETHODIMP COleControl::QuickActivate(QACONTAINER* pQaContainer, QACONTROL* pQaControl) {
    if (!pQaContainer || !pQaControl) return E_POINTER;
    if (pQaContainer->cbSize < offsetof(QACONTAINER, dwAmbientFlags) ||
        pQaControl->cbSize < sizeof(QACONTROL))
        return E_INVALIDARG;
    const ULONG size = pQaControl->cbSize;
    ZeroMemory(pQaControl, sizeof(QACONTROL));
    pQaControl->cbSize = size;

    HRESULT hr = SetClientSite(pQaContainer->pClientSite);
    if (FAILED(hr)) return hr;
    if (pQaContainer->pAdviseSink) SetAdvise(DVASPECT_CONTENT, 0, pQaContainer->pAdviseSink);
    GetMiscStatus(DVASPECT_CONTENT, &pQaControl->dwMiscStatus);
    pQaControl->dwViewStatus = ViewStatus();
    for (const auto& point : points_) {
        // A sink that does not speak the interface simply stays unconnected.
        if (point->iid() == IID_IPropertyNotifySink) {
            if (pQaContainer->pPropertyNotifySink)
                point->Advise(pQaContainer->pPropertyNotifySink, &pQaControl->dwPropNotifyCookie);
        } else if (pQaContainer->pUnkEventSink && !pQaControl->dwEventCookie) {
            point->Advise(pQaContainer->pUnkEventSink, &pQaControl->dwEventCookie);
        }
    }
    return S_OK;
}

STDMETHODIMP COleControl::SetContentExtent(LPSIZEL pSizel) {
    return SetExtent(DVASPECT_CONTENT, pSizel);
}

STDMETHODIMP COleControl::GetContentExtent(LPSIZEL pSizel) {
    return GetExtent(DVASPECT_CONTENT, pSizel);
}

// ---- data: the control's picture as a metafile ----

STDMETHODIMP COleControl::GetData(FORMATETC* pformatetcIn, STGMEDIUM* pmedium) {
    if (!pformatetcIn || !pmedium) return E_POINTER;
    ZeroMemory(pmedium, sizeof(*pmedium));
    if (pformatetcIn->cfFormat != CF_METAFILEPICT || !(pformatetcIn->tymed & TYMED_MFPICT))
        return DV_E_FORMATETC;
    if (pformatetcIn->dwAspect != DVASPECT_CONTENT) return DV_E_DVASPECT;

    HDC metafile = CreateMetaFileW(nullptr);
    if (!metafile) return E_OUTOFMEMORY;
    SetMapMode(metafile, MM_ANISOTROPIC);
    SetWindowOrgEx(metafile, 0, 0, nullptr);
    SetWindowExtEx(metafile, extent_.cx, extent_.cy, nullptr);
    OnDraw(metafile, RECT{0, 0, extent_.cx, extent_.cy});
    HMETAFILE picture = CloseMetaFile(metafile);
    if (!picture) return E_OUTOFMEMORY;

    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, sizeof(METAFILEPICT));
    auto* header = memory ? static_cast<METAFILEPICT*>(GlobalLock(memory)) : nullptr;
    if (!header) {
        if (memory) GlobalFree(memory);
        DeleteMetaFile(picture);
        return E_OUTOFMEMORY;
    }
    header->mm = MM_ANISOTROPIC;
    header->xExt = extent_.cx;
    header->yExt = extent_.cy;
    header->hMF = picture;
    GlobalUnlock(memory);
    pmedium->tymed = TYMED_MFPICT;
    pmedium->hMetaFilePict = memory;
    pmedium->pUnkForRelease = nullptr;
    return S_OK;
}

STDMETHODIMP COleControl::GetDataHere(FORMATETC*, STGMEDIUM*) {
    return E_NOTIMPL;
}
STDMETHODIMP COleControl::QueryGetData(FORMATETC*) {
    return E_NOTIMPL;
}

STDMETHODIMP COleControl::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* pformatetcOut) {
    if (pformatetcOut) pformatetcOut->ptd = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP COleControl::SetData(FORMATETC*, STGMEDIUM*, BOOL) {
    return E_NOTIMPL;
}

STDMETHODIMP COleControl::EnumFormatEtc(DWORD, IEnumFORMATETC** ppenumFormatEtc) {
    if (ppenumFormatEtc) *ppenumFormatEtc = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP COleControl::DAdvise(FORMATETC* pformatetc, DWORD advf, IAdviseSink* pAdvSink,
                                  DWORD* pdwConnection) {
    if (!pdwConnection) return E_POINTER;
    *pdwConnection = 0;
    if (!dataAdviseHolder_) {
        const HRESULT hr = CreateDataAdviseHolder(dataAdviseHolder_.Put());
        if (FAILED(hr)) return hr;
    }
    return dataAdviseHolder_->Advise(this, pformatetc, advf, pAdvSink, pdwConnection);
}

STDMETHODIMP COleControl::DUnadvise(DWORD dwConnection) {
    if (!dataAdviseHolder_) return OLE_E_NOCONNECTION;
    return dataAdviseHolder_->Unadvise(dwConnection);
}

STDMETHODIMP COleControl::EnumDAdvise(IEnumSTATDATA** ppenumAdvise) {
    if (!ppenumAdvise) return E_POINTER;
    *ppenumAdvise = nullptr;
    if (!dataAdviseHolder_) return E_FAIL;
    return dataAdviseHolder_->EnumAdvise(ppenumAdvise);
}

// ---- connection points ----

STDMETHODIMP COleControl::EnumConnectionPoints(IEnumConnectionPoints** ppEnum) {
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    try {
        std::vector<IConnectionPoint*> points;
        for (const auto& point : points_)
            points.push_back(point.get());
        return CreateConnectionPointEnum(points, ppEnum);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

STDMETHODIMP COleControl::FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) {
    if (!ppCP) return E_POINTER;
    *ppCP = FindPoint(riid);
    if (!*ppCP) return CONNECT_E_NOCONNECTION;
    (*ppCP)->AddRef();
    return S_OK;
}

} // namespace narvo
