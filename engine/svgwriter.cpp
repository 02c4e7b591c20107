#include "engine/svgwriter.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <new>
#include <set>
#include <vector>

#include "engine/image.h"
#include "engine/pagedrawing.h"
#include "engine/pngencoder.h"
#include "xps/partname.h"
#include "xps/xmlnumber.h"
#include "xps/xmlreader.h"
#include "xps/xmlwriter.h"
#include "xps/workbudget.h"

namespace engine {

namespace {

const wchar_t kSvg[] = L"http://www.w3.org/2000/svg";
const wchar_t kXlink[] = L"http://www.w3.org/1999/xlink";

// How far a glyph may stand from where the font's own advance puts it and
// still follow the glyph before it in one tspan: a ten-thousandth of an
// inch, less than any reader shows.
constexpr double kTextDrift = 0.01;

// A number as SVG takes it: no exponent, no locale, bounded far beyond any
// page, decimals as asked (coordinates 3, matrices' factors 6).
void Number(std::string& out, double value, int decimals = 3) {
    value = !(value == value) ? 0 : std::max(-1e9, std::min(1e9, value));
    xml::AppendFixed(value, out, decimals);
}

std::string NumberText(double value, int decimals = 3) {
    std::string out;
    Number(out, value, decimals);
    return out;
}

void AppendPoint(std::string& out, Point p, double scale, int decimals) {
    Number(out, p.x * scale, decimals);
    out += ' ';
    Number(out, p.y * scale, decimals);
}

std::string MatrixText(const Matrix& m) {
    std::string out;
    if (m.m11 == 1 && m.m12 == 0 && m.m21 == 0 && m.m22 == 1) {
        out = "translate(";
    } else {
        out = "matrix(";
        for (double factor : {m.m11, m.m12, m.m21, m.m22}) {
            Number(out, factor, 6);
            out += ' ';
        }
    }
    Number(out, m.dx);
    out += ' ';
    Number(out, m.dy);
    return out + ")";
}

std::string ColorText(const Color& c) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "#";
    for (double component : {c.r, c.g, c.b}) {
        int value = static_cast<int>(std::lround(std::max(0.0, std::min(1.0, component)) * 255));
        out += kHex[value >> 4];
        out += kHex[value & 15];
    }
    return out;
}

std::string Base64(const std::string& bytes) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    const unsigned char* data = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        std::uint32_t word = std::uint32_t{data[i]} << 16 | std::uint32_t{data[i + 1]} << 8 | data[i + 2];
        char quad[4] = {kDigits[word >> 18], kDigits[(word >> 12) & 63], kDigits[(word >> 6) & 63],
                        kDigits[word & 63]};
        out.append(quad, 4);
    }
    if (i < bytes.size()) {
        std::uint32_t word = std::uint32_t{data[i]} << 16 | (i + 1 < bytes.size() ? data[i + 1] << 8 : 0);
        out += kDigits[word >> 18];
        out += kDigits[(word >> 12) & 63];
        out += i + 1 < bytes.size() ? kDigits[(word >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

// Path data of a geometry (WalkPath's figures), its coordinates scaled.
std::string PathData(const Geometry& geometry, bool forStroke, double scale = 1, int decimals = 3) {
    std::string d;
    auto point = [&](char command, Point p) {
        d += command;
        AppendPoint(d, p, scale, decimals);
    };
    WalkPath(
        geometry, forStroke, [&](Point p) { point('M', p); }, [&](Point p) { point('L', p); },
        [&](Point control1, Point control2, Point end) {
            point('C', control1);
            d += ' ';
            AppendPoint(d, control2, scale, decimals);
            d += ' ';
            AppendPoint(d, end, scale, decimals);
        },
        [&]() { d += 'Z'; });
    return d;
}

// A character SVG text shows as the font's glyph for it: not a control,
// not one that shaping hides (default ignorables) or XML cannot hold.
bool IsTextCharacter(char32_t c) {
    return c >= 0x20 && !(c >= 0x7F && c <= 0x9F) && c != 0xAD && !(c >= 0x200B && c <= 0x200F) &&
           !(c >= 0x2028 && c <= 0x202E) && !(c >= 0x2060 && c <= 0x206F) && !(c >= 0xD800 && c <= 0xDFFF) &&
           c != 0xFEFF && !(c >= 0xFFF0 && c <= 0xFFFF) && !(c >= 0xE0000 && c <= 0xE0FFF) && c <= 0x10FFFF;
}

// Letters of the scripts written right to left (Hebrew, Arabic, Syriac,
// Thaana, N'Ko... and their presentation forms).
bool HasRightToLeft(const std::wstring& text) {
    for (wchar_t unit : text) {
        unsigned c = static_cast<unsigned>(unit) & 0xFFFF;
        if ((c >= 0x0590 && c <= 0x08FF) || (c >= 0xFB1D && c <= 0xFDFF) || (c >= 0xFE70 && c <= 0xFEFF) ||
            (c >= 0xD802 && c <= 0xD803) || c == 0xD83A || c == 0xD83B) {
            return true;
        }
    }
    return false;
}

// What XML can hold of text (the rest is left out).
std::wstring XmlCharacters(const std::wstring& text) {
    std::wstring out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = CodePointAt(text, i);
        bool pair = c > 0xFFFF;
        if (c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c != 0xFFFD && c != 0xFFFE && c != 0xFFFF) ||
            (c == 0xFFFD && text[i] == 0xFFFD)) {
            out.append(text, i, pair ? 2 : 1);
        }
        i += pair ? 1 : 0;
    }
    return out;
}

// SVG markup into a string; pieces written apart (definitions, a tile's
// content) are joined by Insert, so each piece takes the namespaces of the
// document around it as bound.
class Markup : public xml::XmlWriter {
public:
    explicit Markup(std::string& text) : xml::XmlWriter(text), text_(text) {
        Inherit(L"", kSvg);
        Inherit(L"xlink", kXlink);
    }
    // Markup written by another Markup, inside the element just started.
    void Insert(const std::string& markup) {
        Text(std::string());
        text_ += markup;
    }

private:
    std::string& text_;
};

}  // namespace

