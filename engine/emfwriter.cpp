#include "engine/emfwriter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cwchar>
#include <unordered_set>
#include <vector>

#include "engine/gdihandles.h"
#include "engine/gradientbands.h"
#include "engine/image.h"
#include "engine/pagedrawing.h"
#include "engine/strokedashes.h"
#include "engine/tiling.h"
#include "xps/checkedmath.h"
#include "xps/partname.h"
#include "xps/workbudget.h"
#include "xps/ziparchive.h"
#include "zorvaneidentity.h"

namespace engine {

namespace {

constexpr double kXpsUnitsPerMm = 96 / 25.4;
// A path reaching further than this is nothing a reader could show.
constexpr double kMaxExtent = 1e9;
constexpr double kMaxScale = 1e6;
// What a record costs in the page's estimate besides its points or bits.
constexpr std::uint64_t kRecordBytes = 32;
// Alpha below half a level draws nothing; above 1 less half a level, opaque.
constexpr double kInvisible = 0.5 / 255, kOpaque = 1 - 0.5 / 255;

// A GDI call's failure: the thread's last-error as an HRESULT (E_FAIL when
// the call set none), the call named with it on the debugger's channel.
HRESULT GdiFailure(const char* call) {
    DWORD error = ::GetLastError();
    HRESULT hr = error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
    wchar_t code[16];
    std::swprintf(code, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    std::wstring line = ZORVANE_WIDE(ZORVANE_PRODUCT_NAME) L" EMF writer: ";
    line.append(call, call + std::strlen(call));
    ::OutputDebugStringW((line + L" failed (" + code + L")\n").c_str());
    return hr;
}

// A logical space of its own for one path, image or area: the logical
// coordinates of p are (p - anchor) * scale, as whole numbers.
struct Space {
    Point anchor;
    double scale = 1;
};

// About kLogicalSpan units across the bounds; false for bounds that are no
// drawing (not finite, or past kMaxExtent).
bool SpaceFor(const Rect& bounds, Space& space) {
    double extent = std::max(bounds.width, bounds.height);
    if (!std::isfinite(bounds.x) || !std::isfinite(bounds.y) || !(extent < kMaxExtent) ||
        !(std::fabs(bounds.x) < kMaxExtent) || !(std::fabs(bounds.y) < kMaxExtent)) {
        return false;
    }
    space.anchor = {bounds.x, bounds.y};
    space.scale = extent > 0 ? std::min(EmfWriter::kLogicalSpan / extent, kMaxScale) : kMaxScale;
    return true;
}

POINT ToLogical(Point p, const Space& space) {
    auto whole = [](double v) { return static_cast<LONG>(std::lround(std::max(-1e9, std::min(1e9, v)))); };
    return {whole((p.x - space.anchor.x) * space.scale), whole((p.y - space.anchor.y) * space.scale)};
}

Geometry RectGeometry(const Rect& r) {
    Geometry geometry;
    Figure figure;
    figure.start = {r.x, r.y};
    for (Point p :
         {Point{r.x + r.width, r.y}, Point{r.x + r.width, r.y + r.height}, Point{r.x, r.y + r.height}}) {
        Segment segment;
        segment.end = p;
        figure.segments.push_back(segment);
    }
    figure.closed = true;
    geometry.figures.push_back(figure);
    return geometry;
}

// Whether a fill of the geometry can cover anything.
bool HasArea(const Geometry& geometry) {
    for (const Figure& figure : geometry.figures) {
        if (figure.filled && !figure.segments.empty()) {
            return true;
        }
    }
    return false;
}

BYTE Level(double c) { return static_cast<BYTE>(std::lround(std::max(0.0, std::min(1.0, c)) * 255)); }

COLORREF Rgb(const Color& c) { return RGB(Level(c.r), Level(c.g), Level(c.b)); }

bool AllOpaque(const std::vector<GradientStop>& stops) {
    for (const GradientStop& stop : stops) {
        if (stop.color.a < kOpaque) {
            return false;
        }
    }
    return true;
}

// What an opacity mask lets through, as one number: its brush's mean
// opacity (a gradient's stops averaged, a tile brush's own opacity).
double MaskOpacity(const Brush& mask) {
    double mean = mask.kind == BrushKind::Solid ? mask.color.a : 1;
    if (mask.kind == BrushKind::LinearGradient || mask.kind == BrushKind::RadialGradient) {
        double sum = 0;
        for (const GradientStop& stop : mask.stops) {
            sum += stop.color.a;
        }
        mean = mask.stops.empty() ? 0 : sum / static_cast<double>(mask.stops.size());
    }
    return mean * mask.opacity;
}

DWORD PenCap(LineCap cap) {
    return cap == LineCap::Flat     ? PS_ENDCAP_FLAT
           : cap == LineCap::Square ? PS_ENDCAP_SQUARE
                                    : PS_ENDCAP_ROUND;
}

DWORD PenJoin(LineJoin join) {
    return join == LineJoin::Miter ? PS_JOIN_MITER : join == LineJoin::Bevel ? PS_JOIN_BEVEL : PS_JOIN_ROUND;
}

BITMAPINFO DibInfo(int width, int height, WORD bits) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;  // bottom-up
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = bits;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

std::size_t DibStride(int width, int bits) {
    return (static_cast<std::size_t>(width) * static_cast<std::size_t>(bits) / 8 + 3) & ~std::size_t{3};
}

}  // namespace

// One page recorded into a metafile DC: the model walked element by
// element, its transforms composed here (current_) and set on the DC for
// each path in that path's own logical space.
class EmfWriter::PageRecorder {
public:
    PageRecorder(EmfWriter& writer, const Page& page, HDC dc, const Matrix& device)
        : writer_(writer), page_(page), dc_(dc), device_(device) {}

