#include "com/ConnectionPoint.h"

#include <new>

#include "com/ComPtr.h"

namespace narvo {
namespace {

void AddRefItem(IConnectionPoint* point) {
    point->AddRef();
}
void ReleaseItem(IConnectionPoint* point) {
    point->Release();
}
void AddRefItem(const CONNECTDATA& data) {
    data.pUnk->AddRef();
}
void ReleaseItem(const CONNECTDATA& data) {
    data.pUnk->Release();
}

// A snapshot enumerator: it holds its own reference to every item, so the list it walks cannot
// change under it.
template <class IEnum, class Item> class CEnumerator : public IEnum {
public:
    explicit CEnumerator(std::vector<Item> items, size_t position = 0)
        : items_(std::move(items)), position_(position) {
        for (const Item& item : items_)
            AddRefItem(item);
    }
    virtual ~CEnumerator() {
        for (const Item& item : items_)
            ReleaseItem(item);
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        return QuerySingleInterface<IEnum>(this, __uuidof(IEnum), riid, ppv);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++ref_; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG ref = --ref_;
        if (!ref) delete this;
        return ref;
    }
    STDMETHODIMP Next(ULONG count, Item* out, ULONG* fetched) override {
        if (!out || (count > 1 && !fetched)) return E_POINTER;
        ULONG n = 0;
        while (n < count && position_ < items_.size()) {
            out[n] = items_[position_++];
            AddRefItem(out[n++]);
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override {
        const size_t left = items_.size() - position_;
        position_ += count < left ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        position_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnum** ppEnum) override {
        if (!ppEnum) return E_POINTER;
        try {
            *ppEnum = new CEnumerator(items_, position_);
        } catch (const std::bad_alloc&) {
            *ppEnum = nullptr;
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

private:
    std::vector<Item> items_;
    size_t position_;
    ULONG ref_ = 1;
};

} // namespace

CConnectionPoint::CConnectionPoint(IConnectionPointContainer* container, const IID& iid)
    : container_(container), iid_(iid) {}

CConnectionPoint::~CConnectionPoint() {
    for (IUnknown* sink : sinks_)
        if (sink) sink->Release();
}

STDMETHODIMP CConnectionPoint::QueryInterface(REFIID riid, void** ppv) {
    return QuerySingleInterface<IConnectionPoint>(this, IID_IConnectionPoint, riid, ppv);
}

STDMETHODIMP_(ULONG) CConnectionPoint::AddRef() {
    return container_->AddRef();
}
STDMETHODIMP_(ULONG) CConnectionPoint::Release() {
    return container_->Release();
}

STDMETHODIMP CConnectionPoint::GetConnectionInterface(IID* pIID) {
    if (!pIID) return E_POINTER;
    *pIID = iid_;
    return S_OK;
}

STDMETHODIMP CConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** ppCPC) {
    if (!ppCPC) return E_POINTER;
    *ppCPC = container_;
    container_->AddRef();
    return S_OK;
}

STDMETHODIMP CConnectionPoint::Advise(IUnknown* pUnkSink, DWORD* pdwCookie) {
    if (!pdwCookie) return E_POINTER;
    *pdwCookie = 0;
    if (!pUnkSink) return E_POINTER;
    IUnknown* sink = nullptr;
    // The sink is kept as the interface it is advised for, the one events would be sent to.
    if (FAILED(pUnkSink->QueryInterface(iid_, reinterpret_cast<void**>(&sink))) || !sink)
        return CONNECT_E_CANNOTCONNECT;
    for (size_t i = 0; i < sinks_.size(); ++i)
        if (!sinks_[i]) {
            sinks_[i] = sink;
            *pdwCookie = DWORD(i + 1);
            return S_OK;
        }
    try {
        sinks_.push_back(sink);
    } catch (const std::bad_alloc&) {
        sink->Release();
        return E_OUTOFMEMORY;
    }
    *pdwCookie = DWORD(sinks_.size());
    return S_OK;
}

STDMETHODIMP CConnectionPoint::Unadvise(DWORD dwCookie) {
    if (dwCookie == 0 || dwCookie > sinks_.size() || !sinks_[dwCookie - 1])
        return CONNECT_E_NOCONNECTION;
    IUnknown* sink = sinks_[dwCookie - 1];
    sinks_[dwCookie - 1] = nullptr;
    sink->Release();
    return S_OK;
}

STDMETHODIMP CConnectionPoint::EnumConnections(IEnumConnections** ppEnum) {
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    try {
        std::vector<CONNECTDATA> connections;
        for (size_t i = 0; i < sinks_.size(); ++i)
            if (sinks_[i]) connections.push_back(CONNECTDATA{sinks_[i], DWORD(i + 1)});
        *ppEnum = new CEnumerator<IEnumConnections, CONNECTDATA>(std::move(connections));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CreateConnectionPointEnum(const std::vector<IConnectionPoint*>& points,
                                  IEnumConnectionPoints** ppEnum) {
    if (!ppEnum) return E_POINTER;
    try {
        *ppEnum = new CEnumerator<IEnumConnectionPoints, IConnectionPoint*>(points);
    } catch (const std::bad_alloc&) {
        *ppEnum = nullptr;
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

} // namespace narvo