struct SvgWriter::FontEntry {
    Font font;
    bool asText = true;  // false: its rights forbid embedding; drawn as outlines
};

// One page's file: the elements into body, what they refer to into defs_,
// the fonts' faces made at the end from the glyphs the page used.
class SvgWriter::PageWriter {
public:
    PageWriter(SvgWriter& writer, const Page& page, unsigned number)
        : writer_(writer), page_(page), number_(number) {}

    HRESULT Write(std::string& out) {
        std::string body;
        Markup bodyWriter(body);
        HRESULT hr = DrawCanvas(bodyWriter, page_.root, Matrix());
        std::string style;
        if (SUCCEEDED(hr)) {
            hr = FontFaces(style);
        }
        if (FAILED(hr)) {
            return hr;
        }
        if (body.size() + defs_.size() + style.size() > kMaxPageBytes) {
            return xps::kOverCap;
        }
        out.reserve(body.size() + defs_.size() + style.size() + 1024);
        xml::XmlWriter writer(out);
        writer.WriteDeclaration();
        out += '\n';
        writer.StartElement(L"", L"svg", kSvg);
        writer.Declare(L"xlink", kXlink);
        writer.Attribute(L"version", L"1.1");
        writer.Attribute(L"width", Length(page_.width));
        writer.Attribute(L"height", Length(page_.height));
        writer.Attribute(L"viewBox", "0 0 " + NumberText(page_.width) + " " + NumberText(page_.height));
        if (!page_.language.empty()) {
            writer.Attribute(L"xml", L"lang", xml::kXmlNamespace, page_.language);
        }
        if (!style.empty() || !defs_.empty()) {
            writer.StartElement(L"", L"defs", kSvg);
            if (!style.empty()) {
                writer.StartElement(L"", L"style", kSvg);
                writer.Attribute(L"type", L"text/css");
                writer.Text(style);
                writer.EndElement();
            }
            writer.Text(std::string());
            out += defs_;  // elements of the same namespaces, written apart
            writer.EndElement();
        }
        writer.Text(std::string());
        out += body;
        writer.EndDocument();
        out += '\n';
        return S_OK;
    }

private:
    // What a brush paints with: a colour or a reference, and an opacity;
    // nothing where value is empty.
    struct Paint {
        std::string value;
        double opacity = 1;
        bool solid = false;
        bool filtered = false;  // a mask's tile brush: whitened by the filter
    };

    // A font as this page uses it: the glyphs its text shows and the
    // characters that reach them, and the outlines defined.
    struct PageFont {
        std::shared_ptr<FontEntry> entry;
        std::string family;
        std::set<std::uint16_t> glyphs;
        std::map<char32_t, std::uint16_t> characters;
        std::map<std::uint16_t, std::string> outlines;  // glyph -> id; empty id: an empty glyph
    };

    static std::string Length(double units) {
        double millimetres = units * 25.4 / 96;
        if (millimetres >= 1 && std::fabs(millimetres - std::round(millimetres)) < 0.005) {
            return NumberText(std::round(millimetres), 0) + "mm";
        }
        return NumberText(units / 96, 5) + "in";
    }

    std::string NextId(const char* stem) { return stem + std::to_string(++ids_); }

    // The page (its bleed box where larger) in an element's space: what a
    // brush must cover at most. Empty where the element's space collapses.
    Rect VisibleRegion(const Matrix& local) const {
        Matrix inverse;
        if (!Invert(local, inverse)) {
            return Rect{};
        }
        Rect page = Union(Rect{0, 0, page_.width, page_.height}, page_.bleedBox);
        return Intersection(TransformedBounds(page, inverse),
                            Rect{-kHugeExtent, -kHugeExtent, 2 * kHugeExtent, 2 * kHugeExtent});
    }

    HRESULT DrawCanvas(Markup& out, const Canvas& canvas, const Matrix& ctm) {
        for (const Element& element : canvas.children) {
            HRESULT hr = DrawElement(out, element, ctm);
            if (FAILED(hr)) {
                return hr;
            }
        }
        return S_OK;
    }

    HRESULT DrawElement(Markup& out, const Element& element, const Matrix& ctm) {
        const ElementBase* base =
            element.kind == ElementKind::Canvas ? static_cast<const ElementBase*>(element.canvas.get())
            : element.kind == ElementKind::Path ? static_cast<const ElementBase*>(element.path.get())
                                                : static_cast<const ElementBase*>(element.glyphs.get());
        Matrix local = base != nullptr ? Multiply(base->transform, ctm) : Matrix();
        Matrix inverse;
        if (base == nullptr || !(base->opacity > 0) || !Invert(local, inverse)) {
            return S_OK;  // nothing of it is seen
        }
        if (!xps::ChargeWork(xps::kElementCost)) {
            return xps::WorkBudget::Current()->Failure();
        }
        switch (element.kind) {
            case ElementKind::Canvas: {
                if (element.canvas->children.empty()) {
                    return S_OK;
                }
                bool grouped =
                    !base->transform.IsIdentity() || base->clip || base->opacity < 1 || base->opacityMask;
                if (grouped) {
                    out.StartElement(L"", L"g", kSvg);
                    HRESULT hr = Common(out, *base, local, true);
                    if (FAILED(hr)) {
                        return hr;
                    }
                }
                HRESULT hr = DrawCanvas(out, *element.canvas, local);
                if (grouped) {
                    out.EndElement();
                }
                return hr;
            }
            case ElementKind::Path:
                return DrawPath(out, *element.path, local);
            case ElementKind::Glyphs:
                return DrawGlyphs(out, *element.glyphs, local);
        }
        return S_OK;
    }

    // What every element may have: its transform (where asked), clip,
    // opacity and opacity mask, on the element just started.
    HRESULT Common(Markup& out, const ElementBase& base, const Matrix& local, bool withTransform) {
        if (withTransform && !base.transform.IsIdentity()) {
            out.Attribute(L"transform", MatrixText(base.transform));
        }
        if (base.clip) {
            out.Attribute(L"clip-path", "url(#" + ClipId(*base.clip) + ")");
        }
        if (base.opacity < 1) {
            out.Attribute(L"opacity", NumberText(base.opacity));
        }
        if (base.opacityMask) {
            std::string id;
            HRESULT hr = MaskId(*base.opacityMask, local, id);
            if (FAILED(hr)) {
                return hr;
            }
            out.Attribute(L"mask", "url(#" + id + ")");
        }
        return S_OK;
    }

