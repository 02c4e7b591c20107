// GDI+'s flat API as the engine binds it (engine/gdiplusapi.h): the types,
// enumerations with GDI+'s values, and the functions' declarations, so that
// decltype gives the bound members their types. fakegdiplus.cpp implements
// them over plain memory.
#pragma once

#include <windows.h>

namespace Gdiplus {

enum Status { Ok = 0, GenericError = 1, InvalidParameter = 2, OutOfMemory = 3, ObjectBusy = 4 };
using GpStatus = Status;
using ARGB = DWORD;
using PixelFormat = INT;
using GraphicsState = UINT;

enum SmoothingMode { SmoothingModeAntiAlias = 4 };
enum PixelOffsetMode { PixelOffsetModeHalf = 4 };
enum InterpolationMode { InterpolationModeNearestNeighbor = 5, InterpolationModeHighQualityBilinear = 6 };
enum WrapMode { WrapModeTile, WrapModeTileFlipX, WrapModeTileFlipY, WrapModeTileFlipXY, WrapModeClamp };
enum Unit { UnitWorld = 0 };
enum DashCap { DashCapFlat = 0, DashCapRound = 2, DashCapTriangle = 3 };
enum LineCap { LineCapFlat = 0, LineCapSquare = 1, LineCapRound = 2, LineCapTriangle = 3 };
enum LineJoin { LineJoinMiter = 0, LineJoinBevel = 1, LineJoinRound = 2 };
enum CombineMode { CombineModeReplace = 0, CombineModeIntersect = 1 };
enum FillMode { FillModeAlternate = 0, FillModeWinding = 1 };
enum PathPointType { PathPointTypeStart = 0, PathPointTypeLine = 1, PathPointTypeCloseSubpath = 0x80 };
using GpFillMode = FillMode;
using GpWrapMode = WrapMode;
using GpUnit = Unit;
using GpDashCap = DashCap;
using GpLineCap = LineCap;
using GpLineJoin = LineJoin;

struct PointF {
    PointF() = default;
    PointF(REAL x, REAL y) : X(x), Y(y) {}
    REAL X = 0, Y = 0;
};
using GpPointF = PointF;
struct Rect {
    Rect() = default;
    Rect(INT x, INT y, INT width, INT height) : X(x), Y(y), Width(width), Height(height) {}
    INT X = 0, Y = 0, Width = 0, Height = 0;
};
using GpRect = Rect;
struct RectF {
    RectF() = default;
    RectF(REAL x, REAL y, REAL width, REAL height) : X(x), Y(y), Width(width), Height(height) {}
    REAL X = 0, Y = 0, Width = 0, Height = 0;
};

// What GDI+ hands out; the fake's objects derive from these.
struct GpObject {
    virtual ~GpObject() = default;
};
struct GpImage : GpObject {};
struct GpBitmap : GpImage {};
struct GpGraphics : GpObject {};
struct GpPath : GpObject {};
struct GpBrush : GpObject {};
struct GpSolidFill : GpBrush {};
struct GpTexture : GpBrush {};
struct GpPen : GpObject {};
struct GpMatrix : GpObject {};
struct GpRegion : GpObject {};

namespace DllExports {
GpStatus GdipCreateBitmapFromScan0(INT width, INT height, INT stride, PixelFormat format, BYTE* scan0,
                                   GpBitmap** bitmap);
GpStatus GdipDisposeImage(GpImage* image);
GpStatus GdipGetImageGraphicsContext(GpImage* image, GpGraphics** graphics);
GpStatus GdipDeleteGraphics(GpGraphics* graphics);
GpStatus GdipSetSmoothingMode(GpGraphics* graphics, SmoothingMode mode);
GpStatus GdipSetPixelOffsetMode(GpGraphics* graphics, PixelOffsetMode mode);
GpStatus GdipSetInterpolationMode(GpGraphics* graphics, InterpolationMode mode);
GpStatus GdipSetWorldTransform(GpGraphics* graphics, GpMatrix* matrix);
GpStatus GdipResetWorldTransform(GpGraphics* graphics);
GpStatus GdipCreateMatrix2(REAL m11, REAL m12, REAL m21, REAL m22, REAL dx, REAL dy, GpMatrix** matrix);
GpStatus GdipCreateMatrix(GpMatrix** matrix);
GpStatus GdipDeleteMatrix(GpMatrix* matrix);
GpStatus GdipCreatePath2(const GpPointF* points, const BYTE* types, INT count, GpFillMode mode,
                         GpPath** path);
GpStatus GdipDeletePath(GpPath* path);
GpStatus GdipCreateSolidFill(ARGB color, GpSolidFill** brush);
GpStatus GdipDeleteBrush(GpBrush* brush);
GpStatus GdipCreateTexture2(GpImage* image, GpWrapMode mode, REAL x, REAL y, REAL width, REAL height,
                            GpTexture** texture);
GpStatus GdipSetTextureTransform(GpTexture* brush, const GpMatrix* matrix);
GpStatus GdipCreatePen2(GpBrush* brush, REAL width, GpUnit unit, GpPen** pen);
GpStatus GdipDeletePen(GpPen* pen);
GpStatus GdipSetPenDashArray(GpPen* pen, const REAL* dash, INT count);
GpStatus GdipSetPenDashOffset(GpPen* pen, REAL offset);
GpStatus GdipSetPenDashCap197819(GpPen* pen, GpDashCap cap);
GpStatus GdipSetPenStartCap(GpPen* pen, GpLineCap cap);
GpStatus GdipSetPenEndCap(GpPen* pen, GpLineCap cap);
GpStatus GdipSetPenLineJoin(GpPen* pen, GpLineJoin join);
GpStatus GdipSetPenMiterLimit(GpPen* pen, REAL limit);
GpStatus GdipFillPath(GpGraphics* graphics, GpBrush* brush, GpPath* path);
GpStatus GdipDrawPath(GpGraphics* graphics, GpPen* pen, GpPath* path);
GpStatus GdipSetClipPath(GpGraphics* graphics, GpPath* path, CombineMode mode);
GpStatus GdipSetClipRectI(GpGraphics* graphics, INT x, INT y, INT width, INT height, CombineMode mode);
GpStatus GdipSetClipRegion(GpGraphics* graphics, GpRegion* region, CombineMode mode);
GpStatus GdipGetClip(GpGraphics* graphics, GpRegion* region);
GpStatus GdipCreateRegion(GpRegion** region);
GpStatus GdipDeleteRegion(GpRegion* region);
GpStatus GdipTranslateRegionI(GpRegion* region, INT dx, INT dy);
GpStatus GdipSaveGraphics(GpGraphics* graphics, GraphicsState* state);
GpStatus GdipRestoreGraphics(GpGraphics* graphics, GraphicsState state);
GpStatus GdipGetVisibleClipBoundsI(GpGraphics* graphics, GpRect* rect);
GpStatus GdipIsInfiniteRegion(GpRegion* region, GpGraphics* graphics, BOOL* result);
GpStatus GdipGetRegionScansCount(GpRegion* region, UINT* count, GpMatrix* matrix);
GpStatus GdipGetRegionScansI(GpRegion* region, GpRect* rects, INT* count, GpMatrix* matrix);
}  // namespace DllExports

}  // namespace Gdiplus

#define PixelFormat32bppPARGB 0x000E200B
