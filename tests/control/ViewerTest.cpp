// The control object driven directly: its module and factory, identity and aggregation, safety
// options, persistence, rendering, class information and connection points.
#include <windows.h>
#include <ole2.h>
#include <objsafe.h>
#include <ocidl.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Narvo_h.h"
#include "com/ComPtr.h"
#include "host/BrowserSite.h"
#include "tests/support/WindowsSupport.h"

// mingw declares no uuid for IObjectSafety.
__CRT_UUID_DECL(IObjectSafety, 0xcb5bdc81, 0x93c1, 0x11cf, 0x8f, 0x20, 0x00, 0x80, 0x5f, 0x2c, 0xd0,
                0x64)

using narvo::ComPtr;
using namespace narvo::test;

namespace {

const NarvoLibrary& Library() {
    return SharedNarvoLibrary();
}

class ViewerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
        ASSERT_TRUE(Library().loaded());
    }
    void TearDown() override { OleUninitialize(); }

    template <class T> ComPtr<T> NewViewer() {
        ComPtr<T> viewer;
        EXPECT_EQ(Library().Create(__uuidof(T), viewer.PutVoid()), S_OK);
        return viewer;
    }
};

// A COM object with a reference count the test can read, answering for the given interfaces.
class CountedObject : public IPropertyNotifySink {
public:
    explicit CountedObject(std::vector<IID> extra = {}) : extra_(std::move(extra)) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        bool known = riid == IID_IUnknown || riid == IID_IPropertyNotifySink;
        for (const IID& iid : extra_)
            known = known || riid == iid;
        if (!known) return E_NOINTERFACE;
        *ppv = static_cast<IPropertyNotifySink*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    STDMETHODIMP OnChanged(DISPID) override { return S_OK; }
    STDMETHODIMP OnRequestEdit(DISPID) override { return S_OK; }

    ULONG refs = 1;

private:
    std::vector<IID> extra_;
};

// An outer object that aggregates the control and forwards what it does not answer itself.
class Outer : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }

    ULONG refs = 1;
    IUnknown* inner = nullptr;
};

// A client site that asks the module, each time the control lets go of it, whether the module
// could be unloaded at that moment.
class UnloadProbeSite : public IOleClientSite {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IOleClientSite) return E_NOINTERFACE;
        *ppv = static_cast<IOleClientSite*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override {
        answers.push_back(SharedNarvoLibrary().CanUnloadNow());
        return --refs;
    }
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
        *moniker = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetContainer(IOleContainer** container) override {
        *container = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    ULONG refs = 1;
    std::vector<HRESULT> answers;
};

ComPtr<IStream> MemoryStream(const std::vector<BYTE>& bytes = {}) {
    ComPtr<IStream> stream;
    CreateStreamOnHGlobal(nullptr, TRUE, stream.Put());
    if (!bytes.empty()) stream->Write(bytes.data(), ULONG(bytes.size()), nullptr);
    stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
    return stream;
}

std::vector<BYTE> StreamBytes(IStream* stream) {
    STATSTG stat{};
    stream->Stat(&stat, STATFLAG_NONAME);
    std::vector<BYTE> bytes(size_t(stat.cbSize.QuadPart));
    stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
    ULONG read = 0;
    stream->Read(bytes.data(), ULONG(bytes.size()), &read);
    bytes.resize(read);
    return bytes;
}

SIZEL ExtentOf(IOleObject* object) {
    SIZEL size{-1, -1};
    object->GetExtent(DVASPECT_CONTENT, &size);
    return size;
}

} // namespace