    std::string ClipId(const Geometry& clip) {
        auto found = clips_.find(&clip);
        if (found != clips_.end()) {
            return found->second;
        }
        std::string id = NextId("c");
        std::string def;
        Markup writer(def);
        writer.StartElement(L"", L"clipPath", kSvg);
        writer.Attribute(L"id", id);
        std::string d = PathData(clip, false);
        if (!d.empty()) {
            writer.StartElement(L"", L"path", kSvg);
            writer.Attribute(L"d", d);
            if (clip.fillRule == FillRule::EvenOdd) {
                writer.Attribute(L"clip-rule", L"evenodd");
            }
        }
        writer.EndDocument();
        defs_ += def;
        clips_[&clip] = id;
        return id;
    }

    // An opacity mask: the brush's alpha over what the element may cover,
    // painted white so that luminance and alpha masks read it alike.
    HRESULT MaskId(const Brush& brush, const Matrix& local, std::string& id) {
        Rect region = VisibleRegion(local);
        Paint paint;
        HRESULT hr = PaintOf(brush, region, local, true, paint);
        if (FAILED(hr)) {
            return hr;
        }
        id = NextId("m");
        std::string def;
        Markup writer(def);
        StartRegion(writer, L"mask", id, region);
        if (!paint.value.empty()) {
            writer.StartElement(L"", L"rect", kSvg);
            RectAttributes(writer, region);
            FillAttributes(writer, paint);
            if (paint.filtered) {
                writer.Attribute(L"filter", "url(#" + WhiteningId() + ")");
            }
        }
        writer.EndDocument();
        defs_ += def;
        return S_OK;
    }

    // A mask or pattern over a region of the space it is used in.
    static void StartRegion(Markup& writer, const std::wstring& element, const std::string& id,
                            const Rect& region) {
        writer.StartElement(L"", element, kSvg);
        writer.Attribute(L"id", id);
        writer.Attribute(L"", element + L"Units", L"", L"userSpaceOnUse");
        RectAttributes(writer, region);
    }

    static void RectAttributes(Markup& writer, const Rect& r) {
        writer.Attribute(L"x", NumberText(r.x));
        writer.Attribute(L"y", NumberText(r.y));
        writer.Attribute(L"width", NumberText(r.width));
        writer.Attribute(L"height", NumberText(r.height));
    }

    static void FillAttributes(Markup& writer, const Paint& paint) {
        writer.Attribute(L"fill", paint.value);
        if (paint.opacity < 1) {
            writer.Attribute(L"fill-opacity", NumberText(paint.opacity));
        }
    }

    // Every colour white, alpha kept: a tile brush as a mask.
    std::string WhiteningId() {
        if (whitening_.empty()) {
            whitening_ = NextId("w");
            std::string def;
            Markup writer(def);
            writer.StartElement(L"", L"filter", kSvg);
            writer.Attribute(L"id", whitening_);
            writer.StartElement(L"", L"feColorMatrix", kSvg);
            writer.Attribute(L"type", L"matrix");
            writer.Attribute(L"values", L"0 0 0 0 1 0 0 0 0 1 0 0 0 0 1 0 0 0 1 0");
            writer.EndDocument();
            defs_ += def;
        }
        return whitening_;
    }

    // What the brush paints over area (in the element's space); forMask:
    // its alpha, in white.
    HRESULT PaintOf(const Brush& brush, const Rect& area, const Matrix& local, bool forMask, Paint& paint) {
        paint = Paint();
        switch (brush.kind) {
            case BrushKind::Solid:
                paint.value = forMask ? std::string("#fff") : ColorText(brush.color);
                paint.opacity = std::max(0.0, std::min(1.0, brush.color.a * brush.opacity));
                paint.solid = true;
                return S_OK;
            case BrushKind::LinearGradient:
            case BrushKind::RadialGradient: {
                std::string id = GradientId(brush, forMask);
                paint.value = id.empty() ? std::string() : "url(#" + id + ")";
                return S_OK;
            }
            case BrushKind::Image:
            case BrushKind::Visual: {
                std::string id;
                HRESULT hr = PatternId(brush, area, local, id);
                paint.value = id.empty() ? std::string() : "url(#" + id + ")";
                paint.filtered = forMask;
                return hr;
            }
        }
        return S_OK;
    }

    std::string GradientId(const Brush& brush, bool forMask) {
        auto key = std::make_pair(static_cast<const void*>(&brush), forMask);
        auto found = gradients_.find(key);
        if (found != gradients_.end()) {
            return found->second;
        }
        std::string& id = gradients_[key];
        bool linear = brush.kind == BrushKind::LinearGradient;
        if (brush.stops.empty() || (linear ? brush.start.x == brush.end.x && brush.start.y == brush.end.y
                                           : !(brush.radiusX > 0 && brush.radiusY > 0))) {
            return id;  // paints nothing
        }
        id = NextId("g");
        std::string def;
        Markup writer(def);
        Matrix transform = brush.transform;
        if (linear) {
            writer.StartElement(L"", L"linearGradient", kSvg);
            writer.Attribute(L"id", id);
            writer.Attribute(L"x1", NumberText(brush.start.x));
            writer.Attribute(L"y1", NumberText(brush.start.y));
            writer.Attribute(L"x2", NumberText(brush.end.x));
            writer.Attribute(L"y2", NumberText(brush.end.y));
        } else {
            // The ellipse as a circle of radius radiusX, squeezed vertically
            // about the centre by the gradient's transform.
            double squeeze = brush.radiusY / brush.radiusX;
            transform =
                Multiply(Matrix{1, 0, 0, squeeze, 0, brush.center.y * (1 - squeeze)}, brush.transform);
            writer.StartElement(L"", L"radialGradient", kSvg);
            writer.Attribute(L"id", id);
            writer.Attribute(L"cx", NumberText(brush.center.x));
            writer.Attribute(L"cy", NumberText(brush.center.y));
            writer.Attribute(L"r", NumberText(brush.radiusX));
            writer.Attribute(L"fx", NumberText(brush.gradientOrigin.x));
            writer.Attribute(
                L"fy", NumberText(brush.center.y + (brush.gradientOrigin.y - brush.center.y) / squeeze));
        }
        writer.Attribute(L"gradientUnits", L"userSpaceOnUse");
        if (!transform.IsIdentity()) {
            writer.Attribute(L"gradientTransform", MatrixText(transform));
        }
        if (brush.spread != SpreadMethod::Pad) {
            writer.Attribute(L"spreadMethod", brush.spread == SpreadMethod::Reflect ? L"reflect" : L"repeat");
        }
        for (const GradientStop& stop : StopsWithinUnit(brush)) {
            writer.StartElement(L"", L"stop", kSvg);
            writer.Attribute(L"offset", NumberText(stop.offset, 4));
            writer.Attribute(L"stop-color", forMask ? std::string("#fff") : ColorText(stop.color));
            double alpha = std::max(0.0, std::min(1.0, stop.color.a * brush.opacity));
            if (alpha < 1) {
                writer.Attribute(L"stop-opacity", NumberText(alpha));
            }
            writer.EndElement();
        }
        writer.EndDocument();
        defs_ += def;
        return id;
    }

