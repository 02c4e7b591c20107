#include "engine/rasteriser.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/gdiplusapi.h"
#include "engine/glyphcache.h"
#include "engine/gradientramp.h"
#include "engine/modelgeometry.h"
#include "engine/pagedrawing.h"
#include "engine/pathpoints.h"
#include "engine/rasterresources.h"
#include "engine/rastersurface.h"
#include "xps/checkedmath.h"
#include "xps/workbudget.h"

namespace engine {

namespace {

using Gdiplus::GpBrush;
using Gdiplus::GpPath;
using Gdiplus::GpPen;

// Gradient pixels made at once: a strip of the area a gradient fills.
constexpr std::size_t kStripPixels = 1u << 18;
// A clip of more rectangles than this draws text through GDI+ itself.
constexpr INT kMaxClipRectangles = 64;

Matrix Translation(double x, double y) { return Matrix{1, 0, 0, 1, x, y}; }
Matrix Scaling(double x, double y) { return Matrix{x, 0, 0, y, 0, 0}; }

double Unit(double v) { return std::max(0.0, std::min(1.0, v)); }
std::uint32_t Byte(double unit) { return static_cast<std::uint32_t>(unit * 255 + 0.5); }

// GDI+'s colour: alpha not premultiplied.
std::uint32_t Argb(const Color& c, double opacity) {
    return Byte(Unit(c.a) * Unit(opacity)) << 24 | Byte(Unit(c.r)) << 16 | Byte(Unit(c.g)) << 8 |
           Byte(Unit(c.b));
}

std::uint32_t Premultiplied(const Color& c, double opacity) {
    double a = Unit(c.a) * Unit(opacity);
    return Byte(a) << 24 | Byte(Unit(c.r) * a) << 16 | Byte(Unit(c.g) * a) << 8 | Byte(Unit(c.b) * a);
}

// a * b / 255, rounded.
std::uint32_t Multiply255(std::uint32_t a, std::uint32_t b) {
    std::uint32_t t = a * b + 128;
    return (t + (t >> 8)) >> 8;
}

// A premultiplied pixel times k/255, two channels at a time.
std::uint32_t Scale(std::uint32_t pixel, std::uint32_t k) {
    std::uint32_t rb = (pixel & 0x00FF00FF) * k + 0x00800080;
    std::uint32_t ag = ((pixel >> 8) & 0x00FF00FF) * k + 0x00800080;
    rb = ((rb + ((rb >> 8) & 0x00FF00FF)) >> 8) & 0x00FF00FF;
    ag = ((ag + ((ag >> 8) & 0x00FF00FF)) >> 8) & 0x00FF00FF;
    return rb | ag << 8;
}

// A premultiplied pixel laid over another.
std::uint32_t Over(std::uint32_t top, std::uint32_t under) {
    std::uint32_t a = top >> 24;
    return a == 255 ? top : top + Scale(under, 255 - a);
}

// What a brush paints: the inside of a path, or its stroke with a style.
struct Shape {
    GpPath* path = nullptr;
    Rect bounds;                            // in the element's space, the stroke's width included
    const engine::Stroke* style = nullptr;  // null: filled
};

class Painter {
public:
    Painter(const GdiPlusApi& api, RasterResources& resources, GlyphCache& glyphs,
            RasterSurface::Budget& budget, const std::unordered_set<const Element*>* only)
        : api_(api), resources_(resources), glyphs_(glyphs), budget_(budget), only_(only) {}

    // The canvas's children, in the space toPicture takes to the picture.
    HRESULT DrawCanvas(const Canvas& canvas, const Matrix& toPicture, RasterSurface& surface, bool selected) {
        for (const Element& element : canvas.children) {
            HRESULT hr = DrawElement(element, toPicture, surface, selected);
            if (FAILED(hr)) {
                return hr;
            }
        }
        return S_OK;
    }

private:
    // The graphics state of a surface, restored on every path out.
    class SavedState {
    public:
        SavedState(const GdiPlusApi& api, Gdiplus::GpGraphics* graphics) : api_(api), graphics_(graphics) {
            saved_ = api_.GdipSaveGraphics(graphics_, &state_) == Gdiplus::Ok;
        }
        SavedState(const SavedState&) = delete;
        SavedState& operator=(const SavedState&) = delete;
        ~SavedState() {
            if (saved_) {
                api_.GdipRestoreGraphics(graphics_, state_);
            }
        }
        HRESULT Result() const { return saved_ ? S_OK : kGdiPlusFailed; }

    private:
        const GdiPlusApi& api_;
        Gdiplus::GpGraphics* graphics_;
        Gdiplus::GraphicsState state_ = 0;
        bool saved_ = false;
    };

    // Where the surface's clip lets drawing through, in the picture's
    // pixels.
    HRESULT VisibleBox(RasterSurface& surface, PixelBox& box) {
        Gdiplus::Rect visible;
        HRESULT hr = GdiPlusResult(api_.GdipGetVisibleClipBoundsI(surface.Graphics(), &visible));
        const PixelBox& at = surface.Box();
        box = {visible.X + at.x0, visible.Y + at.y0, visible.X + visible.Width + at.x0,
               visible.Y + visible.Height + at.y0};
        return hr;
    }

    // Whether a shape of the element's space may show on the surface.
    HRESULT Shows(RasterSurface& surface, const Rect& bounds, const Matrix& toPicture, bool& shows) {
        PixelBox visible;
        HRESULT hr = VisibleBox(surface, visible);
        shows = SUCCEEDED(hr) && !Intersect(visible, Enclosing(TransformedBounds(bounds, toPicture))).Empty();
        return hr;
    }

