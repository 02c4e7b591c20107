// What the pictures' writers compute from the page model beside the shared
// drawing arithmetic (engine/pagedrawing.h): a gradient's colour at a point
// of its ramp in either interpolation.
#pragma once

#include <vector>

#include "engine/pagedrawing.h"
#include "engine/pagemodel.h"

namespace engine {

// The colour of a gradient at t in [0, 1], the stops' own offsets anywhere;
// mixed in sRGB, or in linear light (ScRgbLinearInterpolation).
Color GradientColorAt(const std::vector<GradientStop>& stops, double t, bool linearLight = false);

}  // namespace engine
