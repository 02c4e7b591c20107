#include "engine/tiling.h"

#include <algorithm>
#include <cmath>

#include "engine/modelgeometry.h"
#include "xps/checkedmath.h"

namespace engine {

namespace {

// Far beyond any cap; the grid's extent and its count still fit a long long.
long long Whole(double value) { return xps::Clamped<long long>(value, -xps::kFarPixel, xps::kFarPixel); }

}  // namespace

bool TilesCovering(const Brush& brush, const Rect& area, TileGrid& grid) {
    grid = TileGrid();
    Matrix inverse;
    const Rect& vp = brush.viewport;
    if (!Invert(brush.transform, inverse) || !(vp.width > 0) || !(vp.height > 0)) {
        return false;
    }
    if (brush.tileMode == TileMode::None) {
        return true;
    }
    Rect region = TransformedBounds(area, inverse);
    grid.i0 = Whole(std::floor((region.x - vp.x) / vp.width));
    grid.i1 = Whole(std::ceil((region.x + region.width - vp.x) / vp.width));
    grid.j0 = Whole(std::floor((region.y - vp.y) / vp.height));
    grid.j1 = Whole(std::ceil((region.y + region.height - vp.y) / vp.height));
    std::uint64_t across = static_cast<std::uint64_t>(grid.i1 - grid.i0 + 1),
                  down = static_cast<std::uint64_t>(grid.j1 - grid.j0 + 1);
    if (xps::SaturatingMultiply(across, down) > static_cast<std::uint64_t>(kMaxTiles)) {
        grid.i1 = grid.i0 + std::min<long long>(grid.i1 - grid.i0, 63);
        grid.j1 = grid.j0 + std::min<long long>(grid.j1 - grid.j0, 63);
    }
    return true;
}

Matrix TilePlacement(const Brush& brush, long long i, long long j) {
    const Rect& vp = brush.viewport;
    bool flipX = (brush.tileMode == TileMode::FlipX || brush.tileMode == TileMode::FlipXY) && (i % 2 != 0);
    bool flipY = (brush.tileMode == TileMode::FlipY || brush.tileMode == TileMode::FlipXY) && (j % 2 != 0);
    double x = vp.x + static_cast<double>(i) * vp.width, y = vp.y + static_cast<double>(j) * vp.height;
    return Matrix{flipX ? -1.0 : 1.0,       0, 0, flipY ? -1.0 : 1.0, flipX ? x + vp.width : x,
                  flipY ? y + vp.height : y};
}

}  // namespace engine
