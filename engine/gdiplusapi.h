// GDI+'s flat API as the rasteriser uses it, bound from gdiplus.dll in the
// system directory (never through the DLL search order) and started once per
// process on first use, never from a DllMain. GDI+ stays started until the
// process ends: a DLL may not shut it down while it unloads.
//
// A Windows that keeps GDI+ only in its side-by-side store (the XP
// generation may) fails the binding with HRESULT_FROM_WIN32(
// ERROR_MOD_NOT_FOUND), and the raster formats are not made there.
#pragma once

#include <memory>

#include <windows.h>

#include <gdiplus.h>

namespace engine {

// The functions bound, each as X(name).
// clang-format off
#define ZORVANE_GDIPLUS_FUNCTIONS(X) \
    X(GdipCreateBitmapFromScan0) X(GdipDisposeImage) X(GdipGetImageGraphicsContext) \
    X(GdipDeleteGraphics) X(GdipSetSmoothingMode) X(GdipSetPixelOffsetMode) \
    X(GdipSetInterpolationMode) X(GdipSetWorldTransform) X(GdipResetWorldTransform) \
    X(GdipCreateMatrix2) X(GdipDeleteMatrix) X(GdipCreatePath2) \
    X(GdipDeletePath) X(GdipCreateSolidFill) X(GdipDeleteBrush) \
    X(GdipCreateTexture2) X(GdipSetTextureTransform) \
    X(GdipCreatePen2) X(GdipDeletePen) X(GdipSetPenDashArray) \
    X(GdipSetPenDashOffset) X(GdipSetPenDashCap197819) X(GdipSetPenStartCap) \
    X(GdipSetPenEndCap) X(GdipSetPenLineJoin) X(GdipSetPenMiterLimit) \
    X(GdipFillPath) X(GdipDrawPath) X(GdipSetClipPath) \
    X(GdipSetClipRectI) X(GdipSetClipRegion) X(GdipGetClip) \
    X(GdipCreateRegion) X(GdipDeleteRegion) X(GdipTranslateRegionI) \
    X(GdipSaveGraphics) X(GdipRestoreGraphics) X(GdipGetVisibleClipBoundsI) \
    X(GdipIsInfiniteRegion) X(GdipGetRegionScansCount) X(GdipGetRegionScansI) \
    X(GdipCreateMatrix)
// clang-format on

struct GdiPlusApi {
#define ZORVANE_GDIPLUS_MEMBER(name) decltype(&Gdiplus::DllExports::name) name = nullptr;
    ZORVANE_GDIPLUS_FUNCTIONS(ZORVANE_GDIPLUS_MEMBER)
#undef ZORVANE_GDIPLUS_MEMBER
};

// GDI+ bound and started; the same answer for the rest of the process.
HRESULT StartGdiPlus(const GdiPlusApi*& api);

// A GDI+ status as an HRESULT: OutOfMemory is E_OUTOFMEMORY,
// InvalidParameter E_INVALIDARG, any other failure kGdiPlusFailed plus the
// status.
constexpr HRESULT kGdiPlusFailed = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x7A00);
HRESULT GdiPlusResult(Gdiplus::GpStatus status);

// Deletes what GDI+ made, through the bound API (which exists once anything
// was made).
struct GdiPlusDelete {
    void operator()(Gdiplus::GpGraphics* graphics) const;
    void operator()(Gdiplus::GpImage* image) const;
    void operator()(Gdiplus::GpPath* path) const;
    void operator()(Gdiplus::GpBrush* brush) const;
    void operator()(Gdiplus::GpPen* pen) const;
    void operator()(Gdiplus::GpMatrix* matrix) const;
    void operator()(Gdiplus::GpRegion* region) const;
};
template <typename T>
using GdiPlusPtr = std::unique_ptr<T, GdiPlusDelete>;

}  // namespace engine