    HRESULT DrawPage() {
        return DrawWithBase(page_.root, [&] { return DrawCanvas(page_.root); });
    }

private:
    // The model's state (transform, opacity carried) kept for a scope.
    class ModelScope {
    public:
        explicit ModelScope(PageRecorder& recorder)
            : recorder_(recorder), current_(recorder.current_), alpha_(recorder.alpha_) {}
        ~ModelScope() {
            recorder_.current_ = current_;
            recorder_.alpha_ = alpha_;
        }
        ModelScope(const ModelScope&) = delete;
        ModelScope& operator=(const ModelScope&) = delete;

    private:
        PageRecorder& recorder_;
        Matrix current_;
        double alpha_;
    };

    // The DC's state (clip, objects, modes) saved for a scope, and the
    // model's with it.
    class DcScope : public ModelScope {
    public:
        explicit DcScope(PageRecorder& recorder)
            : ModelScope(recorder), dc_(recorder.dc_), saved_(::SaveDC(recorder.dc_) != 0) {}
        ~DcScope() {
            if (saved_) {
                ::RestoreDC(dc_, -1);
            }
        }
        bool Saved() const { return saved_; }

    private:
        HDC dc_;
        bool saved_;
    };

    // Adds to the page's estimated size; past the cap, the page fails.
    HRESULT Charge(std::uint64_t bytes) {
        bytes_ += bytes;
        return bytes_ > writer_.maxPageBytes_ ? xps::kOverCap : S_OK;
    }

    HRESULT DrawCanvas(const Canvas& canvas) {
        for (const Element& element : canvas.children) {
            if (!xps::ChargeWork(xps::kMetafileFactor * xps::kElementCost)) {
                return xps::WorkBudget::Current()->Failure();
            }
            const ElementBase* base = BaseOf(element);
            HRESULT hr = base == nullptr || !(base->opacity > 0) ? S_OK
                         : visuals_ == 0 && (base->opacityMask ||
                                             (element.kind == ElementKind::Canvas && base->opacity < kOpaque))
                             ? DrawGroupAsImage(element, *base)
                             : DrawWithBase(*base, [&] { return DrawContent(element); });
            if (FAILED(hr)) {
                return hr;
            }
        }
        return S_OK;
    }

    HRESULT DrawContent(const Element& element) {
        switch (element.kind) {
            case ElementKind::Canvas:
                return DrawCanvas(*element.canvas);
            case ElementKind::Path:
                return DrawPath(*element.path);
            case ElementKind::Glyphs:
                return DrawGlyphs(*element.glyphs);
        }
        return S_OK;
    }

    // An element whose opacity or mask applies to what it draws as a whole:
    // the rasteriser draws it alone, with the canvases around it, over its
    // area of the page, and the picture is blended in as it is.
    HRESULT DrawGroupAsImage(const Element& element, const ElementBase& base) {
        Rect area =
            Intersection(TransformedBounds(ElementBounds(element), Multiply(base.transform, current_)),
                         Rect{0, 0, page_.width, page_.height});
        if (!(area.width > 0 && area.height > 0)) {
            return S_OK;
        }
        std::unordered_set<const Element*> only{&element};
        RasterOptions options;
        options.dpi = kGroupDpi;
        options.transparent = true;
        options.area = area;
        options.only = &only;
        unsigned width = 0, height = 0;
        HRESULT hr = Rasteriser::PictureSize(page_, options, width, height);
        if (SUCCEEDED(hr)) {
            hr = Charge(static_cast<std::uint64_t>(width) * height * 4);
        }
        if (FAILED(hr)) {
            return hr;
        }
        ImageEntry image;
        image.width = static_cast<int>(width);
        image.height = static_cast<int>(height);
        image.hasAlpha = true;
        image.bits.assign(static_cast<std::size_t>(width) * height * 4, '\0');
        if (!writer_.rasteriser_) {
            writer_.rasteriser_.reset(new Rasteriser(writer_.package_));
        }
        hr = writer_.rasteriser_->Draw(page_, options, [&](const RasterBand& band) {
            // DIB rows go bottom-up.
            for (unsigned row = 0; row < band.rows && band.top + row < height; ++row) {
                std::memcpy(&image.bits[static_cast<std::size_t>(height - 1 - band.top - row) * width * 4],
                            band.pixels + static_cast<std::size_t>(row) * band.width,
                            static_cast<std::size_t>(std::min(band.width, width)) * 4);
            }
            return S_OK;
        });
        if (FAILED(hr)) {
            return hr;
        }
        ModelScope scope(*this);
        current_ = Matrix();
        double pixel = 96 / options.dpi;
        return DrawUpright(image, Matrix{pixel, 0, 0, pixel, area.x, area.y}, 1);
    }

    // What every element has: its transform, clip and opacity around what
    // it draws.
    template <typename Draw>
    HRESULT DrawWithBase(const ElementBase& base, Draw draw) {
        if (!(base.opacity > 0)) {
            return S_OK;
        }
        ModelScope scope(*this);
        current_ = Multiply(base.transform, current_);
        CarryGroupOpacity(base);
        return base.clip ? WithClip(*base.clip, draw) : draw();
    }

    // An element's opacity, and its mask's mean opacity (inside a visual
    // brush's tile, which the rasteriser cannot be asked for alone),
    // multiply every paint inside it: right where what it draws does not
    // overlap itself, as a path's or a glyph run's paint does not.
    void CarryGroupOpacity(const ElementBase& base) {
        alpha_ *= base.opacity * (base.opacityMask ? MaskOpacity(*base.opacityMask) : 1);
    }

    HRESULT DrawPath(const PathElement& path) {
        HRESULT hr = path.fill ? Fill(path.data, *path.fill) : S_OK;
        if (SUCCEEDED(hr) && path.stroke) {
            hr = StrokeShape(path.data, *path.stroke, path.strokeStyle);
        }
        return hr;
    }

