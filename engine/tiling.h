// The tiles of a tile brush (ImageBrush, VisualBrush) that an area needs,
// for every writer: the viewport repeated across the brush's space, every
// other tile mirrored as the tile mode says. A brush without tiling has the
// one tile (0, 0).
//
// Cap: at most kMaxTiles tiles; an area that needs more gets the first 64
// by 64 of them.
#pragma once

#include "engine/pagemodel.h"

namespace engine {

constexpr long long kMaxTiles = 4096;

// Tiles i0..i1 across and j0..j1 down, the bounds included.
struct TileGrid {
    long long i0 = 0, i1 = 0, j0 = 0, j1 = 0;
};

// area: in the space the brush's transform maps into (the element's).
// False when the brush paints nothing: an empty viewport, a transform that
// flattens the plane.
bool TilesCovering(const Brush& brush, const Rect& area, TileGrid& grid);

// From the tile's own space (the viewport's size at the origin) to the
// brush's space, inside the brush's transform.
Matrix TilePlacement(const Brush& brush, long long i, long long j);

}  // namespace engine