TEST_F(ViewerTest, FactoryIsCachedAndLocksCountObjectsAndLockServer) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(Library().GetClassObject(IID_IDispatch, IID_IClassFactory, &object),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(Library().GetClassObject(CLSID_CViewer, IID_IClassFactory, nullptr), E_POINTER);

    ComPtr<IClassFactory> factory, again;
    ASSERT_EQ(Library().GetClassObject(CLSID_CViewer, IID_IClassFactory, factory.PutVoid()), S_OK);
    ASSERT_EQ(Library().GetClassObject(CLSID_CViewer, IID_IClassFactory, again.PutVoid()), S_OK);
    EXPECT_EQ(factory.Get(), again.Get());
    // Holding the factory alone does not keep the module.
    EXPECT_EQ(Library().CanUnloadNow(), S_OK);

    ComPtr<IUnknown> viewer;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, viewer.PutVoid()), S_OK);
    EXPECT_EQ(Library().CanUnloadNow(), S_FALSE);
    viewer.Reset();
    EXPECT_EQ(Library().CanUnloadNow(), S_OK);

    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(Library().CanUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(Library().CanUnloadNow(), S_OK);

    // A refused interface leaves nothing alive behind.
    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPersistPropertyBag, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(Library().CanUnloadNow(), S_OK);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
}

TEST_F(ViewerTest, ModuleStaysLockedUntilTheControlIsWhollyGone) {
    UnloadProbeSite site;
    {
        ComPtr<IOleObject> object = NewViewer<IOleObject>();
        ASSERT_EQ(object->SetClientSite(&site), S_OK);
        // The last reference goes without SetClientSite(nullptr): the control lets go of its
        // site while it takes itself apart, and its code is still running then.
    }
    ASSERT_FALSE(site.answers.empty());
    for (const HRESULT answer : site.answers)
        EXPECT_EQ(answer, S_FALSE);
    EXPECT_EQ(site.refs, 1u);
    EXPECT_EQ(Library().CanUnloadNow(), S_OK);
}

TEST_F(ViewerTest, AnswersForItsInterfacesWithOneIdentity) {
    ComPtr<IUnknown> viewer = NewViewer<IUnknown>();
    // What scripts, containers and the platform's hosts ask a control for.
    const IID offered[] = {
        IID_IViewer,
        IID_IDispatch,
        IID_IPersistStreamInit,
        IID_IPersist,
        IID_IOleControl,
        IID_IOleObject,
        IID_IOleWindow,
        IID_IViewObject,
        IID_IOleInPlaceActiveObject,
        IID_IViewObject2,
        IID_IViewObjectEx,
        IID_IOleInPlaceObjectWindowless,
        IID_IPersistStorage,
        IID_IQuickActivate,
        IID_IOleInPlaceObject,
        IID_IDataObject,
        IID_IObjectSafety,
        IID_IObjectWithSite,
        IID_ISpecifyPropertyPages,
        IID_IProvideClassInfo,
        IID_ISupportErrorInfo,
        IID_IProvideClassInfo2,
        IID_IConnectionPointContainer,
    };
    // COM's rules as a client relies on them: every interface leads to every other one (and to
    // itself), the same request gives the same pointer each time, and all share one identity.
    for (const IID& from : offered) {
        ComPtr<IUnknown> part, identity;
        ASSERT_EQ(viewer->QueryInterface(from, part.PutVoid()), S_OK) << Utf8(GuidText(from));
        ASSERT_EQ(part->QueryInterface(IID_IUnknown, identity.PutVoid()), S_OK);
        EXPECT_EQ(identity.Get(), viewer.Get()) << Utf8(GuidText(from));
        for (const IID& to : offered) {
            ComPtr<IUnknown> first, second;
            ASSERT_EQ(part->QueryInterface(to, first.PutVoid()), S_OK)
                << Utf8(GuidText(from)) << " -> " << Utf8(GuidText(to));
            ASSERT_EQ(viewer->QueryInterface(to, second.PutVoid()), S_OK);
            EXPECT_EQ(first.Get(), second.Get()) << Utf8(GuidText(to));
        }
    }
    // A pointer answered for a base interface works as that interface.
    ComPtr<IPersist> persist;
    ASSERT_EQ(viewer.As(persist), S_OK);
    CLSID clsid{};
    EXPECT_EQ(persist->GetClassID(&clsid), S_OK);
    EXPECT_TRUE(IsEqualGUID(clsid, CLSID_CViewer));
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(viewer.As(dispatch), S_OK);
    UINT count = 0;
    EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ComPtr<IOleWindow> window;
    ASSERT_EQ(viewer.As(window), S_OK);
    HWND hwnd = reinterpret_cast<HWND>(1);
    EXPECT_EQ(window->GetWindow(&hwnd), E_FAIL); // not in place yet: no window
    EXPECT_EQ(hwnd, nullptr);
    // No initialisation from parameter tags, nothing of a site, no running-object protocol.
    for (const IID& iid : {IID_IPersistPropertyBag, IID_IOleInPlaceSite, IID_IRunnableObject}) {
        ComPtr<IUnknown> part;
        EXPECT_EQ(viewer->QueryInterface(iid, part.PutVoid()), E_NOINTERFACE);
    }
}