    // Glyphs as the filled outlines of the font's glyphs; simulated bold
    // strokes them too.
    HRESULT DrawGlyphs(const GlyphsElement& glyphs) {
        if (!glyphs.fill || glyphs.glyphs.empty() || !(glyphs.emSize > 0)) {
            return S_OK;
        }
        FontOutlines::Entry* font = nullptr;
        HRESULT hr = writer_.fonts_.FontFor(glyphs.fontPart, glyphs.fontFace, font);
        if (FAILED(hr)) {
            return hr;
        }
        Geometry run;
        run.fillRule = FillRule::NonZero;
        for (const PlacedGlyph& glyph : PlaceGlyphs(glyphs, font->font)) {
            const Geometry* outline = nullptr;
            hr = writer_.fonts_.Outline(*font, glyph.index, outline);
            if (FAILED(hr)) {
                return hr;
            }
            AppendTransformed(*outline, GlyphMatrix(glyphs, font->font, glyph), run);
        }
        hr = Fill(run, *glyphs.fill);
        if (SUCCEEDED(hr) && SimulatesBold(glyphs.simulations)) {
            Stroke bold;
            bold.thickness = glyphs.emSize * kBoldStrokeEm;
            hr = StrokeShape(run, *glyphs.fill, bold);
        }
        return hr;
    }

    HRESULT Fill(const Geometry& geometry, const Brush& brush) {
        if (!HasArea(geometry)) {
            return S_OK;
        }
        if (brush.kind == BrushKind::Solid) {
            return FillSolid(geometry, brush.color, brush.color.a * brush.opacity * alpha_);
        }
        Rect bounds = Bounds(geometry);
        return WithClip(geometry, [&] { return Paint(brush, bounds); });
    }

    // Paints a brush over an area of the current space, which a clip bounds.
    HRESULT Paint(const Brush& brush, const Rect& area) {
        switch (brush.kind) {
            case BrushKind::Solid:
                return FillSolid(RectGeometry(area), brush.color, brush.color.a * brush.opacity * alpha_);
            case BrushKind::LinearGradient:
            case BrushKind::RadialGradient:
                return PaintGradientInBands(brush, area);
            case BrushKind::Image:
                return PaintImage(brush, area);
            case BrushKind::Visual:
                return PaintVisual(brush, area);
        }
        return S_OK;
    }

    // Until gradients are drawn as an image of the area (by the
    // rasteriser): bands of solid colour.
    HRESULT PaintGradientInBands(const Brush& brush, const Rect& area) {
        double alpha = brush.opacity * alpha_;
        bool opaque = alpha >= kOpaque && AllOpaque(brush.stops);
        std::vector<GradientBand> bands = GradientBands(brush, area, !opaque);
        ModelScope scope(*this);
        current_ = Multiply(brush.transform, current_);
        // One logical space for every band, so that the edges bands share
        // round alike and no seam opens between them.
        Geometry all;
        std::uint64_t points = 0;
        for (const GradientBand& band : bands) {
            all.figures.insert(all.figures.end(), band.shape.figures.begin(), band.shape.figures.end());
            for (const Figure& figure : band.shape.figures) {
                points += 1 + figure.segments.size();
            }
        }
        // Each band is a path the metafile records, point by point.
        if (!xps::ChargeWork(bands.size() * xps::kMetafileFactor * xps::kElementCost +
                             points * xps::kPointCost)) {
            return xps::WorkBudget::Current()->Failure();
        }
        Space shared;
        if (!SpaceFor(Bounds(all), shared)) {
            return S_OK;
        }
        for (const GradientBand& band : bands) {
            HRESULT hr = FillSolid(band.shape, band.color, band.color.a * alpha, &shared);
            if (FAILED(hr)) {
                return hr;
            }
        }
        return S_OK;
    }

    HRESULT PaintImage(const Brush& brush, const Rect& area) {
        double alpha = brush.opacity * alpha_;
        if (!brush.image || !(alpha >= kInvisible)) {
            return S_OK;
        }
        std::shared_ptr<const ImageEntry> image;
        HRESULT hr = writer_.ImageFor(*brush.image, image);
        if (FAILED(hr)) {
            return hr;
        }
        Matrix pixels =
            Multiply(Matrix{96 / image->dpiX, 0, 0, 96 / image->dpiY, 0, 0}, ViewboxToTile(brush));
        return PaintTiles(brush, area, [&] { return DrawBitmap(*image, pixels, alpha); });
    }

    HRESULT PaintVisual(const Brush& brush, const Rect& area) {
        if (!brush.visual) {
            return S_OK;
        }
        ++visuals_;
        HRESULT hr = PaintTiles(brush, area, [&] {
            current_ = Multiply(ViewboxToTile(brush), current_);
            alpha_ *= brush.opacity;
            return DrawWithBase(*brush.visual, [&] { return DrawCanvas(*brush.visual); });
        });
        --visuals_;
        return hr;
    }

    // Each tile the area needs, clipped to the tile, drawn by drawTile in the
    // tile's own space.
    template <typename DrawTile>
    HRESULT PaintTiles(const Brush& brush, const Rect& area, DrawTile drawTile) {
        TileGrid grid;
        if (!TilesCovering(brush, area, grid)) {
            return S_OK;
        }
        Geometry tile = RectGeometry({0, 0, brush.viewport.width, brush.viewport.height});
        for (long long j = grid.j0; j <= grid.j1; ++j) {
            for (long long i = grid.i0; i <= grid.i1; ++i) {
                if (!xps::ChargeWork(xps::kMetafileFactor * xps::kTileCost)) {
                    return xps::WorkBudget::Current()->Failure();
                }
                DcScope scope(*this);
                if (!scope.Saved()) {
                    return GdiFailure("SaveDC");
                }
                current_ = Multiply(Multiply(TilePlacement(brush, i, j), brush.transform), current_);
                bool visible = false;
                HRESULT hr = ClipTo(tile, visible);
                if (SUCCEEDED(hr) && visible) {
                    hr = drawTile();
                }
                if (FAILED(hr)) {
                    return hr;
                }
            }
        }
        return S_OK;
    }