    HRESULT DrawElement(const Element& element, const Matrix& parentToPicture, RasterSurface& surface,
                        bool selected) {
        const ElementBase* base = BaseOf(element);
        if (base == nullptr || !(base->opacity > 0)) {
            return S_OK;
        }
        bool chosen = selected || (only_ != nullptr && only_->count(&element) != 0);
        if (!xps::ChargeWork(chosen ? xps::kRasterElementCost : xps::kLookUpCost)) {
            return xps::WorkBudget::Current()->Failure();
        }
        if (!chosen && element.kind != ElementKind::Canvas) {
            return S_OK;
        }
        Matrix toPicture = Multiply(base->transform, parentToPicture);
        Matrix inverse;
        if (!Invert(toPicture, inverse)) {
            return S_OK;  // flattened to a line: covers nothing
        }
        SavedState saved(api_, surface.Graphics());
        HRESULT hr = saved.Result();
        if (SUCCEEDED(hr) && base->clip) {
            hr = Clip(surface, *base->clip, toPicture);
        }
        PixelBox visible;
        if (SUCCEEDED(hr)) {
            hr = VisibleBox(surface, visible);
        }
        if (FAILED(hr) || visible.Empty()) {
            return hr;
        }
        bool grouped = base->opacity < 1 || base->opacityMask;
        // One fill or one stroke takes the opacity into its brush alike.
        bool single = !base->opacityMask &&
                      ((element.kind == ElementKind::Path && !(element.path->fill && element.path->stroke)) ||
                       (element.kind == ElementKind::Glyphs && !SimulatesBold(element.glyphs->simulations)));
        if (!grouped || single) {
            return DrawContent(element, toPicture, surface, chosen, base->opacity);
        }
        return InLayer(
            surface, base->opacity, base->opacityMask.get(), toPicture, ElementBounds(element),
            [&](RasterSurface& layer) { return DrawContent(element, toPicture, layer, chosen, 1); });
    }

    HRESULT Clip(RasterSurface& surface, const Geometry& clip, const Matrix& toPicture) {
        PathPoints points;
        points.AddFigures(clip, Matrix(), PixelsPerUnit(toPicture), false);
        if (points.Empty()) {
            return GdiPlusResult(
                api_.GdipSetClipRectI(surface.Graphics(), 0, 0, 0, 0, Gdiplus::CombineModeReplace));
        }
        GdiPlusPtr<GpPath> path;
        HRESULT hr = points.MakePath(api_, clip.fillRule, path);
        if (SUCCEEDED(hr)) {
            hr = surface.SetWorld(surface.FromPicture(toPicture));
        }
        if (SUCCEEDED(hr)) {
            hr = GdiPlusResult(
                api_.GdipSetClipPath(surface.Graphics(), path.get(), Gdiplus::CombineModeIntersect));
        }
        HRESULT reset = surface.ResetWorld();
        return FAILED(hr) ? hr : reset;
    }

    HRESULT DrawContent(const Element& element, const Matrix& toPicture, RasterSurface& surface,
                        bool selected, double opacity) {
        switch (element.kind) {
            case ElementKind::Canvas:
                return DrawCanvas(*element.canvas, toPicture, surface, selected);
            case ElementKind::Path:
                return DrawPath(*element.path, toPicture, surface, opacity);
            case ElementKind::Glyphs:
                return DrawGlyphs(*element.glyphs, toPicture, surface, opacity);
        }
        return S_OK;
    }

    HRESULT DrawPath(const PathElement& path, const Matrix& toPicture, RasterSurface& surface,
                     double opacity) {
        if (path.fill) {
            PathPoints points;
            points.AddFigures(path.data, Matrix(), PixelsPerUnit(toPicture), false);
            HRESULT hr = FillPoints(surface, points, path.data.fillRule, *path.fill, toPicture, opacity);
            if (FAILED(hr)) {
                return hr;
            }
        }
        if (!path.stroke || !(path.strokeStyle.thickness > 0)) {
            return S_OK;
        }
        PathPoints points;
        points.AddFigures(path.data, Matrix(), PixelsPerUnit(toPicture), true);
        return StrokePoints(surface, points, path.strokeStyle, *path.stroke, toPicture, opacity);
    }

    HRESULT FillPoints(RasterSurface& surface, const PathPoints& points, FillRule rule, const Brush& brush,
                       const Matrix& toPicture, double opacity) {
        Rect bounds = points.Bounds();
        bool shows = false;
        HRESULT hr = points.Empty() ? S_OK : Shows(surface, bounds, toPicture, shows);
        if (FAILED(hr) || !shows) {
            return hr;
        }
        GdiPlusPtr<GpPath> path;
        hr = points.MakePath(api_, rule, path);
        return SUCCEEDED(hr) ? Paint(surface, Shape{path.get(), bounds, nullptr}, brush, toPicture, opacity)
                             : hr;
    }

    HRESULT StrokePoints(RasterSurface& surface, const PathPoints& points, const engine::Stroke& style,
                         const Brush& brush, const Matrix& toPicture, double opacity) {
        // How far a stroke reaches beyond its line: half its width, a
        // miter's length or a square cap's diagonal.
        double reach = style.thickness * std::max(style.miterLimit, 1.5);
        Rect line = points.Bounds();
        Rect bounds{line.x - reach, line.y - reach, line.width + 2 * reach, line.height + 2 * reach};
        bool shows = false;
        HRESULT hr = points.Empty() ? S_OK : Shows(surface, bounds, toPicture, shows);
        if (FAILED(hr) || !shows) {
            return hr;
        }
        GdiPlusPtr<GpPath> path;
        hr = points.MakePath(api_, FillRule::NonZero, path);
        return SUCCEEDED(hr) ? Paint(surface, Shape{path.get(), bounds, &style}, brush, toPicture, opacity)
                             : hr;
    }

