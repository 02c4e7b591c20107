#include "engine/pathpoints.h"

#include <algorithm>
#include <cmath>

#include "xps/checkedmath.h"
#include "xps/ziparchive.h"

namespace engine {

void PathPoints::Start(Point p) {
    if (!types_.empty() && types_.back() == Gdiplus::PathPointTypeStart) {
        points_.back() = {static_cast<float>(p.x), static_cast<float>(p.y)};  // a figure of one point
    } else if (points_.size() < kMaxPoints) {
        points_.push_back({static_cast<float>(p.x), static_cast<float>(p.y)});
        types_.push_back(Gdiplus::PathPointTypeStart);
    } else {
        overCap_ = true;
    }
}

void PathPoints::Add(Point p) {
    if (points_.size() < kMaxPoints) {
        points_.push_back({static_cast<float>(p.x), static_cast<float>(p.y)});
        types_.push_back(Gdiplus::PathPointTypeLine);
    } else {
        overCap_ = true;
    }
}

// A cubic of n lines strays at most 3/4 |its second differences| / n^2.
void PathPoints::AddCubic(Point p0, Point p1, Point p2, Point p3, double tolerance) {
    double ddx = std::max(std::fabs(p0.x - 2 * p1.x + p2.x), std::fabs(p1.x - 2 * p2.x + p3.x));
    double ddy = std::max(std::fabs(p0.y - 2 * p1.y + p2.y), std::fabs(p1.y - 2 * p2.y + p3.y));
    double lines = std::ceil(std::sqrt(0.75 * std::hypot(ddx, ddy) / tolerance));
    int n = xps::Clamped<int>(lines, 1, kMaxCurveLines);
    for (int i = 1; i <= n; ++i) {
        double t = static_cast<double>(i) / n, u = 1 - t;
        double a = u * u * u, b = 3 * u * u * t, c = 3 * u * t * t, d = t * t * t;
        Add({a * p0.x + b * p1.x + c * p2.x + d * p3.x, a * p0.y + b * p1.y + c * p2.y + d * p3.y});
    }
}

void PathPoints::EndFigure(bool closed) {
    if (types_.empty()) {
        return;
    }
    if (types_.back() == Gdiplus::PathPointTypeStart) {
        points_.pop_back();  // a figure of one point draws nothing
        types_.pop_back();
    } else if (closed) {
        types_.back() |= Gdiplus::PathPointTypeCloseSubpath;
    }
}

void PathPoints::AddFigures(const Geometry& geometry, const Matrix& m, double pixelsPerUnit, bool forStroke) {
    double tolerance = kFlatness / std::max(pixelsPerUnit, 1e-9);
    for (const Figure& figure : geometry.figures) {
        if (figure.segments.empty() || (!forStroke && !figure.filled)) {
            continue;
        }
        bool broken = false;
        Point at = Apply(m, figure.start);
        Start(at);
        for (const Segment& segment : figure.segments) {
            Point end = Apply(m, segment.end);
            if (forStroke && !segment.stroked) {
                Start(end);
                broken = true;
            } else if (segment.cubic) {
                AddCubic(at, Apply(m, segment.control1), Apply(m, segment.control2), end, tolerance);
            } else {
                Add(end);
            }
            at = end;
        }
        // A closed figure with gaps: its closing line drawn, but no join.
        if (figure.closed && broken) {
            Add(Apply(m, figure.start));
        }
        EndFigure(figure.closed && !broken);
    }
}

void PathPoints::AddPolygon(const Point* corners, std::size_t count) {
    if (count == 0) {
        return;
    }
    Start(corners[0]);
    for (std::size_t i = 1; i < count; ++i) {
        Add(corners[i]);
    }
    EndFigure(true);
}

Rect PathPoints::Bounds() const {
    double x0 = HUGE_VAL, y0 = HUGE_VAL, x1 = -HUGE_VAL, y1 = -HUGE_VAL;
    for (const Gdiplus::PointF& p : points_) {
        x0 = std::min<double>(x0, p.X);
        y0 = std::min<double>(y0, p.Y);
        x1 = std::max<double>(x1, p.X);
        y1 = std::max<double>(y1, p.Y);
    }
    return x1 < x0 ? Rect{} : Rect{x0, y0, x1 - x0, y1 - y0};
}

HRESULT PathPoints::MakePath(const GdiPlusApi& api, FillRule rule, GdiPlusPtr<Gdiplus::GpPath>& path) const {
    if (overCap_) {
        return xps::kOverCap;
    }
    Gdiplus::GpPath* raw = nullptr;
    HRESULT hr = GdiPlusResult(api.GdipCreatePath2(
        points_.data(), types_.data(), static_cast<INT>(points_.size()),
        rule == FillRule::NonZero ? Gdiplus::FillModeWinding : Gdiplus::FillModeAlternate, &raw));
    path.reset(raw);
    return hr;
}

double PixelsPerUnit(const Matrix& m) { return std::hypot(m.m11, m.m12) + std::hypot(m.m21, m.m22); }

}  // namespace engine