    // Whether a tile brush shows anything.
    static bool TilePaints(const Brush& brush) {
        Matrix inverse;
        return brush.viewport.width > 0 && brush.viewport.height > 0 && brush.viewbox.width > 0 &&
               brush.viewbox.height > 0 && Invert(brush.transform, inverse) &&
               (brush.kind == BrushKind::Image ? brush.image != nullptr : brush.visual != nullptr);
    }

    // A tile brush as a pattern: the viewbox's content in the viewport,
    // with its mirrored copies for the flipping modes; untiled, one tile
    // wide enough to hold the area, so that no repeat is seen in it.
    HRESULT PatternId(const Brush& brush, const Rect& area, const Matrix& local, std::string& id) {
        id.clear();
        const Rect& viewport = brush.viewport;
        Matrix inverse;
        if (!TilePaints(brush) || !Invert(brush.transform, inverse)) {
            return S_OK;
        }
        bool tiled = brush.tileMode != TileMode::None;
        if (tiled) {
            auto found = patterns_.find(&brush);
            if (found != patterns_.end()) {
                id = found->second;
                return S_OK;
            }
        }
        bool flipX = brush.tileMode == TileMode::FlipX || brush.tileMode == TileMode::FlipXY;
        bool flipY = brush.tileMode == TileMode::FlipY || brush.tileMode == TileMode::FlipXY;
        Rect tile =
            tiled ? Rect{viewport.x, viewport.y, viewport.width * (flipX ? 2 : 1),
                         viewport.height * (flipY ? 2 : 1)}
                  : Union(TransformedBounds(Intersection(area, VisibleRegion(local)), inverse), viewport);
        std::string patternId = NextId("p");
        std::string tileId = NextId("t");
        std::string def;
        Markup writer(def);
        StartRegion(writer, L"pattern", patternId, tile);
        if (!brush.transform.IsIdentity()) {
            writer.Attribute(L"patternTransform", MatrixText(brush.transform));
        }
        // The pattern's content stands in the tile's own space.
        writer.StartElement(L"", L"g", kSvg);
        writer.Attribute(L"transform",
                         MatrixText(Matrix{1, 0, 0, 1, viewport.x - tile.x, viewport.y - tile.y}));
        if (brush.opacity < 1) {
            writer.Attribute(L"opacity", NumberText(brush.opacity));
        }
        HRESULT hr = WriteTile(writer, brush, local, false, tileId);
        if (FAILED(hr)) {
            return hr;
        }
        for (int copy = 1; copy < 4; ++copy) {
            bool mirrorX = (copy & 1) != 0, mirrorY = (copy & 2) != 0;
            if ((mirrorX && !flipX) || (mirrorY && !flipY)) {
                continue;
            }
            writer.StartElement(L"", L"use", kSvg);
            writer.Attribute(L"xlink", L"href", kXlink, "#" + tileId);
            writer.Attribute(L"transform", MatrixText(Matrix{mirrorX ? -1.0 : 1.0, 0, 0, mirrorY ? -1.0 : 1.0,
                                                             mirrorX ? 2 * viewport.width : 0,
                                                             mirrorY ? 2 * viewport.height : 0}));
            writer.EndElement();
        }
        writer.EndDocument();
        defs_ += def;
        if (tiled) {
            patterns_[&brush] = patternId;
        }
        id = patternId;
        return S_OK;
    }

    // The viewbox's content in the viewport, clipped to it: an svg element
    // of its own at the viewport's place (atViewport) or at the origin.
    HRESULT WriteTile(Markup& writer, const Brush& brush, const Matrix& local, bool atViewport,
                      const std::string& id) {
        std::string content;
        Markup inner(content);
        HRESULT hr = S_OK;
        if (brush.kind == BrushKind::Image) {
            std::string image;
            hr = ImageId(*brush.image, image);
            inner.StartElement(L"", L"use", kSvg);
            inner.Attribute(L"xlink", L"href", kXlink, "#" + image);
        } else {
            Matrix tileSpace = Multiply(ViewboxToTile(brush),
                                        Multiply(Matrix{1, 0, 0, 1, brush.viewport.x, brush.viewport.y},
                                                 Multiply(brush.transform, local)));
            hr = DrawCanvas(inner, *brush.visual, tileSpace);
        }
        inner.EndDocument();
        if (FAILED(hr)) {
            return hr;
        }
        writer.StartElement(L"", L"svg", kSvg);
        if (!id.empty()) {
            writer.Attribute(L"id", id);
        }
        if (atViewport) {
            writer.Attribute(L"x", NumberText(brush.viewport.x));
            writer.Attribute(L"y", NumberText(brush.viewport.y));
        }
        writer.Attribute(L"width", NumberText(brush.viewport.width));
        writer.Attribute(L"height", NumberText(brush.viewport.height));
        writer.Attribute(L"viewBox", NumberText(brush.viewbox.x) + " " + NumberText(brush.viewbox.y) + " " +
                                         NumberText(brush.viewbox.width) + " " +
                                         NumberText(brush.viewbox.height));
        writer.Attribute(L"preserveAspectRatio", L"none");
        writer.Insert(content);
        writer.EndElement();
        return S_OK;
    }

