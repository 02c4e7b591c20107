// What every writer computes the same way from the page model: inverse
// matrices, bounds, a gradient's colour at a point of its ramp, a tile
// brush's viewbox mapped onto its viewport.
#pragma once

#include <vector>

#include "engine/pagemodel.h"

namespace engine {

// False for a matrix that flattens the plane (what it draws covers nothing).
bool Invert(const Matrix& m, Matrix& inverse);

// The bounds of a geometry's points, control points included: enough to
// know what a brush must cover. An empty geometry gives an empty Rect.
Rect Bounds(const Geometry& geometry);
Rect TransformedBounds(const Rect& r, const Matrix& m);

// The colour of a gradient at t in [0, 1], the stops' own offsets anywhere;
// mixed in sRGB, or in linear light (ScRgbLinearInterpolation).
Color GradientColorAt(const std::vector<GradientStop>& stops, double t, bool linearLight = false);

// A tile brush's viewbox mapped onto the viewport's size at the origin.
Matrix ViewboxToTile(const Brush& brush);

// The geometry's figures taken by m, added to `to` (whose fill rule stays).
void AppendTransformed(const Geometry& from, const Matrix& m, Geometry& to);

}  // namespace engine