    // Text in one colour is laid from the glyph cache's coverage, through
    // the clip's rectangles; any other, and glyphs too large to keep, are
    // filled as outlines.
    HRESULT DrawGlyphs(const GlyphsElement& glyphs, const Matrix& toPicture, RasterSurface& surface,
                       double opacity) {
        if (!glyphs.fill || glyphs.glyphs.empty() || !(glyphs.emSize > 0)) {
            return S_OK;
        }
        RasterResources::FontEntry* font = nullptr;
        HRESULT hr = resources_.FontFor(glyphs.fontPart, glyphs.fontFace, font);
        if (FAILED(hr)) {
            return hr;
        }
        std::vector<Gdiplus::Rect> clip;
        bool laid = glyphs.fill->kind == BrushKind::Solid;
        if (laid) {
            hr = ClipRectangles(surface, clip, laid);
        }
        bool bold = SimulatesBold(glyphs.simulations);
        double unitsToElement = glyphs.emSize / font->font.Metrics().unitsPerEm;
        std::uint32_t colour = Premultiplied(glyphs.fill->color, glyphs.fill->opacity * opacity);
        Matrix toSurface = surface.FromPicture(toPicture);
        PathPoints points;
        for (const PlacedGlyph& glyph : PlaceGlyphs(glyphs, font->font)) {
            const Geometry* outline = nullptr;
            hr = SUCCEEDED(hr) ? resources_.Outline(*font, glyph.index, outline) : hr;
            if (hr == kFontCffOutlines) {
                hr = S_OK;
                continue;
            }
            if (FAILED(hr)) {
                return hr;
            }
            Matrix outlineToElement = GlyphMatrix(glyphs, font->font, glyph);
            const GlyphCache::Mask* mask = nullptr;
            Matrix toPixels = Multiply(outlineToElement, toSurface);
            // A glyph whose origin lies this far off the surface could reach it
            // only at a size the cache does not keep: it is drawn as a path.
            constexpr double kNear = 1 << 24;
            if (laid && std::fabs(toPixels.dx) < kNear && std::fabs(toPixels.dy) < kNear) {
                int x = 0, y = 0, placeX = 0, placeY = 0;
                GlyphCache::Snap(toPixels.dx, x, placeX);
                GlyphCache::Snap(toPixels.dy, y, placeY);
                hr = glyphs_.MaskOf(font, glyph.index, *outline, toPixels, placeX, placeY,
                                    bold ? (glyphs.emSize * kBoldStrokeEm) / unitsToElement : 0, mask);
                if (FAILED(hr)) {
                    return hr;
                }
                if (mask != nullptr) {
                    Lay(surface, *mask, x, y, colour, clip);
                }
            }
            // A glyph laid from the cache is cheap; one filled as a path is paid as an element.
            if (!xps::ChargeWork(mask == nullptr ? xps::kElementCost : xps::kLookUpCost)) {
                return xps::WorkBudget::Current()->Failure();
            }
            if (mask == nullptr) {
                points.AddFigures(*outline, outlineToElement, PixelsPerUnit(toPicture), false);
            }
        }
        if (points.Empty()) {
            return S_OK;
        }
        hr = FillPoints(surface, points, FillRule::NonZero, *glyphs.fill, toPicture, opacity);
        engine::Stroke stroke;
        stroke.thickness = (glyphs.emSize * kBoldStrokeEm);
        return SUCCEEDED(hr) && bold ? StrokePoints(surface, points, stroke, *glyphs.fill, toPicture, opacity)
                                     : hr;
    }

    // The surface's clip as rectangles of its pixels; usable false for a
    // clip of too many.
    HRESULT ClipRectangles(RasterSurface& surface, std::vector<Gdiplus::Rect>& rectangles, bool& usable) {
        Gdiplus::GpRegion* rawRegion = nullptr;
        HRESULT hr = GdiPlusResult(api_.GdipCreateRegion(&rawRegion));
        GdiPlusPtr<Gdiplus::GpRegion> region(rawRegion);
        Gdiplus::GpMatrix* rawMatrix = nullptr;
        if (SUCCEEDED(hr)) {
            hr = GdiPlusResult(api_.GdipCreateMatrix(&rawMatrix));
        }
        GdiPlusPtr<Gdiplus::GpMatrix> identity(rawMatrix);
        if (SUCCEEDED(hr)) {
            hr = GdiPlusResult(api_.GdipGetClip(surface.Graphics(), rawRegion));
        }
        BOOL infinite = FALSE;
        if (SUCCEEDED(hr)) {
            hr = GdiPlusResult(api_.GdipIsInfiniteRegion(rawRegion, surface.Graphics(), &infinite));
        }
        const PixelBox& box = surface.Box();
        if (SUCCEEDED(hr) && infinite) {
            rectangles.assign(1, Gdiplus::Rect(0, 0, box.Width(), box.Height()));
            return S_OK;
        }
        UINT count = 0;
        if (SUCCEEDED(hr)) {
            hr = GdiPlusResult(api_.GdipGetRegionScansCount(rawRegion, &count, rawMatrix));
        }
        usable = SUCCEEDED(hr) && count <= static_cast<UINT>(kMaxClipRectangles);
        if (!usable) {
            return hr;
        }
        rectangles.resize(count);
        INT got = 0;
        hr = GdiPlusResult(api_.GdipGetRegionScansI(rawRegion, rectangles.data(), &got, rawMatrix));
        rectangles.resize(SUCCEEDED(hr) ? std::min<std::size_t>(count, static_cast<std::size_t>(got)) : 0);
        return hr;
    }

