// Small COM helpers for the filters and the filter host.
#pragma once

#include <atomic>

#include <objbase.h>
#include <windows.h>
#include <wrl/client.h>

// Takes over the one reference a new COM object starts with. MinGW-w64's
// Microsoft::WRL::ComPtr::Attach adds a reference of its own (Microsoft's does
// not), so an object made with new and attached would never be freed.
template <typename T>
Microsoft::WRL::ComPtr<T> TakeNew(T* object) {
    Microsoft::WRL::ComPtr<T> owner;
    *owner.GetAddressOf() = object;
    return owner;
}

// A COM object with one interface besides IUnknown, counting its own
// references from 1 and deleting itself at 0.
template <typename Interface, const IID* InterfaceId>
class ComObject : public Interface {
public:
    ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;
    virtual ~ComObject() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, *InterfaceId)) {
            *ppv = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        ULONG count = --references_;
        if (count == 0) {
            delete this;
        }
        return count;
    }

private:
    std::atomic<ULONG> references_{1};
};
