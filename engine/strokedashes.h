// DashGeometry: a stroke's dash pattern laid along a geometry, for a writer
// whose format (or whose readers) cannot dash: each dash becomes an open
// figure of its own, curves flattened to lines within a tolerance. Wine's
// GDI, for one, strokes a user-styled pen solid.
//
// The pattern starts again at each figure, shifted by the dash offset, and
// runs on through segments that are not stroked without drawing them. A
// closed figure's closing line is dashed too. A dash of no length keeps a
// tiny length along the line, so that round and square caps still show it.
//
// Caps: a cubic is flattened into at most kMaxPiecesPerCurve lines; a
// stroke that would need more than kMaxDashes dashes or kMaxDashedLines
// lines, or whose pattern is empty or has no length, is not dashed (false).
#pragma once

#include <cstddef>

#include "engine/pagemodel.h"

namespace engine {

constexpr std::size_t kMaxDashes = 200000;
constexpr std::size_t kMaxDashedLines = 1000000;
constexpr int kMaxPiecesPerCurve = 64;

// tolerance: how far a flattened curve may stray from the curve, in the
// geometry's units. On true, dashed holds the dashes (every figure open,
// filled false).
bool DashGeometry(const Geometry& geometry, const Stroke& style, double tolerance, Geometry& dashed);

}  // namespace engine