    // A glyph's coverage in one colour over the surface, its origin in the
    // pixel (x, y) of the surface, within the clip's rectangles.
    static void Lay(RasterSurface& surface, const GlyphCache::Mask& mask, int x, int y, std::uint32_t colour,
                    const std::vector<Gdiplus::Rect>& clip) {
        const PixelBox& box = surface.Box();
        // Placed in 64 bits: the origin and the mask's corner may each lie near 2^30.
        std::int64_t left = std::int64_t{x} + mask.left, top = std::int64_t{y} + mask.top;
        if (left >= box.Width() || top >= box.Height() || left + mask.width <= 0 || top + mask.height <= 0) {
            return;
        }
        PixelBox glyph{static_cast<int>(left), static_cast<int>(top), static_cast<int>(left + mask.width),
                       static_cast<int>(top + mask.height)};
        for (const Gdiplus::Rect& rectangle : clip) {
            PixelBox area =
                Intersect(Intersect(glyph, {rectangle.X, rectangle.Y, rectangle.X + rectangle.Width,
                                            rectangle.Y + rectangle.Height}),
                          {0, 0, box.Width(), box.Height()});
            for (int row = area.y0; row < area.y1; ++row) {
                const std::uint8_t* coverage =
                    &mask.coverage[static_cast<std::size_t>(row - glyph.y0) * mask.width +
                                   (area.x0 - glyph.x0)];
                std::uint32_t* target = surface.Row(row) + area.x0;
                for (int i = 0; i < area.Width(); ++i) {
                    std::uint32_t c = coverage[i];
                    if (c != 0) {
                        target[i] = Over(c == 255 ? colour : Scale(colour, c), target[i]);
                    }
                }
            }
        }
    }

    // Paints a brush (of the element's space, toPicture) over a shape.
    HRESULT Paint(RasterSurface& surface, const Shape& shape, const Brush& brush, const Matrix& toPicture,
                  double opacity) {
        // The pixels a paint may touch are paid for: a page of many
        // page-sized fills costs what it draws.
        PixelBox touched = Intersect(surface.Box(), Enclosing(TransformedBounds(shape.bounds, toPicture)));
        if (!touched.Empty() && !xps::ChargeWork(xps::PixelsCost(static_cast<std::uint64_t>(touched.Width()) *
                                                                 touched.Height()))) {
            return xps::WorkBudget::Current()->Failure();
        }
        Matrix toSurface = surface.FromPicture(toPicture);
        switch (brush.kind) {
            case BrushKind::Solid:
                return PaintSolid(surface, shape, Argb(brush.color, brush.opacity * opacity), toSurface);
            case BrushKind::LinearGradient:
            case BrushKind::RadialGradient:
                return PaintGradient(surface, shape, brush, toPicture, opacity);
            case BrushKind::Image:
            case BrushKind::Visual:
                if (brush.opacity * opacity < 1) {
                    return InLayer(
                        surface, brush.opacity * opacity, nullptr, toPicture, shape.bounds,
                        [&](RasterSurface& layer) { return PaintTiles(layer, shape, brush, toPicture); });
                }
                return PaintTiles(surface, shape, brush, toPicture);
        }
        return S_OK;
    }

    // Fills or strokes the shape with a GDI+ brush of the element's space.
    HRESULT PaintWith(RasterSurface& surface, const Shape& shape, GpBrush* brush, const Matrix& toSurface) {
        HRESULT hr = surface.SetWorld(toSurface);
        if (SUCCEEDED(hr) && shape.style == nullptr) {
            hr = GdiPlusResult(api_.GdipFillPath(surface.Graphics(), brush, shape.path));
        } else if (SUCCEEDED(hr)) {
            GdiPlusPtr<GpPen> pen;
            hr = MakePen(*shape.style, brush, pen);
            if (SUCCEEDED(hr)) {
                hr = GdiPlusResult(api_.GdipDrawPath(surface.Graphics(), pen.get(), shape.path));
            }
        }
        HRESULT reset = surface.ResetWorld();
        return FAILED(hr) ? hr : reset;
    }

    HRESULT PaintSolid(RasterSurface& surface, const Shape& shape, std::uint32_t argb,
                       const Matrix& toSurface) {
        Gdiplus::GpSolidFill* raw = nullptr;
        HRESULT hr = GdiPlusResult(api_.GdipCreateSolidFill(argb, &raw));
        GdiPlusPtr<GpBrush> solid(raw);
        return SUCCEEDED(hr) ? PaintWith(surface, shape, solid.get(), toSurface) : hr;
    }

