#include "engine/pdfwriter.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "engine/pagedrawing.h"
#include "engine/pdfimage.h"
#include "engine/srgbprofile.h"
#include "engine/tiling.h"
#include "xps/checkedmath.h"
#include "xps/workbudget.h"
#include "xps/xmlwriter.h"

namespace engine {

namespace {

// A page's bounds against which brushes are painted: far beyond any page.
constexpr double kHuge = kHugeExtent;
// Repeats of a reflected or repeated gradient drawn at most.
constexpr int kMaxGradientRepeats = 256;

std::string N(double value) { return PdfNumber(value); }

void AppendMatrix(std::string& out, const Matrix& m) {
    AppendPdfNumbers(out, {m.m11, m.m12, m.m21, m.m22, m.dx, m.dy});
}

std::string MatrixOperands(const Matrix& m) {
    std::string operands;
    AppendMatrix(operands, m);
    return operands;
}

bool AllOpaque(const std::vector<GradientStop>& stops) {
    for (const GradientStop& stop : stops) {
        if (stop.color.a < 1) {
            return false;
        }
    }
    return true;
}

std::string Rgb(const Color& c) { return N(c.r) + " " + N(c.g) + " " + N(c.b); }

}  // namespace

namespace {

// What a page's content and its forms name: one dictionary, each object in
// it once under its one name.
struct PageResources {
    std::string self;                                          // the dictionary's reference
    std::map<std::string, std::string> entries;                // by category: "/Im5 5 0 R..."
    std::map<std::pair<std::string, int>, std::string> names;  // (category, object) -> name
};

}  // namespace

// One page's content (or a form's inside it) and the resources it names.
class PdfWriter::PageContent {
public:
    PageContent(PdfWriter& writer, PageResources& resources) : writer_(writer), resources_(resources) {}

    std::string& Out() { return out_; }

    HRESULT DrawCanvas(const Canvas& canvas) {
        for (const Element& element : canvas.children) {
            HRESULT hr = DrawElement(element);
            if (FAILED(hr)) {
                return hr;
            }
        }
        return S_OK;
    }

    // The page's own content, in PDF/A-1b: transparent elements are drawn as
    // images of the page under them (see Flatten).
    void FlattenOnto(const Page& page) { page_ = &page; }

private:
    HRESULT DrawElement(const Element& element) {
        const ElementBase* base = BaseOf(element);
        if (base == nullptr || base->opacity <= 0) {
            return S_OK;
        }
        if (!xps::ChargeWork(xps::kElementCost)) {
            return xps::WorkBudget::Current()->Failure();
        }
        if (page_ != nullptr && Translucent(element, *base)) {
            HRESULT flattened = Flatten(element, *base);
            drawn_.insert(&element);
            return flattened;
        }
        Matrix outerToPage = toPage_;
        toPage_ = Multiply(base->transform, toPage_);
        HRESULT hr = DrawTransformed(element, base);
        toPage_ = outerToPage;
        drawn_.insert(&element);
        return hr;
    }

    // Whether an element lets what is under it show through: a group's
    // opacity or mask, or a brush with alpha (an image's own too).
    bool Translucent(const Element& element, const ElementBase& base) {
        auto brushTranslucent = [this](const std::shared_ptr<const Brush>& brush) {
            if (!brush) {
                return false;
            }
            bool stops = false;
            for (const GradientStop& stop : brush->stops) {
                stops = stops || stop.color.a < 1;
            }
            return brush->opacity < 1 || stops || (brush->kind == BrushKind::Solid && brush->color.a < 1) ||
                   (brush->kind == BrushKind::Image && brush->image && writer_.ImageHasAlpha(*brush->image));
        };
        return base.opacity < 1 || base.opacityMask ||
               (element.kind == ElementKind::Path &&
                (brushTranslucent(element.path->fill) || brushTranslucent(element.path->stroke))) ||
               (element.kind == ElementKind::Glyphs && brushTranslucent(element.glyphs->fill));
    }

    // The element's area of the page, drawn with everything under it and the
    // element itself, as one opaque image: PDF/A-1 has no transparency.
    HRESULT Flatten(const Element& element, const ElementBase& base) {
        Rect area = Intersection(TransformedBounds(ElementBounds(element), Multiply(base.transform, toPage_)),
                                 Rect{0, 0, page_->width, page_->height});
        if (!(area.width > 0 && area.height > 0)) {
            return S_OK;
        }
        // What was drawn and the element: the set itself, not a copy of it
        // for every element (the element is counted drawn from here on).
        drawn_.insert(&element);
        RasterOptions raster;
        raster.dpi = writer_.options_.dpi;
        raster.area = area;
        raster.only = &drawn_;
        unsigned width = 0, height = 0;
        std::string rgb;
        if (!writer_.rasteriser_) {
            writer_.rasteriser_.reset(new Rasteriser(writer_.package_));
        }
        HRESULT hr = writer_.rasteriser_->DrawRgb(*page_, raster, width, height, rgb);
        int image = 0;
        if (SUCCEEDED(hr)) {
            image = writer_.file_.Reserve();
            hr = writer_.file_.WriteStream(image,
                                           "/Type/XObject/Subtype/Image/Width " + std::to_string(width) +
                                               "/Height " + std::to_string(height) +
                                               "/ColorSpace/DeviceRGB/BitsPerComponent 8",
                                           rgb, true);
        }
        if (FAILED(hr)) {
            return hr;
        }
        // From the canvas's space back to the page's, then the image's unit
        // square onto the area, its first row at the top.
        Matrix toCanvas;
        if (!Invert(toPage_, toCanvas)) {
            return S_OK;
        }
        Matrix place{area.width, 0, 0, -area.height, area.x, area.y + area.height};
        out_ += "q\n" + MatrixOperands(Multiply(place, toCanvas)) + " cm\n" + Name("XObject", "Im", image) +
                " Do\nQ\n";
        return S_OK;
    }