TEST_F(ViewerTest, AggregatedControlSpeaksForItsOuterObject) {
    Outer outer;
    ComPtr<IUnknown> dummy;
    EXPECT_EQ(Library().Create(IID_IDispatch, dummy.PutVoid(), &outer), CLASS_E_NOAGGREGATION);
    EXPECT_FALSE(dummy);

    IUnknown* inner = nullptr;
    ASSERT_EQ(Library().Create(IID_IUnknown, reinterpret_cast<void**>(&inner), &outer), S_OK);
    outer.inner = inner;
    EXPECT_EQ(outer.refs, 1u);

    IDispatch* dispatch = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    EXPECT_EQ(outer.refs, 2u); // the reference is the outer object's
    IUnknown* identity = nullptr;
    ASSERT_EQ(dispatch->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
    identity->Release();
    dispatch->Release();
    EXPECT_EQ(outer.refs, 1u);

    IUnknown* sameInner = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&sameInner)), S_OK);
    EXPECT_EQ(sameInner, inner);
    sameInner->Release();

    EXPECT_EQ(Library().CanUnloadNow(), S_FALSE);
    inner->Release();
    EXPECT_EQ(Library().CanUnloadNow(), S_OK);
}

TEST_F(ViewerTest, SafetyOptionsForUntrustedCallersOnly) {
    auto safety = NewViewer<IObjectSafety>();
    DWORD supported = 7, enabled = 7;
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, nullptr, &enabled), E_POINTER);
    EXPECT_EQ(safety->GetInterfaceSafetyOptions(IID_IPersistPropertyBag, &supported, &enabled),
              E_NOINTERFACE);
    EXPECT_EQ(supported, 0u);
    EXPECT_EQ(enabled, 0u);
    ASSERT_EQ(safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled), S_OK);
    EXPECT_EQ(supported, DWORD(INTERFACESAFE_FOR_UNTRUSTED_CALLER));
    EXPECT_EQ(enabled, 0u);

    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IPersistPropertyBag, 1, 1), E_NOINTERFACE);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 3, 3), E_FAIL);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 1, 1), S_OK);
    safety->GetInterfaceSafetyOptions(IID_IPersistStreamInit, &supported, &enabled);
    EXPECT_EQ(enabled, 1u); // one set of options for the whole object
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 1, 0), S_OK);
    safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled);
    EXPECT_EQ(enabled, 0u);
    EXPECT_EQ(safety->SetInterfaceSafetyOptions(IID_IDispatch, 0, 1), S_OK); // mask 0: no change
    safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled);
    EXPECT_EQ(enabled, 0u);
}