    HRESULT MakePen(const engine::Stroke& style, GpBrush* brush, GdiPlusPtr<GpPen>& pen) {
        static const Gdiplus::LineCap kCaps[] = {Gdiplus::LineCapFlat, Gdiplus::LineCapSquare,
                                                 Gdiplus::LineCapRound, Gdiplus::LineCapTriangle};
        static const Gdiplus::DashCap kDashCaps[] = {Gdiplus::DashCapFlat, Gdiplus::DashCapFlat,
                                                     Gdiplus::DashCapRound, Gdiplus::DashCapTriangle};
        static const Gdiplus::LineJoin kJoins[] = {Gdiplus::LineJoinMiter, Gdiplus::LineJoinBevel,
                                                   Gdiplus::LineJoinRound};
        GpPen* raw = nullptr;
        HRESULT hr = GdiPlusResult(
            api_.GdipCreatePen2(brush, static_cast<float>(style.thickness), Gdiplus::UnitWorld, &raw));
        pen.reset(raw);
        if (SUCCEEDED(hr)) {
            hr = GdiPlusResult(api_.GdipSetPenStartCap(raw, kCaps[static_cast<int>(style.startCap)]));
        }
        if (SUCCEEDED(hr)) {
            hr = GdiPlusResult(api_.GdipSetPenEndCap(raw, kCaps[static_cast<int>(style.endCap)]));
        }
        if (SUCCEEDED(hr)) {
            hr = GdiPlusResult(api_.GdipSetPenLineJoin(raw, kJoins[static_cast<int>(style.join)]));
        }
        if (SUCCEEDED(hr)) {
            hr = GdiPlusResult(
                api_.GdipSetPenMiterLimit(raw, static_cast<float>(std::max(1.0, style.miterLimit))));
        }
        // GDI+ takes dashes in widths, as XPS gives them, but none of
        // length 0 (a dot, with round caps): those get a hundredth.
        std::vector<float> dashes;
        double length = 0;
        for (double dash : style.dashes) {
            dashes.push_back(static_cast<float>(std::max(0.01, dash)));
            length += dash;
        }
        if (dashes.size() % 2 != 0) {
            dashes.insert(dashes.end(), dashes.begin(), dashes.end());
        }
        if (SUCCEEDED(hr) && length > 0) {
            hr = GdiPlusResult(api_.GdipSetPenDashArray(raw, dashes.data(), static_cast<INT>(dashes.size())));
            if (SUCCEEDED(hr)) {
                hr = GdiPlusResult(api_.GdipSetPenDashOffset(raw, static_cast<float>(style.dashOffset)));
            }
            if (SUCCEEDED(hr)) {
                hr = GdiPlusResult(
                    api_.GdipSetPenDashCap197819(raw, kDashCaps[static_cast<int>(style.dashCap)]));
            }
        }
        return hr;
    }

    // A texture brush on part of a bitmap, placed in the element's space.
    HRESULT MakeTexture(Gdiplus::GpBitmap* bitmap, Gdiplus::WrapMode wrap, const Gdiplus::RectF& part,
                        const Matrix& textureToElement, GdiPlusPtr<GpBrush>& texture) {
        Gdiplus::GpTexture* raw = nullptr;
        HRESULT hr = GdiPlusResult(
            api_.GdipCreateTexture2(bitmap, wrap, part.X, part.Y, part.Width, part.Height, &raw));
        texture.reset(raw);
        Gdiplus::GpMatrix* rawMatrix = nullptr;
        const Matrix& m = textureToElement;
        if (SUCCEEDED(hr)) {
            hr = GdiPlusResult(api_.GdipCreateMatrix2(
                static_cast<float>(m.m11), static_cast<float>(m.m12), static_cast<float>(m.m21),
                static_cast<float>(m.m22), static_cast<float>(m.dx), static_cast<float>(m.dy), &rawMatrix));
        }
        GdiPlusPtr<Gdiplus::GpMatrix> matrix(rawMatrix);
        if (SUCCEEDED(hr)) {
            hr = GdiPlusResult(api_.GdipSetTextureTransform(raw, rawMatrix));
        }
        return hr;
    }

    // A gradient, strip by strip over the part of the shape that shows:
    // the ramp's colours laid over the surface through the shape's
    // coverage, which GDI+ draws in one colour.
    HRESULT PaintGradient(RasterSurface& surface, const Shape& shape, const Brush& brush,
                          const Matrix& toPicture, double opacity) {
        GradientRamp ramp(brush, opacity);
        Matrix toBrush;
        if (!ramp.Paints() || !Invert(Multiply(brush.transform, toPicture), toBrush)) {
            return S_OK;
        }
        PixelBox visible;
        HRESULT hr = VisibleBox(surface, visible);
        PixelBox area = Intersect(visible, Enclosing(TransformedBounds(shape.bounds, toPicture)));
        if (FAILED(hr) || area.Empty()) {
            return hr;
        }
        int rows = static_cast<int>(std::max<std::size_t>(1, kStripPixels / area.Width()));
        for (int top = area.y0; SUCCEEDED(hr) && top < area.y1; top += rows) {
            PixelBox part{area.x0, top, area.x1, std::min(area.y1, top + rows)};
            RasterSurface colours(api_, budget_), coverage(api_, budget_);
            hr = colours.Create(part, 0);
            for (int y = part.y0; SUCCEEDED(hr) && y < part.y1; ++y) {
                ramp.FillRow(toBrush, part.x0, y, part.Width(), colours.Row(y - part.y0));
            }
            if (SUCCEEDED(hr)) {
                hr = coverage.Create(part, 0);
            }
            if (SUCCEEDED(hr)) {
                hr = CopyClip(surface, coverage);
            }
            if (SUCCEEDED(hr)) {
                hr = PaintSolid(coverage, shape, 0xFFFFFFFF, coverage.FromPicture(toPicture));
            }
            if (SUCCEEDED(hr)) {
                Composite(colours, &coverage, 1, surface);
            }
        }
        return hr;
    }

    // A tile shown once is clipped to its viewport and sampled as if
    // mirrored beyond it, so that its edges stay sharp.
    static Gdiplus::WrapMode WrapOf(TileMode mode) {
        switch (mode) {
            case TileMode::None:
                return Gdiplus::WrapModeTileFlipXY;
            case TileMode::Tile:
                return Gdiplus::WrapModeTile;
            case TileMode::FlipX:
                return Gdiplus::WrapModeTileFlipX;
            case TileMode::FlipY:
                return Gdiplus::WrapModeTileFlipY;
            case TileMode::FlipXY:
                return Gdiplus::WrapModeTileFlipXY;
        }
        return Gdiplus::WrapModeClamp;
    }

