#include "engine/pagedrawing.h"

#include <algorithm>
#include <cmath>
#include <set>

namespace engine {

bool Invert(const Matrix& m, Matrix& inverse) {
    double determinant = m.m11 * m.m22 - m.m12 * m.m21;
    // An infinite determinant inverts to zeros and NaNs: no inverse either.
    if (!(std::fabs(determinant) > 1e-12) || !std::isfinite(determinant) || !std::isfinite(m.dx) ||
        !std::isfinite(m.dy)) {
        return false;
    }
    inverse.m11 = m.m22 / determinant;
    inverse.m12 = -m.m12 / determinant;
    inverse.m21 = -m.m21 / determinant;
    inverse.m22 = m.m11 / determinant;
    inverse.dx = -(m.dx * inverse.m11 + m.dy * inverse.m21);
    inverse.dy = -(m.dx * inverse.m12 + m.dy * inverse.m22);
    // Finite input may still overflow in a quotient or the translation.
    return std::isfinite(inverse.m11) && std::isfinite(inverse.m12) && std::isfinite(inverse.m21) &&
           std::isfinite(inverse.m22) && std::isfinite(inverse.dx) && std::isfinite(inverse.dy);
}

Rect Bounds(const Geometry& geometry) {
    double x0 = kHugeExtent, y0 = kHugeExtent, x1 = -kHugeExtent, y1 = -kHugeExtent;
    auto add = [&](Point p) {
        x0 = std::min(x0, p.x);
        y0 = std::min(y0, p.y);
        x1 = std::max(x1, p.x);
        y1 = std::max(y1, p.y);
    };
    for (const Figure& figure : geometry.figures) {
        add(figure.start);
        for (const Segment& segment : figure.segments) {
            if (segment.cubic) {
                add(segment.control1);
                add(segment.control2);
            }
            add(segment.end);
        }
    }
    return x1 < x0 ? Rect{} : Rect{x0, y0, x1 - x0, y1 - y0};
}

Rect TransformedBounds(const Rect& r, const Matrix& m) {
    Point corners[] = {Apply(m, {r.x, r.y}), Apply(m, {r.x + r.width, r.y}),
                       Apply(m, {r.x + r.width, r.y + r.height}), Apply(m, {r.x, r.y + r.height})};
    double x0 = corners[0].x, y0 = corners[0].y, x1 = x0, y1 = y0;
    for (const Point& p : corners) {
        x0 = std::min(x0, p.x);
        y0 = std::min(y0, p.y);
        x1 = std::max(x1, p.x);
        y1 = std::max(y1, p.y);
    }
    return Rect{x0, y0, x1 - x0, y1 - y0};
}

Rect Union(const Rect& a, const Rect& b) {
    if (!(a.width > 0 && a.height > 0)) {
        return b;
    }
    if (!(b.width > 0 && b.height > 0)) {
        return a;
    }
    double x0 = std::min(a.x, b.x), y0 = std::min(a.y, b.y);
    double x1 = std::max(a.x + a.width, b.x + b.width), y1 = std::max(a.y + a.height, b.y + b.height);
    return Rect{x0, y0, x1 - x0, y1 - y0};
}

Rect Intersection(const Rect& a, const Rect& b) {
    double x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
    double x1 = std::min(a.x + a.width, b.x + b.width), y1 = std::min(a.y + a.height, b.y + b.height);
    return x1 > x0 && y1 > y0 ? Rect{x0, y0, x1 - x0, y1 - y0} : Rect{};
}

Color Mix(const Color& a, const Color& b, double t) {
    return {a.a + (b.a - a.a) * t, a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Color ColorAt(const std::vector<GradientStop>& stops, double t) {
    if (t <= stops.front().offset) {
        return stops.front().color;
    }
    for (std::size_t i = 1; i < stops.size(); ++i) {
        if (t <= stops[i].offset) {
            double span = stops[i].offset - stops[i - 1].offset;
            return Mix(stops[i - 1].color, stops[i].color, span > 0 ? (t - stops[i - 1].offset) / span : 1);
        }
    }
    return stops.back().color;
}

namespace {

double ToLinear(double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); }
double ToSrgb(double c) { return c <= 0.0031308 ? c * 12.92 : 1.055 * std::pow(c, 1 / 2.4) - 0.055; }

}  // namespace

std::vector<GradientStop> StopsWithinUnit(const Brush& brush) {
    std::vector<GradientStop> stops;
    if (brush.stops.empty()) {
        return stops;
    }
    stops.push_back({0, ColorAt(brush.stops, 0)});
    for (const GradientStop& stop : brush.stops) {
        if (stop.offset > 0 && stop.offset < 1) {
            stops.push_back(stop);
        }
    }
    stops.push_back({1, ColorAt(brush.stops, 1)});
    if (!brush.interpolateLinearLight) {
        return stops;
    }
    const int kSteps = 8;
    std::vector<GradientStop> expanded{stops.front()};
    for (std::size_t i = 1; i < stops.size(); ++i) {
        const GradientStop &from = stops[i - 1], &to = stops[i];
        for (int step = 1; step <= kSteps; ++step) {
            double t = static_cast<double>(step) / kSteps;
            Color c{from.color.a + (to.color.a - from.color.a) * t,
                    ToSrgb(ToLinear(from.color.r) + (ToLinear(to.color.r) - ToLinear(from.color.r)) * t),
                    ToSrgb(ToLinear(from.color.g) + (ToLinear(to.color.g) - ToLinear(from.color.g)) * t),
                    ToSrgb(ToLinear(from.color.b) + (ToLinear(to.color.b) - ToLinear(from.color.b)) * t)};
            expanded.push_back({from.offset + (to.offset - from.offset) * t, c});
        }
    }
    return expanded;
}

namespace {

// The unit vector from a to b; false where they are one point.
bool Direction(Point a, Point b, Point& unit) {
    double length = std::hypot(b.x - a.x, b.y - a.y);
    if (!(length > 1e-9)) {
        return false;
    }
    unit = {(b.x - a.x) / length, (b.y - a.y) / length};
    return true;
}

// A cap of the given kind at p, reaching outwards along u.
void AddCap(Geometry& caps, LineCap cap, Point p, Point u, double r) {
    Point n{-u.y, u.x};
    auto at = [&](double along, double across) {
        return Point{p.x + u.x * along + n.x * across, p.y + u.y * along + n.y * across};
    };
    // Reaching a little into the stroke too, so that no seam shows between
    // the two where readers smooth their edges.
    const double overlap = std::min(r, 0.5);
    Figure figure;
    figure.closed = true;
    figure.start = at(-overlap, r);
    auto line = [&](Point end) {
        Segment segment;
        segment.end = end;
        figure.segments.push_back(segment);
    };
    auto arc = [&](Point control1, Point control2, Point end) {
        Segment segment;
        segment.cubic = true;
        segment.control1 = control1;
        segment.control2 = control2;
        segment.end = end;
        figure.segments.push_back(segment);
    };
    const double k = 0.5523 * r;  // a quarter circle as a cubic
    line(at(0, r));
    switch (cap) {
        case LineCap::Flat:
            return;
        case LineCap::Square:
            line(at(r, r));
            line(at(r, -r));
            line(at(0, -r));
            break;
        case LineCap::Triangle:
            line(at(r, 0));
            line(at(0, -r));
            break;
        case LineCap::Round:
            arc(at(k, r), at(r, k), at(r, 0));
            arc(at(r, -k), at(k, -r), at(0, -r));
            break;
    }
    line(at(-overlap, -r));
    caps.figures.push_back(figure);
}

}  // namespace

Geometry StrokeEnds(const Geometry& geometry, const Stroke& stroke) {
    Geometry caps;
    caps.fillRule = FillRule::NonZero;
    if (!stroke.dashes.empty()) {
        return caps;
    }
    const double r = stroke.thickness / 2;
    for (const Figure& figure : geometry.figures) {
        if (figure.closed || figure.segments.empty()) {
            continue;
        }
        // Outwards at each end: from the nearest other point of its segment.
        const Segment& first = figure.segments.front();
        Point u;
        if (first.stroked && ((first.cubic && (Direction(first.control1, figure.start, u) ||
                                               Direction(first.control2, figure.start, u))) ||
                              Direction(first.end, figure.start, u))) {
            AddCap(caps, stroke.startCap, figure.start, u, r);
        }
        const Segment& last = figure.segments.back();
        Point before =
            figure.segments.size() > 1 ? figure.segments[figure.segments.size() - 2].end : figure.start;
        if (last.stroked && ((last.cubic && (Direction(last.control2, last.end, u) ||
                                             Direction(last.control1, last.end, u))) ||
                             Direction(before, last.end, u))) {
            AddCap(caps, stroke.endCap, last.end, u, r);
        }
    }
    return caps;
}

Matrix ViewboxToTile(const Brush& brush) {
    double sx = brush.viewbox.width > 0 ? brush.viewport.width / brush.viewbox.width : 0;
    double sy = brush.viewbox.height > 0 ? brush.viewport.height / brush.viewbox.height : 0;
    return Matrix{sx, 0, 0, sy, -brush.viewbox.x * sx, -brush.viewbox.y * sy};
}

char32_t CodePointAt(const std::wstring& text, std::size_t at) {
    if (at >= text.size()) {
        return 0;
    }
    char32_t c = static_cast<char32_t>(text[at]) & 0xFFFF;
    if (c >= 0xD800 && c < 0xDC00 && at + 1 < text.size()) {
        char32_t low = static_cast<char32_t>(text[at + 1]) & 0xFFFF;
        if (low >= 0xDC00 && low < 0xE000) {
            return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        }
    }
    return c >= 0xD800 && c < 0xE000 ? 0xFFFD : c;
}

bool SimulatesItalic(StyleSimulations simulations) {
    return simulations == StyleSimulations::Italic || simulations == StyleSimulations::BoldItalic;
}

bool SimulatesBold(StyleSimulations simulations) {
    return simulations == StyleSimulations::Bold || simulations == StyleSimulations::BoldItalic;
}

std::vector<PlacedGlyph> PlaceGlyphs(const GlyphsElement& glyphs, const Font& font) {
    double scale = glyphs.emSize / font.Metrics().unitsPerEm;
    bool rightToLeft = glyphs.bidiLevel % 2 != 0;
    std::vector<PlacedGlyph> placed;
    placed.reserve(glyphs.glyphs.size());
    double pen = glyphs.origin.x;
    for (const Glyph& glyph : glyphs.glyphs) {
        std::uint16_t index =
            glyph.hasIndex ? glyph.index : font.GlyphFor(CodePointAt(glyphs.text, glyph.firstCharacter));
        double advance = glyph.hasAdvance
                             ? glyph.advance
                             : (glyphs.sideways ? font.VerticalAdvance(index) : font.Advance(index)) * scale;
        if (!glyph.hasAdvance && SimulatesBold(glyphs.simulations)) {
            advance *= 1 + kBoldStrokeEm;  // emboldened glyphs take the room they grew by, as MuPDF gives it
        }
        if (rightToLeft) {
            pen -= advance;
        }
        PlacedGlyph at;
        at.index = index;
        at.x = pen + (rightToLeft ? -glyph.offsetU : glyph.offsetU);
        at.y = glyphs.origin.y - glyph.offsetV;
        placed.push_back(at);
        if (!rightToLeft) {
            pen += advance;
        }
    }
    return placed;
}

Matrix GlyphMatrix(const GlyphsElement& glyphs, const Font& font, const PlacedGlyph& glyph) {
    const FontMetrics& metrics = font.Metrics();
    double scale = glyphs.emSize / metrics.unitsPerEm;
    if (glyphs.sideways) {
        return Matrix{0,
                      -scale,
                      -scale,
                      0,
                      glyph.x + metrics.ascender * scale,
                      glyph.y + font.Advance(glyph.index) * scale / 2};
    }
    return Matrix{scale,  0,       SimulatesItalic(glyphs.simulations) ? scale * kItalicShear : 0,
                  -scale, glyph.x, glyph.y};
}

HRESULT GlyphOutlines(const GlyphsElement& glyphs, const Font& font, const std::vector<PlacedGlyph>& placed,
                      Geometry& outlines) {
    outlines.fillRule = FillRule::NonZero;
    for (const PlacedGlyph& glyph : placed) {
        Geometry outline;
        HRESULT hr = font.Outline(glyph.index, outline);
        if (FAILED(hr)) {
            return hr;
        }
        AppendTransformed(outline, GlyphMatrix(glyphs, font, glyph), outlines);
    }
    return S_OK;
}

void AppendTransformed(const Geometry& from, const Matrix& m, Geometry& to) {
    for (Figure figure : from.figures) {
        figure.start = Apply(m, figure.start);
        for (Segment& segment : figure.segments) {
            segment.control1 = Apply(m, segment.control1);
            segment.control2 = Apply(m, segment.control2);
            segment.end = Apply(m, segment.end);
        }
        to.figures.push_back(std::move(figure));
    }
}

const ElementBase* BaseOf(const Element& element) {
    return element.kind == ElementKind::Canvas ? static_cast<const ElementBase*>(element.canvas.get())
           : element.kind == ElementKind::Path ? static_cast<const ElementBase*>(element.path.get())
                                               : static_cast<const ElementBase*>(element.glyphs.get());
}

namespace {

void VisitImages(const Canvas& canvas, const std::function<void(const Image&)>& visit,
                 std::set<const void*>& seen);

void VisitImages(const std::shared_ptr<const Brush>& brush, const std::function<void(const Image&)>& visit,
                 std::set<const void*>& seen) {
    if (!brush || !seen.insert(brush.get()).second) {
        return;
    }
    if (brush->image) {
        visit(*brush->image);
    }
    if (brush->visual && seen.insert(brush->visual.get()).second) {
        VisitImages(*brush->visual, visit, seen);
    }
}

void VisitImages(const Canvas& canvas, const std::function<void(const Image&)>& visit,
                 std::set<const void*>& seen) {
    for (const Element& element : canvas.children) {
        const ElementBase* base = BaseOf(element);
        if (base == nullptr) {
            continue;
        }
        VisitImages(base->opacityMask, visit, seen);
        if (element.kind == ElementKind::Path) {
            VisitImages(element.path->fill, visit, seen);
            VisitImages(element.path->stroke, visit, seen);
        } else if (element.kind == ElementKind::Glyphs) {
            VisitImages(element.glyphs->fill, visit, seen);
        } else {
            VisitImages(*element.canvas, visit, seen);
        }
    }
}

}  // namespace

void ForEachImage(const Canvas& canvas, const std::function<void(const Image&)>& visit) {
    std::set<const void*> seen;
    VisitImages(canvas, visit, seen);
}

Rect ElementBounds(const Element& element) {
    Rect bounds;
    const ElementBase* base = BaseOf(element);
    if (base == nullptr) {
        return bounds;
    }
    if (element.kind == ElementKind::Path) {
        bounds = Bounds(element.path->data);
        double grow = element.path->stroke ? element.path->strokeStyle.thickness *
                                                 std::max(1.0, element.path->strokeStyle.miterLimit)
                                           : 0;
        bounds = Rect{bounds.x - grow, bounds.y - grow, bounds.width + 2 * grow, bounds.height + 2 * grow};
    } else if (element.kind == ElementKind::Glyphs) {
        const GlyphsElement& glyphs = *element.glyphs;
        double length = 0;
        for (const Glyph& glyph : glyphs.glyphs) {
            length += std::fabs(glyph.advance) + std::fabs(glyph.offsetU);
        }
        double em = glyphs.emSize * 2;
        bounds = Rect{glyphs.origin.x - length - em, glyphs.origin.y - em, 2 * (length + em), 2 * em};
    } else {
        bool first = true;
        for (const Element& child : element.canvas->children) {
            const ElementBase* childBase = BaseOf(child);
            if (childBase == nullptr) {
                continue;
            }
            Rect childBounds = TransformedBounds(ElementBounds(child), childBase->transform);
            bounds = first ? childBounds : Union(bounds, childBounds);
            first = false;
        }
    }
    return base->clip ? Intersection(bounds, Bounds(*base->clip)) : bounds;
}

}  // namespace engine
