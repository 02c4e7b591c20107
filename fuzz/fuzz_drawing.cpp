// What writers and the rasteriser compute from the page model, on geometry
// and brushes the input makes: dashes, stroke ends, gradient bands, the
// tiles of a tile brush, the flattening for GDI+, and the integer pixel
// arithmetic (PixelBox, Enclosing, Intersect, GlyphCache::Snap).
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/geometrybuilder.h"
#include "engine/glyphcache.h"
#include "engine/gradientbands.h"
#include "engine/pagedrawing.h"
#include "engine/pathpoints.h"
#include "engine/rastersurface.h"
#include "engine/strokedashes.h"
#include "engine/tiling.h"
#include "fuzz/check.h"
#include "xps/utf8.h"

namespace {

double Number(FuzzedDataProvider& input) {
    // Mostly plain magnitudes, sometimes the extremes a document may hold.
    return input.ConsumeBool() ? input.ConsumeFloatingPointInRange(-2000.0, 2000.0)
                               : input.ConsumeFloatingPoint<double>();
}

engine::Matrix MatrixFrom(FuzzedDataProvider& input) {
    engine::Matrix m;
    if (input.ConsumeBool()) {
        m = {Number(input), Number(input), Number(input), Number(input), Number(input), Number(input)};
    }
    return m;
}

constexpr double kFar = 1 << 30;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    engine::Geometry geometry;
    engine::GeometryBuilder builder(geometry, 100, 2000);
    engine::FillRule rule = engine::FillRule::EvenOdd;
    if (FAILED(engine::ReadAbbreviatedGeometry(xml::FromUtf8(input.ConsumeRandomLengthString(512)), builder,
                                               rule))) {
        return 0;
    }
    engine::Stroke stroke;
    stroke.thickness = Number(input);
    for (int i = input.ConsumeIntegralInRange(0, 6); i > 0; --i) {
        stroke.dashes.push_back(Number(input));
    }
    stroke.dashOffset = Number(input);
    stroke.startCap = static_cast<engine::LineCap>(input.ConsumeIntegralInRange(0, 3));
    stroke.endCap = static_cast<engine::LineCap>(input.ConsumeIntegralInRange(0, 3));
    engine::Geometry dashed;
    if (engine::DashGeometry(geometry, stroke, input.ConsumeFloatingPointInRange(0.01, 10.0), dashed)) {
        FUZZ_CHECK(dashed.figures.size() <= engine::kMaxDashes);
        for (const engine::Figure& figure : dashed.figures) {
            FUZZ_CHECK(!figure.closed && !figure.filled);
        }
    }
    engine::StrokeEnds(geometry, stroke);
    engine::Rect bounds = engine::Bounds(geometry);

    engine::Brush brush;
    brush.kind = static_cast<engine::BrushKind>(input.ConsumeIntegralInRange(0, 4));
    brush.transform = MatrixFrom(input);
    brush.spread = static_cast<engine::SpreadMethod>(input.ConsumeIntegralInRange(0, 2));
    for (int i = input.ConsumeIntegralInRange(1, 4); i > 0; --i) {
        engine::GradientStop stop;
        stop.offset = Number(input);
        stop.color.r = input.ConsumeProbability<double>();
        brush.stops.push_back(stop);
    }
    brush.start = {Number(input), Number(input)};
    brush.end = {Number(input), Number(input)};
    brush.center = {Number(input), Number(input)};
    brush.gradientOrigin = {Number(input), Number(input)};
    brush.radiusX = Number(input);
    brush.radiusY = Number(input);
    brush.viewbox = {Number(input), Number(input), Number(input), Number(input)};
    brush.viewport = {Number(input), Number(input), Number(input), Number(input)};
    brush.tileMode = static_cast<engine::TileMode>(input.ConsumeIntegralInRange(0, 4));
    engine::GradientBands(brush, bounds, input.ConsumeBool());
    engine::TileGrid grid;
    if (engine::TilesCovering(brush, bounds, grid)) {
        FUZZ_CHECK(grid.i0 <= grid.i1 && grid.j0 <= grid.j1);
        // At most kMaxTiles tiles, counted without overflow.
        FUZZ_CHECK(grid.i1 - grid.i0 < engine::kMaxTiles && grid.j1 - grid.j0 < engine::kMaxTiles);
        FUZZ_CHECK((grid.i1 - grid.i0 + 1) * (grid.j1 - grid.j0 + 1) <= engine::kMaxTiles);
        engine::TilePlacement(brush, grid.i1, grid.j1);
    }

    engine::Matrix toPixels = MatrixFrom(input);
    engine::PathPoints points;
    points.AddFigures(geometry, toPixels, engine::PixelsPerUnit(toPixels), input.ConsumeBool());
    engine::Rect area = points.Bounds();
    engine::PixelBox box = engine::Enclosing(area);
    for (int v : {box.x0, box.y0, box.x1, box.y1}) {
        FUZZ_CHECK(v >= -kFar && v <= kFar);
    }
    engine::PixelBox other{
        input.ConsumeIntegralInRange(-(1 << 30), 1 << 30), input.ConsumeIntegralInRange(-(1 << 30), 1 << 30),
        input.ConsumeIntegralInRange(-(1 << 30), 1 << 30), input.ConsumeIntegralInRange(-(1 << 30), 1 << 30)};
    engine::PixelBox both = engine::Intersect(box, other);
    if (!both.Empty()) {
        FUZZ_CHECK(both.x0 >= box.x0 && both.x1 <= box.x1 && both.x0 >= other.x0 && both.x1 <= other.x1);
        FUZZ_CHECK(both.Width() > 0 && both.Height() > 0);
    }
    // Snap takes what lies on a surface: within Enclosing's reach.
    double at = input.ConsumeFloatingPointInRange(-kFar, kFar);
    int pixel = 0, place = 0;
    engine::GlyphCache::Snap(at, pixel, place);
    FUZZ_CHECK(place >= 0 && place < engine::GlyphCache::kPlaces);
    FUZZ_CHECK(std::fabs(pixel + double(place) / engine::GlyphCache::kPlaces - at) <=
               0.5 / engine::GlyphCache::kPlaces);
    engine::Matrix inverse;
    if (engine::Invert(toPixels, inverse)) {
        FUZZ_CHECK(std::isfinite(inverse.m11) && std::isfinite(inverse.m22) && std::isfinite(inverse.dx));
    }
    return 0;
}
