// GradientRamp: a linear or radial gradient brush evaluated pixel by pixel,
// as XPS defines it, for the rasteriser. GDI+'s own gradients cannot pad a
// linear gradient, reflect or repeat a radial one, or place a radial
// gradient's origin anywhere inside its ellipse; so the ramp computes each
// pixel's place t on the gradient (0 at the start or origin, 1 at the end or
// on the ellipse), applies the spread method, and looks the colour up in a
// table of kEntries colours made from the stops (in sRGB, or in linear light
// for ScRgbLinearInterpolation), premultiplied with the brush's opacity.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/pagemodel.h"

namespace engine {

class GradientRamp {
public:
    static constexpr int kEntries = 1024;

    // brush: a LinearGradient or RadialGradient; opacity multiplies the
    // brush's own.
    GradientRamp(const Brush& brush, double opacity);

    // False for a gradient that paints nothing: no stops, a linear gradient
    // whose start is its end, a radial one without area.
    bool Paints() const { return paints_; }

    // The colour at t, the spread method applied: premultiplied BGRA;
    // nothing (0) where t is not a number.
    std::uint32_t At(double t) const;
    // Where a point of the brush's own space (inside its Transform) lies:
    // not a number where the gradient does not reach (a radial gradient
    // whose origin lies outside its ellipse paints only the cone of its
    // circles).
    double PlaceOf(Point p) const;
    // count pixels of a row, from the pixel at (x, y): each pixel's centre
    // taken into the brush's space by toBrush.
    void FillRow(const Matrix& toBrush, int x, int y, int count, std::uint32_t* out) const;

private:
    bool paints_ = false;
    bool radial_ = false;
    SpreadMethod spread_ = SpreadMethod::Pad;
    // Linear: t = (p - start) . axis_.
    Point start_, axis_;
    // Radial: the centre and the radii; in the unit circle's space, the
    // origin and 1 - |origin|^2.
    Point center_, origin_;
    double radiusX_ = 0, radiusY_ = 0, inside_ = 1;
    std::vector<std::uint32_t> table_;
};

}  // namespace engine
