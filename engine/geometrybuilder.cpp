#include "engine/geometrybuilder.h"

#include <cmath>

#include "engine/markupvalues.h"
#include "xps/xmlreader.h"
#include "xps/ziparchive.h"

namespace engine {

namespace {

constexpr double kPi = 3.14159265358979323846;

bool IsFinite(Point p) { return std::isfinite(p.x) && std::isfinite(p.y); }
Point Plus(Point a, Point b) { return {a.x + b.x, a.y + b.y}; }
// a + (b - a) * t
Point Towards(Point a, Point b, double t) { return {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t}; }

// The signed angle from (ux, uy) to (vx, vy).
double AngleBetween(double ux, double uy, double vx, double vy) {
    return std::atan2(ux * vy - uy * vx, ux * vx + uy * vy);
}

bool IsLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }
wchar_t Upper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - 32) : c; }

bool ReadFlag(NumberScanner& scanner, bool& flag) {
    double value = 0;
    if (!scanner.Number(value) || (value != 0 && value != 1)) {
        return false;
    }
    flag = value == 1;
    return true;
}

}  // namespace

HRESULT GeometryBuilder::Start(Point start, bool filled) {
    if (!IsFinite(start)) {
        return xml::kMalformed;
    }
    if (geometry_.figures.size() >= maxFigures_) {
        return xps::kOverCap;
    }
    geometry_.figures.emplace_back();
    geometry_.figures.back().start = start;
    geometry_.figures.back().filled = filled;
    open_ = true;
    current_ = start;
    return S_OK;
}

HRESULT GeometryBuilder::Add(const Segment& segment) {
    if (geometry_.figures.empty() || !IsFinite(segment.end) ||
        (segment.cubic && (!IsFinite(segment.control1) || !IsFinite(segment.control2)))) {
        return xml::kMalformed;
    }
    if (!open_) {
        const Figure& closed = geometry_.figures.back();
        HRESULT hr = Start(closed.start, closed.filled);
        if (FAILED(hr)) {
            return hr;
        }
    }
    if (segments_ >= maxSegments_) {
        return xps::kOverCap;
    }
    ++segments_;
    geometry_.figures.back().segments.push_back(segment);
    current_ = segment.end;
    return S_OK;
}

HRESULT GeometryBuilder::Line(Point end, bool stroked) {
    Segment segment;
    segment.end = end;
    segment.stroked = stroked;
    return Add(segment);
}

HRESULT GeometryBuilder::Cubic(Point control1, Point control2, Point end, bool stroked) {
    Segment segment;
    segment.cubic = true;
    segment.control1 = control1;
    segment.control2 = control2;
    segment.end = end;
    segment.stroked = stroked;
    return Add(segment);
}

HRESULT GeometryBuilder::Quadratic(Point control, Point end, bool stroked) {
    return Cubic(Towards(current_, control, 2.0 / 3), Towards(end, control, 2.0 / 3), end, stroked);
}

HRESULT GeometryBuilder::Arc(Point radii, double rotationDegrees, bool largeArc, bool clockwise, Point end,
                             bool stroked) {
    Point start = current_;
    if (!IsFinite(radii) || !std::isfinite(rotationDegrees) || !IsFinite(end)) {
        return xml::kMalformed;
    }
    if (start.x == end.x && start.y == end.y) {
        return S_OK;  // an arc to where it starts draws nothing
    }
    double rx = std::fabs(radii.x), ry = std::fabs(radii.y);
    double phi = std::fmod(rotationDegrees, 360.0) * kPi / 180, cosPhi = std::cos(phi),
           sinPhi = std::sin(phi);
    double halfX = (start.x - end.x) / 2, halfY = (start.y - end.y) / 2;
    double x1 = cosPhi * halfX + sinPhi * halfY, y1 = -sinPhi * halfX + cosPhi * halfY;
    double lambda = rx == 0 || ry == 0 ? 0 : (x1 * x1) / (rx * rx) + (y1 * y1) / (ry * ry);
    if (rx == 0 || ry == 0 || !std::isfinite(lambda)) {
        return Line(end, stroked);
    }
    if (lambda > 1) {
        rx *= std::sqrt(lambda);
        ry *= std::sqrt(lambda);
    }
    double rx2 = rx * rx, ry2 = ry * ry;
    if (!std::isfinite(rx2 * ry2)) {
        return Line(end, stroked);  // radii beyond what doubles square: the arc is its chord
    }
    double numerator = rx2 * ry2 - rx2 * y1 * y1 - ry2 * x1 * x1, denominator = rx2 * y1 * y1 + ry2 * x1 * x1;
    double factor = numerator > 0 && denominator > 0 ? std::sqrt(numerator / denominator) : 0;
    factor = largeArc == clockwise ? -factor : factor;
    double cx1 = factor * rx * y1 / ry, cy1 = -factor * ry * x1 / rx;
    double cx = cosPhi * cx1 - sinPhi * cy1 + (start.x + end.x) / 2;
    double cy = sinPhi * cx1 + cosPhi * cy1 + (start.y + end.y) / 2;
    double ux = (x1 - cx1) / rx, uy = (y1 - cy1) / ry;
    double theta = AngleBetween(1, 0, ux, uy);
    double sweep = AngleBetween(ux, uy, (-x1 - cx1) / rx, (-y1 - cy1) / ry);
    if (clockwise && sweep < 0) {
        sweep += 2 * kPi;
    } else if (!clockwise && sweep > 0) {
        sweep -= 2 * kPi;
    }
    int pieces = static_cast<int>(std::ceil(std::fabs(sweep) / (kPi / 2) - 1e-9));
    pieces = pieces < 1 ? 1 : pieces > 4 ? 4 : pieces;
    double step = sweep / pieces, k = 4.0 / 3 * std::tan(step / 4);
    auto at = [&](double t) {
        return Point{cx + rx * std::cos(t) * cosPhi - ry * std::sin(t) * sinPhi,
                     cy + rx * std::cos(t) * sinPhi + ry * std::sin(t) * cosPhi};
    };
    auto tangent = [&](double t) {
        return Point{k * (-rx * std::sin(t) * cosPhi - ry * std::cos(t) * sinPhi),
                     k * (-rx * std::sin(t) * sinPhi + ry * std::cos(t) * cosPhi)};
    };
    for (int i = 0; i < pieces; ++i) {
        double t1 = theta + step * i, t2 = t1 + step;
        Point to = i + 1 == pieces ? end : at(t2), out = tangent(t1), in = tangent(t2);
        Point from = at(t1);
        HRESULT hr = Cubic(Plus(from, out), {to.x - in.x, to.y - in.y}, to, stroked);
        if (FAILED(hr)) {
            return hr;
        }
    }
    return S_OK;
}

