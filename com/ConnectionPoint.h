#pragma once
// Connection points of a control: one per outgoing interface, each with its list of advised sinks,
// and the enumerators clients walk them with.
#include <ocidl.h>
#include <olectl.h>
#include <vector>

namespace narvo {

class CConnectionPoint : public IConnectionPoint {
public:
    // The point lives inside its container and shares the container's lifetime: references to
    // the point are references to the container.
    CConnectionPoint(IConnectionPointContainer* container, const IID& iid);
    ~CConnectionPoint();
    CConnectionPoint(const CConnectionPoint&) = delete;
    CConnectionPoint& operator=(const CConnectionPoint&) = delete;

    const IID& iid() const { return iid_; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetConnectionInterface(IID* pIID) override;
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
    STDMETHODIMP Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
    STDMETHODIMP Unadvise(DWORD dwCookie) override;
    STDMETHODIMP EnumConnections(IEnumConnections** ppEnum) override;

private:
    IConnectionPointContainer* container_;
    IID iid_;
    std::vector<IUnknown*> sinks_; // cookie = index + 1; null for a freed slot
};

// Enumerates a container's connection points (each reference to a point holds its container).
HRESULT CreateConnectionPointEnum(const std::vector<IConnectionPoint*>& points,
                                  IEnumConnectionPoints** ppEnum);

} // namespace narvo