// The page behind every new site is judged: a browser's page outside the zones the policy allows
// (no list is set here: the zone defaults apply) is refused, an application is trusted, and losing
// the site keeps the last decision.
TEST_F(ViewerTest, SiteLockJudgesEverySiteItIsGiven) {
    auto viewer = NewViewer<IDispatch>();
    ComPtr<IObjectSafety> safety;
    ComPtr<IObjectWithSite> withSite;
    ComPtr<IOleObject> object;
    ASSERT_EQ(viewer.As(safety), S_OK);
    ASSERT_EQ(viewer.As(withSite), S_OK);
    ASSERT_EQ(viewer.As(object), S_OK);
    LPOLESTR name = const_cast<LPOLESTR>(L"GetCRC32");
    DISPID id = 0;
    ASSERT_EQ(viewer->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), S_OK);
    const auto state = [&](HRESULT& set, DWORD& supported, HRESULT& call) {
        DWORD enabled = 0;
        safety->GetInterfaceSafetyOptions(IID_IDispatch, &supported, &enabled);
        set = safety->SetInterfaceSafetyOptions(IID_IDispatch, INTERFACESAFE_FOR_UNTRUSTED_CALLER,
                                                INTERFACESAFE_FOR_UNTRUSTED_CALLER);
        VARIANT arg, result;
        VariantInit(&result);
        V_VT(&arg) = VT_BSTR;
        V_BSTR(&arg) = SysAllocString(L"C:\\no such file");
        DISPPARAMS params{&arg, nullptr, 1, 0};
        call = viewer->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
        VariantClear(&arg);
        VariantClear(&result);
    };
    const auto expectTrusted = [&](const char* what) {
        HRESULT set, call;
        DWORD supported;
        state(set, supported, call);
        EXPECT_EQ(set, S_OK) << what;
        EXPECT_EQ(supported, DWORD(INTERFACESAFE_FOR_UNTRUSTED_CALLER)) << what;
        EXPECT_EQ(call, S_OK) << what;
    };
    const auto expectRefused = [&](const char* what) {
        HRESULT set, call;
        DWORD supported;
        state(set, supported, call);
        EXPECT_EQ(set, E_FAIL) << what;
        EXPECT_EQ(supported, 0u) << what;
        EXPECT_EQ(call, E_ACCESSDENIED) << what;
    };
    const auto browser = [](const wchar_t* url) {
        ComPtr<IOleClientSite> site;
        *site.Put() = host::CreateBrowserSite(nullptr, url);
        return site;
    };

    ComPtr<IUnknown> none;
    EXPECT_EQ(withSite->GetSite(IID_IUnknown, none.PutVoid()), E_FAIL);
    expectTrusted("never sited");

    const auto internet = browser(L"https://portal.example.go.kr.evil.test/");
    ASSERT_EQ(withSite->SetSite(internet.Get()), S_OK);
    expectRefused("script-created on an Internet page");
    ComPtr<IOleClientSite> back;
    EXPECT_EQ(withSite->GetSite(IID_IOleClientSite, back.PutVoid()), S_OK);
    EXPECT_EQ(back.Get(), internet.Get());
    ASSERT_EQ(withSite->SetSite(nullptr), S_OK);
    expectRefused("the site taken away");

    CountedObject application;
    ASSERT_EQ(withSite->SetSite(&application), S_OK);
    expectTrusted("an application's site");

    ASSERT_EQ(object->SetClientSite(browser(L"file:///C:/pages/local.html").Get()), S_OK);
    expectTrusted("embedded in a local page");
    ASSERT_EQ(object->SetClientSite(browser(L"http://127.0.0.1/").Get()), S_OK);
    expectRefused("moved to an Internet page");
    ASSERT_EQ(object->SetClientSite(browser(L"").Get()), S_OK);
    expectRefused("a browser that names no page");
    ASSERT_EQ(object->SetClientSite(nullptr), S_OK);
    expectRefused("the client site let go");
    withSite->SetSite(nullptr);
}

TEST_F(ViewerTest, PersistsExactlyTheExtent) {
    auto object = NewViewer<IOleObject>();
    ComPtr<IPersistStreamInit> persist;
    ASSERT_EQ(object.As(persist), S_OK);
    EXPECT_EQ(ExtentOf(object.Get()).cx, 5080);
    EXPECT_EQ(ExtentOf(object.Get()).cy, 5080);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);
    ULARGE_INTEGER size{};
    EXPECT_EQ(persist->GetSizeMax(&size), S_OK);
    EXPECT_EQ(size.QuadPart, 12u);

    SIZEL extent{1000, 2000};
    EXPECT_EQ(object->SetExtent(DVASPECT_ICON, &extent), DV_E_DVASPECT);
    ASSERT_EQ(object->SetExtent(DVASPECT_CONTENT, &extent), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_OK);
    auto stream = MemoryStream();
    ASSERT_EQ(persist->Save(stream.Get(), TRUE), S_OK);
    EXPECT_EQ(persist->IsDirty(), S_FALSE);
    // Framework version 0x0900, then _cx and _cy as unsigned 32-bit values.
    EXPECT_EQ(StreamBytes(stream.Get()),
              (std::vector<BYTE>{0x00, 0x09, 0, 0, 0xe8, 0x03, 0, 0, 0xd0, 0x07, 0, 0}));

    auto copy = NewViewer<IPersistStreamInit>();
    stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
    ASSERT_EQ(copy->Load(stream.Get()), S_OK);
    ComPtr<IOleObject> copyObject;
    copy.As(copyObject);
    EXPECT_EQ(ExtentOf(copyObject.Get()).cx, 1000);
    EXPECT_EQ(ExtentOf(copyObject.Get()).cy, 2000);

    // A newer form, or a short one, is refused and changes nothing.
    auto other = NewViewer<IPersistStreamInit>();
    ComPtr<IOleObject> otherObject;
    other.As(otherObject);
    EXPECT_EQ(other->Load(MemoryStream({0x01, 0x09, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}).Get()), E_FAIL);
    EXPECT_FALSE(SUCCEEDED(other->Load(MemoryStream({0x00, 0x09, 0, 0, 1, 0, 0, 0}).Get())));
    EXPECT_EQ(ExtentOf(otherObject.Get()).cx, 5080);
    EXPECT_EQ(ExtentOf(otherObject.Get()).cy, 5080);
}

