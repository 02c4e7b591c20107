#include "engine/modelgeometry.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace engine {

namespace {

Color Mix(const Color& a, const Color& b, double t) {
    return {a.a + (b.a - a.a) * t, a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

double ToLinear(double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); }
double FromLinear(double c) { return c <= 0.0031308 ? c * 12.92 : 1.055 * std::pow(c, 1 / 2.4) - 0.055; }

Color MixLinearLight(const Color& a, const Color& b, double t) {
    auto mix = [t](double x, double y) { return FromLinear(ToLinear(x) + (ToLinear(y) - ToLinear(x)) * t); };
    return {a.a + (b.a - a.a) * t, mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b)};
}

}  // namespace

bool Invert(const Matrix& m, Matrix& inverse) {
    double determinant = m.m11 * m.m22 - m.m12 * m.m21;
    if (!(std::fabs(determinant) > 1e-12)) {
        return false;
    }
    inverse.m11 = m.m22 / determinant;
    inverse.m12 = -m.m12 / determinant;
    inverse.m21 = -m.m21 / determinant;
    inverse.m22 = m.m11 / determinant;
    inverse.dx = -(m.dx * inverse.m11 + m.dy * inverse.m21);
    inverse.dy = -(m.dx * inverse.m12 + m.dy * inverse.m22);
    return true;
}

Rect Bounds(const Geometry& geometry) {
    double x0 = HUGE_VAL, y0 = HUGE_VAL, x1 = -HUGE_VAL, y1 = -HUGE_VAL;
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
    Geometry box;
    Figure figure;
    figure.start = Apply(m, {r.x, r.y});
    for (Point p :
         {Point{r.x + r.width, r.y}, Point{r.x + r.width, r.y + r.height}, Point{r.x, r.y + r.height}}) {
        Segment segment;
        segment.end = Apply(m, p);
        figure.segments.push_back(segment);
    }
    box.figures.push_back(figure);
    return Bounds(box);
}

Color GradientColorAt(const std::vector<GradientStop>& stops, double t, bool linearLight) {
    if (t <= stops.front().offset) {
        return stops.front().color;
    }
    for (std::size_t i = 1; i < stops.size(); ++i) {
        if (t <= stops[i].offset) {
            double span = stops[i].offset - stops[i - 1].offset;
            double along = span > 0 ? (t - stops[i - 1].offset) / span : 1;
            return linearLight ? MixLinearLight(stops[i - 1].color, stops[i].color, along)
                               : Mix(stops[i - 1].color, stops[i].color, along);
        }
    }
    return stops.back().color;
}

Matrix ViewboxToTile(const Brush& brush) {
    double sx = brush.viewbox.width > 0 ? brush.viewport.width / brush.viewbox.width : 0;
    double sy = brush.viewbox.height > 0 ? brush.viewport.height / brush.viewbox.height : 0;
    return Matrix{sx, 0, 0, sy, -brush.viewbox.x * sx, -brush.viewbox.y * sy};
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

}  // namespace engine
