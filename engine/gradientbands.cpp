#include "engine/gradientbands.h"

#include <algorithm>
#include <cmath>

#include "engine/modelgeometry.h"
#include "xps/checkedmath.h"

namespace engine {

namespace {

// A stretch [from, to] of the ramp in one colour.
struct Span {
    double from, to;
    Color color;
};

// Where t falls on the ramp's [0, 1] after the spread method.
double OnRamp(SpreadMethod spread, double t) {
    if (spread == SpreadMethod::Pad) {
        return std::max(0.0, std::min(1.0, t));
    }
    double period = std::floor(t);
    double u = t - period;
    return spread == SpreadMethod::Reflect && std::fmod(period, 2.0) != 0 ? 1 - u : u;
}

bool SameColor(const Color& a, const Color& b) {
    auto level = [](double c) { return std::lround(std::max(0.0, std::min(1.0, c)) * 255); };
    return level(a.a) == level(b.a) && level(a.r) == level(b.r) && level(a.g) == level(b.g) &&
           level(a.b) == level(b.b);
}

// [from, to] cut into spans, each in its middle's colour: a span of
// 1/kBandsPerUnit, or wider where the count would pass the cap; cut whole
// when `whole` (the ends beyond a padded ramp). Spans of one colour join.
void AddSpans(const Brush& brush, double from, double to, bool whole, std::vector<Span>& spans) {
    if (!(to > from)) {
        return;
    }
    double step = whole ? to - from : std::max(1.0 / kBandsPerUnit, (to - from) / kMaxBands);
    int count = xps::Clamped<int>(std::ceil((to - from) / step), 0, kMaxBands);
    for (int i = 0; i < count; ++i) {
        double a = from + i * step, b = i + 1 == count ? to : from + (i + 1) * step;
        Color color =
            GradientColorAt(brush.stops, OnRamp(brush.spread, (a + b) / 2), brush.interpolateLinearLight);
        if (!spans.empty() && spans.back().to >= a && SameColor(spans.back().color, color)) {
            spans.back().to = b;
        } else {
            spans.push_back({a, b, color});
        }
    }
}

// The ramp over [from, to]: padded ends as one span each.
std::vector<Span> Spans(const Brush& brush, double from, double to) {
    std::vector<Span> spans;
    if (brush.spread == SpreadMethod::Pad) {
        AddSpans(brush, from, std::min(to, 0.0), true, spans);
        AddSpans(brush, std::max(from, 0.0), std::min(to, 1.0), false, spans);
        AddSpans(brush, std::max(from, 1.0), to, true, spans);
    } else {
        AddSpans(brush, std::max(from, -static_cast<double>(kMaxRepeats)),
                 std::min(to, static_cast<double>(kMaxRepeats)), false, spans);
    }
    return spans;
}

Figure Polygon(const std::vector<Point>& corners) {
    Figure figure;
    figure.start = corners.front();
    for (std::size_t i = 1; i < corners.size(); ++i) {
        Segment segment;
        segment.end = corners[i];
        figure.segments.push_back(segment);
    }
    figure.closed = true;
    return figure;
}

Figure Ellipse(Point center, double rx, double ry) {
    const double k = 0.5522847498307936;  // a quarter circle's control points
    Figure figure;
    figure.start = {center.x + rx, center.y};
    const double quarters[4][2] = {{1, 1}, {-1, 1}, {-1, -1}, {1, -1}};
    Point from = figure.start;
    for (int i = 0; i < 4; ++i) {
        // From the axis point `from` to the next, turning through quadrant q:
        // from the x axis to the y axis, then back.
        const double* q = quarters[i];
        bool alongX = i % 2 == 0;
        Point to = alongX ? Point{center.x, center.y + q[1] * ry} : Point{center.x + q[0] * rx, center.y};
        Segment segment;
        segment.cubic = true;
        segment.control1 =
            alongX ? Point{from.x, from.y + q[1] * k * ry} : Point{from.x + q[0] * k * rx, from.y};
        segment.control2 = alongX ? Point{to.x + q[0] * k * rx, to.y} : Point{to.x, to.y + q[1] * k * ry};
        segment.end = to;
        figure.segments.push_back(segment);
        from = to;
    }
    figure.closed = true;
    return figure;
}

std::vector<GradientBand> LinearBands(const Brush& brush, const std::vector<Point>& corners, bool disjoint) {
    Point v{brush.end.x - brush.start.x, brush.end.y - brush.start.y};
    double length2 = v.x * v.x + v.y * v.y;
    if (!(length2 > 1e-12)) {
        return {};
    }
    double length = std::sqrt(length2);
    Point across{-v.y / length, v.x / length};
    double t0 = HUGE_VAL, t1 = -HUGE_VAL, n0 = HUGE_VAL, n1 = -HUGE_VAL;
    for (Point p : corners) {
        Point d{p.x - brush.start.x, p.y - brush.start.y};
        double t = (d.x * v.x + d.y * v.y) / length2, n = d.x * across.x + d.y * across.y;
        t0 = std::min(t0, t), t1 = std::max(t1, t), n0 = std::min(n0, n), n1 = std::max(n1, n);
    }
    std::vector<Span> spans = Spans(brush, t0, t1);
    std::vector<GradientBand> bands;
    auto at = [&](double t, double n) {
        return Point{brush.start.x + v.x * t + across.x * n, brush.start.y + v.y * t + across.y * n};
    };
    for (std::size_t i = 0; i < spans.size(); ++i) {
        double to = spans[i].to;
        if (!disjoint && i + 1 < spans.size()) {
            to = (spans[i + 1].from + spans[i + 1].to) / 2;
        }
        GradientBand band;
        band.shape.figures.push_back(
            Polygon({at(spans[i].from, n0), at(to, n0), at(to, n1), at(spans[i].from, n1)}));
        band.color = spans[i].color;
        bands.push_back(std::move(band));
    }
    return bands;
}

std::vector<GradientBand> RadialBands(const Brush& brush, const std::vector<Point>& corners, bool disjoint) {
    double rx = brush.radiusX, ry = brush.radiusY;
    if (!(rx > 0 && ry > 0)) {
        return {};
    }
    // In a space squeezed so that the ellipses are circles of radius rx t.
    double squeeze = ry / rx;
    Point origin{brush.gradientOrigin.x, brush.gradientOrigin.y / squeeze};
    Point center{brush.center.x, brush.center.y / squeeze};
    double drift = std::hypot(center.x - origin.x, center.y - origin.y);
    // A t whose ellipse holds every corner.
    double cover = 0;
    for (Point p : corners) {
        Point q{p.x, p.y / squeeze};
        cover = std::max(cover, drift < rx * 0.999 ? std::hypot(q.x - origin.x, q.y - origin.y) / (rx - drift)
                                                   : std::hypot(q.x - center.x, q.y - center.y) / rx + 1);
    }
    cover = std::min(cover, static_cast<double>(kMaxRepeats));
    if (!std::isfinite(cover)) {
        return {};
    }
    auto ellipse = [&](double t) {
        return Ellipse({brush.gradientOrigin.x + (brush.center.x - brush.gradientOrigin.x) * t,
                        brush.gradientOrigin.y + (brush.center.y - brush.gradientOrigin.y) * t},
                       rx * t, ry * t);
    };
    bool pad = brush.spread == SpreadMethod::Pad;
    std::vector<Span> spans = Spans(brush, 0, pad ? 1 : std::max(cover, 1.0));
    std::vector<GradientBand> bands;
    if (pad && cover > 1) {
        // Beyond the ellipse: the last stop's colour over everything.
        GradientBand beyond;
        beyond.shape.fillRule = FillRule::EvenOdd;
        beyond.shape.figures.push_back(Polygon(corners));
        if (disjoint) {
            beyond.shape.figures.push_back(ellipse(1));
        }
        beyond.color = GradientColorAt(brush.stops, 1, brush.interpolateLinearLight);
        bands.push_back(std::move(beyond));
    }
    // Outermost first: each ellipse drawn over the larger one before it.
    for (auto span = spans.rbegin(); span != spans.rend(); ++span) {
        GradientBand band;
        band.shape.fillRule = FillRule::EvenOdd;
        band.shape.figures.push_back(ellipse(span->to));
        if (disjoint && span->from > 0) {
            band.shape.figures.push_back(ellipse(span->from));
        }
        band.color = span->color;
        bands.push_back(std::move(band));
    }
    return bands;
}

}  // namespace

std::vector<GradientBand> GradientBands(const Brush& brush, const Rect& area, bool disjoint) {
    Matrix inverse;
    if (brush.stops.empty() || !Invert(brush.transform, inverse)) {
        return {};
    }
    std::vector<Point> corners;
    for (Point p : {Point{area.x, area.y}, Point{area.x + area.width, area.y},
                    Point{area.x + area.width, area.y + area.height}, Point{area.x, area.y + area.height}}) {
        corners.push_back(Apply(inverse, p));
    }
    return brush.kind == BrushKind::LinearGradient   ? LinearBands(brush, corners, disjoint)
           : brush.kind == BrushKind::RadialGradient ? RadialBands(brush, corners, disjoint)
                                                     : std::vector<GradientBand>();
}

}  // namespace engine
