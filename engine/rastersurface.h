// RasterSurface: premultiplied BGRA pixels that GDI+ draws into, placed at
// a box of the picture's pixels (or a tile's), anti-aliased where GDI+
// anti-aliases, pixel centres at half coordinates (a pixel is the square
// from (x, y) to (x + 1, y + 1), as every other reader has it). What the
// pixels of every surface of a band take together is counted against a
// Budget.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/gdiplusapi.h"
#include "engine/pagemodel.h"

namespace engine {

// A rectangle of whole pixels: x0 <= x < x1, y0 <= y < y1.
struct PixelBox {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool Empty() const { return x1 <= x0 || y1 <= y0; }
    int Width() const { return x1 - x0; }
    int Height() const { return y1 - y0; }
};
PixelBox Intersect(const PixelBox& a, const PixelBox& b);
// The pixels a rectangle touches, within +-2^30.
PixelBox Enclosing(const Rect& r);

// A surface the budget has no room for.
extern const HRESULT kOverBudget;

class RasterSurface {
public:
    class Budget {
    public:
        explicit Budget(std::size_t limit) : limit_(limit) {}
        bool Take(std::size_t bytes);
        void Give(std::size_t bytes) { used_ -= bytes; }

    private:
        std::size_t limit_;
        std::size_t used_ = 0;
    };

    RasterSurface(const GdiPlusApi& api, Budget& budget) : api_(api), budget_(budget) {}
    RasterSurface(const RasterSurface&) = delete;
    RasterSurface& operator=(const RasterSurface&) = delete;
    ~RasterSurface();

    // Every pixel background; no clip, no transform.
    HRESULT Create(const PixelBox& box, std::uint32_t background);

    const PixelBox& Box() const { return box_; }
    Gdiplus::GpGraphics* Graphics() const { return graphics_.get(); }
    Gdiplus::GpBitmap* Bitmap() const { return bitmap_.get(); }
    std::uint32_t* Row(int y) { return &pixels_[static_cast<std::size_t>(y) * box_.Width()]; }
    const std::uint32_t* Pixels() const { return pixels_.data(); }
    // From the picture's pixels to this surface's.
    Matrix FromPicture(const Matrix& m) const;
    // GDI+'s world transform: what paths are drawn in.
    HRESULT SetWorld(const Matrix& m);
    HRESULT ResetWorld();

private:
    const GdiPlusApi& api_;
    Budget& budget_;
    std::size_t taken_ = 0;
    PixelBox box_;
    std::vector<std::uint32_t> pixels_;
    GdiPlusPtr<Gdiplus::GpBitmap> bitmap_;
    GdiPlusPtr<Gdiplus::GpGraphics> graphics_;
};

}  // namespace engine
