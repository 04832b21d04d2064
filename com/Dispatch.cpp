#include "com/Dispatch.h"

#include <cstring>

#include "platform/AsciiCase.h"

namespace narvo {

void SetText(VARIANT* result, std::wstring_view text) {
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = SysAllocStringLen(text.data(), UINT(text.size()));
}

void SetOwnedText(VARIANT* result, BSTR text) {
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = text;
}

void SetNumber(VARIANT* result, LONG number) {
    V_VT(result) = VT_I4;
    V_I4(result) = number;
}

void SetBool(VARIANT* result, bool value) {
    V_VT(result) = VT_BOOL;
    V_BOOL(result) = value ? VARIANT_TRUE : VARIANT_FALSE;
}

void SetNull(VARIANT* result) {
    VariantClear(result);
    V_VT(result) = VT_NULL;
}

namespace dispatch {
namespace {

VARTYPE TypeOf(char letter) {
    switch (letter) {
    case 't':
        return VT_BSTR;
    case 'n':
        return VT_I4;
    case 'o':
        return VT_DISPATCH;
    default:
        return VT_EMPTY; // as given
    }
}

} // namespace

bool MatchesName(const MemberShape& member, const wchar_t* name) {
    const std::wstring_view given(name), own(member.name);
    if (AsciiEqualNoCase(given, own)) return true;
    const std::wstring_view accessor = member.kind == MemberKind::Get   ? L"get_"
                                       : member.kind == MemberKind::Put ? L"put_"
                                                                        : L"";
    return !accessor.empty() && AsciiStartsWithNoCase(given, accessor) &&
           AsciiEqualNoCase(given.substr(accessor.size()), own);
}

bool Selects(const MemberShape& member, bool readOnly, WORD flags) {
    switch (member.kind) {
    case MemberKind::Method:
        return true;
    case MemberKind::Get:
        return readOnly || (flags & DISPATCH_PROPERTYGET);
    case MemberKind::Put:
        return !(flags & DISPATCH_PROPERTYGET) && (flags & DISPATCH_PROPERTYPUT);
    }
    return false;
}

Call::Call(DISPPARAMS* params, VARIANT* result, UINT* argErr)
    : params_(params), result_(result), argErr_(argErr), check_(S_OK) {
    VariantInit(&ignored_);
    for (VARIANT& slot : temporaries_)
        VariantInit(&slot);
    if (!params) {
        check_ = DISP_E_BADVARTYPE;
        return;
    }
    if (params->cArgs > kMaxArgs) {
        check_ = DISP_E_BADPARAMCOUNT; // before the result is touched
        return;
    }
    if (!result_) result_ = &ignored_;
    VariantInit(result_);
    // The only named argument understood is the value of a property put, which is simply the
    // argument at position 0.
    if (params->cNamedArgs != 0 && (params->cNamedArgs != 1 || !params->rgdispidNamedArgs ||
                                    params->rgdispidNamedArgs[0] != DISPID_PROPERTYPUT))
        check_ = DISP_E_NONAMEDARGS;
    else if (params->cArgs && !params->rgvarg)
        check_ = E_INVALIDARG;
}

Call::~Call() {
    for (VARIANT& slot : temporaries_)
        VariantClear(&slot);
    VariantClear(&ignored_);
}

HRESULT Call::Convert(const MemberShape& member) {
    const UINT count = params_->cArgs;
    if (count != std::strlen(member.args)) return DISP_E_BADPARAMCOUNT;
    // Arguments arrive last first: declared parameter i sits at position count - 1 - i.
    for (UINT i = 0; i < count; ++i) {
        const UINT k = count - 1 - i;
        VARIANT& given = params_->rgvarg[k];
        const VARTYPE type = TypeOf(member.args[i]);
        if (type == VT_EMPTY || V_VT(&given) == type) {
            args_[i] = &given;
            continue;
        }
        // Converted in a copy: the caller's variants stay as they were.
        VARIANT& temporary = temporaries_[k];
        VARIANT scratch;
        VariantInit(&scratch);
        if (FAILED(VariantCopy(&temporary, &given)) ||
            FAILED(VariantChangeType(&scratch, &temporary, 0, type))) {
            if (argErr_) *argErr_ = k;
            return DISP_E_TYPEMISMATCH;
        }
        VariantClear(&temporary);
        temporary = scratch;
        args_[i] = &temporary;
    }
    return S_OK;
}

void Call::Begin() {
    // A failing member may leave its own error object; an older one must not be taken for it.
    SetErrorInfo(0, nullptr);
}

HRESULT Call::Finish(HRESULT hr, EXCEPINFO* exception) {
    if (FAILED(hr) && exception) {
        exception->pfnDeferredFillIn = nullptr;
        exception->scode = hr;
        IErrorInfo* info = nullptr;
        if (GetErrorInfo(0, &info) == S_OK && info) {
            info->GetSource(&exception->bstrSource);
            info->GetDescription(&exception->bstrDescription);
            info->GetHelpFile(&exception->bstrHelpFile);
            info->GetHelpContext(&exception->dwHelpContext);
            info->Release();
        }
    }
    return hr;
}

} // namespace dispatch
} // namespace narvo