TEST_F(ViewerTest, PersistsIntoAStorage) {
    auto object = NewViewer<IOleObject>();
    SIZEL extent{300, 400};
    object->SetExtent(DVASPECT_CONTENT, &extent);
    ComPtr<ILockBytes> bytes;
    ASSERT_EQ(CreateILockBytesOnHGlobal(nullptr, TRUE, bytes.Put()), S_OK);
    ComPtr<IStorage> storage;
    ASSERT_EQ(StgCreateDocfileOnILockBytes(bytes.Get(),
                                           STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                                           storage.Put()),
              S_OK);
    ComPtr<IPersistStorage> persist;
    object.As(persist);
    ASSERT_EQ(persist->Save(storage.Get(), TRUE), S_OK);
    EXPECT_EQ(persist->SaveCompleted(nullptr), S_OK);

    auto copy = NewViewer<IPersistStorage>();
    ASSERT_EQ(copy->Load(storage.Get()), S_OK);
    ComPtr<IOleObject> copyObject;
    copy.As(copyObject);
    EXPECT_EQ(ExtentOf(copyObject.Get()).cx, 300);
    EXPECT_EQ(ExtentOf(copyObject.Get()).cy, 400);
}

TEST_F(ViewerTest, DrawsOnlyTheBannerCentredInTheBounds) {
    auto view = NewViewer<IViewObject>();
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 300, 150);
    ReleaseDC(nullptr, screen);
    HGDIOBJ previous = SelectObject(dc, bitmap);
    RECT all{0, 0, 300, 150};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetTextAlign(dc, TA_LEFT | TA_TOP);

    const RECTL bounds{50, 20, 250, 120}; // middle at (150, 70)
    EXPECT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, nullptr, nullptr,
                         nullptr, 0),
              E_INVALIDARG);
    EXPECT_EQ(
        view->Draw(DVASPECT_ICON, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0),
        DV_E_DVASPECT);
    ASSERT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr,
                         nullptr, 0),
              S_OK);
    EXPECT_EQ(GetTextAlign(dc), UINT(TA_LEFT | TA_TOP)); // the caller's settings come back

    int left = 300, right = -1, top = 150, bottom = -1;
    for (int y = 0; y < 150; ++y)
        for (int x = 0; x < 300; ++x)
            if (GetPixel(dc, x, y) != RGB(255, 255, 255)) {
                left = std::min(left, x), right = std::max(right, x);
                top = std::min(top, y), bottom = std::max(bottom, y);
            }
    SIZE text{};
    GetTextExtentPoint32A(dc, "ATL 9.00", 8, &text);
    ASSERT_GE(right, left) << "nothing was drawn";
    EXPECT_NEAR((left + right) / 2.0, 150, 3); // centred on the middle
    EXPECT_LE(bottom, 70);                     // standing on the baseline through the middle
    EXPECT_GE(top, 70 - text.cy);
    EXPECT_LE(right - left + 1, text.cx); // no frame, no background: the text alone

    SelectObject(dc, previous);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

