// GDI+ faked over plain memory, so that the rasteriser's own arithmetic
// around it (bands, layers, clips, glyph masks, compositing) runs on Linux.
// A fill or stroke paints its path's bounding box, clipped, in the brush's
// colour; clips are rectangles. Every write stays within the bitmap, so
// what a sanitizer finds is the engine's.
#include <gdiplus.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/gdiplusapi.h"

namespace {

using namespace Gdiplus;

struct Box {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool infinite = true;
};
Box Meet(const Box& a, const Box& b) {
    if (a.infinite) {
        return b;
    }
    if (b.infinite) {
        return a;
    }
    return {std::max(a.x0, b.x0), std::max(a.y0, b.y0), std::min(a.x1, b.x1), std::min(a.y1, b.y1), false};
}

struct FakeMatrix : GpMatrix {
    REAL m[6] = {1, 0, 0, 1, 0, 0};
};
struct FakeBitmap : GpBitmap {
    INT width = 0, height = 0, stride = 0;
    BYTE* scan0 = nullptr;
    std::vector<BYTE> own;
};
struct FakeGraphics : GpGraphics {
    FakeBitmap* bitmap = nullptr;
    FakeMatrix world;
    Box clip;
    std::vector<std::pair<FakeMatrix, Box>> saved;
};
struct FakePath : GpPath {
    std::vector<PointF> points;
};
struct FakeSolid : GpSolidFill {
    ARGB color = 0;
};
struct FakeTexture : GpTexture {};
// A texture paints grey.
ARGB ColorOf(GpBrush* brush) {
    auto* solid = dynamic_cast<FakeSolid*>(brush);
    return solid != nullptr ? solid->color : 0xFF808080;
}
struct FakePen : GpPen {
    ARGB color = 0;
    REAL width = 1;
};
struct FakeRegion : GpRegion {
    Box box;
};

template <typename T, typename Base>
T* As(Base* object) {
    return static_cast<T*>(object);
}
template <typename T, typename Out>
GpStatus Make(Out** out) {
    *out = new T;
    return Ok;
}

// The path's points in the bitmap's pixels, as a box.
Box BoundsOf(const FakeGraphics& g, const FakePath& path, double grow) {
    Box box{HUGE_VAL, HUGE_VAL, -HUGE_VAL, -HUGE_VAL, false};
    const REAL* m = g.world.m;
    for (const PointF& p : path.points) {
        double x = p.X * m[0] + p.Y * m[2] + m[4], y = p.X * m[1] + p.Y * m[3] + m[5];
        box = {std::min(box.x0, x - grow), std::min(box.y0, y - grow), std::max(box.x1, x + grow),
               std::max(box.y1, y + grow), false};
    }
    return box;
}

void Paint(FakeGraphics* g, Box box, ARGB color) {
    box = Meet(Meet(box, g->clip), Box{0, 0, double(g->bitmap->width), double(g->bitmap->height), false});
    if (!(box.x0 < box.x1 && box.y0 < box.y1)) {
        return;
    }
    // Premultiplied, as PixelFormat32bppPARGB keeps it.
    std::uint32_t a = color >> 24;
    std::uint32_t pixel = a << 24 | ((color >> 16 & 0xFF) * a / 255) << 16 |
                          ((color >> 8 & 0xFF) * a / 255) << 8 | (color & 0xFF) * a / 255;
    for (int y = int(std::floor(box.y0)); y < int(std::ceil(box.y1)); ++y) {
        auto* row = reinterpret_cast<std::uint32_t*>(g->bitmap->scan0 + std::size_t(y) * g->bitmap->stride);
        std::fill(row + int(std::floor(box.x0)), row + int(std::ceil(box.x1)), pixel);
    }
}

}  // namespace

