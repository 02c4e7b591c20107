#include "engine/rastersurface.h"

#include <algorithm>
#include <cmath>

#include "xps/checkedmath.h"

namespace engine {

const HRESULT kOverBudget = MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x7B01);

PixelBox Intersect(const PixelBox& a, const PixelBox& b) {
    return {std::max(a.x0, b.x0), std::max(a.y0, b.y0), std::min(a.x1, b.x1), std::min(a.y1, b.y1)};
}

PixelBox Enclosing(const Rect& r) {
    return {xps::PixelOf(std::floor(r.x)), xps::PixelOf(std::floor(r.y)), xps::PixelOf(std::ceil(r.x + r.width)),
            xps::PixelOf(std::ceil(r.y + r.height))};
}

bool RasterSurface::Budget::Take(std::size_t bytes) {
    if (bytes > limit_ - used_) {
        return false;
    }
    used_ += bytes;
    return true;
}

RasterSurface::~RasterSurface() {
    graphics_.reset();
    bitmap_.reset();
    budget_.Give(taken_);
}

HRESULT RasterSurface::Create(const PixelBox& box, std::uint32_t background) {
    std::size_t bytes = static_cast<std::size_t>(box.Width()) * box.Height() * 4;
    if (!budget_.Take(bytes)) {
        return kOverBudget;
    }
    taken_ = bytes;
    box_ = box;
    pixels_.assign(bytes / 4, background);
    Gdiplus::GpBitmap* bitmap = nullptr;
    HRESULT hr = GdiPlusResult(
        api_.GdipCreateBitmapFromScan0(box.Width(), box.Height(), box.Width() * 4, PixelFormat32bppPARGB,
                                       reinterpret_cast<BYTE*>(pixels_.data()), &bitmap));
    bitmap_.reset(bitmap);
    Gdiplus::GpGraphics* graphics = nullptr;
    if (SUCCEEDED(hr)) {
        hr = GdiPlusResult(api_.GdipGetImageGraphicsContext(bitmap, &graphics));
    }
    graphics_.reset(graphics);
    if (SUCCEEDED(hr)) {
        hr = GdiPlusResult(api_.GdipSetSmoothingMode(graphics, Gdiplus::SmoothingModeAntiAlias));
    }
    if (SUCCEEDED(hr)) {
        hr = GdiPlusResult(api_.GdipSetPixelOffsetMode(graphics, Gdiplus::PixelOffsetModeHalf));
    }
    if (SUCCEEDED(hr)) {
        hr = GdiPlusResult(
            api_.GdipSetInterpolationMode(graphics, Gdiplus::InterpolationModeHighQualityBilinear));
    }
    return hr;
}

Matrix RasterSurface::FromPicture(const Matrix& m) const {
    return Multiply(m, Matrix{1, 0, 0, 1, static_cast<double>(-box_.x0), static_cast<double>(-box_.y0)});
}

HRESULT RasterSurface::SetWorld(const Matrix& m) {
    Gdiplus::GpMatrix* raw = nullptr;
    HRESULT hr = GdiPlusResult(api_.GdipCreateMatrix2(
        static_cast<float>(m.m11), static_cast<float>(m.m12), static_cast<float>(m.m21),
        static_cast<float>(m.m22), static_cast<float>(m.dx), static_cast<float>(m.dy), &raw));
    GdiPlusPtr<Gdiplus::GpMatrix> matrix(raw);
    return SUCCEEDED(hr) ? GdiPlusResult(api_.GdipSetWorldTransform(graphics_.get(), raw)) : hr;
}

HRESULT RasterSurface::ResetWorld() { return GdiPlusResult(api_.GdipResetWorldTransform(graphics_.get())); }

}  // namespace engine