    HRESULT ImageId(const Image& image, std::string& id) {
        std::wstring key = xps::PartKey(image.part);
        auto found = images_.find(key);
        if (found != images_.end()) {
            id = found->second;
            return S_OK;
        }
        std::string dataUri;
        double width = 0, height = 0;
        HRESULT hr = writer_.ImageFor(image, dataUri, width, height);
        if (FAILED(hr)) {
            return hr;
        }
        if (defs_.size() + dataUri.size() > kMaxPageBytes) {
            return xps::kOverCap;
        }
        id = NextId("i");
        std::string def;
        Markup writer(def);
        writer.StartElement(L"", L"image", kSvg);
        writer.Attribute(L"id", id);
        writer.Attribute(L"width", NumberText(width));
        writer.Attribute(L"height", NumberText(height));
        writer.Attribute(L"preserveAspectRatio", L"none");
        writer.Attribute(L"xlink", L"href", kXlink, dataUri);
        writer.EndDocument();
        defs_ += def;
        images_[key] = id;
        return S_OK;
    }

    HRESULT DrawPath(Markup& out, const PathElement& path, const Matrix& local) {
        if (path.data.Empty()) {
            return S_OK;
        }
        const Stroke& style = path.strokeStyle;
        Rect bounds = Bounds(path.data);
        Paint fill, stroke;
        HRESULT hr = S_OK;
        std::string fillData = path.fill ? PathData(path.data, false) : std::string();
        // An untiled image or visual is drawn itself, not as a pattern:
        // readers draw a pattern's tile coarsely, and most images come so.
        const Brush* tile =
            !fillData.empty() &&
                    (path.fill->kind == BrushKind::Image || path.fill->kind == BrushKind::Visual) &&
                    path.fill->tileMode == TileMode::None
                ? path.fill.get()
                : nullptr;
        if (tile == nullptr && !fillData.empty()) {
            hr = PaintOf(*path.fill, bounds, local, false, fill);
        }
        bool stroked = path.stroke && style.thickness > 0;
        if (SUCCEEDED(hr) && stroked) {
            double reach = style.thickness * std::max(1.0, std::min(style.miterLimit, 100.0));
            hr = PaintOf(
                *path.stroke,
                Rect{bounds.x - reach, bounds.y - reach, bounds.width + 2 * reach, bounds.height + 2 * reach},
                local, false, stroke);
        }
        tile = tile != nullptr && TilePaints(*tile) ? tile : nullptr;
        if (FAILED(hr) || (fill.value.empty() && stroke.value.empty() && tile == nullptr)) {
            return hr;
        }
        std::string strokeData = stroke.value.empty() ? std::string() : PathData(path.data, true);
        // Caps SVG cannot give (a start unlike the end, a triangle) are
        // shapes of their own beside a stroke with flat ends.
        std::string capData = !stroke.value.empty() && style.dashes.empty() &&
                                      (style.startCap != style.endCap || style.startCap == LineCap::Triangle)
                                  ? PathData(StrokeEnds(path.data, style), false)
                                  : std::string();
        // A tile, a figure drawn by its stroke only, a segment left unstroked
        // or caps apart make the fill and the stroke apart: a group, which
        // takes the element's opacity as a whole.
        bool apart = tile != nullptr || !capData.empty() ||
                     (!fill.value.empty() && !stroke.value.empty() && fillData != strokeData);
        out.StartElement(L"", apart ? L"g" : L"path", kSvg);
        hr = Common(out, path, local, true);
        if (SUCCEEDED(hr) && tile != nullptr) {
            hr = DrawTileFill(out, path.data, *tile, local);
        } else if (SUCCEEDED(hr) && !fill.value.empty()) {
            if (apart) {
                out.StartElement(L"", L"path", kSvg);
            }
            out.Attribute(L"d", fillData);
            FillAttributes(out, fill);
            if (path.data.fillRule == FillRule::EvenOdd) {
                out.Attribute(L"fill-rule", L"evenodd");
            }
            if (apart) {
                out.EndElement();
            }
        }
        if (SUCCEEDED(hr) && !stroke.value.empty()) {
            if (apart) {
                out.StartElement(L"", L"path", kSvg);
            }
            if (fill.value.empty() || apart) {
                out.Attribute(L"d", strokeData);
                out.Attribute(L"fill", L"none");
            }
            Stroke flatEnds = style;
            if (!capData.empty()) {
                flatEnds.startCap = LineCap::Flat;
            }
            StrokeAttributes(out, flatEnds, stroke);
            if (apart) {
                out.EndElement();
            }
            if (!capData.empty()) {
                out.StartElement(L"", L"path", kSvg);
                out.Attribute(L"d", capData);
                FillAttributes(out, stroke);
                out.EndElement();
            }
        }
        out.EndElement();
        return hr;
    }

    // A tile brush's one tile, clipped to the path it fills unless the path
    // is a rectangle that holds it whole.
    HRESULT DrawTileFill(Markup& out, const Geometry& geometry, const Brush& brush, const Matrix& local) {
        Rect box = Bounds(geometry), tile = TransformedBounds(brush.viewport, brush.transform);
        const double slack = 1e-3;
        bool holds = IsRectangle(geometry) && tile.x >= box.x - slack && tile.y >= box.y - slack &&
                     tile.x + tile.width <= box.x + box.width + slack &&
                     tile.y + tile.height <= box.y + box.height + slack;
        if (!holds) {
            out.StartElement(L"", L"g", kSvg);
            out.Attribute(L"clip-path", "url(#" + ClipId(geometry) + ")");
        }
        bool placed = !brush.transform.IsIdentity() || brush.opacity < 1;
        if (placed) {
            out.StartElement(L"", L"g", kSvg);
            if (!brush.transform.IsIdentity()) {
                out.Attribute(L"transform", MatrixText(brush.transform));
            }
            if (brush.opacity < 1) {
                out.Attribute(L"opacity", NumberText(brush.opacity));
            }
        }
        HRESULT hr = WriteTile(out, brush, local, true, std::string());
        if (placed) {
            out.EndElement();
        }
        if (!holds) {
            out.EndElement();
        }
        return hr;
    }

