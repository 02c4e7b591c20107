// Taking over the one reference a new COM object starts with. MinGW-w64's
// Microsoft::WRL::ComPtr::Attach adds a reference of its own (Microsoft's does
// not), so an object made with new and attached would never be freed.
#pragma once

#include <wrl/client.h>

template <typename T>
Microsoft::WRL::ComPtr<T> TakeNew(T* object) {
    Microsoft::WRL::ComPtr<T> owner;
    *owner.GetAddressOf() = object;
    return owner;
}
