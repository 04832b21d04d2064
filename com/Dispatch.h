#pragma once
// Late binding from one table: each row names a member, gives its DISPID, its kind, its
// arguments' types and the call. Name lookup, argument counting and conversion, and the call all
// follow from the rows, for the control and for the test container alike.
#include <windows.h>
#include <oleauto.h>

#include <span>
#include <string>

namespace narvo {

enum class MemberKind { Method, Get, Put };

// The arguments of one call, first declared first, each already of its row's declared type.
class DispatchArgs {
public:
    explicit DispatchArgs(const VARIANT* const* args) : args_(args) {}
    BSTR Text(UINT i) const { return V_BSTR(args_[i]); }
    LONG Number(UINT i) const { return V_I4(args_[i]); }
    IDispatch* Object(UINT i) const { return V_DISPATCH(args_[i]); }
    const VARIANT& Value(UINT i) const { return *args_[i]; }

private:
    const VARIANT* const* args_;
};

// The row's part that lookup and conversion read.
struct MemberShape {
    const wchar_t* name;
    DISPID id;
    MemberKind kind;
    // One letter per argument, first declared first: 't' text (BSTR), 'n' number (I4),
    // 'o' object (IDispatch), 'v' the value as the caller gave it.
    const char* args;
};

// The call writes its answer into result, which is always there (VT_EMPTY on entry).
template <class Object> struct DispatchMember {
    MemberShape shape;
    HRESULT (*call)(Object& object, const DispatchArgs& args, VARIANT* result);
};

// Answers for a finished call.
void SetText(VARIANT* result, std::wstring_view text);
void SetOwnedText(VARIANT* result, BSTR text); // the BSTR becomes the result's
void SetNumber(VARIANT* result, LONG number);
void SetBool(VARIANT* result, bool value);
void SetNull(VARIANT* result);

namespace dispatch {

constexpr UINT kMaxArgs = 7;

// Names match whatever the letter case of their ASCII letters; a property's accessors answer to
// "get_"/"put_" before their name as well.
bool MatchesName(const MemberShape& member, const wchar_t* name);
// Methods ignore the flags; a property with a getter only is read whatever the flags; a
// read-write property reads when the get bit is set (script engines send a read as
// METHOD|PROPERTYGET), else writes when the put bit is set.
bool Selects(const MemberShape& member, bool readOnly, WORD flags);

// Everything about a call before and after its member runs.
class Call {
public:
    Call(DISPPARAMS* params, VARIANT* result, UINT* argErr);
    ~Call();
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
    // The call's own checks: malformed parameters, named arguments other than a put's value.
    HRESULT Check() const { return check_; }
    // Counts the arguments and brings each to its declared type.
    HRESULT Convert(const MemberShape& member);
    DispatchArgs Args() const { return DispatchArgs(args_); }
    VARIANT* Result() { return result_; }
    // Clears older error objects; afterwards hands a failing member's error object on.
    void Begin();
    HRESULT Finish(HRESULT hr, EXCEPINFO* exception);

private:
    DISPPARAMS* params_;
    VARIANT* result_;
    UINT* argErr_;
    HRESULT check_;
    VARIANT ignored_;
    VARIANT temporaries_[kMaxArgs];
    const VARIANT* args_[kMaxArgs] = {};
};

} // namespace dispatch

template <class Object>
HRESULT DispatchIDsOfNames(std::span<const DispatchMember<Object>> members, LPOLESTR* names,
                           UINT count, DISPID* ids) {
    if (count && (!names || !ids)) return E_INVALIDARG;
    // Every name is looked up among the members, so parameter names are unknown.
    for (UINT i = 0; i < count; ++i) {
        const DispatchMember<Object>* found = nullptr;
        for (const DispatchMember<Object>& member : members)
            if (names[i] && dispatch::MatchesName(member.shape, names[i])) {
                found = &member;
                break;
            }
        if (!found) return DISP_E_UNKNOWNNAME;
        ids[i] = found->shape.id;
    }
    return S_OK;
}

template <class Object>
HRESULT DispatchInvoke(std::span<const DispatchMember<Object>> members, Object& object, DISPID id,
                       WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                       UINT* argErr) {
    dispatch::Call call(params, result, argErr);
    if (FAILED(call.Check())) return call.Check();
    bool readOnly = true;
    for (const DispatchMember<Object>& member : members)
        if (member.shape.id == id && member.shape.kind == MemberKind::Put) readOnly = false;
    const DispatchMember<Object>* selected = nullptr;
    for (const DispatchMember<Object>& member : members)
        if (member.shape.id == id && dispatch::Selects(member.shape, readOnly, flags)) {
            selected = &member;
            break;
        }
    if (!selected) return DISP_E_MEMBERNOTFOUND;
    const HRESULT converted = call.Convert(selected->shape);
    if (FAILED(converted)) return converted;
    call.Begin();
    return call.Finish(selected->call(object, call.Args(), call.Result()), exception);
}

} // namespace narvo