    HRESULT DrawTransformed(const Element& element, const ElementBase* base) {
        out_ += "q\n";
        if (!base->transform.IsIdentity()) {
            AppendMatrix(out_, base->transform);
            out_ += " cm\n";
        }
        if (base->clip) {
            Clip(*base->clip);
        }
        HRESULT hr = S_OK;
        bool grouped = base->opacity < 1 || base->opacityMask;
        if (grouped && writer_.options_.conformance != PdfConformance::PdfA1b) {
            hr = DrawGrouped(element, *base);
        } else {
            // PDF/A-1 has no transparency: what the element's opacity lets
            // through is mixed with white paper instead.
            double outer = flatten_;
            flatten_ *= grouped ? base->opacity : 1;
            hr = DrawContent(element);
            flatten_ = outer;
        }
        out_ += "Q\n";
        return hr;
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

    // Opacity and opacity masks apply to what the element draws as a whole:
    // a transparency group, drawn through a graphics state.
    HRESULT DrawGrouped(const Element& element, const ElementBase& base) {
        if (!xps::ChargeWork(xps::kGroupCost)) {
            return xps::WorkBudget::Current()->Failure();
        }
        PageContent inner(writer_, resources_);
        inner.flatten_ = flatten_;
        HRESULT hr = inner.DrawContent(element);
        if (FAILED(hr)) {
            return hr;
        }
        int form = 0;
        hr = Form(inner.out_, form);
        int mask = 0;
        if (SUCCEEDED(hr) && base.opacityMask) {
            PageContent maskContent(writer_, resources_);
            maskContent.Paint(*base.opacityMask, Rect{-kHuge / 2, -kHuge / 2, kHuge, kHuge}, 1);
            int maskForm = 0;
            hr = Form(maskContent.out_, maskForm);
            if (SUCCEEDED(hr)) {
                mask = writer_.file_.Reserve();
                hr = writer_.file_.WriteObject(mask,
                                               "<</Type/Mask/S/Alpha/G " + PdfReference(maskForm) + ">>");
            }
        }
        if (FAILED(hr)) {
            return hr;
        }
        out_ += Name("ExtGState", "GS", writer_.ExtGState(base.opacity, base.opacity, mask)) + " gs\n";
        out_ += Name("XObject", "Fm", form) + " Do\n";
        return S_OK;
    }

    HRESULT Form(const std::string& content, int& id) {
        id = writer_.file_.Reserve();
        return writer_.file_.WriteStream(
            id,
            "/Type/XObject/Subtype/Form/BBox[" + N(-kHuge) + " " + N(-kHuge) + " " + N(kHuge) + " " +
                N(kHuge) + "]/Group<</S/Transparency/CS/DeviceRGB>>" + "/Resources " + resources_.self,
            content, true);
    }

    // A resource name for an object, added to the page's dictionary.
    std::string Name(const std::string& category, const char* stem, int id) {
        auto named = resources_.names.emplace(std::make_pair(category, id), std::string());
        if (named.second) {
            named.first->second = "/" + std::string(stem) + std::to_string(id);
            resources_.entries[category] += named.first->second + " " + PdfReference(id);
        }
        return named.first->second;
    }

    // Operands and what follows them ("1 2 l\n"), appended without a
    // string for each number: page content is made of these.
    void Operation(std::initializer_list<double> operands, const char* rest) {
        AppendPdfNumbers(out_, operands);
        out_ += rest;
    }

    void PathOperators(const Geometry& geometry, bool forStroke) {
        WalkPath(
            geometry, forStroke,
            [&](Point p) {
                Operation({p.x, p.y}, " m\n");
            },
            [&](Point p) {
                Operation({p.x, p.y}, " l\n");
            },
            [&](Point control1, Point control2, Point end) {
                Operation({control1.x, control1.y, control2.x, control2.y, end.x, end.y}, " c\n");
            },
            [&]() { out_ += "h\n"; });
    }

    void Clip(const Geometry& geometry) {
        PathOperators(geometry, false);
        out_ += geometry.fillRule == FillRule::EvenOdd ? "W* n\n" : "W n\n";
    }

    HRESULT DrawPath(const PathElement& path) {
        if (path.fill && !path.data.Empty()) {
            HRESULT hr = Fill(path.data, *path.fill);
            if (FAILED(hr)) {
                return hr;
            }
        }
        if (path.stroke && !path.data.Empty() && path.strokeStyle.thickness > 0) {
            StrokePath(path);
        }
        return S_OK;
    }

    // Where each glyph stands; the characters each shows are kept for the
    // font's Unicode map.
    std::vector<PlacedGlyph> Place(const GlyphsElement& glyphs, PdfFonts::Entry& entry) {
        std::vector<PlacedGlyph> placed = PlaceGlyphs(glyphs, entry.font);
        for (std::size_t i = 0; i < placed.size(); ++i) {
            const Glyph& glyph = glyphs.glyphs[i];
            if (glyph.characterCount > 0 && glyph.firstCharacter < glyphs.text.size()) {
                entry.Name(placed[i].index, glyphs.text, glyph.firstCharacter, glyph.characterCount);
            }
        }
        return placed;
    }

    HRESULT DrawGlyphs(const GlyphsElement& glyphs) {
        if (!glyphs.fill || glyphs.glyphs.empty() || !(glyphs.emSize > 0)) {
            return S_OK;
        }
        PdfFonts::Entry* entry = nullptr;
        HRESULT hr = writer_.fonts_.For(glyphs.fontPart, glyphs.fontFace, entry);
        if (FAILED(hr)) {
            return hr;
        }
        std::vector<PlacedGlyph> placed = Place(glyphs, *entry);
        bool italic = SimulatesItalic(glyphs.simulations);
        bool bold = SimulatesBold(glyphs.simulations);
        if (!entry->asText) {
            return DrawOutlines(glyphs, *entry, placed, bold);
        }
        const Brush& brush = *glyphs.fill;
        bool solid = brush.kind == BrushKind::Solid;
        out_ += "q\n";
        if (solid) {
            Alpha(brush.color.a * brush.opacity, brush.color.a * brush.opacity);
            std::string color = Shade(brush.color, brush.color.a * brush.opacity);
            out_ += color;
            out_ += " rg ";
            out_ += color;
            out_ += " RG\n";
        }
        // Bold: the outline stroked too, a fiftieth of the size wide.
        if (bold) {
            Operation({glyphs.emSize * kBoldStrokeEm}, " w\n");
        }
        out_ += "BT\n";
        out_ += Name("Font", "F", entry->id);
        out_ += !solid ? " 1 Tf\n7 Tr\n" : bold ? " 1 Tf\n2 Tr\n" : " 1 Tf\n0 Tr\n";
        double em = glyphs.emSize;
        double shear = italic ? em * kItalicShear : 0;
        bool oneLine = glyphs.bidiLevel % 2 == 0 && !glyphs.sideways;
        for (const Glyph& glyph : glyphs.glyphs) {
            oneLine = oneLine && glyph.offsetU == 0 && glyph.offsetV == 0;
        }
        if (oneLine) {
            // One run: the glyphs' own widths move the pen, and TJ's numbers
            // make up the difference to the advances XPS gives.
            double scale = em / entry->font.Metrics().unitsPerEm;
            Operation({em, 0, shear, -em, placed[0].x, placed[0].y}, " Tm[");
            for (std::size_t i = 0; i < placed.size(); ++i) {
                entry->Use(placed[i].index);
                AppendHexGlyph(placed[i].index);
                if (i + 1 < placed.size()) {
                    double gap = placed[i + 1].x - placed[i].x - entry->font.Advance(placed[i].index) * scale;
                    if (std::fabs(gap) > em * 1e-5) {
                        AppendPdfNumbers(out_, {-gap * 1000 / em});
                    }
                }
            }
            out_ += "]TJ\n";
        } else {
            for (const PlacedGlyph& glyph : placed) {
                entry->Use(glyph.index);
                // Glyph space is y up; the page's is y down.
                Operation({em, 0, shear, -em, glyph.x, glyph.y}, " Tm");
                AppendHexGlyph(glyph.index);
                out_ += "Tj\n";
            }
        }
        out_ += "ET\n";
        if (!solid) {
            Paint(brush, Rect{-kHuge / 2, -kHuge / 2, kHuge, kHuge}, 1);
        }
        out_ += "Q\n";
        return S_OK;
    }

    // The glyph's index as a string: "<0041>".
    void AppendHexGlyph(std::uint16_t glyph) {
        static const char kHex[] = "0123456789ABCDEF";
        const char text[] = {
            '<', kHex[glyph >> 12], kHex[(glyph >> 8) & 15], kHex[(glyph >> 4) & 15], kHex[glyph & 15], '>'};
        out_.append(text, sizeof(text));
    }

    // Text a font's rights keep out of the file: its glyphs as filled paths.
    HRESULT DrawOutlines(const GlyphsElement& glyphs, PdfFonts::Entry& entry,
                         const std::vector<PlacedGlyph>& placed, bool bold) {
        Geometry all;
        HRESULT outlined = GlyphOutlines(glyphs, entry.font, placed, all);
        if (FAILED(outlined)) {
            return outlined;
        }
        HRESULT hr = Fill(all, *glyphs.fill);
        if (SUCCEEDED(hr) && bold && glyphs.fill->kind == BrushKind::Solid) {
            PathElement stroke;
            stroke.data = all;
            stroke.stroke = glyphs.fill;
            stroke.strokeStyle.thickness = glyphs.emSize * kBoldStrokeEm;
            StrokePath(stroke);
        }
        return hr;
    }

    HRESULT Fill(const Geometry& geometry, const Brush& brush) {
        if (brush.kind == BrushKind::Solid) {
            out_ += "q\n";
            Alpha(brush.color.a * brush.opacity, 1);
            out_ += Shade(brush.color, brush.color.a * brush.opacity) + " rg\n";
            PathOperators(geometry, false);
            out_ += geometry.fillRule == FillRule::EvenOdd ? "f*\nQ\n" : "f\nQ\n";
            return S_OK;
        }
        out_ += "q\n";
        Clip(geometry);
        Paint(brush, Bounds(geometry), 1);
        out_ += "Q\n";
        return S_OK;
    }

    // A stroke in one colour: gradients and tiles stroke in their average.
    void StrokePath(const PathElement& path) {
        const engine::Stroke& style = path.strokeStyle;
        Color color = path.stroke->kind == BrushKind::Solid ? path.stroke->color
                      : path.stroke->stops.empty()          ? Color{1, 0.5, 0.5, 0.5}
                                                            : ColorAt(path.stroke->stops, 0.5);
        // Caps PDF cannot give (a start unlike the end, a triangle) are
        // filled beside a stroke with flat ends.
        Geometry ends = style.startCap != style.endCap || style.startCap == LineCap::Triangle
                            ? StrokeEnds(path.data, style)
                            : Geometry();
        LineCap cap = ends.Empty() ? style.startCap : LineCap::Flat;
        out_ += "q\n";
        Alpha(color.a * path.stroke->opacity, color.a * path.stroke->opacity);
        std::string shade = Shade(color, color.a * path.stroke->opacity);
        out_ += shade + " RG " + shade + " rg\n" + N(style.thickness) + " w\n";
        static const char* kCaps[] = {"0", "2", "1", "1"};  // flat, square, round, triangle (as round)
        static const char* kJoins[] = {"0", "2", "1"};
        out_ += std::string(kCaps[static_cast<int>(cap)]) + " J\n" + kJoins[static_cast<int>(style.join)] +
                " j\n" + N(std::max(1.0, style.miterLimit)) + " M\n";
        if (!style.dashes.empty()) {
            out_ += "[";
            for (double dash : style.dashes) {
                out_ += N(dash * style.thickness) + " ";
            }
            out_ += "] " + N(style.dashOffset * style.thickness) + " d\n";
        }
        PathOperators(path.data, true);
        out_ += "S\n";
        if (!ends.Empty()) {
            PathOperators(ends, false);
            out_ += "f\n";
        }
        out_ += "Q\n";
    }

    // A colour's operands; in PDF/A-1, mixed with white by its alpha, since
    // the file may hold no transparency.
    std::string Shade(const Color& color, double alpha) const {
        if (writer_.options_.conformance != PdfConformance::PdfA1b) {
            return Rgb(color);
        }
        double a = std::max(0.0, std::min(1.0, alpha * flatten_));
        return Rgb(Color{1, 1 - a + a * color.r, 1 - a + a * color.g, 1 - a + a * color.b});
    }

    void Alpha(double fill, double stroke) {
        fill = std::max(0.0, std::min(1.0, fill));
        stroke = std::max(0.0, std::min(1.0, stroke));
        if (fill < 1 || stroke < 1) {
            if (writer_.options_.conformance == PdfConformance::PdfA1b) {
                return;  // no transparency in PDF/A-1
            }
            out_ += Name("ExtGState", "GS", writer_.ExtGState(fill, stroke, 0)) + " gs\n";
        }
    }

    // Paints a brush over area (in the current space), which a clip bounds.
    void Paint(const Brush& brush, const Rect& area, double opacity) {
        switch (brush.kind) {
            case BrushKind::Solid:
                out_ += "q\n";
                Alpha(brush.color.a * brush.opacity * opacity, 1);
                out_ += Shade(brush.color, brush.color.a * brush.opacity * opacity) + " rg\n" + N(area.x) +
                        " " + N(area.y) + " " + N(area.width) + " " + N(area.height) + " re f\nQ\n";
                return;
            case BrushKind::LinearGradient:
            case BrushKind::RadialGradient:
                if (brush.interpolateLinearLight) {
                    // The shading interpolates in sRGB: stops close enough
                    // that it follows linear light.
                    Brush srgb = brush;
                    srgb.stops = StopsWithinUnit(brush);
                    srgb.interpolateLinearLight = false;
                    PaintGradient(srgb, area, opacity);
                } else {
                    PaintGradient(brush, area, opacity);
                }
                return;
            case BrushKind::Image:
                PaintImage(brush, area, opacity);
                return;
            case BrushKind::Visual:
                PaintVisual(brush, area, opacity);
                return;
        }
    }

    // The gradient's function over [t0, t1], reflected or repeated outside
    // [0, 1] as its spread says.
    std::string Function(const Brush& brush, double t0, double t1, bool alpha, double opacity) {
        std::vector<std::pair<double, Color>> points;
        auto colorAt = [&](double t) {
            double u = t;
            if (brush.spread != SpreadMethod::Pad) {
                double period = std::floor(t);
                u = t - period;
                if (brush.spread == SpreadMethod::Reflect && std::fmod(period, 2.0) != 0) {
                    u = 1 - u;
                }
            }
            return ColorAt(brush.stops, std::max(0.0, std::min(1.0, u)));
        };
        points.emplace_back(t0, colorAt(t0));
        const long long last =
            xps::Clamped<long long>(std::ceil(t1), -kMaxGradientRepeats, kMaxGradientRepeats);
        for (long long k = xps::Clamped<long long>(std::floor(t0), -kMaxGradientRepeats, kMaxGradientRepeats);
             k <= last; ++k) {
            for (const GradientStop& stop : brush.stops) {
                for (double t : {k + stop.offset, k + 1 - stop.offset}) {
                    if (t > t0 && t < t1 && (brush.spread == SpreadMethod::Reflect || t == k + stop.offset)) {
                        points.emplace_back(t, colorAt(t));
                    }
                }
            }
            if (k > t0 && k < t1) {
                points.emplace_back(k, colorAt(k - 1e-9));
                points.emplace_back(k, colorAt(k));
            }
        }
        points.emplace_back(t1, colorAt(t1));
        std::stable_sort(points.begin(), points.end(),
                         [](const std::pair<double, Color>& a, const std::pair<double, Color>& b) {
                             return a.first < b.first;
                         });
        auto components = [&](const Color& c) { return alpha ? N(c.a) : Shade(c, c.a * opacity); };
        std::string functions, bounds, encode;
        int count = 0;
        for (std::size_t i = 1; i < points.size(); ++i) {
            if (points[i].first <= points[i - 1].first && i + 1 < points.size()) {
                continue;
            }
            functions += "<</FunctionType 2/Domain[0 1]/C0[" + components(points[i - 1].second) + "]/C1[" +
                         components(points[i].second) + "]/N 1>>";
            if (count > 0) {
                bounds += N(points[i - 1].first) + " ";
            }
            encode += "0 1 ";
            ++count;
        }
        return "<</FunctionType 3/Domain[" + N(t0) + " " + N(t1) + "]/Functions[" + functions + "]/Bounds[" +
               bounds + "]/Encode[" + encode + "]>>";
    }

    void PaintGradient(const Brush& brush, const Rect& area, double opacity) {
        if (brush.stops.empty()) {
            return;
        }
        Matrix toBrush;  // from the current space into the brush's
        Matrix inverse;
        bool invertible = Invert(brush.transform, inverse);
        if (!invertible) {
            return;
        }
        out_ += "q\n";
        if (!brush.transform.IsIdentity()) {
            out_ += MatrixOperands(brush.transform) + " cm\n";
        }
        Rect region = TransformedBounds(area, inverse);
        std::string coords;
        double t0 = 0, t1 = 1;
        int type = 2;
        if (brush.kind == BrushKind::LinearGradient) {
            double vx = brush.end.x - brush.start.x, vy = brush.end.y - brush.start.y;
            double length2 = vx * vx + vy * vy;
            if (!(length2 > 1e-12)) {
                out_ += "Q\n";
                return;
            }
            if (brush.spread != SpreadMethod::Pad) {
                // The range of t over the region's corners.
                t0 = kHuge, t1 = -kHuge;
                for (Point p : {Point{region.x, region.y}, Point{region.x + region.width, region.y},
                                Point{region.x, region.y + region.height},
                                Point{region.x + region.width, region.y + region.height}}) {
                    double t = ((p.x - brush.start.x) * vx + (p.y - brush.start.y) * vy) / length2;
                    t0 = std::min(t0, t);
                    t1 = std::max(t1, t);
                }
                t0 = std::max(t0, -static_cast<double>(kMaxGradientRepeats) / 2);
                t1 = std::min(t1, static_cast<double>(kMaxGradientRepeats) / 2);
            }
            coords = N(brush.start.x + vx * t0) + " " + N(brush.start.y + vy * t0) + " " +
                     N(brush.start.x + vx * t1) + " " + N(brush.start.y + vy * t1);
        } else {
            if (!(brush.radiusX > 0 && brush.radiusY > 0)) {
                out_ += "Q\n";
                return;
            }
            // The ellipse as a circle of radius radiusX in a space squeezed
            // vertically; repeats are drawn as far as the region reaches.
            double squeeze = brush.radiusY / brush.radiusX;
            out_ += "1 0 0 " + N(squeeze) + " 0 0 cm\n";
            region = TransformedBounds(region, Matrix{1, 0, 0, 1 / squeeze, 0, 0});
            if (brush.spread != SpreadMethod::Pad) {
                double reach =
                    std::hypot(std::max(std::fabs(region.x - brush.center.x),
                                        std::fabs(region.x + region.width - brush.center.x)),
                               std::max(std::fabs(region.y - brush.center.y / squeeze),
                                        std::fabs(region.y + region.height - brush.center.y / squeeze)));
                t1 = std::min(static_cast<double>(kMaxGradientRepeats), reach / brush.radiusX + 1);
            }
            type = 3;
            double ox = brush.gradientOrigin.x, oy = brush.gradientOrigin.y / squeeze;
            double cx = brush.center.x, cy = brush.center.y / squeeze;
            // Beyond t = 1 the circles grow from the origin through the ellipse.
            coords = N(ox) + " " + N(oy) + " 0 " + N(ox + (cx - ox) * t1) + " " + N(oy + (cy - oy) * t1) +
                     " " + N(brush.radiusX * t1);
        }
        std::string extend = brush.spread == SpreadMethod::Pad ? "/Extend[true true]" : "/Extend[true true]";
        std::string shading = "<</ShadingType " + std::to_string(type) + "/ColorSpace/DeviceRGB/Coords[" +
                              coords + "]/Domain[" + N(t0) + " " + N(t1) + "]/Function " +
                              Function(brush, t0, t1, false, brush.opacity * opacity) + extend + ">>";
        double alpha = brush.opacity * opacity;
        if (!AllOpaque(brush.stops) && writer_.options_.conformance != PdfConformance::PdfA1b) {
            // Stops' own alpha: a soft mask of the same shading in grey.
            std::string maskShading = "<</ShadingType " + std::to_string(type) +
                                      "/ColorSpace/DeviceGray/Coords[" + coords + "]/Domain[" + N(t0) + " " +
                                      N(t1) + "]/Function " + Function(brush, t0, t1, true, 1) + extend +
                                      ">>";
            int maskForm = writer_.file_.Reserve();
            writer_.file_.WriteStream(
                maskForm,
                "/Type/XObject/Subtype/Form/BBox[" + N(-kHuge) + " " + N(-kHuge) + " " + N(kHuge) + " " +
                    N(kHuge) + "]/Group<</S/Transparency/CS/DeviceGray>>/Resources<</Shading<</Sh0 " +
                    maskShading + ">>>>",
                "/Sh0 sh", true);
            int mask = writer_.file_.Reserve();
            writer_.file_.WriteObject(mask, "<</Type/Mask/S/Luminosity/G " + PdfReference(maskForm) + ">>");
            out_ += Name("ExtGState", "GS", writer_.ExtGState(alpha, alpha, mask)) + " gs\n";
        } else {
            Alpha(alpha, 1);
        }
        int id = writer_.file_.Reserve();
        writer_.file_.WriteObject(id, shading);
        out_ += Name("Shading", "Sh", id) + " sh\nQ\n";
    }

    // The part of the tile plane the area needs: the viewport repeated.
    void PaintTiles(const Brush& brush, const Rect& area, const std::string& tile) {
        TileGrid grid;
        if (!TilesCovering(brush, area, grid)) {
            return;
        }
        out_ += "q\n";
        if (!brush.transform.IsIdentity()) {
            out_ += MatrixOperands(brush.transform) + " cm\n";
        }
        const Rect& vp = brush.viewport;
        for (long long j = grid.j0; j <= grid.j1; ++j) {
            // Each tile repeats the tile's content: paid for by its bytes, which
            // the page's content holds, and holds again as it grows.
            for (long long i = grid.i0; i <= grid.i1 && xps::ChargeWork(xps::kTileCost + 4 * tile.size());
                 ++i) {
                out_ += "q\n" + MatrixOperands(TilePlacement(brush, i, j)) + " cm\n0 0 " + N(vp.width) + " " +
                        N(vp.height) + " re W n\n" + tile + "Q\n";
            }
        }
        out_ += "Q\n";
    }

    void PaintImage(const Brush& brush, const Rect& area, double opacity) {
        if (!brush.image) {
            return;
        }
        int id = 0;
        double width = 0, height = 0;
        HRESULT hr = writer_.ImageObject(*brush.image, id, width, height);
        if (FAILED(hr)) {
            failure_ = failure_ == S_OK ? hr : failure_;  // the image's own reason names the job's failure
            return;
        }
        std::string tile;
        double alpha = brush.opacity * opacity;
        if (alpha < 1 && writer_.options_.conformance != PdfConformance::PdfA1b) {
            tile += Name("ExtGState", "GS", writer_.ExtGState(alpha, alpha, 0)) + " gs\n";
        }
        // The image's unit square, upright in this y-down space, at its size.
        Matrix image = Multiply(Matrix{width, 0, 0, -height, 0, height}, ViewboxToTile(brush));
        tile += MatrixOperands(image) + " cm\n" + Name("XObject", "Im", id) + " Do\n";
        PaintTiles(brush, area, tile);
    }

    void PaintVisual(const Brush& brush, const Rect& area, double opacity) {
        if (!brush.visual) {
            return;
        }
        PageContent inner(writer_, resources_);
        inner.flatten_ = flatten_;
        inner.DrawCanvas(*brush.visual);
        std::string tile;
        double alpha = brush.opacity * opacity;
        if (alpha < 1 && writer_.options_.conformance != PdfConformance::PdfA1b) {
            tile += Name("ExtGState", "GS", writer_.ExtGState(alpha, alpha, 0)) + " gs\n";
        }
        tile += MatrixOperands(ViewboxToTile(brush)) + " cm\n" + inner.out_;
        PaintTiles(brush, area, tile);
    }

public:
    HRESULT failure_ = S_OK;
    double flatten_ = 1;  // PDF/A-1: the opacity of the groups around

private:
    // Set for a PDF/A-1b page's own content: the page, the elements drawn
    // so far in painting order, the current canvas's space to the page's.
    const Page* page_ = nullptr;
    std::unordered_set<const Element*> drawn_;
    Matrix toPage_;
    PdfWriter& writer_;
    PageResources& resources_;
    std::string out_;
};

PdfWriter::PdfWriter(ByteSink sink, const xps::XpsPackage& package, PdfOptions options)
    : file_(std::move(sink)),
      package_(package),
      options_(std::move(options)),
      fonts_(file_, package_, options_.conformance == PdfConformance::PdfA1b) {}

PdfWriter::~PdfWriter() = default;

HRESULT PdfWriter::Begin() {
    HRESULT hr = file_.Begin(options_.conformance == PdfConformance::PdfA1b ? "1.4" : "1.7");
    catalog_ = file_.Reserve();
    pages_ = file_.Reserve();
    info_ = file_.Reserve();
    return hr;
}

int PdfWriter::ExtGState(double fillAlpha, double strokeAlpha, int softMask) {
    std::string dictionary = "<</Type/ExtGState/ca " + PdfNumber(fillAlpha) + "/CA " +
                             PdfNumber(strokeAlpha) +
                             (softMask != 0 ? "/SMask " + PdfReference(softMask) : std::string()) + ">>";
    auto found = states_.find(dictionary);
    if (found != states_.end()) {
        return found->second;
    }
    int id = file_.Reserve();
    file_.WriteObject(id, dictionary);
    states_[dictionary] = id;
    return id;
}

HRESULT PdfWriter::ReadImage(const Image& image, PdfImage& pdfImage) const {
    return xps::UnlessFailedBefore(L"pdf image " + xps::PartKey(image.part), [&] {
        std::string bytes;
        HRESULT hr = package_.Read(image.part, bytes);
        return SUCCEEDED(hr) ? MakePdfImage(bytes, options_.conformance == PdfConformance::PdfA1b, pdfImage)
                             : hr;
    });
}

namespace {

std::size_t HeldBytes(const PdfImage& image) {
    return image.data.size() + image.alpha.size() + image.iccProfile.size();
}

}  // namespace

void PdfWriter::Prepare(const Page& page, bool spare) {
    ForEachImage(page.root, [&](const Image& image) {
        // An image is made ahead at its first page or not at all, so that
        // nothing made ahead is left for a writer that has written it.
        std::wstring key = xps::PartKey(image.part);
        if (!preparedKeys_.insert(key).second || !spare) {
            return;
        }
        {
            CriticalSectionLock lock(preparedLock_);
            if (preparedBytes_ >= kMaxPreparedBytes) {
                return;
            }
        }
        PreparedImage ready;
        ready.result = ReadImage(image, ready.image);
        CriticalSectionLock lock(preparedLock_);
        preparedBytes_ += HeldBytes(ready.image);
        prepared_.emplace(std::move(key), std::move(ready));
    });
}

HRESULT PdfWriter::ImageObject(const Image& image, int& id, double& width, double& height) {
    std::wstring key = xps::PartKey(image.part);
    auto found = images_.find(key);
    if (found != images_.end()) {
        id = found->second.id;
        width = found->second.width;
        height = found->second.height;
        return S_OK;
    }
    PdfImage pdfImage;
    HRESULT hr = S_OK;
    bool madeAhead = false;
    {
        CriticalSectionLock lock(preparedLock_);
        auto ready = prepared_.find(key);
        if (ready != prepared_.end()) {
            madeAhead = true;
            hr = ready->second.result;
            pdfImage = std::move(ready->second.image);
            preparedBytes_ -= HeldBytes(pdfImage);
            prepared_.erase(ready);
        }
    }
    if (!madeAhead) {
        hr = ReadImage(image, pdfImage);
    }
    if (FAILED(hr)) {
        return hr;
    }
    int smask = 0;
    if (!pdfImage.alpha.empty()) {
        smask = file_.Reserve();
        hr = file_.WriteStream(smask,
                               "/Type/XObject/Subtype/Image/Width " + std::to_string(pdfImage.width) +
                                   "/Height " + std::to_string(pdfImage.height) +
                                   "/ColorSpace/DeviceGray/BitsPerComponent 8",
                               pdfImage.alpha, true);
    }
    id = file_.Reserve();
    if (SUCCEEDED(hr)) {
        hr = file_.WriteStream(id,
                               "/Type/XObject/Subtype/Image/Width " + std::to_string(pdfImage.width) +
                                   "/Height " + std::to_string(pdfImage.height) + "/ColorSpace" +
                                   pdfImage.colorSpace + "/BitsPerComponent 8" + pdfImage.extra +
                                   (smask != 0 ? "/SMask " + PdfReference(smask) : std::string()),
                               pdfImage.data, pdfImage.filter == nullptr, pdfImage.filter);
    }
    width = pdfImage.width * 96.0 / (pdfImage.dpiX > 0 ? pdfImage.dpiX : 96.0);
    height = pdfImage.height * 96.0 / (pdfImage.dpiY > 0 ? pdfImage.dpiY : 96.0);
    images_[key] = {id, width, height, pdfImage.alphaFlattened};
    return hr;
}

bool PdfWriter::ImageHasAlpha(const Image& image) {
    int id = 0;
    double width = 0, height = 0;
    return SUCCEEDED(ImageObject(image, id, width, height)) &&
           images_[xps::PartKey(image.part)].alphaFlattened;
}

HRESULT PdfWriter::AddPage(const Page& page) {
    PageResources resources;
    int resourcesId = file_.Reserve();
    resources.self = PdfReference(resourcesId);
    PageContent content(*this, resources);
    if (options_.conformance == PdfConformance::PdfA1b) {
        content.FlattenOnto(page);
    }
    // PDF's points, y up, to XPS units, y down.
    content.Out() = "0.75 0 0 -0.75 0 " + PdfNumber(page.height * 0.75) + " cm\n";
    HRESULT hr = content.DrawCanvas(page.root);
    if (SUCCEEDED(hr)) {
        hr = content.failure_;
    }
    int contentId = file_.Reserve();
    if (SUCCEEDED(hr)) {
        hr = file_.WriteStream(contentId, "", content.Out(), true);
    }
    std::string dictionary = "<<";
    for (const auto& category : resources.entries) {
        dictionary += "/" + category.first + "<<" + category.second + ">>";
    }
    dictionary += ">>";
    if (SUCCEEDED(hr)) {
        hr = file_.WriteObject(resourcesId, dictionary);
    }
    int pageId = file_.Reserve();
    if (SUCCEEDED(hr)) {
        hr = file_.WriteObject(
            pageId, "<</Type/Page/Parent " + PdfReference(pages_) + "/MediaBox[0 0 " +
                        PdfNumber(page.width * 0.75) + " " + PdfNumber(page.height * 0.75) + "]/Resources " +
                        PdfReference(resourcesId) + "/Contents " + PdfReference(contentId) + ">>");
    }
    pageIds_.push_back(pageId);
    return hr;
}

namespace {

std::string TwoDigits(unsigned value) {
    return std::string(1, static_cast<char>('0' + value / 10 % 10)) + static_cast<char>('0' + value % 10);
}

// The same moment as PDF's date ("D:20261207163000Z") and XMP's.
void Dates(const SYSTEMTIME& t, std::string& pdf, std::string& xmp) {
    std::string year = std::to_string(t.wYear);
    pdf = "D:" + year + TwoDigits(t.wMonth) + TwoDigits(t.wDay) + TwoDigits(t.wHour) + TwoDigits(t.wMinute) +
          TwoDigits(t.wSecond) + "Z";
    xmp = year + "-" + TwoDigits(t.wMonth) + "-" + TwoDigits(t.wDay) + "T" + TwoDigits(t.wHour) + ":" +
          TwoDigits(t.wMinute) + ":" + TwoDigits(t.wSecond) + "Z";
}

std::string XmlText(const std::wstring& text) {
    std::string out;
    xml::XmlWriter writer(out);
    writer.Text(text);
    return out;
}

}  // namespace

// The outline as PDF's tree of items: each entry the child of the last one
// before it of a lower level.
HRESULT PdfWriter::WriteOutline(int& root) {
    struct Item {
        int id, parent = 0, prev = 0, next = 0, first = 0, last = 0, count = 0;
        const OutlineEntry* entry;
        Item* lastChild = nullptr;
    };
    std::vector<Item> items;
    for (const OutlineEntry& entry : outline_) {
        if (entry.page < pageIds_.size()) {
            items.push_back(Item{file_.Reserve(), 0, 0, 0, 0, 0, 0, &entry});
        }
    }
    if (items.empty()) {
        return S_OK;
    }
    root = file_.Reserve();
    Item top{root, 0, 0, 0, 0, 0, 0, nullptr};
    std::vector<Item*> open{&top};  // the chain of parents, outermost first
    std::vector<int> levels{0};
    for (Item& item : items) {
        while (levels.back() >= item.entry->level) {
            open.pop_back();
            levels.pop_back();
        }
        Item& parent = *open.back();
        item.parent = parent.id;
        if (parent.lastChild != nullptr) {
            parent.lastChild->next = item.id;
            item.prev = parent.lastChild->id;
        } else {
            parent.first = item.id;
        }
        parent.lastChild = &item;
        parent.last = item.id;
        for (Item* ancestor : open) {
            ++ancestor->count;
        }
        open.push_back(&item);
        levels.push_back(item.entry->level);
    }
    HRESULT hr =
        file_.WriteObject(root, "<</Type/Outlines/First " + PdfReference(top.first) + "/Last " +
                                    PdfReference(top.last) + "/Count " + std::to_string(top.count) + ">>");
    for (const Item& item : items) {
        std::string body = "<</Title " + PdfString(item.entry->title) + "/Parent " +
                           PdfReference(item.parent) + "/Dest[" + PdfReference(pageIds_[item.entry->page]) +
                           "/XYZ null null null]";
        for (auto link : {std::make_pair("/Prev ", item.prev), std::make_pair("/Next ", item.next),
                          std::make_pair("/First ", item.first), std::make_pair("/Last ", item.last)}) {
            if (link.second != 0) {
                body += link.first + PdfReference(link.second);
            }
        }
        if (item.count != 0) {
            body += "/Count " + std::to_string(item.count);
        }
        if (SUCCEEDED(hr)) {
            hr = file_.WriteObject(item.id, body + ">>");
        }
    }
    return hr;
}

HRESULT PdfWriter::Finish() {
    HRESULT fontsWritten = fonts_.WriteAll();
    if (FAILED(fontsWritten)) {
        return fontsWritten;
    }
    std::string kids;
    for (int id : pageIds_) {
        kids += PdfReference(id) + " ";
    }
    HRESULT hr = file_.WriteObject(
        pages_, "<</Type/Pages/Kids[" + kids + "]/Count " + std::to_string(pageIds_.size()) + ">>");
    SYSTEMTIME created = options_.created;
    if (created.wYear == 0) {
        ::GetSystemTime(&created);
    }
    std::string pdfDate, xmpDate;
    Dates(created, pdfDate, xmpDate);
    bool archive = options_.conformance != PdfConformance::None;

    // The document's metadata, as the Info dictionary says it too.
    std::string xmp =
        "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
        "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
        "<rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
        "xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\"" +
        std::string(archive ? " xmlns:pdfaid=\"http://www.aiim.org/pdfa/ns/id/\"" : "") +
        "><dc:format>application/pdf</dc:format>";
    if (!options_.title.empty()) {
        xmp += "<dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">" + XmlText(options_.title) +
               "</rdf:li></rdf:Alt></dc:title>";
    }
    if (!options_.author.empty()) {
        xmp +=
            "<dc:creator><rdf:Seq><rdf:li>" + XmlText(options_.author) + "</rdf:li></rdf:Seq></dc:creator>";
    }
    xmp += "<xmp:CreateDate>" + xmpDate + "</xmp:CreateDate><xmp:ModifyDate>" + xmpDate +
           "</xmp:ModifyDate>" + "<xmp:CreatorTool>" + XmlText(options_.creator) +
           "</xmp:CreatorTool><pdf:Producer>" ZORVANE_PRODUCT_NAME "</pdf:Producer>";
    if (archive) {
        xmp += std::string("<pdfaid:part>") + (options_.conformance == PdfConformance::PdfA1b ? "1" : "2") +
               "</pdfaid:part><pdfaid:conformance>B</pdfaid:conformance>";
    }
    xmp += "</rdf:Description></rdf:RDF></x:xmpmeta>\n<?xpacket end=\"w\"?>";
    int metadata = file_.Reserve();
    if (SUCCEEDED(hr)) {
        // Not compressed: PDF/A wants the metadata readable as it stands.
        hr = file_.WriteStream(metadata, "/Type/Metadata/Subtype/XML", xmp, false);
    }
    std::string catalog =
        "<</Type/Catalog/Pages " + PdfReference(pages_) + "/Metadata " + PdfReference(metadata);
    int outline = 0;
    if (SUCCEEDED(hr)) {
        hr = WriteOutline(outline);
    }
    if (outline != 0) {
        catalog += "/Outlines " + PdfReference(outline) + "/PageMode/UseOutlines";
    }
    if (archive) {
        int profile = file_.Reserve();
        if (SUCCEEDED(hr)) {
            hr = file_.WriteStream(profile, "/N 3",
                                   std::string(reinterpret_cast<const char*>(kSrgbProfile), kSrgbProfileSize),
                                   true);
        }
        catalog +=
            "/OutputIntents[<</Type/OutputIntent/S/GTS_PDFA1/OutputConditionIdentifier(sRGB IEC61966-2.1)"
            "/Info(sRGB IEC61966-2.1)/DestOutputProfile " +
            PdfReference(profile) + ">>]";
    }
    if (SUCCEEDED(hr)) {
        hr = file_.WriteObject(catalog_, catalog + ">>");
    }
    std::string info = "<</Producer(" ZORVANE_PRODUCT_NAME ")/Creator " + PdfString(options_.creator) +
                       "/CreationDate(" + pdfDate + ")/ModDate(" + pdfDate + ")";
    if (!options_.title.empty()) {
        info += "/Title " + PdfString(options_.title);
    }
    if (!options_.author.empty()) {
        info += "/Author " + PdfString(options_.author);
    }
    if (SUCCEEDED(hr)) {
        hr = file_.WriteObject(info_, info + ">>");
    }
    // A file identifier from what makes this file itself: its time, its
    // title and its size so far.
    std::string seed = xmp + std::to_string(pageIds_.size()) + std::to_string(::GetTickCount());
    std::string id;
    std::uint32_t hash = 2166136261u;
    for (int round = 0; round < 4; ++round) {
        for (unsigned char c : seed) {
            hash = (hash ^ c) * 16777619u;
        }
        hash ^= static_cast<std::uint32_t>(round) * 0x9E3779B9u;
        for (int i = 0; i < 4; ++i) {
            id += static_cast<char>(hash >> (8 * i));
        }
    }
    if (SUCCEEDED(hr)) {
        hr = file_.Finish("/Root " + PdfReference(catalog_) + "/Info " + PdfReference(info_) + "/ID[" +
                          PdfHexString(id) + PdfHexString(id) + "]");
    }
    return hr;
}

}  // namespace engine
