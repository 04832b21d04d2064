#pragma once
// A minimal owning pointer for COM interfaces: one reference, released when it goes.
#include <unknwn.h>
#include <utility>

namespace narvo {

template <class T> class ComPtr {
public:
    ComPtr() = default;
    ComPtr(T* p) : p_(p) {
        if (p_) p_->AddRef();
    }
    ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
    ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    ~ComPtr() { Reset(); }
    ComPtr& operator=(ComPtr other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }

    T* Get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For out-parameters: releases what is held and hands out the slot.
    T** Put() {
        Reset();
        return &p_;
    }
    void** PutVoid() { return reinterpret_cast<void**>(Put()); }
    void Reset() {
        if (T* p = std::exchange(p_, nullptr)) p->Release();
    }
    // Gives the reference to the caller.
    T* Detach() { return std::exchange(p_, nullptr); }

    template <class U> HRESULT As(ComPtr<U>& out) const {
        return p_ ? p_->QueryInterface(__uuidof(U), out.PutVoid()) : E_POINTER;
    }

private:
    T* p_ = nullptr;
};

// QueryInterface of an object that answers for one interface besides IUnknown.
template <class I> HRESULT QuerySingleInterface(I* self, REFIID own, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == own) {
        *ppv = self;
        self->AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

} // namespace narvo
