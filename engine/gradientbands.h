// GradientBands: a linear or radial gradient brush as bands of one colour
// each, for a format that has no gradients (EMF recorded with plain GDI).
// An approximation: a band is as wide as 1/kBandsPerUnit of the gradient's
// ramp (adjacent bands of the same 8-bit colour joined), each in the colour
// of its middle.
//
// Linear: strips across the axis from the start point to the end point.
// Radial: the ellipses of the gradient, from the gradient origin (t = 0) to
// the ellipse itself (t = 1), and beyond it for Reflect and Repeat.
// Pad: what lies beyond the ramp's ends is one band of the end's colour.
//
// Caps: at most kMaxBands bands for one brush (wider bands beyond), and the
// ramp repeated at most kMaxRepeats times each way.
#pragma once

#include <vector>

#include "engine/pagemodel.h"

namespace engine {

constexpr int kBandsPerUnit = 256;
constexpr int kMaxBands = 4096;
constexpr int kMaxRepeats = 256;

struct GradientBand {
    Geometry shape;  // in the brush's space, inside its Transform
    Color color;     // the stops' colour; the brush's Opacity not applied
};

// area: what the bands must cover, in the element's space (outside the
// brush's Transform). disjoint: no band overlaps another, for colours that
// are not opaque; otherwise each band may reach under the next, which is
// drawn over it, so that no seam shows between them. Bands come in the
// order they are to be drawn. None for a brush that paints nothing (no
// stops, a linear axis of no length, a radial gradient without area, a
// transform that flattens the plane).
std::vector<GradientBand> GradientBands(const Brush& brush, const Rect& area, bool disjoint);

}  // namespace engine
