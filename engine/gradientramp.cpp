#include "engine/gradientramp.h"

#include <algorithm>
#include <cmath>

#include "engine/modelgeometry.h"

namespace engine {

namespace {

std::uint32_t Premultiplied(const Color& c, double opacity) {
    auto unit = [](double v) { return std::max(0.0, std::min(1.0, v)); };
    double a = unit(c.a) * unit(opacity);
    auto byte = [](double v) { return static_cast<std::uint32_t>(v * 255 + 0.5); };
    return byte(a) << 24 | byte(unit(c.r) * a) << 16 | byte(unit(c.g) * a) << 8 | byte(unit(c.b) * a);
}

}  // namespace

GradientRamp::GradientRamp(const Brush& brush, double opacity) : spread_(brush.spread) {
    if (brush.stops.empty()) {
        return;
    }
    if (brush.kind == BrushKind::LinearGradient) {
        double vx = brush.end.x - brush.start.x, vy = brush.end.y - brush.start.y;
        double length2 = vx * vx + vy * vy;
        if (!(length2 > 1e-12)) {
            return;
        }
        start_ = brush.start;
        axis_ = {vx / length2, vy / length2};
    } else {
        if (!(brush.radiusX > 0 && brush.radiusY > 0)) {
            return;
        }
        radial_ = true;
        center_ = brush.center;
        radiusX_ = brush.radiusX;
        radiusY_ = brush.radiusY;
        origin_ = {(brush.gradientOrigin.x - center_.x) / radiusX_,
                   (brush.gradientOrigin.y - center_.y) / radiusY_};
        inside_ = 1 - (origin_.x * origin_.x + origin_.y * origin_.y);
    }
    table_.resize(kEntries);
    for (int i = 0; i < kEntries; ++i) {
        double t = static_cast<double>(i) / (kEntries - 1);
        table_[i] = Premultiplied(GradientColorAt(brush.stops, t, brush.interpolateLinearLight),
                                  brush.opacity * opacity);
    }
    paints_ = true;
}

std::uint32_t GradientRamp::At(double t) const {
    if (!(t > -1e9 && t < 1e9)) {
        return 0;  // no place on the gradient, or beyond what a page shows
    }
    double u = t;
    if (spread_ == SpreadMethod::Pad) {
        u = std::max(0.0, std::min(1.0, t));
    } else {
        double period = std::floor(t);
        u = t - period;
        if (spread_ == SpreadMethod::Reflect && std::fmod(period, 2.0) != 0) {
            u = 1 - u;
        }
    }
    return table_[static_cast<int>(u * (kEntries - 1) + 0.5)];
}

double GradientRamp::PlaceOf(Point p) const {
    if (!radial_) {
        return (p.x - start_.x) * axis_.x + (p.y - start_.y) * axis_.y;
    }
    // In the unit circle's space, the point lies at t on the circle of
    // radius t about origin + t (centre - origin): |d + t origin| = t for
    // d = point - origin, that is (1 - |origin|^2) t^2 - 2 (origin . d) t
    // - |d|^2 = 0. The larger root: with the origin outside the ellipse,
    // points outside the cone of circles have none (not a number).
    double dx = (p.x - center_.x) / radiusX_ - origin_.x, dy = (p.y - center_.y) / radiusY_ - origin_.y;
    double along = origin_.x * dx + origin_.y * dy;
    double d2 = dx * dx + dy * dy;
    if (std::fabs(inside_) < 1e-9) {
        return along < 0 ? -d2 / (2 * along) : NAN;
    }
    double t = (along + std::sqrt(along * along + inside_ * d2)) / inside_;
    if (inside_ < 0) {
        t = std::max(t, (along - std::sqrt(along * along + inside_ * d2)) / inside_);
    }
    return t >= 0 ? t : NAN;
}

void GradientRamp::FillRow(const Matrix& toBrush, int x, int y, int count, std::uint32_t* out) const {
    Point p = Apply(toBrush, {x + 0.5, y + 0.5});
    for (int i = 0; i < count; ++i) {
        out[i] = At(PlaceOf(p));
        p.x += toBrush.m11;
        p.y += toBrush.m12;
    }
}

}  // namespace engine