    // An image or visual brush: its viewbox shown in the viewport, tiled.
    HRESULT PaintTiles(RasterSurface& surface, const Shape& shape, const Brush& brush,
                       const Matrix& toPicture) {
        const Rect& viewport = brush.viewport;
        if (!(viewport.width > 0 && viewport.height > 0 && brush.viewbox.width > 0 &&
              brush.viewbox.height > 0)) {
            return S_OK;
        }
        // The viewport's corner at the origin of the tile plane.
        Matrix tileToElement = Multiply(Translation(viewport.x, viewport.y), brush.transform);
        Matrix toSurface = surface.FromPicture(toPicture);
        SavedState saved(api_, surface.Graphics());
        HRESULT hr = saved.Result();
        if (SUCCEEDED(hr) && brush.tileMode == TileMode::None) {
            Geometry box;
            box.figures.push_back(Figure{{0, 0}, {}, true, true});
            for (Point p : {Point{viewport.width, 0}, Point{viewport.width, viewport.height},
                            Point{0, viewport.height}}) {
                Segment segment;
                segment.end = p;
                box.figures.back().segments.push_back(segment);
            }
            hr = Clip(surface, box, Multiply(tileToElement, toPicture));
        }
        if (FAILED(hr) || (brush.kind == BrushKind::Visual && !brush.visual)) {
            return hr;
        }
        if (brush.kind == BrushKind::Image) {
            return PaintImage(surface, shape, brush, toSurface, tileToElement);
        }
        if (brush.tileMode == TileMode::None && shape.style == nullptr) {
            return PaintVisual(surface, shape, brush, toPicture, tileToElement);
        }
        // One tile drawn at about the resolution it shows at.
        Matrix tileToSurface = Multiply(tileToElement, toSurface);
        double width = std::ceil(std::hypot(tileToSurface.m11, tileToSurface.m12) * viewport.width);
        double height = std::ceil(std::hypot(tileToSurface.m21, tileToSurface.m22) * viewport.height);
        width = std::max(1.0, std::min(width, static_cast<double>(Rasteriser::kMaxSide)));
        height = std::max(1.0, std::min(height, static_cast<double>(Rasteriser::kMaxSide)));
        double over = width * height * 4 / Rasteriser::kMaxTileBytes;
        if (over > 1) {
            width = std::max(1.0, std::floor(width / std::sqrt(over)));
            height = std::max(1.0, std::floor(height / std::sqrt(over)));
        }
        RasterSurface tile(api_, budget_);
        hr = tile.Create({0, 0, static_cast<int>(width), static_cast<int>(height)}, 0);
        if (SUCCEEDED(hr)) {
            hr = DrawCanvas(
                *brush.visual,
                Multiply(ViewboxToTile(brush), Scaling(width / viewport.width, height / viewport.height)),
                tile, true);
        }
        GdiPlusPtr<GpBrush> texture;
        if (SUCCEEDED(hr)) {
            hr = MakeTexture(
                tile.Bitmap(), WrapOf(brush.tileMode),
                Gdiplus::RectF(0, 0, static_cast<float>(width), static_cast<float>(height)),
                Multiply(Scaling(viewport.width / width, viewport.height / height), tileToElement), texture);
        }
        return SUCCEEDED(hr) ? PaintWith(surface, shape, texture.get(), toSurface) : hr;
    }

    // A visual shown once: drawn as it is, within the shape (and the
    // viewport, which clips already).
    HRESULT PaintVisual(RasterSurface& surface, const Shape& shape, const Brush& brush,
                        const Matrix& toPicture, const Matrix& tileToElement) {
        HRESULT hr = surface.SetWorld(surface.FromPicture(toPicture));
        if (SUCCEEDED(hr)) {
            hr = GdiPlusResult(
                api_.GdipSetClipPath(surface.Graphics(), shape.path, Gdiplus::CombineModeIntersect));
        }
        HRESULT reset = surface.ResetWorld();
        hr = FAILED(hr) ? hr : reset;
        return SUCCEEDED(hr) ? DrawCanvas(*brush.visual,
                                          Multiply(ViewboxToTile(brush), Multiply(tileToElement, toPicture)),
                                          surface, true)
                             : hr;
    }

