// Owning wrappers for GDI's handles (platform/handles.h's template), and an
// object selected into a DC for a scope.
#pragma once

#include <windows.h>

#include "platform/handles.h"

namespace engine {

struct GdiObjectTraits : NullWhenMissing<HGDIOBJ> {
    static bool Close(Handle h) { return ::DeleteObject(h) != FALSE; }
};

struct MemoryDcTraits : NullWhenMissing<HDC> {
    static bool Close(Handle h) { return ::DeleteDC(h) != FALSE; }
};

struct EnhMetaFileTraits : NullWhenMissing<HENHMETAFILE> {
    static bool Close(Handle h) { return ::DeleteEnhMetaFile(h) != FALSE; }
};

// A metafile DC given up before its recording is finished: closed, and the
// metafile it made deleted.
struct MetafileDcTraits : NullWhenMissing<HDC> {
    static bool Close(Handle h) {
        HENHMETAFILE metafile = ::CloseEnhMetaFile(h);
        return metafile != nullptr && ::DeleteEnhMetaFile(metafile) != FALSE;
    }
};

using GdiObject = UniqueHandle<GdiObjectTraits>;
using MemoryDc = UniqueHandle<MemoryDcTraits>;
using EnhMetaFile = UniqueHandle<EnhMetaFileTraits>;
using MetafileDc = UniqueHandle<MetafileDcTraits>;

// An object selected into a DC until the end of the scope, when what was
// selected before comes back. Declared after the object's owner, it is
// undone before the object is deleted, so no DC still holds a deleted one.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(::SelectObject(dc, object)) {}
    ~Selection() {
        if (Selected()) {
            ::SelectObject(dc_, previous_);
        }
    }
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;
    bool Selected() const { return previous_ != nullptr && previous_ != HGDI_ERROR; }

private:
    HDC dc_;
    HGDIOBJ previous_;
};

}  // namespace engine