    // A stroke in one opaque colour without dashes: the pen itself, which
    // every reader draws at least a pixel wide. Any other: the area it
    // covers, filled with its brush like any shape, so that translucent and
    // gradient strokes come out as they are and dashes keep their caps.
    HRESULT StrokeShape(const Geometry& geometry, const Brush& brush, const Stroke& style) {
        if (geometry.Empty() || !(style.thickness > 0)) {
            return S_OK;
        }
        if (brush.kind == BrushKind::Solid && style.dashes.empty() &&
            brush.color.a * brush.opacity * alpha_ >= kOpaque) {
            Space space;
            bool visible = false;
            HRESULT hr = Enter(StrokeBounds(geometry, style), space, visible);
            if (FAILED(hr) || !visible) {
                return hr;
            }
            return WithPen(dc_, geometry, style, space, Rgb(brush.color), [&] {
                return ::StrokePath(dc_) ? Charge(4 * kRecordBytes) : GdiFailure("StrokePath");
            });
        }
        Geometry outline;
        HRESULT hr = StrokeOutline(geometry, style, outline);
        return SUCCEEDED(hr) ? Fill(outline, brush) : hr;
    }

    static Rect StrokeBounds(const Geometry& geometry, const Stroke& style) {
        Rect bounds = Bounds(geometry);
        double t = style.thickness;
        return {bounds.x - t, bounds.y - t, bounds.width + 2 * t, bounds.height + 2 * t};
    }

    // The stroke's path on a DC with a pen of its width, cap, join and
    // miter limit selected, for finish to use: the geometry, its dashes laid
    // out first, in the space's logical units.
    template <typename Finish>
    HRESULT WithPen(HDC dc, const Geometry& geometry, const Stroke& style, const Space& space, COLORREF color,
                    Finish finish) {
        Geometry dashed;
        bool isDashed = !style.dashes.empty() && DashGeometry(geometry, style, 1 / space.scale, dashed);
        LOGBRUSH ink = {BS_SOLID, color, 0};
        DWORD width = xps::Clamped<DWORD>(std::round(style.thickness * space.scale), 1, xps::kFarPixel);
        GdiObject pen(::ExtCreatePen(
            PS_GEOMETRIC | PS_SOLID | PenCap(isDashed ? style.dashCap : style.startCap) | PenJoin(style.join),
            width, &ink, 0, nullptr));
        if (!pen) {
            return GdiFailure("ExtCreatePen");
        }
        Selection selected(dc, pen.Get());
        if (!selected.Selected()) {
            return GdiFailure("SelectObject");
        }
        double miterLimit = style.miterLimit >= 1 ? std::min(style.miterLimit, 1e4) : 1;
        if (!::SetMiterLimit(dc, static_cast<FLOAT>(miterLimit), nullptr)) {
            return GdiFailure("SetMiterLimit");
        }
        HRESULT hr = EmitPath(dc, isDashed ? dashed : geometry, space, true);
        return SUCCEEDED(hr) ? finish() : hr;
    }

    // The area a stroke covers, as GDI's WidenPath makes it in a memory DC,
    // taken back into the current space.
    HRESULT StrokeOutline(const Geometry& geometry, const Stroke& style, Geometry& outline) {
        outline = Geometry();
        outline.fillRule = FillRule::NonZero;
        Space space;
        if (!SpaceFor(StrokeBounds(geometry, style), space)) {
            return S_OK;
        }
        if (!widenDc_) {
            widenDc_ = MemoryDc(::CreateCompatibleDC(nullptr));
            if (!widenDc_) {
                return GdiFailure("CreateCompatibleDC");
            }
        }
        HDC dc = widenDc_.Get();
        int count = 0;
        HRESULT hr = WithPen(dc, geometry, style, space, 0, [&] {
            // A path that covers nothing (no line of any length) does not widen.
            count = ::WidenPath(dc) ? ::GetPath(dc, nullptr, nullptr, 0) : 0;
            return S_OK;
        });
        if (FAILED(hr) || count <= 0) {
            return hr;
        }
        hr = Charge(static_cast<std::uint64_t>(count) * 8);
        if (FAILED(hr)) {
            return hr;
        }
        std::vector<POINT> points(static_cast<std::size_t>(count));
        std::vector<BYTE> types(points.size());
        if (::GetPath(dc, points.data(), types.data(), count) != count) {
            return GdiFailure("GetPath");
        }
        auto back = [&](const POINT& p) {
            return Point{p.x / space.scale + space.anchor.x, p.y / space.scale + space.anchor.y};
        };
        for (std::size_t i = 0; i < points.size(); ++i) {
            BYTE kind = types[i] & ~PT_CLOSEFIGURE;
            if (kind == PT_MOVETO || outline.figures.empty()) {
                outline.figures.emplace_back();
                outline.figures.back().start = back(points[i]);
            } else {
                Segment segment;
                segment.cubic = kind == PT_BEZIERTO && i + 2 < points.size();
                if (segment.cubic) {
                    segment.control1 = back(points[i]);
                    segment.control2 = back(points[i + 1]);
                    i += 2;
                }
                segment.end = back(points[i]);
                outline.figures.back().segments.push_back(segment);
            }
            if ((types[i] & PT_CLOSEFIGURE) != 0) {
                outline.figures.back().closed = true;
            }
        }
        return S_OK;
    }

    // A fill in one colour: opaque, a brush; translucent, the colour blended
    // through a clip of the shape.
    // shared: the logical space to draw in; null for the geometry's own.
    HRESULT FillSolid(const Geometry& geometry, const Color& color, double alpha,
                      const Space* shared = nullptr) {
        if (!(alpha >= kInvisible) || !HasArea(geometry)) {
            return S_OK;
        }
        Rect bounds = Bounds(geometry);
        if (alpha < kOpaque) {
            return WithClip(
                geometry, [&] { return BlendColor(bounds, color, alpha); }, shared);
        }
        Space space;
        bool visible = false;
        HRESULT hr = Enter(bounds, space, visible, shared);
        if (FAILED(hr) || !visible) {
            return hr;
        }
        GdiObject brush(::CreateSolidBrush(Rgb(color)));
        if (!brush) {
            return GdiFailure("CreateSolidBrush");
        }
        Selection selected(dc_, brush.Get());
        if (!selected.Selected()) {
            return GdiFailure("SelectObject");
        }
        hr = EmitPath(dc_, geometry, space, false);
        if (SUCCEEDED(hr)) {
            hr = SetFillRule(geometry.fillRule);
        }
        if (SUCCEEDED(hr) && !::FillPath(dc_)) {
            hr = GdiFailure("FillPath");
        }
        return SUCCEEDED(hr) ? Charge(4 * kRecordBytes) : hr;
    }