    HRESULT PaintImage(RasterSurface& surface, const Shape& shape, const Brush& brush,
                       const Matrix& toSurface, const Matrix& tileToElement) {
        if (!brush.image) {
            return S_OK;
        }
        std::shared_ptr<const RasterResources::ImageEntry> image;
        HRESULT hr = resources_.ImageFor(*brush.image, image);
        if (FAILED(hr)) {
            return hr;
        }
        // The viewbox in the image's pixels, whole ones within the image.
        double toPixelsX = image->dpiX / 96, toPixelsY = image->dpiY / 96;
        auto within = [](double v, double low, double high) {
            return std::max(low, std::min(high, std::floor(v + 0.5)));
        };
        double x0 = within(brush.viewbox.x * toPixelsX, 0, image->width - 1.0);
        double y0 = within(brush.viewbox.y * toPixelsY, 0, image->height - 1.0);
        double x1 = within((brush.viewbox.x + brush.viewbox.width) * toPixelsX, x0 + 1, image->width);
        double y1 = within((brush.viewbox.y + brush.viewbox.height) * toPixelsY, y0 + 1, image->height);
        Matrix textureToElement =
            Multiply(Multiply(Translation(x0, y0), Scaling(1 / toPixelsX, 1 / toPixelsY)),
                     Multiply(ViewboxToTile(brush), tileToElement));
        // An image enlarged shows its pixels, as other readers show them;
        // one reduced is smoothed.
        // A tile of less than a pixel each way is sampled, not smoothed:
        // smoothing it costs GDI+ in proportion to how far it is reduced.
        Matrix textureToSurface = Multiply(textureToElement, toSurface);
        double scaleX = std::hypot(textureToSurface.m11, textureToSurface.m12),
               scaleY = std::hypot(textureToSurface.m21, textureToSurface.m22);
        bool enlarged = scaleX > 1 && scaleY > 1;
        bool specks = !(scaleX * (x1 - x0) >= 1 && scaleY * (y1 - y0) >= 1);
        hr = GdiPlusResult(api_.GdipSetInterpolationMode(
            surface.Graphics(), enlarged || specks ? Gdiplus::InterpolationModeNearestNeighbor
                                                   : Gdiplus::InterpolationModeHighQualityBilinear));
        GdiPlusPtr<GpBrush> texture;
        if (SUCCEEDED(hr)) {
            hr = MakeTexture(image->bitmap.get(), WrapOf(brush.tileMode),
                             Gdiplus::RectF(static_cast<float>(x0), static_cast<float>(y0),
                                            static_cast<float>(x1 - x0), static_cast<float>(y1 - y0)),
                             textureToElement, texture);
        }
        return SUCCEEDED(hr) ? PaintWith(surface, shape, texture.get(), toSurface) : hr;
    }

    // Draws into a layer of the area the parent's clip leaves, then lays
    // it over the parent with its alpha times opacity and the mask's alpha
    // (a brush of the space toPicture gives).
    template <typename Draw>
    HRESULT InLayer(RasterSurface& parent, double opacity, const Brush* mask, const Matrix& toPicture,
                    const Rect& bounds, Draw draw) {
        PixelBox box;
        HRESULT hr = VisibleBox(parent, box);
        // Only as large as what is drawn in it (bounds, in the element's
        // space) may reach, a pixel of smoothing around; each pixel paid for.
        PixelBox reach = Enclosing(TransformedBounds(bounds, toPicture));
        box = Intersect(box, {reach.x0 - 1, reach.y0 - 1, reach.x1 + 1, reach.y1 + 1});
        if (FAILED(hr) || box.Empty()) {
            return hr;
        }
        if (!xps::ChargeWork(xps::PixelsCost(static_cast<std::uint64_t>(box.Width()) * box.Height()))) {
            return xps::WorkBudget::Current()->Failure();
        }
        RasterSurface layer(api_, budget_);
        hr = layer.Create(box, 0);
        if (SUCCEEDED(hr)) {
            hr = CopyClip(parent, layer);
        }
        if (SUCCEEDED(hr)) {
            hr = draw(layer);
        }
        RasterSurface maskLayer(api_, budget_);
        Matrix toElement;
        if (SUCCEEDED(hr) && mask != nullptr && Invert(toPicture, toElement)) {
            hr = maskLayer.Create(box, 0);
            // Everything the layer covers, in the element's space.
            Point corners[] = {Apply(toElement, {static_cast<double>(box.x0), static_cast<double>(box.y0)}),
                               Apply(toElement, {static_cast<double>(box.x1), static_cast<double>(box.y0)}),
                               Apply(toElement, {static_cast<double>(box.x1), static_cast<double>(box.y1)}),
                               Apply(toElement, {static_cast<double>(box.x0), static_cast<double>(box.y1)})};
            PathPoints all;
            all.AddPolygon(corners, 4);
            if (SUCCEEDED(hr)) {
                hr = FillPoints(maskLayer, all, FillRule::NonZero, *mask, toPicture, 1);
            }
        }
        if (SUCCEEDED(hr)) {
            Composite(layer, mask != nullptr ? &maskLayer : nullptr, opacity, parent);
        }
        return hr;
    }

    // The parent's clip, in the layer's pixels.
    HRESULT CopyClip(RasterSurface& parent, RasterSurface& layer) {
        Gdiplus::GpRegion* raw = nullptr;
        HRESULT hr = GdiPlusResult(api_.GdipCreateRegion(&raw));
        GdiPlusPtr<Gdiplus::GpRegion> region(raw);
        if (SUCCEEDED(hr)) {
            hr = GdiPlusResult(api_.GdipGetClip(parent.Graphics(), raw));
        }
        if (SUCCEEDED(hr)) {
            hr = GdiPlusResult(api_.GdipTranslateRegionI(raw, parent.Box().x0 - layer.Box().x0,
                                                         parent.Box().y0 - layer.Box().y0));
        }
        if (SUCCEEDED(hr)) {
            hr = GdiPlusResult(api_.GdipSetClipRegion(layer.Graphics(), raw, Gdiplus::CombineModeReplace));
        }
        return hr;
    }

    // A layer over its parent: each pixel times opacity and, with a mask,
    // the mask's alpha.
    static void Composite(RasterSurface& layer, RasterSurface* mask, double opacity, RasterSurface& parent) {
        std::uint32_t factor = Byte(Unit(opacity));
        const PixelBox& box = layer.Box();
        for (int y = 0; y < box.Height(); ++y) {
            const std::uint32_t* source = layer.Row(y);
            const std::uint32_t* alpha = mask != nullptr ? mask->Row(y) : nullptr;
            std::uint32_t* target = parent.Row(box.y0 - parent.Box().y0 + y) + (box.x0 - parent.Box().x0);
            for (int x = 0; x < box.Width(); ++x) {
                std::uint32_t k = alpha != nullptr ? Multiply255(alpha[x] >> 24, factor) : factor;
                if (source[x] != 0 && k != 0) {
                    target[x] = Over(k == 255 ? source[x] : Scale(source[x], k), target[x]);
                }
            }
        }
    }

