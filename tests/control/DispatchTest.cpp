// IDispatch of IViewer called directly: name lookup, Invoke's counting, conversion and result
// rules, and the type information handed out.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Narvo_h.h"
#include "com/ComPtr.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WindowsSupport.h"

using narvo::ComPtr;
using namespace narvo::test;

namespace {

const NarvoLibrary& Library() {
    return SharedNarvoLibrary();
}

// A VARIANT that clears itself.
struct Var : VARIANT {
    Var() { VariantInit(this); }
    explicit Var(const wchar_t* text) : Var() {
        vt = VT_BSTR;
        bstrVal = text ? SysAllocString(text) : nullptr;
    }
    explicit Var(LONG number) : Var() {
        vt = VT_I4;
        lVal = number;
    }
    ~Var() { VariantClear(this); }
    Var(const Var&) = delete;
    Var& operator=(const Var&) = delete;
};

class DispatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        ASSERT_TRUE(Library().loaded());
        ASSERT_EQ(Library().Create(IID_IDispatch, dispatch_.PutVoid()), S_OK);
    }
    void TearDown() override {
        dispatch_.Reset();
        OleUninitialize();
    }

    // Invoke with arguments in declaration order (they are passed last first, as callers do).
    HRESULT Call(DISPID id, WORD flags, std::vector<VARIANT*> args, VARIANT* result = nullptr,
                 UINT* argErr = nullptr, bool namedPut = false, EXCEPINFO* exception = nullptr) {
        std::vector<VARIANT> reversed;
        for (auto it = args.rbegin(); it != args.rend(); ++it)
            reversed.push_back(**it);
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params{reversed.data(), namedPut ? &named : nullptr, UINT(reversed.size()),
                          namedPut ? 1u : 0u};
        EXCEPINFO ignored{};
        const HRESULT hr = dispatch_->Invoke(id, IID_NULL, 0, flags, &params, result,
                                             exception ? exception : &ignored, argErr);
        if (!exception) {
            SysFreeString(ignored.bstrSource);
            SysFreeString(ignored.bstrDescription);
            SysFreeString(ignored.bstrHelpFile);
        }
        return hr;
    }

    ComPtr<IDispatch> dispatch_;
};

} // namespace

TEST_F(DispatchTest, LooksUpMemberNamesInAnyLetterCase) {
    // The members' own names are checked against the type library
    // (TypeInformationMatchesTheNameTable); here the accessor spellings it does not carry, and
    // other letter cases.
    const std::pair<const wchar_t*, DISPID> names[] = {
        {L"get_DocumentRoot", 1},    {L"get_ViewFilterExclude", 7}, {L"put_ViewFilterExclude", 7},
        {L"get_InternetOption", 14}, {L"put_InternetOption", 14},   {L"documentroot", 1},
        {L"GET_INTERNETOPTION", 14},
    };
    for (const auto& [name, expected] : names) {
        DISPID id = -99;
        LPOLESTR list[] = {const_cast<LPOLESTR>(name)};
        EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, list, 1, 0, &id), S_OK) << Utf8(name);
        EXPECT_EQ(id, expected) << Utf8(name);
    }

    // Parameter names are not members: the positions before the first unknown name are filled.
    LPOLESTR withParameter[] = {const_cast<LPOLESTR>(L"HttpDownload"),
                                const_cast<LPOLESTR>(L"caption"), const_cast<LPOLESTR>(L"GetSHA1")};
    DISPID ids[3] = {-99, -99, -99};
    EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, withParameter, 3, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], 2);
    EXPECT_EQ(ids[1], -99);
    EXPECT_EQ(ids[2], -99);
    EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, withParameter, 0, 0, ids), S_OK);
    LPOLESTR prefixOnly[] = {const_cast<LPOLESTR>(L"GetSHA")};
    EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, prefixOnly, 1, 0, ids), DISP_E_UNKNOWNNAME);
}