    // One figure of lines along the axes round its bounds.
    static bool IsRectangle(const Geometry& geometry) {
        if (geometry.figures.size() != 1 || !geometry.figures[0].filled) {
            return false;
        }
        const Figure& figure = geometry.figures[0];
        Rect box = Bounds(geometry);
        auto same = [](double a, double b) { return std::fabs(a - b) <= 1e-6; };
        auto corner = [&](Point p) {
            return (same(p.x, box.x) || same(p.x, box.x + box.width)) &&
                   (same(p.y, box.y) || same(p.y, box.y + box.height));
        };
        if (!corner(figure.start) || figure.segments.size() < 3 || figure.segments.size() > 4) {
            return false;
        }
        Point previous = figure.start;
        for (const Segment& segment : figure.segments) {
            if (segment.cubic || !corner(segment.end) ||
                (!same(segment.end.x, previous.x) && !same(segment.end.y, previous.y))) {
                return false;
            }
            previous = segment.end;
        }
        return true;
    }

    static void StrokeAttributes(Markup& out, const Stroke& style, const Paint& paint) {
        out.Attribute(L"stroke", paint.value);
        if (paint.opacity < 1) {
            out.Attribute(L"stroke-opacity", NumberText(paint.opacity));
        }
        out.Attribute(L"stroke-width", NumberText(style.thickness));
        // A triangle cap has no SVG form: round is the nearest.
        static const wchar_t* kCaps[] = {L"butt", L"square", L"round", L"round"};
        LineCap cap = style.dashes.empty() ? style.startCap : style.dashCap;
        if (cap != LineCap::Flat) {
            out.Attribute(L"stroke-linecap", kCaps[static_cast<int>(cap)]);
        }
        static const wchar_t* kJoins[] = {L"miter", L"bevel", L"round"};
        if (style.join != LineJoin::Miter) {
            out.Attribute(L"stroke-linejoin", kJoins[static_cast<int>(style.join)]);
        } else {
            out.Attribute(L"stroke-miterlimit", NumberText(std::max(1.0, style.miterLimit)));
        }
        if (!style.dashes.empty()) {
            std::string dashes;
            for (double dash : style.dashes) {
                if (!dashes.empty()) {
                    dashes += ' ';
                }
                Number(dashes, std::max(0.0, dash * style.thickness));
            }
            out.Attribute(L"stroke-dasharray", dashes);
            if (style.dashOffset != 0) {
                out.Attribute(L"stroke-dashoffset", NumberText(style.dashOffset * style.thickness));
            }
        }
    }

    HRESULT PageFontOf(const GlyphsElement& glyphs, PageFont*& font) {
        std::shared_ptr<FontEntry> entry;
        HRESULT hr = writer_.FontFor(glyphs.fontPart, glyphs.fontFace, entry);
        if (FAILED(hr)) {
            return hr;
        }
        for (PageFont& known : fonts_) {
            if (known.entry == entry) {
                font = &known;
                return S_OK;
            }
        }
        fonts_.emplace_back();
        font = &fonts_.back();
        font->entry = entry;
        font->family = "zp" + std::to_string(number_) + "f" + std::to_string(fonts_.size());
        return S_OK;
    }

    // The glyph's outline once in the page, in ems, y up; empty for a glyph
    // that draws nothing.
    HRESULT OutlineId(PageFont& font, std::uint16_t glyph, std::string& id) {
        auto found = font.outlines.find(glyph);
        if (found != font.outlines.end()) {
            id = found->second;
            return S_OK;
        }
        Geometry outline;
        HRESULT hr = font.entry->font.Outline(glyph, outline);
        if (FAILED(hr)) {
            return hr;
        }
        id.clear();
        std::string d = PathData(outline, false, 1.0 / font.entry->font.Metrics().unitsPerEm, 4);
        if (!d.empty()) {
            id = "o" + font.family.substr(2) + "_" + std::to_string(glyph);
            std::string def;
            Markup writer(def);
            writer.StartElement(L"", L"path", kSvg);
            writer.Attribute(L"id", id);
            writer.Attribute(L"d", d);
            writer.EndDocument();
            defs_ += def;
        }
        font.outlines[glyph] = id;
        return S_OK;
    }

    // One tspan of text: glyphs that follow one another by the font's own
    // advances, or one cluster's characters shown by outlines (invisible).
    struct TextRun {
        bool visible = true;
        double x = 0, y = 0;
        double next = 0;  // where the font's advances bring the pen
        std::wstring text;
    };