    const GdiPlusApi& api_;
    RasterResources& resources_;
    GlyphCache& glyphs_;
    RasterSurface::Budget& budget_;
    const std::unordered_set<const Element*>* only_;
};

Rect AreaOf(const Page& page, const RasterOptions& options) {
    return options.area.width > 0 && options.area.height > 0 ? options.area
                                                             : Rect{0, 0, page.width, page.height};
}

}  // namespace

Rasteriser::Rasteriser(const xps::XpsPackage& package) : package_(package) {}
Rasteriser::~Rasteriser() = default;

HRESULT Rasteriser::PictureSize(const Page& page, const RasterOptions& options, unsigned& width,
                                unsigned& height) {
    Rect area = AreaOf(page, options);
    double scale = options.dpi / 96;
    // To the nearest pixel, as other readers size a page.
    double w = std::floor(area.width * scale + 0.5), h = std::floor(area.height * scale + 0.5);
    if (!(w <= kMaxSide && h <= kMaxSide && scale > 0)) {
        return xps::kOverCap;
    }
    width = static_cast<unsigned>(std::max(1.0, w));
    height = static_cast<unsigned>(std::max(1.0, h));
    return S_OK;
}

HRESULT Rasteriser::Draw(const Page& page, const RasterOptions& options, const BandSink& sink) {
    return xps::WithoutThrowing([&] { return DrawBands(page, options, sink); });
}

HRESULT Rasteriser::DrawBands(const Page& page, const RasterOptions& options, const BandSink& sink) {
    unsigned width = 0, height = 0;
    HRESULT hr = PictureSize(page, options, width, height);
    if (FAILED(hr)) {
        return hr;
    }
    const GdiPlusApi* api = nullptr;
    hr = StartGdiPlus(api);
    if (FAILED(hr)) {
        return hr;
    }
    if (!resources_) {
        resources_.reset(new RasterResources(package_, *api));
        glyphs_.reset(new GlyphCache(*api));
    }
    // The picture's area is paid for at the default resolution: a page's
    // size is the document's choice, its resolution the job's.
    constexpr double kPixelsPerUnitSquared = (300.0 / 96) * (300.0 / 96);
    Rect paid = AreaOf(page, options);
    std::uint64_t pixels =
        xps::Clamped<std::uint64_t>(paid.width * paid.height * kPixelsPerUnitSquared, 0, ~std::uint64_t{0});
    if (!xps::ChargeWork(xps::PixelsCost(pixels))) {
        return xps::WorkBudget::Current()->Failure();
    }
    std::size_t rowBytes = static_cast<std::size_t>(width) * 4;
    unsigned bandRows = static_cast<unsigned>(std::min<std::size_t>(height, options.maxBandBytes / rowBytes));
    if (bandRows == 0) {
        return xps::kOverCap;
    }
    Rect area = AreaOf(page, options);
    Matrix toPicture = Multiply(Translation(-area.x, -area.y), Scaling(options.dpi / 96, options.dpi / 96));
    for (unsigned top = 0; top < height;) {
        unsigned rows = std::min(bandRows, height - top);
        // The band, and as much again for what drawing it takes.
        RasterSurface::Budget budget(2 * options.maxBandBytes);
        Painter painter(*api, *resources_, *glyphs_, budget, options.only);
        RasterSurface band(*api, budget);
        hr = band.Create({0, static_cast<int>(top), static_cast<int>(width), static_cast<int>(top + rows)},
                         options.transparent ? 0 : 0xFFFFFFFF);
        if (SUCCEEDED(hr)) {
            hr = painter.DrawCanvas(page.root, toPicture, band, options.only == nullptr);
        }
        if (hr == kOverBudget) {
            if (bandRows == 1) {
                return xps::kOverCap;
            }
            bandRows = std::max(1u, rows / 2);
            continue;
        }
        if (SUCCEEDED(hr)) {
            hr = sink(RasterBand{band.Pixels(), width, top, rows});
        }
        if (FAILED(hr)) {
            return hr;
        }
        top += rows;
    }
    return S_OK;
}

HRESULT Rasteriser::DrawRgb(const Page& page, const RasterOptions& options, unsigned& width, unsigned& height,
                            std::string& rgb) {
    return xps::WithoutThrowing([&] {
        rgb.clear();
        HRESULT hr = PictureSize(page, options, width, height);
        if (SUCCEEDED(hr) && static_cast<std::size_t>(width) * height * 3 > kMaxBandBytes) {
            hr = xps::kOverCap;
        }
        if (FAILED(hr)) {
            return hr;
        }
        rgb.resize(static_cast<std::size_t>(width) * height * 3);
        RasterOptions opaque = options;
        opaque.transparent = false;
        return DrawBands(page, opaque, [&](const RasterBand& band) {
            std::size_t count = static_cast<std::size_t>(band.width) * band.rows;
            char* out = &rgb[static_cast<std::size_t>(band.top) * band.width * 3];
            for (std::size_t i = 0; i < count; ++i) {
                std::uint32_t pixel = band.pixels[i];
                out[3 * i] = static_cast<char>(pixel >> 16);
                out[3 * i + 1] = static_cast<char>(pixel >> 8);
                out[3 * i + 2] = static_cast<char>(pixel);
            }
            return S_OK;
        });
    });
}

}  // namespace engine
