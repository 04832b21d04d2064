// The late-bound road into CViewer: a fixed name table for GetIDsOfNames and a fixed member table
// for Invoke, which counts the arguments, brings each to its declared type and calls the member.
#include "control/Viewer.h"

#include <optional>
#include <string>

#include "com/ScriptString.h"
#include "com/ComModule.h"

namespace narvo {
namespace {

constexpr UINT kMaxArgs = 7;

struct NameEntry {
    const wchar_t* name;
    DISPID id;
};

// Searched in this order; the first match wins.
constexpr NameEntry kNames[] = {
    {L"DocumentRoot", 1},          {L"get_DocumentRoot", 1},  {L"HttpDownload", 2},
    {L"ViewArchive", 3},           {L"GetSHA1", 4},           {L"GetCRC32", 5},
    {L"HttpUploadSimple", 6},      {L"ViewFilterExclude", 7}, {L"get_ViewFilterExclude", 7},
    {L"put_ViewFilterExclude", 7}, {L"ExtractAll", 8},        {L"SelectFile", 9},
    {L"SetColumnWidth", 10},       {L"GetColumnWidth", 11},   {L"GetWindowWidth", 12},
    {L"GetWindowHeight", 13},      {L"InternetOption", 14},   {L"get_InternetOption", 14},
    {L"put_InternetOption", 14},
};

enum class Member {
    GetDocumentRoot,
    HttpDownload,
    ViewArchive,
    GetSHA1,
    GetCRC32,
    HttpUploadSimple,
    GetViewFilterExclude,
    PutViewFilterExclude,
    ExtractAll,
    SelectFile,
    SetColumnWidth,
    GetColumnWidth,
    GetWindowWidth,
    GetWindowHeight,
    GetInternetOption,
    PutInternetOption,
};

// What Invoke needs to know of a member: its arguments' types, first declared first, and the type
// its result is reported as (VT_EMPTY for the setters, which report none).
struct Shape {
    UINT argCount;
    VARTYPE args[6];
    VARTYPE result;
};

constexpr VARTYPE S = VT_BSTR, I = VT_I4;

constexpr Shape kShapes[] = {
    /* GetDocumentRoot      */ {0, {}, VT_BSTR},
    /* HttpDownload         */ {6, {S, S, I, S, S, S}, VT_I4},
    /* ViewArchive          */ {3, {S, S, I}, VT_I4},
    /* GetSHA1              */ {1, {S}, VT_BSTR},
    /* GetCRC32             */ {1, {S}, VT_I4},
    /* HttpUploadSimple     */ {6, {S, S, I, S, S, S}, VT_I4},
    /* GetViewFilterExclude */ {0, {}, VT_BSTR},
    /* PutViewFilterExclude */ {1, {S}, VT_EMPTY},
    /* ExtractAll           */ {4, {S, S, S, I}, VT_I4},
    /* SelectFile           */ {3, {S, S, S}, VT_BSTR},
    /* SetColumnWidth       */ {2, {I, I}, VT_I4},
    /* GetColumnWidth       */ {1, {I}, VT_I4},
    /* GetWindowWidth       */ {0, {}, VT_I4},
    /* GetWindowHeight      */ {0, {}, VT_I4},
    /* GetInternetOption    */ {0, {}, VT_I4},
    /* PutInternetOption    */ {1, {I}, VT_EMPTY},
};

// Methods ignore the flags; a property reads when the get bit is set (script engines send a read
// as METHOD|PROPERTYGET), else writes when the put bit is set.
std::optional<Member> SelectMember(DISPID id, WORD flags) {
    const auto property = [flags](Member get, Member put) -> std::optional<Member> {
        if (flags & DISPATCH_PROPERTYGET) return get;
        if (flags & DISPATCH_PROPERTYPUT) return put;
        return std::nullopt;
    };
    switch (id) {
    case 1:
        return Member::GetDocumentRoot;
    case 2:
        return Member::HttpDownload;
    case 3:
        return Member::ViewArchive;
    case 4:
        return Member::GetSHA1;
    case 5:
        return Member::GetCRC32;
    case 6:
        return Member::HttpUploadSimple;
    case 7:
        return property(Member::GetViewFilterExclude, Member::PutViewFilterExclude);
    case 8:
        return Member::ExtractAll;
    case 9:
        return Member::SelectFile;
    case 10:
        return Member::SetColumnWidth;
    case 11:
        return Member::GetColumnWidth;
    case 12:
        return Member::GetWindowWidth;
    case 13:
        return Member::GetWindowHeight;
    case 14:
        return property(Member::GetInternetOption, Member::PutInternetOption);
    default:
        return std::nullopt;
    }
}

// Names match whatever the letter case of their ASCII letters.
bool SameName(const wchar_t* a, const wchar_t* b) {
    const auto lower = [](wchar_t c) {
        return c >= L'A' && c <= L'Z' ? wchar_t(c - L'A' + L'a') : c;
    };
    for (; *a && *b; ++a, ++b)
        if (lower(*a) != lower(*b)) return false;
    return *a == *b;
}

// The call's temporaries, cleared on every way out.
struct Temporaries {
    VARIANT slots[kMaxArgs];
    Temporaries() {
        for (VARIANT& slot : slots)
            VariantInit(&slot);
    }
    ~Temporaries() {
        for (VARIANT& slot : slots)
            VariantClear(&slot);
    }
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
    if (cNames && (!rgszNames || !rgDispId)) return E_INVALIDARG;
    // Every name is looked up among the members, so parameter names are unknown.
    for (UINT i = 0; i < cNames; ++i) {
        const NameEntry* found = nullptr;
        for (const NameEntry& entry : kNames)
            if (rgszNames[i] && SameName(rgszNames[i], entry.name)) {
                found = &entry;
                break;
            }
        if (!found) return DISP_E_UNKNOWNNAME;
        rgDispId[i] = found->id;
    }
    return S_OK;
}

STDMETHODIMP CViewer::Invoke(DISPID dispIdMember, REFIID, LCID, WORD wFlags,
                             DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                             UINT* puArgErr) {
    if (!pDispParams) return DISP_E_BADVARTYPE;
    const UINT argCount = pDispParams->cArgs;
    if (argCount > kMaxArgs) return DISP_E_BADPARAMCOUNT;
    if (pVarResult) VariantInit(pVarResult);
    // The only named argument understood is the value of a property put, which is simply the
    // argument at position 0.
    if (pDispParams->cNamedArgs != 0 &&
        (pDispParams->cNamedArgs != 1 || !pDispParams->rgdispidNamedArgs ||
         pDispParams->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT))
        return DISP_E_NONAMEDARGS;
    if (argCount && !pDispParams->rgvarg) return E_INVALIDARG;

    Temporaries temporaries;
    const std::optional<Member> member = SelectMember(dispIdMember, wFlags);
    if (!member) return DISP_E_MEMBERNOTFOUND;
    const Shape& shape = kShapes[int(*member)];
    if (argCount != shape.argCount) return DISP_E_BADPARAMCOUNT;

    // Arguments arrive last first: declared parameter i sits at position argCount - 1 - i.
    const VARIANT* args[kMaxArgs] = {};
    for (UINT i = 0; i < argCount; ++i) {
        const UINT k = argCount - 1 - i;
        VARIANT& given = pDispParams->rgvarg[k];
        if (V_VT(&given) == shape.args[i]) {
            args[i] = &given;
            continue;
        }
        VARIANT& temporary = temporaries.slots[k];
        VARIANT scratch;
        VariantInit(&scratch);
        if (FAILED(VariantCopy(&temporary, &given)) ||
            FAILED(VariantChangeType(&scratch, &temporary, 0, shape.args[i]))) {
            if (puArgErr) *puArgErr = k;
            return DISP_E_TYPEMISMATCH;
        }
        VariantClear(&temporary);
        temporary = scratch;
        args[i] = &temporary;
    }
    const auto text = [&args](int i) { return V_BSTR(args[i]); };
    const auto number = [&args](int i) { return V_I4(args[i]); };

    // A failing member may leave its own error object; an older one must not be taken for it.
    SetErrorInfo(0, nullptr);
    BSTR textResult = nullptr;
    LONG numberResult = 0;
    ULONG unsignedResult = 0;
    HRESULT hr = S_OK;
    switch (*member) {
    case Member::GetDocumentRoot:
        hr = get_DocumentRoot(&textResult);
        break;
    case Member::HttpDownload:
        hr = HttpDownload(text(0), text(1), number(2), text(3), text(4), text(5), &numberResult);
        break;
    case Member::ViewArchive:
        hr = ViewArchive(text(0), text(1), number(2), &numberResult);
        break;
    case Member::GetSHA1:
        hr = GetSHA1(text(0), &textResult);
        break;
    case Member::GetCRC32:
        hr = GetCRC32(text(0), &unsignedResult);
        break;
    case Member::HttpUploadSimple:
        hr =
            HttpUploadSimple(text(0), text(1), number(2), text(3), text(4), text(5), &numberResult);
        break;
    case Member::GetViewFilterExclude:
        hr = get_ViewFilterExclude(&textResult);
        break;
    case Member::PutViewFilterExclude:
        hr = put_ViewFilterExclude(text(0));
        break;
    case Member::ExtractAll:
        hr = ExtractAll(text(0), text(1), text(2), number(3), &numberResult);
        break;
    case Member::SelectFile:
        hr = SelectFile(text(0), text(1), text(2), &textResult);
        break;
    case Member::SetColumnWidth:
        hr = SetColumnWidth(number(0), number(1), &numberResult);
        break;
    case Member::GetColumnWidth:
        hr = GetColumnWidth(number(0), &numberResult);
        break;
    case Member::GetWindowWidth:
        hr = GetWindowWidth(&numberResult);
        break;
    case Member::GetWindowHeight:
        hr = GetWindowHeight(&numberResult);
        break;
    case Member::GetInternetOption:
        hr = get_InternetOption(&numberResult);
        break;
    case Member::PutInternetOption:
        hr = put_InternetOption(number(0));
        break;
    }

    if (shape.result == VT_BSTR) {
        if (pVarResult) {
            V_VT(pVarResult) = VT_BSTR;
            V_BSTR(pVarResult) = textResult; // now the caller's
        } else {
            SysFreeString(textResult);
        }
    } else if (shape.result == VT_I4 && pVarResult) {
        V_VT(pVarResult) = VT_I4;
        // The CRC-32 is unsigned; a script sees its 32 bits as a signed number.
        V_I4(pVarResult) = *member == Member::GetCRC32 ? LONG(unsignedResult) : numberResult;
    }

    if (FAILED(hr) && pExcepInfo) {
        pExcepInfo->pfnDeferredFillIn = nullptr;
        pExcepInfo->scode = hr;
        IErrorInfo* info = nullptr;
        if (GetErrorInfo(0, &info) == S_OK && info) {
            info->GetSource(&pExcepInfo->bstrSource);
            info->GetDescription(&pExcepInfo->bstrDescription);
            info->GetHelpFile(&pExcepInfo->bstrHelpFile);
            info->GetHelpContext(&pExcepInfo->dwHelpContext);
            info->Release();
        }
    }
    return hr;
}

} // namespace narvo