void GeometryBuilder::Close() {
    if (!geometry_.figures.empty()) {
        geometry_.figures.back().closed = true;
        current_ = geometry_.figures.back().start;
    }
    open_ = false;
}

HRESULT ReadAbbreviatedGeometry(const std::wstring& text, GeometryBuilder& builder, FillRule& fillRule) {
    NumberScanner scanner(text);
    wchar_t command = 0;
    bool moved = false, lastWasCubic = false;
    Point lastControl;  // the second control point of the last cubic, which S mirrors
    for (wchar_t next; (next = scanner.Peek()) != 0;) {
        if (IsLetter(next)) {
            scanner.Skip();
            if (Upper(next) == L'F' && command != 0) {
                return xml::kMalformed;  // the fill rule comes first
            }
            command = next;
        } else if (command == 0 || Upper(command) == L'Z' || Upper(command) == L'F') {
            return xml::kMalformed;  // a number that no command takes
        } else if (Upper(command) == L'M') {
            command = command == L'M' ? L'L' : L'l';  // further points of a move draw lines
        }
        wchar_t kind = Upper(command);
        if (kind != L'F' && kind != L'M' && !moved) {
            return xml::kMalformed;
        }
        Point current = builder.Current();
        Point base = command == kind ? Point() : current;
        Point p, q, r, radii;
        double value = 0, angle = 0;
        bool large = false, clockwise = false, ok = true;
        HRESULT hr = S_OK;
        bool cubic = false;
        switch (kind) {
            case L'F':
                ok = scanner.Number(value) && (value == 0 || value == 1);
                fillRule = value == 1 ? FillRule::NonZero : FillRule::EvenOdd;
                break;
            case L'M':
                ok = scanner.Point(p);
                hr = ok ? builder.Start(Plus(base, p), true) : hr;
                moved = true;
                break;
            case L'L':
                ok = scanner.Point(p);
                hr = ok ? builder.Line(Plus(base, p), true) : hr;
                break;
            case L'H':
                ok = scanner.Number(value);
                hr = ok ? builder.Line({base.x + value, current.y}, true) : hr;
                break;
            case L'V':
                ok = scanner.Number(value);
                hr = ok ? builder.Line({current.x, base.y + value}, true) : hr;
                break;
            case L'C':
            case L'S':
                ok = (kind == L'S' || scanner.Point(p)) && scanner.Point(q) && scanner.Point(r);
                p = kind == L'C'   ? Plus(base, p)
                    : lastWasCubic ? Point{2 * current.x - lastControl.x, 2 * current.y - lastControl.y}
                                   : current;
                lastControl = Plus(base, q);
                hr = ok ? builder.Cubic(p, lastControl, Plus(base, r), true) : hr;
                cubic = true;
                break;
            case L'Q':
                ok = scanner.Point(p) && scanner.Point(q);
                hr = ok ? builder.Quadratic(Plus(base, p), Plus(base, q), true) : hr;
                break;
            case L'A':
                ok = scanner.Point(radii) && scanner.Number(angle) && ReadFlag(scanner, large) &&
                     ReadFlag(scanner, clockwise) && scanner.Point(p);
                hr = ok ? builder.Arc(radii, angle, large, clockwise, Plus(base, p), true) : hr;
                break;
            case L'Z':
                builder.Close();
                break;
            default:
                ok = false;
        }
        if (!ok || FAILED(hr)) {
            return ok ? hr : xml::kMalformed;
        }
        lastWasCubic = cubic;
    }
    return S_OK;
}

bool TransformGeometry(Geometry& geometry, const Matrix& transform) {
    bool finite = true;
    auto apply = [&](Point& p) {
        p = Apply(transform, p);
        finite = finite && IsFinite(p);
    };
    for (Figure& figure : geometry.figures) {
        apply(figure.start);
        for (Segment& segment : figure.segments) {
            if (segment.cubic) {
                apply(segment.control1);
                apply(segment.control2);
            }
            apply(segment.end);
        }
    }
    return finite;
}

}  // namespace engine