    HRESULT DrawGlyphs(Markup& out, const GlyphsElement& glyphs, const Matrix& local) {
        if (!glyphs.fill || glyphs.glyphs.empty() || !(glyphs.emSize > 0)) {
            return S_OK;
        }
        PageFont* pageFont = nullptr;
        HRESULT hr = PageFontOf(glyphs, pageFont);
        if (FAILED(hr)) {
            return hr;
        }
        const Font& font = pageFont->entry->font;
        const double em = glyphs.emSize, scale = em / font.Metrics().unitsPerEm;
        std::vector<PlacedGlyph> placed = PlaceGlyphs(glyphs, font);
        Rect area{placed[0].x, placed[0].y, 0, 0};
        for (const PlacedGlyph& glyph : placed) {
            area = Union(area, Rect{glyph.x - 2 * em, glyph.y - 2 * em, 4 * em, 4 * em});
        }
        Paint paint;
        hr = PaintOf(*glyphs.fill, area, local, false, paint);
        if (FAILED(hr) || paint.value.empty()) {
            return hr;
        }
        // Sheared text would shear a brush's own space with it: such text is
        // drawn by its outlines.
        const bool italic = SimulatesItalic(glyphs.simulations);
        const bool shownAsText = pageFont->entry->asText && !glyphs.sideways && !(italic && !paint.solid);
        std::vector<TextRun> runs;
        std::vector<PlacedGlyph> outlined;
        for (std::size_t i = 0; i < placed.size();) {
            // A cluster: its first glyph holds its characters.
            std::size_t end = i + 1;
            while (end < placed.size() && glyphs.glyphs[end].characterCount == 0) {
                ++end;
            }
            const Glyph& first = glyphs.glyphs[i];
            std::wstring characters = first.firstCharacter < glyphs.text.size()
                                          ? glyphs.text.substr(first.firstCharacter, first.characterCount)
                                          : std::wstring();
            char32_t c = CodePointAt(characters, 0);
            bool single = !characters.empty() && characters.size() == (c > 0xFFFF ? 2u : 1u);
            std::uint16_t index = placed[i].index;
            // Italic: the text is sheared about the run's origin; a glyph
            // off that baseline moves back by the shear of its offset.
            double x = placed[i].x - (italic ? kItalicShear * (glyphs.origin.y - placed[i].y) : 0);
            double y = placed[i].y;
            bool asText = shownAsText && end == i + 1 && single && index != 0 && IsTextCharacter(c) &&
                          font.GlyphFor(c) == index &&
                          (pageFont->characters.count(c) != 0 ||
                           pageFont->characters.size() < Font::kMaxSubsetCharacters);
            if (asText) {
                pageFont->characters[c] = index;
                pageFont->glyphs.insert(index);
                bool follows = !runs.empty() && runs.back().visible && runs.back().y == y &&
                               std::fabs(runs.back().next - x) <= kTextDrift;
                if (!follows) {
                    runs.push_back(TextRun{true, x, y, x, std::wstring()});
                }
                runs.back().text += characters;
                runs.back().next = x + font.Advance(index) * scale;
            } else {
                outlined.insert(outlined.end(), placed.begin() + i, placed.begin() + end);
                std::wstring hidden = XmlCharacters(characters);
                if (!hidden.empty() && !runs.empty() && !runs.back().visible && runs.back().y == y) {
                    runs.back().text += hidden;
                } else if (!hidden.empty()) {
                    runs.push_back(TextRun{false, x, y, x, hidden});
                }
            }
            i = end;
        }
        // Text and outlines share one group; so does sheared text with a
        // clip or mask, which must not be sheared with it.
        bool grouped = !outlined.empty() || (italic && (glyphs.clip || glyphs.opacityMask));
        if (grouped) {
            out.StartElement(L"", L"g", kSvg);
            hr = Common(out, glyphs, local, true);
            if (FAILED(hr)) {
                return hr;
            }
        }
        if (!runs.empty()) {
            hr = WriteText(out, glyphs, local, *pageFont, paint, runs, grouped);
        }
        if (SUCCEEDED(hr) && !outlined.empty()) {
            hr = WriteOutlines(out, glyphs, *pageFont, paint, outlined);
        }
        if (grouped) {
            out.EndElement();
        }
        return hr;
    }

    HRESULT WriteText(Markup& out, const GlyphsElement& glyphs, const Matrix& local, const PageFont& font,
                      const Paint& paint, const std::vector<TextRun>& runs, bool grouped) {
        const bool italic = SimulatesItalic(glyphs.simulations), bold = SimulatesBold(glyphs.simulations);
        Matrix shear{1, 0, -kItalicShear, 1, kItalicShear * glyphs.origin.y, 0};
        out.StartElement(L"", L"text", kSvg);
        if (!grouped) {
            HRESULT hr = Common(out, glyphs, local, false);
            if (FAILED(hr)) {
                return hr;
            }
        }
        Matrix transform = italic ? (grouped ? shear : Multiply(shear, glyphs.transform))
                                  : (grouped ? Matrix() : glyphs.transform);
        if (!transform.IsIdentity()) {
            out.Attribute(L"transform", MatrixText(transform));
        }
        bool embedded = font.entry->asText && !font.characters.empty();
        out.Attribute(L"font-family", embedded ? "'" + font.family + "'" : std::string("sans-serif"));
        out.Attribute(L"font-size", NumberText(glyphs.emSize));
        FillAttributes(out, paint);
        if (bold) {
            out.Attribute(L"stroke", paint.value);
            if (paint.opacity < 1) {
                out.Attribute(L"stroke-opacity", NumberText(paint.opacity));
            }
            out.Attribute(L"stroke-width", NumberText(glyphs.emSize * kBoldStrokeEm));
        }
        out.Attribute(L"xml", L"space", xml::kXmlNamespace, L"preserve");
        // The glyphs stand where the XPS puts them, in the order it gives:
        // a reader must not reorder right-to-left letters again.
        bool rightToLeft = false;
        for (const TextRun& run : runs) {
            rightToLeft = rightToLeft || HasRightToLeft(run.text);
        }
        if (rightToLeft) {
            out.Attribute(L"direction", L"ltr");
            out.Attribute(L"unicode-bidi", L"bidi-override");
        }
        for (const TextRun& run : runs) {
            out.StartElement(L"", L"tspan", kSvg);
            out.Attribute(L"x", NumberText(run.x));
            out.Attribute(L"y", NumberText(run.y));
            if (!run.visible) {
                out.Attribute(L"fill-opacity", L"0");
                out.Attribute(L"stroke", L"none");
            }
            out.Text(run.text);
            out.EndElement();
        }
        out.EndElement();
        return S_OK;
    }

