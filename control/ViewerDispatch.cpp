// The late-bound road into CViewer: one row per IViewer member, from which GetIDsOfNames and
// Invoke follow (com/Dispatch.h).
#include "control/Viewer.h"

#include "com/Dispatch.h"

namespace narvo {
namespace {

using Args = DispatchArgs;
using Member = DispatchMember<CViewer>;
constexpr auto kMethod = MemberKind::Method, kGet = MemberKind::Get, kPut = MemberKind::Put;

// A member's result, reported whatever the member answered. It is read through its address once
// the member has run.
template <class Integer> HRESULT Number(VARIANT* result, HRESULT hr, const Integer* value) {
    SetNumber(result, LONG(*value));
    return hr;
}
HRESULT Text(VARIANT* result, HRESULT hr, const BSTR* value) {
    SetOwnedText(result, *value);
    return hr;
}

// Searched in this order; the first match wins.
constexpr Member kMembers[] = {
    {{L"DocumentRoot", 1, kGet, ""},
     [](CViewer& v, const Args&, VARIANT* r) {
         BSTR t = nullptr;
         return Text(r, v.get_DocumentRoot(&t), &t);
     }},
    {{L"HttpDownload", 2, kMethod, "ttnttt"},
     [](CViewer& v, const Args& a, VARIANT* r) {
         LONG n = 0;
         return Number(
             r,
             v.HttpDownload(a.Text(0), a.Text(1), a.Number(2), a.Text(3), a.Text(4), a.Text(5), &n),
             &n);
     }},
    {{L"ViewArchive", 3, kMethod, "ttn"},
     [](CViewer& v, const Args& a, VARIANT* r) {
         LONG n = 0;
         return Number(r, v.ViewArchive(a.Text(0), a.Text(1), a.Number(2), &n), &n);
     }},
    {{L"GetSHA1", 4, kMethod, "t"},
     [](CViewer& v, const Args& a, VARIANT* r) {
         BSTR t = nullptr;
         return Text(r, v.GetSHA1(a.Text(0), &t), &t);
     }},
    // The CRC-32 is unsigned; a script sees its 32 bits as a signed number.
    {{L"GetCRC32", 5, kMethod, "t"},
     [](CViewer& v, const Args& a, VARIANT* r) {
         ULONG n = 0;
         return Number(r, v.GetCRC32(a.Text(0), &n), &n);
     }},
    {{L"HttpUploadSimple", 6, kMethod, "ttnttt"},
     [](CViewer& v, const Args& a, VARIANT* r) {
         LONG n = 0;
         return Number(r,
                       v.HttpUploadSimple(a.Text(0), a.Text(1), a.Number(2), a.Text(3), a.Text(4),
                                          a.Text(5), &n),
                       &n);
     }},
    {{L"ViewFilterExclude", 7, kGet, ""},
     [](CViewer& v, const Args&, VARIANT* r) {
         BSTR t = nullptr;
         return Text(r, v.get_ViewFilterExclude(&t), &t);
     }},
    {{L"ViewFilterExclude", 7, kPut, "t"},
     [](CViewer& v, const Args& a, VARIANT*) { return v.put_ViewFilterExclude(a.Text(0)); }},
    {{L"ExtractAll", 8, kMethod, "tttn"},
     [](CViewer& v, const Args& a, VARIANT* r) {
         LONG n = 0;
         return Number(r, v.ExtractAll(a.Text(0), a.Text(1), a.Text(2), a.Number(3), &n), &n);
     }},
    {{L"SelectFile", 9, kMethod, "ttt"},
     [](CViewer& v, const Args& a, VARIANT* r) {
         BSTR t = nullptr;
         return Text(r, v.SelectFile(a.Text(0), a.Text(1), a.Text(2), &t), &t);
     }},
    {{L"SetColumnWidth", 10, kMethod, "nn"},
     [](CViewer& v, const Args& a, VARIANT* r) {
         LONG n = 0;
         return Number(r, v.SetColumnWidth(a.Number(0), a.Number(1), &n), &n);
     }},
    {{L"GetColumnWidth", 11, kMethod, "n"},
     [](CViewer& v, const Args& a, VARIANT* r) {
         LONG n = 0;
         return Number(r, v.GetColumnWidth(a.Number(0), &n), &n);
     }},
    {{L"GetWindowWidth", 12, kMethod, ""},
     [](CViewer& v, const Args&, VARIANT* r) {
         LONG n = 0;
         return Number(r, v.GetWindowWidth(&n), &n);
     }},
    {{L"GetWindowHeight", 13, kMethod, ""},
     [](CViewer& v, const Args&, VARIANT* r) {
         LONG n = 0;
         return Number(r, v.GetWindowHeight(&n), &n);
     }},
    {{L"InternetOption", 14, kGet, ""},
     [](CViewer& v, const Args&, VARIANT* r) {
         LONG n = 0;
         return Number(r, v.get_InternetOption(&n), &n);
     }},
    {{L"InternetOption", 14, kPut, "n"},
     [](CViewer& v, const Args& a, VARIANT*) { return v.put_InternetOption(a.Number(0)); }},
};

} // namespace

STDMETHODIMP CViewer::GetTypeInfoCount(UINT* pctinfo) {
    if (!pctinfo) return E_POINTER;
    ITypeInfo* info = nullptr;
    *pctinfo = SUCCEEDED(GetTypeInfo(0, 0, &info)) && info ? 1 : 0;
    if (info) info->Release();
    return S_OK;
}

STDMETHODIMP CViewer::GetTypeInfo(UINT iTInfo, LCID, ITypeInfo** ppTInfo) {
    if (iTInfo != 0) return DISP_E_BADINDEX;
    if (!ppTInfo) return E_POINTER;
    *ppTInfo = nullptr;
    return ComModule::TypeInfo(IID_IViewer, ppTInfo);
}

STDMETHODIMP CViewer::GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID,
                                    DISPID* rgDispId) {
    return DispatchIDsOfNames<CViewer>(kMembers, rgszNames, cNames, rgDispId);
}

STDMETHODIMP CViewer::Invoke(DISPID dispIdMember, REFIID, LCID, WORD wFlags,
                             DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                             UINT* puArgErr) {
    // A page the policy refuses gets nothing done, whatever it calls.
    if (siteLock_.Refused()) return E_ACCESSDENIED;
    return DispatchInvoke<CViewer>(kMembers, *this, dispIdMember, wFlags, pDispParams, pVarResult,
                                   pExcepInfo, puArgErr);
}

} // namespace narvo