TEST_F(ViewerTest, GivesItsPictureAsAMetafile) {
    auto data = NewViewer<IDataObject>();
    FORMATETC format{CF_METAFILEPICT, nullptr, DVASPECT_CONTENT, -1, TYMED_MFPICT};
    STGMEDIUM medium{};
    ASSERT_EQ(data->GetData(&format, &medium), S_OK);
    EXPECT_EQ(medium.tymed, DWORD(TYMED_MFPICT));
    auto* picture = static_cast<METAFILEPICT*>(GlobalLock(medium.hMetaFilePict));
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->xExt, 5080);
    EXPECT_EQ(picture->yExt, 5080);
    EXPECT_GT(GetMetaFileBitsEx(picture->hMF, 0, nullptr), 0u);
    GlobalUnlock(medium.hMetaFilePict);
    ReleaseStgMedium(&medium);

    FORMATETC text{CF_TEXT, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    EXPECT_EQ(data->GetData(&text, &medium), DV_E_FORMATETC);
}

TEST_F(ViewerTest, PresentsItselfAsAnOpaqueWindowedControl) {
    auto object = NewViewer<IOleObject>();
    ComPtr<IViewObjectEx> view;
    object.As(view);
    DWORD status = 0;
    ASSERT_EQ(view->GetViewStatus(&status), S_OK);
    EXPECT_EQ(status, DWORD(VIEWSTATUS_OPAQUE | VIEWSTATUS_SOLIDBKGND));

    ComPtr<ISpecifyPropertyPages> pages;
    object.As(pages);
    CAUUID list{5, reinterpret_cast<GUID*>(1)};
    ASSERT_EQ(pages->GetPages(&list), S_OK);
    EXPECT_EQ(list.cElems, 0u);
    EXPECT_EQ(list.pElems, nullptr);

    // Not activated: no window yet, and nothing to deactivate.
    ComPtr<IOleInPlaceObject> inPlace;
    object.As(inPlace);
    HWND window = reinterpret_cast<HWND>(1);
    EXPECT_EQ(inPlace->GetWindow(&window), E_FAIL);
    EXPECT_EQ(window, nullptr);
    EXPECT_EQ(inPlace->InPlaceDeactivate(), S_OK);
    // Without a client site there is nothing to activate in.
    EXPECT_EQ(object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, nullptr, 0, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(inPlace->GetWindow(&window), E_FAIL);

    CLSID clsid{};
    ComPtr<IPersist> persist;
    object.As(persist);
    ASSERT_EQ(persist->GetClassID(&clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_CViewer));
}

TEST_F(ViewerTest, ReadsStatusNameAndVerbsFromItsRegistration) {
    auto object = NewViewer<IOleObject>();
    DWORD status = 0;
    ASSERT_EQ(object->GetMiscStatus(DVASPECT_CONTENT, &status), S_OK);
    EXPECT_EQ(status,
              DWORD(OLEMISC_SETCLIENTSITEFIRST | OLEMISC_ACTIVATEWHENVISIBLE | OLEMISC_INSIDEOUT |
                    OLEMISC_CANTLINKINSIDE | OLEMISC_RECOMPOSEONRESIZE));
    status = 1;
    object->GetMiscStatus(DVASPECT_ICON, &status);
    EXPECT_EQ(status, 0u);

    LPOLESTR name = nullptr;
    ASSERT_EQ(object->GetUserType(USERCLASSTYPE_FULL, &name), S_OK);
    EXPECT_EQ(Utf8(name), "CViewer Object");
    CoTaskMemFree(name);

    // No verbs are registered (the platform says so as OLEOBJ_E_NOVERBS or a missing key).
    ComPtr<IEnumOLEVERB> verbs;
    EXPECT_TRUE(FAILED(object->EnumVerbs(verbs.Put())));
    EXPECT_FALSE(verbs);
}

TEST_F(ViewerTest, DescribesItsClassAndEventInterface) {
    auto info = NewViewer<IProvideClassInfo2>();
    ComPtr<ITypeInfo> type;
    ASSERT_EQ(info->GetClassInfo(type.Put()), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(type->GetTypeAttr(&attributes), S_OK);
    EXPECT_EQ(attributes->typekind, TKIND_COCLASS);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, CLSID_CViewer));
    EXPECT_EQ(attributes->wMajorVerNum, 1);
    EXPECT_EQ(attributes->wMinorVerNum, 0);
    EXPECT_EQ(attributes->cImplTypes, 2);
    type->ReleaseTypeAttr(attributes);
    for (UINT i = 0; i < 2; ++i) {
        INT flags = 0;
        HREFTYPE reference = 0;
        ComPtr<ITypeInfo> implemented;
        type->GetImplTypeFlags(i, &flags);
        type->GetRefTypeOfImplType(i, &reference);
        type->GetRefTypeInfo(reference, implemented.Put());
        implemented->GetTypeAttr(&attributes);
        const bool source = flags & IMPLTYPEFLAG_FSOURCE;
        EXPECT_TRUE(flags & IMPLTYPEFLAG_FDEFAULT);
        EXPECT_TRUE(IsEqualGUID(attributes->guid, source ? DIID__IViewerEvents : IID_IViewer));
        implemented->ReleaseTypeAttr(attributes);
    }

    GUID guid{};
    ASSERT_EQ(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &guid), S_OK);
    EXPECT_TRUE(IsEqualGUID(guid, DIID__IViewerEvents));
    EXPECT_EQ(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID + 1, &guid), E_INVALIDARG);
    EXPECT_EQ(info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, nullptr), E_POINTER);

    ComPtr<ISupportErrorInfo> errors;
    info.As(errors);
    EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_IViewer), S_OK);
    EXPECT_EQ(errors->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
}