namespace Gdiplus {
namespace DllExports {

GpStatus GdipCreateBitmapFromScan0(INT width, INT height, INT stride, PixelFormat, BYTE* scan0,
                                   GpBitmap** bitmap) {
    if (width <= 0 || height <= 0 || stride < 4 * width) {
        return InvalidParameter;
    }
    auto* made = new FakeBitmap;
    made->width = width;
    made->height = height;
    made->stride = stride;
    if (scan0 == nullptr) {
        made->own.resize(std::size_t(stride) * height);
        scan0 = made->own.data();
    }
    made->scan0 = scan0;
    *bitmap = made;
    return Ok;
}
GpStatus GdipDisposeImage(GpImage* image) {
    delete image;
    return Ok;
}
GpStatus GdipGetImageGraphicsContext(GpImage* image, GpGraphics** graphics) {
    auto* made = new FakeGraphics;
    made->bitmap = As<FakeBitmap>(image);
    *graphics = made;
    return Ok;
}
GpStatus GdipDeleteGraphics(GpGraphics* graphics) {
    delete graphics;
    return Ok;
}
GpStatus GdipSetSmoothingMode(GpGraphics*, SmoothingMode) { return Ok; }
GpStatus GdipSetPixelOffsetMode(GpGraphics*, PixelOffsetMode) { return Ok; }
GpStatus GdipSetInterpolationMode(GpGraphics*, InterpolationMode) { return Ok; }
GpStatus GdipSetWorldTransform(GpGraphics* graphics, GpMatrix* matrix) {
    As<FakeGraphics>(graphics)->world = *As<FakeMatrix>(matrix);
    return Ok;
}
GpStatus GdipResetWorldTransform(GpGraphics* graphics) {
    As<FakeGraphics>(graphics)->world = FakeMatrix();
    return Ok;
}
GpStatus GdipCreateMatrix2(REAL m11, REAL m12, REAL m21, REAL m22, REAL dx, REAL dy, GpMatrix** matrix) {
    auto* made = new FakeMatrix;
    REAL values[6] = {m11, m12, m21, m22, dx, dy};
    std::copy(values, values + 6, made->m);
    *matrix = made;
    return Ok;
}
GpStatus GdipCreateMatrix(GpMatrix** matrix) { return Make<FakeMatrix>(matrix); }
GpStatus GdipDeleteMatrix(GpMatrix* matrix) {
    delete matrix;
    return Ok;
}
GpStatus GdipCreatePath2(const GpPointF* points, const BYTE*, INT count, GpFillMode, GpPath** path) {
    if (count < 0) {
        return InvalidParameter;
    }
    auto* made = new FakePath;
    made->points.assign(points, points + count);
    *path = made;
    return Ok;
}
GpStatus GdipDeletePath(GpPath* path) {
    delete path;
    return Ok;
}
GpStatus GdipCreateSolidFill(ARGB color, GpSolidFill** brush) {
    auto* made = new FakeSolid;
    made->color = color;
    *brush = made;
    return Ok;
}
GpStatus GdipDeleteBrush(GpBrush* brush) {
    delete brush;
    return Ok;
}
GpStatus GdipCreateTexture2(GpImage*, GpWrapMode, REAL, REAL, REAL width, REAL height, GpTexture** texture) {
    if (!(width > 0 && height > 0)) {
        return InvalidParameter;
    }
    return Make<FakeTexture>(texture);
}
GpStatus GdipSetTextureTransform(GpTexture*, const GpMatrix*) { return Ok; }
GpStatus GdipCreatePen2(GpBrush* brush, REAL width, GpUnit, GpPen** pen) {
    auto* made = new FakePen;
    made->color = ColorOf(brush);
    made->width = width;
    *pen = made;
    return Ok;
}
GpStatus GdipDeletePen(GpPen* pen) {
    delete pen;
    return Ok;
}
GpStatus GdipSetPenDashArray(GpPen*, const REAL*, INT count) { return count > 0 ? Ok : InvalidParameter; }
GpStatus GdipSetPenDashOffset(GpPen*, REAL) { return Ok; }
GpStatus GdipSetPenDashCap197819(GpPen*, GpDashCap) { return Ok; }
GpStatus GdipSetPenStartCap(GpPen*, GpLineCap) { return Ok; }
GpStatus GdipSetPenEndCap(GpPen*, GpLineCap) { return Ok; }
GpStatus GdipSetPenLineJoin(GpPen*, GpLineJoin) { return Ok; }
GpStatus GdipSetPenMiterLimit(GpPen*, REAL) { return Ok; }
GpStatus GdipFillPath(GpGraphics* graphics, GpBrush* brush, GpPath* path) {
    auto* g = As<FakeGraphics>(graphics);
    Paint(g, BoundsOf(*g, *As<FakePath>(path), 0), ColorOf(brush));
    return Ok;
}
GpStatus GdipDrawPath(GpGraphics* graphics, GpPen* pen, GpPath* path) {
    auto* g = As<FakeGraphics>(graphics);
    auto* p = As<FakePen>(pen);
    Paint(g, BoundsOf(*g, *As<FakePath>(path), std::fabs(p->width) / 2), p->color);
    return Ok;
}
GpStatus GdipSetClipPath(GpGraphics* graphics, GpPath* path, CombineMode mode) {
    auto* g = As<FakeGraphics>(graphics);
    Box box = BoundsOf(*g, *As<FakePath>(path), 0);
    g->clip = mode == CombineModeReplace ? box : Meet(g->clip, box);
    return Ok;
}
GpStatus GdipSetClipRectI(GpGraphics* graphics, INT x, INT y, INT width, INT height, CombineMode mode) {
    auto* g = As<FakeGraphics>(graphics);
    Box box{double(x), double(y), double(x) + width, double(y) + height, false};
    g->clip = mode == CombineModeReplace ? box : Meet(g->clip, box);
    return Ok;
}
GpStatus GdipSetClipRegion(GpGraphics* graphics, GpRegion* region, CombineMode mode) {
    auto* g = As<FakeGraphics>(graphics);
    const Box& box = As<FakeRegion>(region)->box;
    g->clip = mode == CombineModeReplace ? box : Meet(g->clip, box);
    return Ok;
}
GpStatus GdipGetClip(GpGraphics* graphics, GpRegion* region) {
    As<FakeRegion>(region)->box = As<FakeGraphics>(graphics)->clip;
    return Ok;
}
GpStatus GdipCreateRegion(GpRegion** region) { return Make<FakeRegion>(region); }
GpStatus GdipDeleteRegion(GpRegion* region) {
    delete region;
    return Ok;
}
GpStatus GdipTranslateRegionI(GpRegion* region, INT dx, INT dy) {
    Box& box = As<FakeRegion>(region)->box;
    box = {box.x0 + dx, box.y0 + dy, box.x1 + dx, box.y1 + dy, box.infinite};
    return Ok;
}
GpStatus GdipSaveGraphics(GpGraphics* graphics, GraphicsState* state) {
    auto* g = As<FakeGraphics>(graphics);
    g->saved.emplace_back(g->world, g->clip);
    *state = static_cast<GraphicsState>(g->saved.size());
    return Ok;
}
GpStatus GdipRestoreGraphics(GpGraphics* graphics, GraphicsState state) {
    auto* g = As<FakeGraphics>(graphics);
    if (state == 0 || state > g->saved.size()) {
        return InvalidParameter;
    }
    g->world = g->saved[state - 1].first;
    g->clip = g->saved[state - 1].second;
    g->saved.resize(state - 1);
    return Ok;
}
GpStatus GdipGetVisibleClipBoundsI(GpGraphics* graphics, GpRect* rect) {
    auto* g = As<FakeGraphics>(graphics);
    Box box = Meet(g->clip, Box{0, 0, double(g->bitmap->width), double(g->bitmap->height), false});
    *rect = box.x0 < box.x1 && box.y0 < box.y1 ? Rect(int(std::floor(box.x0)), int(std::floor(box.y0)),
                                                      int(std::ceil(box.x1) - std::floor(box.x0)),
                                                      int(std::ceil(box.y1) - std::floor(box.y0)))
                                               : Rect();
    return Ok;
}
GpStatus GdipIsInfiniteRegion(GpRegion* region, GpGraphics*, BOOL* result) {
    *result = As<FakeRegion>(region)->box.infinite;
    return Ok;
}
GpStatus GdipGetRegionScansCount(GpRegion* region, UINT* count, GpMatrix*) {
    const Box& box = As<FakeRegion>(region)->box;
    *count = box.infinite || (box.x0 < box.x1 && box.y0 < box.y1) ? 1 : 0;
    return Ok;
}
GpStatus GdipGetRegionScansI(GpRegion* region, GpRect* rects, INT* count, GpMatrix*) {
    const Box& box = As<FakeRegion>(region)->box;
    if (box.infinite) {
        rects[0] = Rect(-(1 << 22), -(1 << 22), 1 << 23, 1 << 23);
        *count = 1;
    } else if (box.x0 < box.x1 && box.y0 < box.y1) {
        rects[0] = Rect(int(std::floor(box.x0)), int(std::floor(box.y0)), int(std::ceil(box.x1 - box.x0)),
                        int(std::ceil(box.y1 - box.y0)));
        *count = 1;
    } else {
        *count = 0;
    }
    return Ok;
}

}  // namespace DllExports
}  // namespace Gdiplus