    // Glyphs shown by their outlines: in a solid colour each a use of the
    // page's one path of it; another brush fills them all as one path in
    // the element's space, where its own space is.
    HRESULT WriteOutlines(Markup& out, const GlyphsElement& glyphs, PageFont& font, const Paint& paint,
                          const std::vector<PlacedGlyph>& outlined) {
        const bool bold = SimulatesBold(glyphs.simulations);
        if (!paint.solid) {
            Geometry all;
            HRESULT hr = GlyphOutlines(glyphs, font.entry->font, outlined, all);
            std::string d = SUCCEEDED(hr) ? PathData(all, false) : std::string();
            if (!d.empty()) {
                out.StartElement(L"", L"path", kSvg);
                out.Attribute(L"d", d);
                FillAttributes(out, paint);
                if (bold) {
                    out.Attribute(L"stroke", paint.value);
                    out.Attribute(L"stroke-width", NumberText(glyphs.emSize * kBoldStrokeEm));
                }
                out.EndElement();
            }
            return hr;
        }
        out.StartElement(L"", L"g", kSvg);
        FillAttributes(out, paint);
        if (bold) {
            out.Attribute(L"stroke", paint.value);
            if (paint.opacity < 1) {
                out.Attribute(L"stroke-opacity", NumberText(paint.opacity));
            }
            out.Attribute(L"stroke-width", NumberText(kBoldStrokeEm, 4));  // in ems, the outlines' space
        }
        const double unitsPerEm = font.entry->font.Metrics().unitsPerEm;
        for (const PlacedGlyph& glyph : outlined) {
            std::string id;
            HRESULT hr = OutlineId(font, glyph.index, id);
            if (FAILED(hr)) {
                return hr;
            }
            if (id.empty()) {
                continue;
            }
            Matrix place = Multiply(Matrix{unitsPerEm, 0, 0, unitsPerEm, 0, 0},
                                    GlyphMatrix(glyphs, font.entry->font, glyph));
            out.StartElement(L"", L"use", kSvg);
            out.Attribute(L"xlink", L"href", kXlink, "#" + id);
            out.Attribute(L"transform", MatrixText(place));
            out.EndElement();
        }
        out.EndElement();
        return S_OK;
    }

    // Each font the page's text shows, as a subset of the glyphs it used.
    HRESULT FontFaces(std::string& style) {
        for (const PageFont& font : fonts_) {
            if (!font.entry->asText || font.characters.empty()) {
                continue;
            }
            const Font& source = font.entry->font;
            std::string program;
            HRESULT hr;
            bool subset = source.MaySubset() && !source.IsCff();
            if (subset) {
                Font::CharacterMap map;
                map.family = font.family;
                map.characters.assign(font.characters.begin(), font.characters.end());
                hr = source.Subset(font.glyphs, program, &map);
            } else {
                hr = source.Program(program);
            }
            if (FAILED(hr)) {
                return hr;
            }
            style += "@font-face{font-family:'" + font.family + "';src:url(data:font/" +
                     (source.IsCff() ? "otf" : "ttf") + ";base64," + Base64(program) + ") format('" +
                     (source.IsCff() ? "opentype" : "truetype") + "')}";
        }
        return S_OK;
    }

    SvgWriter& writer_;
    const Page& page_;
    const unsigned number_;
    std::string defs_;
    unsigned ids_ = 0;
    std::map<std::pair<const void*, bool>, std::string> gradients_;  // by brush and whether for a mask
    std::map<const Geometry*, std::string> clips_;
    std::map<const Brush*, std::string> patterns_;  // tiled brushes
    std::map<std::wstring, std::string> images_;    // by part key
    std::deque<PageFont> fonts_;  // a deque: a font found stays where it is while others are added
    std::string whitening_;
};

SvgWriter::SvgWriter(ByteSink sink, const xps::XpsPackage& package,
                     std::function<HRESULT(unsigned page)> beginFile)
    : sink_(std::move(sink)), package_(package), beginFile_(std::move(beginFile)) {}

SvgWriter::~SvgWriter() = default;

HRESULT SvgWriter::Begin() { return beginFile_ ? S_OK : E_INVALIDARG; }

HRESULT SvgWriter::AddPage(const Page& page) {
    std::string file;
    PageWriter writer(*this, page, pages_ + 1);
    HRESULT hr = writer.Write(file);
    if (SUCCEEDED(hr)) {
        ++pages_;
        hr = beginFile_(pages_);
    }
    return SUCCEEDED(hr) ? sink_(file.data(), file.size()) : hr;
}

HRESULT SvgWriter::Finish() { return S_OK; }

HRESULT SvgWriter::FontFor(const std::wstring& part, std::uint16_t face, std::shared_ptr<FontEntry>& entry) {
    std::wstring key = xps::PartKey(part) + L"#" + std::to_wstring(face);
    auto found = fonts_.find(key);
    if (found != fonts_.end()) {
        entry = found->second;
        return S_OK;
    }
    std::shared_ptr<FontEntry> loaded = std::make_shared<FontEntry>();
    HRESULT hr = LoadFontPart(package_, part, face, loaded->font);
    if (FAILED(hr)) {
        return hr;
    }
    loaded->asText = loaded->font.MayEmbed();
    if (fonts_.size() >= kMaxKeptFonts) {
        fonts_.clear();  // a page that uses them holds its own
    }
    fonts_[key] = loaded;
    entry = loaded;
    return S_OK;
}

HRESULT SvgWriter::ImageFor(const Image& image, std::string& dataUri, double& width, double& height) const {
    std::string bytes;
    HRESULT hr = package_.Read(image.part, bytes);
    if (FAILED(hr)) {
        return hr;
    }
    // PNG and 8-bit grey or colour JPEG as they are; everything else (CMYK
    // JPEG too, which few SVG readers show right) through WIC, as PNG.
    DecodedImage info;
    const char* type = nullptr;
    if (bytes.compare(0, 8, "\x89PNG\r\n\x1A\n", 8) == 0) {
        hr = ReadPngInfo(bytes, info);
        type = "png";
    } else if (bytes.compare(0, 2, "\xFF\xD8", 2) == 0) {
        JpegInfo jpeg;
        if (SUCCEEDED(ReadJpegInfo(bytes, jpeg)) && jpeg.bitsPerComponent == 8 && jpeg.components != 4) {
            info.width = jpeg.width;
            info.height = jpeg.height;
            info.dpiX = jpeg.dpiX;
            info.dpiY = jpeg.dpiY;
            type = "jpeg";
        }
    }
    if (type == nullptr) {
        hr = DecodeWithWic(bytes, info);
        if (SUCCEEDED(hr)) {
            hr = EncodePng(info, bytes);
        }
        type = "png";
    }
    if (FAILED(hr)) {
        return hr;
    }
    dataUri = std::string("data:image/") + type + ";base64," + Base64(bytes);
    width = info.width * 96.0 / (info.dpiX > 0 ? info.dpiX : 96.0);
    height = info.height * 96.0 / (info.dpiY > 0 ? info.dpiY : 96.0);
    return S_OK;
}

}  // namespace engine
