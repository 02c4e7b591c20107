// IUnknown and IStream, as far as the engine's WIC code uses them.
#pragma once

#include <windows.h>

#define STDMETHODCALLTYPE

struct IUnknown {
    virtual ~IUnknown() = default;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
};
struct IStream : IUnknown {};