    // One colour blended over an area: a pixel stretched over it, and well
    // beyond, so that no pixel the clip lets through lies outside it when
    // the rectangle is rounded to the device.
    HRESULT BlendColor(const Rect& bounds, const Color& color, double alpha) {
        double margin = std::max(bounds.width, bounds.height) / 2;
        Rect area{bounds.x - margin, bounds.y - margin, bounds.width + 2 * margin,
                  bounds.height + 2 * margin};
        Space space;
        bool visible = false;
        HRESULT hr = Enter(area, space, visible);
        if (FAILED(hr) || !visible) {
            return hr;
        }
        if (!swatchDc_) {
            swatchDc_ = MemoryDc(::CreateCompatibleDC(nullptr));
            if (!swatchDc_) {
                return GdiFailure("CreateCompatibleDC");
            }
            BITMAPINFO info = DibInfo(1, 1, 32);
            swatch_ = GdiObject(
                ::CreateDIBSection(swatchDc_.Get(), &info, DIB_RGB_COLORS, &swatchBits_, nullptr, 0));
            if (!swatch_ || swatchBits_ == nullptr) {
                return GdiFailure("CreateDIBSection");
            }
            if (::SelectObject(swatchDc_.Get(), swatch_.Get()) == nullptr) {
                return GdiFailure("SelectObject");
            }
        }
        BYTE pixel[4] = {Level(color.b), Level(color.g), Level(color.r), 255};
        std::memcpy(swatchBits_, pixel, sizeof pixel);
        BLENDFUNCTION blend = {AC_SRC_OVER, 0, Level(alpha), 0};
        int width = xps::Clamped<int>(std::round(area.width * space.scale), 1, xps::kFarPixel);
        int height = xps::Clamped<int>(std::round(area.height * space.scale), 1, xps::kFarPixel);
        if (!::GdiAlphaBlend(dc_, 0, 0, width, height, swatchDc_.Get(), 0, 0, 1, 1, blend)) {
            return GdiFailure("GdiAlphaBlend");
        }
        return Charge(4 * kRecordBytes);
    }

    // An image's pixels drawn by the matrix from its pixels to the current
    // space. A matrix that turns the image, not only scales or mirrors it,
    // gets the image resampled upright first: GDI's bitmap calls under Wine,
    // and other readers, do not turn bitmaps.
    HRESULT DrawBitmap(const ImageEntry& image, const Matrix& pixels, double alpha) {
        Matrix toPage = Multiply(pixels, current_);
        double scale = std::fabs(toPage.m11) + std::fabs(toPage.m22);
        if (std::fabs(toPage.m12) <= scale * 1e-9 && std::fabs(toPage.m21) <= scale * 1e-9) {
            return DrawUpright(image, pixels, alpha);
        }
        ImageEntry upright;
        Matrix placed;
        Resample(image, toPage, upright, placed);
        ModelScope scope(*this);
        current_ = Matrix();
        return upright.width > 0 ? DrawUpright(upright, placed, alpha) : S_OK;
    }

    // The image as the page shows it through m (from its pixels to the
    // page): upright, as dense as the image or 300 dpi, whichever is finer,
    // sampled bilinearly, transparent beyond the image; placed maps its pixels to the page. None (width 0)
    // for a matrix that flattens the plane or reaches past any page.
    static void Resample(const ImageEntry& image, const Matrix& m, ImageEntry& upright, Matrix& placed) {
        Matrix inverse;
        Rect box =
            TransformedBounds({0, 0, static_cast<double>(image.width), static_cast<double>(image.height)}, m);
        double unit = std::sqrt(std::fabs(m.m11 * m.m22 - m.m12 * m.m21));
        double count = box.width / unit * (box.height / unit);
        if (!Invert(m, inverse) || !(count < 1e12) || !(unit > 0)) {
            return;
        }
        // At least 300 dpi, so that the image's edges where it ends inside
        // its clip do not show the steps of its pixels.
        unit = std::min(unit, 96.0 / 300);
        // Within the cap, and within a DIB's side however thin the box.
        double across = std::max(1.0, box.width / unit), down = std::max(1.0, box.height / unit);
        unit *= std::max({1.0, std::sqrt(across * down / kMaxResampledPixels), across / kMaxImageSide,
                          down / kMaxImageSide});
        upright.width = std::max(1, static_cast<int>(std::ceil(box.width / unit)));
        upright.height = std::max(1, static_cast<int>(std::ceil(box.height / unit)));
        upright.hasAlpha = true;
        upright.bits.assign(static_cast<std::size_t>(upright.width) * upright.height * 4, '\0');
        placed = {unit, 0, 0, unit, box.x, box.y};
        std::size_t bytes = image.hasAlpha ? 4 : 3, stride = DibStride(image.width, image.hasAlpha ? 32 : 24);
        // A texel's four components, premultiplied; rows counted from the top.
        auto texel = [&](int x, int y, int c) {
            const char* pixel =
                image.bits.data() + stride * static_cast<std::size_t>(image.height - 1 - y) + bytes * x;
            return c < 3            ? static_cast<unsigned char>(pixel[c])
                   : image.hasAlpha ? static_cast<unsigned char>(pixel[3])
                                    : 255;
        };
        for (int y = 0; y < upright.height; ++y) {
            char* row = &upright.bits[static_cast<std::size_t>(upright.height - 1 - y) * upright.width * 4];
            for (int x = 0; x < upright.width; ++x) {
                Point at = Apply(inverse, {box.x + (x + 0.5) * unit, box.y + (y + 0.5) * unit});
                if (!(at.x >= 0 && at.y >= 0 && at.x < image.width && at.y < image.height)) {
                    continue;
                }
                double fx = std::max(0.0, at.x - 0.5), fy = std::max(0.0, at.y - 0.5);
                int x0 = std::min(static_cast<int>(fx), image.width - 1),
                    y0 = std::min(static_cast<int>(fy), image.height - 1);
                int x1 = std::min(x0 + 1, image.width - 1), y1 = std::min(y0 + 1, image.height - 1);
                double tx = fx - x0, ty = fy - y0;
                for (int c = 0; c < 4; ++c) {
                    double top = texel(x0, y0, c) * (1 - tx) + texel(x1, y0, c) * tx;
                    double bottom = texel(x0, y1, c) * (1 - tx) + texel(x1, y1, c) * tx;
                    row[x * 4 + c] = static_cast<char>(std::lround(top * (1 - ty) + bottom * ty));
                }
            }
        }
    }

