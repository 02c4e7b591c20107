#include "engine/glyphcache.h"

#include <cmath>

#include "engine/modelgeometry.h"
#include "engine/pathpoints.h"
#include "engine/rastersurface.h"
#include "xps/checkedmath.h"

namespace engine {

namespace {

// Matrices alike to this many parts of a font unit's pixel are one size.
constexpr double kMatrixSteps = 1 << 20;

std::int64_t Quantised(double value) { return std::llround(value * kMatrixSteps); }

}  // namespace

void GlyphCache::Snap(double at, int& pixel, int& place) {
    double floor = std::floor(at);
    place = xps::Clamped<int>(std::round((at - floor) * kPlaces), 0, kPlaces);
    pixel = xps::PixelOf(floor) + place / kPlaces;
    place %= kPlaces;
}

HRESULT GlyphCache::MaskOf(const void* font, std::uint16_t glyph, const Geometry& outline,
                           const Matrix& toPixels, int placeX, int placeY, double stroke, const Mask*& mask) {
    Key key = {reinterpret_cast<std::intptr_t>(font),
               glyph,
               Quantised(toPixels.m11),
               Quantised(toPixels.m12),
               Quantised(toPixels.m21),
               Quantised(toPixels.m22),
               placeX,
               placeY,
               Quantised(stroke)};
    auto found = masks_.find(key);
    if (found != masks_.end()) {
        mask = found->second.width > 0 || found->second.coverage.empty() ? &found->second : nullptr;
        return S_OK;
    }
    Matrix placed = toPixels;
    placed.dx = static_cast<double>(placeX) / kPlaces;
    placed.dy = static_cast<double>(placeY) / kPlaces;
    Mask made;
    HRESULT hr = Fill(outline, placed, stroke, made);
    if (FAILED(hr)) {
        return hr;
    }
    if (bytes_ + made.coverage.size() > kMaxBytes) {
        masks_.clear();
        bytes_ = 0;
    }
    bytes_ += made.coverage.size();
    Mask& kept = masks_[key] = std::move(made);
    mask = kept.width > 0 || kept.coverage.empty() ? &kept : nullptr;
    return S_OK;
}

// A mask too large to keep is kept as one of no width with coverage: a
// mark that the caller draws the glyph itself.
HRESULT GlyphCache::Fill(const Geometry& outline, const Matrix& toPixels, double stroke, Mask& mask) {
    double reach = stroke / 2 * PixelsPerUnit(toPixels) + 1;
    Rect bounds = TransformedBounds(Bounds(outline), toPixels);
    PixelBox box = Enclosing(
        Rect{bounds.x - reach, bounds.y - reach, bounds.width + 2 * reach, bounds.height + 2 * reach});
    if (outline.Empty()) {
        return S_OK;
    }
    if (box.Width() > kMaxSide || box.Height() > kMaxSide) {
        mask.coverage.assign(1, 0);
        return S_OK;
    }
    // The outline in the oversampled surface's pixels.
    Matrix toSurface = Multiply(
        Multiply(toPixels, Matrix{1, 0, 0, 1, static_cast<double>(-box.x0), static_cast<double>(-box.y0)}),
        Matrix{kOversample, 0, 0, kOversample, 0, 0});
    RasterSurface::Budget budget(static_cast<std::size_t>(kMaxSide) * kMaxSide * kOversample * kOversample *
                                 4);
    RasterSurface surface(api_, budget);
    HRESULT hr = surface.Create({0, 0, box.Width() * kOversample, box.Height() * kOversample}, 0);
    PathPoints points;
    points.AddFigures(outline, Matrix(), PixelsPerUnit(toSurface), false);
    GdiPlusPtr<Gdiplus::GpPath> path;
    if (SUCCEEDED(hr) && !points.Empty()) {
        hr = points.MakePath(api_, FillRule::NonZero, path);
    }
    Gdiplus::GpSolidFill* solid = nullptr;
    if (SUCCEEDED(hr)) {
        hr = GdiPlusResult(api_.GdipCreateSolidFill(0xFFFFFFFF, &solid));
    }
    GdiPlusPtr<Gdiplus::GpBrush> white(solid);
    if (SUCCEEDED(hr)) {
        hr = surface.SetWorld(toSurface);
    }
    if (SUCCEEDED(hr) && path) {
        hr = GdiPlusResult(api_.GdipFillPath(surface.Graphics(), white.get(), path.get()));
    }
    if (SUCCEEDED(hr) && path && stroke > 0) {
        Gdiplus::GpPen* raw = nullptr;
        hr = GdiPlusResult(
            api_.GdipCreatePen2(white.get(), static_cast<float>(stroke), Gdiplus::UnitWorld, &raw));
        GdiPlusPtr<Gdiplus::GpPen> pen(raw);
        if (SUCCEEDED(hr)) {
            hr = GdiPlusResult(api_.GdipDrawPath(surface.Graphics(), raw, path.get()));
        }
    }
    if (FAILED(hr)) {
        return hr;
    }
    mask.left = box.x0;
    mask.top = box.y0;
    mask.width = box.Width();
    mask.height = box.Height();
    mask.coverage.assign(static_cast<std::size_t>(mask.width) * mask.height, 0);
    for (int y = 0; y < mask.height; ++y) {
        for (int x = 0; x < mask.width; ++x) {
            unsigned sum = 0;
            for (int sy = 0; sy < kOversample; ++sy) {
                const std::uint32_t* row = surface.Row(y * kOversample + sy) + x * kOversample;
                for (int sx = 0; sx < kOversample; ++sx) {
                    sum += row[sx] >> 24;
                }
            }
            mask.coverage[static_cast<std::size_t>(y) * mask.width + x] = static_cast<std::uint8_t>(
                (sum + kOversample * kOversample / 2) / (kOversample * kOversample));
        }
    }
    return S_OK;
}

}  // namespace engine