TEST_F(DispatchTest, RejectsMalformedCallsBeforeAnyMember) {
    Var result, a(L"a"), b(1);
    UINT argErr = 77;
    EXPECT_EQ(
        dispatch_->Invoke(4, IID_NULL, 0, DISPATCH_METHOD, nullptr, &result, nullptr, &argErr),
        DISP_E_BADVARTYPE);

    // Eight arguments fail before the result is touched.
    result.vt = VT_I4;
    result.lVal = 123;
    EXPECT_EQ(Call(4, DISPATCH_METHOD, {&a, &a, &a, &a, &a, &a, &a, &a}, &result),
              DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 123);

    VARIANT args[2] = {a, a};
    DISPID namedTwo[2] = {DISPID_PROPERTYPUT, 0};
    DISPPARAMS twoNamed{args, namedTwo, 2, 2};
    EXPECT_EQ(dispatch_->Invoke(14, IID_NULL, 0, DISPATCH_PROPERTYPUT, &twoNamed, &result, nullptr,
                                nullptr),
              DISP_E_NONAMEDARGS);
    EXPECT_EQ(result.vt, VT_EMPTY);
    DISPID namedOther = 0;
    DISPPARAMS otherNamed{args, &namedOther, 1, 1};
    EXPECT_EQ(dispatch_->Invoke(14, IID_NULL, 0, DISPATCH_PROPERTYPUT, &otherNamed, nullptr,
                                nullptr, nullptr),
              DISP_E_NONAMEDARGS);
    DISPPARAMS namedWithoutList{args, nullptr, 1, 1};
    EXPECT_EQ(dispatch_->Invoke(14, IID_NULL, 0, DISPATCH_PROPERTYPUT, &namedWithoutList, nullptr,
                                nullptr, nullptr),
              DISP_E_NONAMEDARGS);
    DISPPARAMS argsWithoutList{nullptr, nullptr, 1, 0};
    EXPECT_EQ(dispatch_->Invoke(4, IID_NULL, 0, DISPATCH_METHOD, &argsWithoutList, nullptr, nullptr,
                                nullptr),
              E_INVALIDARG);

    for (DISPID id : {0, 15, -1, DISPID_VALUE})
        EXPECT_EQ(Call(id, DISPATCH_METHOD, {}), DISP_E_MEMBERNOTFOUND) << id;
    // The two read-write properties need the get or the put bit.
    EXPECT_EQ(Call(14, DISPATCH_METHOD, {}), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(Call(7, DISPATCH_METHOD, {}), DISP_E_MEMBERNOTFOUND);
    // DocumentRoot is read-only: a put is a getter call with one argument too many.
    EXPECT_EQ(Call(1, DISPATCH_PROPERTYPUT, {&a}, nullptr, nullptr, true), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(Call(4, DISPATCH_METHOD, {}), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(Call(12, DISPATCH_METHOD, {&b}), DISP_E_BADPARAMCOUNT);

    // HttpDownload's port (third parameter, position 3) given as letters: nothing is requested.
    Var caption(L"c"), server(L"127.0.0.1"), port(L"eighty"), url(L"/"), header(L""), dest(L"x");
    EXPECT_EQ(Call(2, DISPATCH_METHOD, {&caption, &server, &port, &url, &header, &dest}, &result,
                   &argErr),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 3u);
    Var nullValue;
    nullValue.vt = VT_NULL;
    EXPECT_EQ(Call(8, DISPATCH_METHOD, {&a, &a, &nullValue, &b}, &result, &argErr),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 1u);
}

TEST_F(DispatchTest, ConvertsArgumentsWithoutTouchingTheCallers) {
    Var three(L"3"), width(L"120"), result;
    ASSERT_EQ(Call(10, DISPATCH_METHOD, {&three, &width}, &result), S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 0); // no list before activation
    EXPECT_EQ(three.vt, VT_BSTR);
    EXPECT_STREQ(three.bstrVal, L"3");

    // A small integer, a fraction and a reference all reach the setter as 32-bit integers.
    Var small, fraction, target(LONG(-5)), byRef;
    small.vt = VT_I2;
    small.iVal = 300;
    fraction.vt = VT_R8;
    fraction.dblVal = 2.5; // rounds to even
    byRef.vt = VT_I4 | VT_BYREF;
    byRef.plVal = &target.lVal;
    for (auto [value, expected] : {std::pair{&small, 300}, {&fraction, 2}, {&byRef, -5}}) {
        ASSERT_EQ(Call(14, DISPATCH_PROPERTYPUT, {value}, &result, nullptr, true), S_OK);
        EXPECT_EQ(result.vt, VT_EMPTY); // setters report nothing
        ASSERT_EQ(Call(14, DISPATCH_PROPERTYGET, {}, &result), S_OK);
        EXPECT_EQ(result.vt, VT_I4);
        EXPECT_EQ(result.lVal, expected);
    }
    // Script engines read a property with the method bit as well.
    ASSERT_EQ(Call(14, DISPATCH_METHOD | DISPATCH_PROPERTYGET, {}, &result), S_OK);
    EXPECT_EQ(result.lVal, -5);

    // A null string is the empty string; a number becomes its decimal text.
    Var nullText(static_cast<const wchar_t*>(nullptr)), number(LONG(4096));
    ASSERT_EQ(Call(4, DISPATCH_METHOD, {&nullText}, &result), S_OK);
    EXPECT_STREQ(result.bstrVal, L"0000000000000000000000000000000000000000");
    ASSERT_EQ(Call(7, DISPATCH_PROPERTYPUT, {&number}, nullptr, nullptr, true), S_OK);
    VariantClear(&result);
    ASSERT_EQ(Call(7, DISPATCH_PROPERTYGET, {}, &result), S_OK);
    EXPECT_EQ(result.vt, VT_BSTR);
    EXPECT_STREQ(result.bstrVal, L"4096");
    // Without a result variant the string result is simply dropped.
    EXPECT_EQ(Call(7, DISPATCH_PROPERTYGET, {}), S_OK);
}

TEST_F(DispatchTest, CrcReachesScriptsAsSignedBits) {
    TempDir dir;
    WriteFile(dir.File("ff.bin"), std::string(4, '\xff'));
    const std::string narrowPath = dir.File("ff.bin");
    const std::wstring path(narrowPath.begin(), narrowPath.end());
    Var name(path.c_str()), result;
    ASSERT_EQ(Call(5, DISPATCH_METHOD, {&name}, &result), S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, -1);

    ComPtr<IViewer> viewer;
    ASSERT_EQ(dispatch_.As(viewer), S_OK);
    ULONG crc = 0;
    ASSERT_EQ(viewer->GetCRC32(name.bstrVal, &crc), S_OK);
    EXPECT_EQ(crc, 0xFFFFFFFFu);
}

TEST_F(DispatchTest, OutcomesTravelInTheResultNotAsFailures) {
    TempDir dir;
    const std::string narrowPath = dir.File("missing.bin");
    const std::wstring path(narrowPath.begin(), narrowPath.end());
    Var caption(L"c"), server(L"127.0.0.1"), port(LONG(1)), url(L"/"), header(L""),
        file(path.c_str()), result;
    EXCEPINFO exception{};
    exception.wCode = 7;
    // An upload of a missing file is a result code of the call, not an error of the call.
    ASSERT_EQ(Call(6, DISPATCH_METHOD, {&caption, &server, &port, &url, &header, &file}, &result,
                   nullptr, false, &exception),
              S_OK);
    EXPECT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, 99);
    EXPECT_EQ(exception.wCode, 7); // left as it was
    EXPECT_EQ(exception.scode, S_OK);
    EXPECT_EQ(exception.bstrDescription, nullptr);
}

TEST_F(DispatchTest, TypeInformationMatchesTheNameTable) {
    UINT count = 5;
    EXPECT_EQ(dispatch_->GetTypeInfoCount(nullptr), E_POINTER);
    ASSERT_EQ(dispatch_->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(dispatch_->GetTypeInfo(1, 0, info.Put()), DISP_E_BADINDEX);
    EXPECT_EQ(dispatch_->GetTypeInfo(0, 0, nullptr), E_POINTER);
    ASSERT_EQ(dispatch_->GetTypeInfo(0, 0, info.Put()), S_OK);

    // The library's identity as the module file carries it.
    ComPtr<ITypeLib> library;
    UINT index = 0;
    ASSERT_EQ(info->GetContainingTypeLib(library.Put(), &index), S_OK);
    TLIBATTR* libraryAttributes = nullptr;
    library->GetLibAttr(&libraryAttributes);
    EXPECT_EQ(Utf8(GuidText(libraryAttributes->guid)), Utf8(GuidText(LIBID_Narvo)));
    EXPECT_EQ(libraryAttributes->wMajorVerNum, 1);
    EXPECT_EQ(libraryAttributes->wMinorVerNum, 0);
    library->ReleaseTLibAttr(libraryAttributes);
    ASSERT_EQ(library->GetTypeInfoCount(), 3u);
    const GUID order[] = {DIID__IViewerEvents, CLSID_CViewer, IID_IViewer};
    for (UINT i = 0; i < 3; ++i) {
        ComPtr<ITypeInfo> entry;
        library->GetTypeInfo(i, entry.Put());
        TYPEATTR* attributes = nullptr;
        entry->GetTypeAttr(&attributes);
        EXPECT_TRUE(IsEqualGUID(attributes->guid, order[i])) << i;
        entry->ReleaseTypeAttr(attributes);
    }

    // Every member the library describes has the identifier our own table gives its name.
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, IID_IViewer));
    const WORD functions = attributes->cFuncs;
    info->ReleaseTypeAttr(attributes);
    int members = 0;
    for (WORD i = 0; i < functions; ++i) {
        FUNCDESC* function = nullptr;
        if (FAILED(info->GetFuncDesc(i, &function))) continue; // inherited from IDispatch
        BSTR name = nullptr;
        info->GetDocumentation(function->memid, &name, nullptr, nullptr, nullptr);
        if (function->memid >= 1 && function->memid <= 14) {
            ++members;
            DISPID id = -99;
            EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK) << Utf8(name);
            EXPECT_EQ(id, function->memid) << Utf8(name);
        }
        SysFreeString(name);
        info->ReleaseFuncDesc(function);
    }
    EXPECT_EQ(members, 16);
}

TEST_F(DispatchTest, HelpStringsReadInTheKoreanCodePage) {
    if (GetACP() != 949) GTEST_SKIP() << "needs the Korean ANSI code page";
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(dispatch_->GetTypeInfo(0, 0, info.Put()), S_OK);
    ComPtr<ITypeLib> library;
    UINT index = 0;
    ASSERT_EQ(info->GetContainingTypeLib(library.Put(), &index), S_OK);
    const auto help = [](auto* owner, MEMBERID id) {
        BSTR text = nullptr;
        owner->GetDocumentation(id, nullptr, &text, nullptr, nullptr);
        const std::string result = text ? Utf8(text) : "";
        SysFreeString(text);
        return result;
    };
    EXPECT_EQ(help(library.Get(), -1), "Narvo 1.0 형식 라이브러리");
    EXPECT_EQ(help(info.Get(), MEMBERID_NIL), "IViewer interface");
    EXPECT_EQ(help(info.Get(), 9), "메서드 SelectFile");
    EXPECT_EQ(help(info.Get(), 10), "메서드 SetColumnWidth");
    EXPECT_EQ(help(info.Get(), 14), "속성 InternetOption");
    EXPECT_EQ(help(info.Get(), 2), "method HttpDownload");
}