    // An image's pixels drawn by the matrix from its pixels to the current
    // space, which neither turns nor shears them: StretchDIBits when opaque,
    // else AlphaBlend.
    HRESULT DrawUpright(const ImageEntry& image, const Matrix& pixels, double alpha) {
        ModelScope scope(*this);
        current_ = Multiply(pixels, current_);
        // Sixteenths of a pixel: the image reaches half a pixel past its
        // edges, so that a tile's clip, rounded otherwise, shows no seam.
        Space sixteenths{{0, 0}, 16};
        bool visible = false;
        HRESULT hr = SetTransform(sixteenths, visible);
        if (SUCCEEDED(hr)) {
            hr = Charge(image.bits.size() + 2 * kRecordBytes);
        }
        if (FAILED(hr) || !visible) {
            return hr;
        }
        int width = image.width, height = image.height;
        if (!image.hasAlpha && alpha >= kOpaque) {
            BITMAPINFO info = DibInfo(width, height, 24);
            if (::StretchDIBits(dc_, -8, -8, width * 16 + 16, height * 16 + 16, 0, 0, width, height,
                                image.bits.data(), &info, DIB_RGB_COLORS, SRCCOPY) == 0) {
                return GdiFailure("StretchDIBits");
            }
            return S_OK;
        }
        // AlphaBlend reads from a DC: the pixels as a 32-bit DIB section.
        MemoryDc source(::CreateCompatibleDC(nullptr));
        if (!source) {
            return GdiFailure("CreateCompatibleDC");
        }
        BITMAPINFO info = DibInfo(width, height, 32);
        void* bits = nullptr;
        GdiObject bitmap(::CreateDIBSection(source.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        if (!bitmap || bits == nullptr) {
            return GdiFailure("CreateDIBSection");
        }
        BYTE* to = static_cast<BYTE*>(bits);
        if (image.hasAlpha) {
            std::memcpy(to, image.bits.data(), image.bits.size());
        } else {
            std::size_t stride = DibStride(width, 24);
            for (int y = 0; y < height; ++y) {
                const char* from = image.bits.data() + stride * static_cast<std::size_t>(y);
                for (int x = 0; x < width; ++x, to += 4, from += 3) {
                    std::memcpy(to, from, 3);
                    to[3] = 255;
                }
            }
        }
        Selection selected(source.Get(), bitmap.Get());
        if (!selected.Selected()) {
            return GdiFailure("SelectObject");
        }
        BLENDFUNCTION blend = {AC_SRC_OVER, 0, Level(alpha),
                               static_cast<BYTE>(image.hasAlpha ? AC_SRC_ALPHA : 0)};
        if (!::GdiAlphaBlend(dc_, -8, -8, width * 16 + 16, height * 16 + 16, source.Get(), 0, 0, width,
                             height, blend)) {
            return GdiFailure("GdiAlphaBlend");
        }
        return S_OK;
    }

    // Draws inside the geometry's area only.
    template <typename Draw>
    HRESULT WithClip(const Geometry& geometry, Draw draw, const Space* shared = nullptr) {
        DcScope scope(*this);
        if (!scope.Saved()) {
            return GdiFailure("SaveDC");
        }
        bool visible = false;
        HRESULT hr = ClipTo(geometry, visible, shared);
        if (FAILED(hr) || !visible) {
            return hr;
        }
        return draw();
    }

    // Narrows the DC's clip to the geometry's fill; visible false when
    // nothing can show inside it.
    HRESULT ClipTo(const Geometry& geometry, bool& visible, const Space* shared = nullptr) {
        visible = false;
        Space space;
        HRESULT hr = HasArea(geometry) ? Enter(Bounds(geometry), space, visible, shared) : S_OK;
        if (FAILED(hr) || !visible) {
            return hr;
        }
        hr = EmitPath(dc_, geometry, space, false);
        if (SUCCEEDED(hr)) {
            hr = SetFillRule(geometry.fillRule);
        }
        // A clip without area fails to select, and shows nothing.
        visible = SUCCEEDED(hr) && ::SelectClipPath(dc_, RGN_AND);
        return SUCCEEDED(hr) ? Charge(2 * kRecordBytes) : hr;
    }

    HRESULT SetFillRule(FillRule rule) {
        return ::SetPolyFillMode(dc_, rule == FillRule::EvenOdd ? ALTERNATE : WINDING) != 0
                   ? S_OK
                   : GdiFailure("SetPolyFillMode");
    }

    // The logical space for bounds of the current space (or the shared one
    // given), set on the DC.
    HRESULT Enter(const Rect& bounds, Space& space, bool& visible, const Space* shared = nullptr) {
        visible = false;
        if (shared != nullptr) {
            space = *shared;
        } else if (!SpaceFor(bounds, space)) {
            return S_OK;
        }
        return SetTransform(space, visible);
    }

    // The DC's world transform: from the space's logical units through the
    // current space to the reference device; visible false for a transform
    // that flattens the plane or leaves every reach.
    HRESULT SetTransform(const Space& space, bool& visible) {
        Matrix logical{1 / space.scale, 0, 0, 1 / space.scale, space.anchor.x, space.anchor.y};
        Matrix m = Multiply(Multiply(logical, current_), device_);
        XFORM transform = {static_cast<FLOAT>(m.m11), static_cast<FLOAT>(m.m12), static_cast<FLOAT>(m.m21),
                           static_cast<FLOAT>(m.m22), static_cast<FLOAT>(m.dx),  static_cast<FLOAT>(m.dy)};
        double determinant = static_cast<double>(transform.eM11) * transform.eM22 -
                             static_cast<double>(transform.eM12) * transform.eM21;
        visible = std::fabs(determinant) > 1e-30 && std::fabs(m.dx) < kMaxExtent &&
                  std::fabs(m.dy) < kMaxExtent && std::isfinite(determinant);
        if (visible && !::SetWorldTransform(dc_, &transform)) {
            return GdiFailure("SetWorldTransform");
        }
        return S_OK;
    }

    // Which segments of a figure go in cubic records: its cubics, and runs
    // of a few lines between them, which as cubics cost less than the
    // records a change of kind would.
    static std::vector<bool> CubicRuns(const Figure& figure) {
        const std::size_t kShortRun = 6;
        std::vector<bool> cubic(figure.segments.size());
        bool any = false;
        for (const Segment& segment : figure.segments) {
            any = any || segment.cubic;
        }
        for (std::size_t i = 0; i < cubic.size();) {
            std::size_t end = i;
            while (end < cubic.size() && !figure.segments[end].cubic) {
                ++end;
            }
            bool asCubic = end == i || (any && end - i <= kShortRun);
            for (std::size_t k = i; k < std::max(end, i + 1); ++k) {
                cubic[k] = asCubic;
            }
            i = std::max(end, i + 1);
        }
        return cubic;
    }

    // The geometry as a DC's path in the space's logical units: for a
    // fill, the filled figures; for a stroke, every figure, broken where a
    // segment is not stroked. Runs of lines and of cubics go as one record.
    HRESULT EmitPath(HDC dc, const Geometry& geometry, const Space& space, bool forStroke) {
        std::uint64_t points = 0;
        for (const Figure& figure : geometry.figures) {
            points += 1 + figure.segments.size() * 3;
        }
        HRESULT hr = Charge(points * 4 + geometry.figures.size() * 3 * kRecordBytes);
        if (FAILED(hr)) {
            return hr;
        }
        if (!::BeginPath(dc)) {
            return GdiFailure("BeginPath");
        }
        std::vector<POINT> run;
        bool cubics = false;
        auto flush = [&]() {
            BOOL drawn = run.empty() ? TRUE
                         : cubics    ? ::PolyBezierTo(dc, run.data(), static_cast<DWORD>(run.size()))
                                     : ::PolylineTo(dc, run.data(), static_cast<DWORD>(run.size()));
            run.clear();
            return drawn ? S_OK : GdiFailure(cubics ? "PolyBezierTo" : "PolylineTo");
        };
        auto move = [&](Point p) {
            POINT at = ToLogical(p, space);
            return ::MoveToEx(dc, at.x, at.y, nullptr) ? S_OK : GdiFailure("MoveToEx");
        };
        for (const Figure& figure : geometry.figures) {
            if (figure.segments.empty() || (!forStroke && !figure.filled)) {
                continue;
            }
            hr = move(figure.start);
            bool broken = false;
            std::vector<bool> asCubic = CubicRuns(figure);
            Point at = figure.start;
            for (std::size_t i = 0; i < figure.segments.size(); at = figure.segments[i++].end) {
                const Segment& segment = figure.segments[i];
                if (FAILED(hr)) {
                    return hr;
                }
                if (forStroke && !segment.stroked) {
                    hr = flush();
                    hr = SUCCEEDED(hr) ? move(segment.end) : hr;
                    broken = true;
                    continue;
                }
                if (asCubic[i] != cubics) {
                    hr = flush();
                    cubics = asCubic[i];
                }
                if (asCubic[i]) {
                    // A line among cubics as a cubic of its own straight line.
                    run.push_back(ToLogical(segment.cubic ? segment.control1 : at, space));
                    run.push_back(ToLogical(segment.cubic ? segment.control2 : segment.end, space));
                }
                run.push_back(ToLogical(segment.end, space));
            }
            // A figure broken by a segment not stroked closes with a line of
            // its own: closing it would close the last piece.
            if (SUCCEEDED(hr) && figure.closed && broken) {
                hr = cubics ? flush() : S_OK;
                cubics = false;
                run.push_back(ToLogical(figure.start, space));
            }
            hr = SUCCEEDED(hr) ? flush() : hr;
            if (SUCCEEDED(hr) && figure.closed && !broken && !::CloseFigure(dc)) {
                hr = GdiFailure("CloseFigure");
            }
            if (FAILED(hr)) {
                return hr;
            }
        }
        return ::EndPath(dc) ? S_OK : GdiFailure("EndPath");
    }

    EmfWriter& writer_;
    const Page& page_;
    HDC dc_;
    Matrix device_;   // from the page's XPS units to the reference device's
    Matrix current_;  // from the element's space to the page's
    double alpha_ = 1;
    int visuals_ = 0;  // visual brushes' tiles being drawn, one inside another
    std::uint64_t bytes_ = 0;
    // The one pixel BlendColor stretches; the DC goes before the bitmap.
    GdiObject swatch_;
    MemoryDc swatchDc_;
    void* swatchBits_ = nullptr;
    MemoryDc widenDc_;  // where strokes are widened
};

EmfWriter::EmfWriter(ByteSink sink, const xps::XpsPackage& package,
                     std::function<HRESULT(unsigned)> beginFile, std::wstring title,
                     std::uint64_t maxPageBytes)
    : sink_(std::move(sink)),
      package_(package),
      beginFile_(std::move(beginFile)),
      maxPageBytes_(maxPageBytes),
      fonts_(package) {
    description_ = ZORVANE_WIDE(ZORVANE_PRODUCT_NAME);
    description_ += L'\0';
    description_ += title;
    description_ += L'\0';
}

EmfWriter::~EmfWriter() = default;

HRESULT EmfWriter::Begin() { return beginFile_ ? S_OK : E_INVALIDARG; }

HRESULT EmfWriter::AddPage(const Page& page) {
    ++pages_;
    auto hundredths = [](double size) {
        return static_cast<LONG>(std::lround(std::max(1.0, std::min(1e7, size / kXpsUnitsPerMm * 100))));
    };
    RECT frame = {0, 0, hundredths(page.width), hundredths(page.height)};
    MetafileDc dc(::CreateEnhMetaFileW(nullptr, nullptr, &frame, description_.c_str()));
    if (!dc) {
        return GdiFailure("CreateEnhMetaFileW");
    }
    // The reference device's units, as the header records them.
    double across = ::GetDeviceCaps(dc.Get(), HORZRES), acrossMm = ::GetDeviceCaps(dc.Get(), HORZSIZE);
    double down = ::GetDeviceCaps(dc.Get(), VERTRES), downMm = ::GetDeviceCaps(dc.Get(), VERTSIZE);
    if (!(across > 0 && acrossMm > 0 && down > 0 && downMm > 0)) {
        return GdiFailure("GetDeviceCaps");
    }
    Matrix device{across / acrossMm / kXpsUnitsPerMm, 0, 0, down / downMm / kXpsUnitsPerMm, 0, 0};
    if (!::SetGraphicsMode(dc.Get(), GM_ADVANCED)) {
        return GdiFailure("SetGraphicsMode");
    }
    if (!::SetStretchBltMode(dc.Get(), COLORONCOLOR)) {
        return GdiFailure("SetStretchBltMode");
    }
    HRESULT hr = PageRecorder(*this, page, dc.Get(), device).DrawPage();
    if (FAILED(hr)) {
        return hr;
    }
    EnhMetaFile metafile(::CloseEnhMetaFile(dc.Release()));
    if (!metafile) {
        return GdiFailure("CloseEnhMetaFile");
    }
    UINT size = ::GetEnhMetaFileBits(metafile.Get(), 0, nullptr);
    std::string bytes(size, '\0');
    if (size == 0 || ::GetEnhMetaFileBits(metafile.Get(), size, reinterpret_cast<BYTE*>(&bytes[0])) != size) {
        return GdiFailure("GetEnhMetaFileBits");
    }
    hr = beginFile_(pages_);
    return SUCCEEDED(hr) ? sink_(bytes.data(), bytes.size()) : hr;
}

HRESULT EmfWriter::Finish() { return S_OK; }

HRESULT EmfWriter::ImageFor(const Image& image, std::shared_ptr<const ImageEntry>& entry) {
    std::wstring key = xps::PartKey(image.part);
    auto found = images_.find(key);
    if (found != images_.end()) {
        entry = found->second;
        return S_OK;
    }
    DecodedImage decoded;
    HRESULT hr = DecodeImagePart(package_, image.part, decoded);
    if (FAILED(hr)) {
        return hr;
    }
    std::uint64_t stride64 =
        (static_cast<std::uint64_t>(decoded.width) * (decoded.alpha.empty() ? 3 : 4) + 3) & ~3ull;
    if (decoded.width == 0 || decoded.height == 0) {
        return xps::kDamaged;
    }
    if (stride64 * decoded.height > maxPageBytes_) {
        return xps::kOverCap;
    }
    std::shared_ptr<ImageEntry> made(new ImageEntry());
    made->width = static_cast<int>(decoded.width);
    made->height = static_cast<int>(decoded.height);
    made->dpiX = decoded.dpiX > 0 ? decoded.dpiX : 96;
    made->dpiY = decoded.dpiY > 0 ? decoded.dpiY : 96;
    made->hasAlpha = !decoded.alpha.empty();
    int bitsPerPixel = made->hasAlpha ? 32 : 24;
    std::size_t stride = DibStride(made->width, bitsPerPixel);
    made->bits.assign(stride * decoded.height, '\0');
    const unsigned char* colour = reinterpret_cast<const unsigned char*>(decoded.pixels.data());
    const unsigned char* alpha = reinterpret_cast<const unsigned char*>(decoded.alpha.data());
    std::size_t components = decoded.components == 1 ? 1 : 3;
    for (std::size_t y = 0; y < decoded.height; ++y) {
        // DIB rows go bottom-up.
        char* row = &made->bits[stride * (decoded.height - 1 - y)];
        for (std::size_t x = 0; x < decoded.width; ++x) {
            std::size_t i = y * decoded.width + x;
            const unsigned char* c = colour + i * components;
            unsigned a = made->hasAlpha ? alpha[i] : 255;
            unsigned r = c[0], g = c[components == 3 ? 1 : 0], b = c[components == 3 ? 2 : 0];
            char* pixel = row + x * static_cast<std::size_t>(bitsPerPixel / 8);
            pixel[0] = static_cast<char>((b * a + 127) / 255);
            pixel[1] = static_cast<char>((g * a + 127) / 255);
            pixel[2] = static_cast<char>((r * a + 127) / 255);
            if (made->hasAlpha) {
                pixel[3] = static_cast<char>(a);
            }
        }
    }
    if (imageBytes_ + made->bits.size() > kMaxKeptImageBytes) {
        images_.clear();
        imageBytes_ = 0;
    }
    if (made->bits.size() <= kMaxKeptImageBytes) {
        images_[key] = made;
        imageBytes_ += made->bits.size();
    }
    entry = std::move(made);
    return S_OK;
}

}  // namespace engine