TEST_F(ViewerTest, TwoConnectionPointsKeepTheirSinks) {
    auto container = NewViewer<IConnectionPointContainer>();
    ComPtr<IEnumConnectionPoints> points;
    ASSERT_EQ(container->EnumConnectionPoints(points.Put()), S_OK);
    IConnectionPoint* found[3] = {};
    ULONG fetched = 0;
    EXPECT_EQ(points->Next(3, found, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    IID first{}, second{};
    found[0]->GetConnectionInterface(&first);
    found[1]->GetConnectionInterface(&second);
    EXPECT_TRUE(IsEqualIID(first, IID_IPropertyNotifySink));
    EXPECT_TRUE(IsEqualIID(second, DIID__IViewerEvents));
    found[0]->Release();
    found[1]->Release();
    points.Reset();

    ComPtr<IConnectionPoint> point;
    EXPECT_EQ(container->FindConnectionPoint(IID_IDispatch, point.Put()), CONNECT_E_NOCONNECTION);
    ASSERT_EQ(container->FindConnectionPoint(IID_IPropertyNotifySink, point.Put()), S_OK);
    ComPtr<IConnectionPointContainer> back;
    ASSERT_EQ(point->GetConnectionPointContainer(back.Put()), S_OK);
    EXPECT_EQ(back.Get(), container.Get());
    back.Reset();

    CountedObject sink, other, stranger;
    ComPtr<IUnknown> strangerUnknown;
    DWORD cookie = 0, otherCookie = 0, strangerCookie = 0;
    ASSERT_EQ(point->Advise(&sink, &cookie), S_OK);
    ASSERT_EQ(point->Advise(&other, &otherCookie), S_OK);
    EXPECT_NE(cookie, otherCookie);
    EXPECT_EQ(sink.refs, 2u);

    ComPtr<IEnumConnections> connections;
    ASSERT_EQ(point->EnumConnections(connections.Put()), S_OK);
    CONNECTDATA data[3] = {};
    EXPECT_EQ(connections->Next(3, data, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 2u);
    for (ULONG i = 0; i < fetched; ++i)
        data[i].pUnk->Release();
    connections.Reset();

    EXPECT_EQ(point->Unadvise(cookie), S_OK);
    EXPECT_EQ(point->Unadvise(cookie), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(sink.refs, 1u);

    // The event point takes only sinks of the event interface.
    ComPtr<IConnectionPoint> events;
    ASSERT_EQ(container->FindConnectionPoint(DIID__IViewerEvents, events.Put()), S_OK);
    EXPECT_EQ(events->Advise(&stranger, &strangerCookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(stranger.refs, 1u);
    CountedObject eventSink({DIID__IViewerEvents});
    DWORD eventCookie = 0;
    EXPECT_EQ(events->Advise(&eventSink, &eventCookie), S_OK);

    // A point held by a client keeps the control alive; the control lets its sinks go with it.
    container.Reset();
    events.Reset();
    EXPECT_EQ(Library().CanUnloadNow(), S_FALSE);
    point.Reset();
    EXPECT_EQ(Library().CanUnloadNow(), S_OK);
    EXPECT_EQ(other.refs, 1u);
    EXPECT_EQ(eventSink.refs, 1u);
}

TEST_F(ViewerTest, QuickActivationConnectsTheContainersSinks) {
    auto quick = NewViewer<IQuickActivate>();
    CountedObject propertySink, eventSink({DIID__IViewerEvents});
    QACONTAINER container{};
    container.cbSize = sizeof(container);
    container.pPropertyNotifySink = &propertySink;
    container.pUnkEventSink = &eventSink;
    QACONTROL control{};
    control.cbSize = sizeof(control);
    ASSERT_EQ(quick->QuickActivate(&container, &control), S_OK);
    EXPECT_EQ(control.dwViewStatus, DWORD(VIEWSTATUS_OPAQUE | VIEWSTATUS_SOLIDBKGND));
    EXPECT_EQ(control.dwMiscStatus, 0x20191u);
    EXPECT_NE(control.dwPropNotifyCookie, 0u);
    EXPECT_NE(control.dwEventCookie, 0u);
    EXPECT_EQ(propertySink.refs, 2u);
    EXPECT_EQ(eventSink.refs, 2u);

    SIZEL extent{111, 222}, read{};
    EXPECT_EQ(quick->SetContentExtent(&extent), S_OK);
    EXPECT_EQ(quick->GetContentExtent(&read), S_OK);
    EXPECT_EQ(read.cx, 111);
    EXPECT_EQ(read.cy, 222);
    quick.Reset();
    EXPECT_EQ(propertySink.refs, 1u);
    EXPECT_EQ(eventSink.refs, 1u);
}

// The module's path arrives in the process's ANSI code page; a page thread with another locale
// must still find the type library in a module kept in a folder with a non-ASCII name.
TEST_F(ViewerTest, FindsItsTypeInformationWhateverTheThreadLocale) {
    // A letter the process code page holds exactly, and a thread locale whose code page reads
    // its bytes as other letters.
    std::wstring letter;
    for (const wchar_t* candidate : {L"\u00e9", L"\uac00", L"\u0449"}) {
        char narrow[8];
        wchar_t back[4] = {};
        BOOL lossy = FALSE;
        const int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, candidate, 1, narrow,
                                          sizeof narrow, nullptr, &lossy);
        if (n > 0 && !lossy && MultiByteToWideChar(CP_ACP, 0, narrow, n, back, 4) == 1 &&
            back[0] == candidate[0]) {
            letter = candidate;
            break;
        }
    }
    if (letter.empty()) GTEST_SKIP() << "no test letter in code page " << GetACP();
    const LANGID other = GetACP() == 1251 ? MAKELANGID(LANG_GREEK, SUBLANG_DEFAULT)
                                          : MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT);

    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    const std::wstring folder = std::wstring(temp) + L"narvo-typeinfo-" + letter;
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring copy = folder + L"\\Narvo.dll";
    ASSERT_TRUE(CopyFileW(NarvoDllPath().c_str(), copy.c_str(), FALSE));
    {
        NarvoLibrary moved(copy);
        ASSERT_TRUE(moved.loaded());
        ComPtr<IDispatch> viewer;
        ASSERT_EQ(moved.Create(IID_IDispatch, viewer.PutVoid()), S_OK);
        const LCID saved = GetThreadLocale();
        ASSERT_TRUE(SetThreadLocale(MAKELCID(other, SORT_DEFAULT)));
        ComPtr<ITypeInfo> info;
        const HRESULT hr = viewer->GetTypeInfo(0, 0, info.Put());
        SetThreadLocale(saved);
        EXPECT_EQ(hr, S_OK);
        EXPECT_TRUE(info);
    }
    DeleteFileW(copy.c_str());
    RemoveDirectoryW(folder.c_str());
}