namespace engine {

namespace {
GdiPlusApi MakeApi() {
    GdiPlusApi api;
#define ZORVANE_FAKE_BIND(name) api.name = &Gdiplus::DllExports::name;
    ZORVANE_GDIPLUS_FUNCTIONS(ZORVANE_FAKE_BIND)
#undef ZORVANE_FAKE_BIND
    return api;
}
const GdiPlusApi kApi = MakeApi();
}  // namespace

HRESULT StartGdiPlus(const GdiPlusApi*& api) {
    api = &kApi;
    return S_OK;
}

HRESULT GdiPlusResult(Gdiplus::GpStatus status) {
    return status == Gdiplus::Ok                 ? S_OK
           : status == Gdiplus::OutOfMemory      ? E_OUTOFMEMORY
           : status == Gdiplus::InvalidParameter ? E_INVALIDARG
                                                 : kGdiPlusFailed + static_cast<HRESULT>(status);
}

void GdiPlusDelete::operator()(Gdiplus::GpGraphics* graphics) const { delete graphics; }
void GdiPlusDelete::operator()(Gdiplus::GpImage* image) const { delete image; }
void GdiPlusDelete::operator()(Gdiplus::GpPath* path) const { delete path; }
void GdiPlusDelete::operator()(Gdiplus::GpBrush* brush) const { delete brush; }
void GdiPlusDelete::operator()(Gdiplus::GpPen* pen) const { delete pen; }
void GdiPlusDelete::operator()(Gdiplus::GpMatrix* matrix) const { delete matrix; }
void GdiPlusDelete::operator()(Gdiplus::GpRegion* region) const { delete region; }

}  // namespace engine
