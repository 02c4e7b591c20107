// GlyphCache: the coverage of glyphs as GDI+ fills their outlines, kept for
// every glyph drawn again at the same size and slant and at the same place
// within a pixel (to a quarter pixel): a page of text fills each glyph of a
// font once, not each time it shows. Filled at kOversample times the size
// and averaged down, so that glyphs are anti-aliased even where GDI+ fills
// without (Wine).
//
// Caps: a glyph of more than kMaxSide pixels either way is not kept (the
// caller fills its outline itself); past kMaxBytes of coverage, what is kept
// is let go.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <vector>

#include "engine/gdiplusapi.h"
#include "engine/pagemodel.h"

namespace engine {

class GlyphCache {
public:
    static constexpr int kOversample = 4;
    static constexpr int kPlaces = 4;  // places within a pixel, each way
    static constexpr int kMaxSide = 256;
    static constexpr std::size_t kMaxBytes = 16u << 20;

    // Coverage (0..255) of width x height pixels, rows top to bottom, its
    // first pixel at (left, top) from the pixel of the glyph's origin.
    struct Mask {
        int left = 0, top = 0, width = 0, height = 0;
        std::vector<std::uint8_t> coverage;
    };

    explicit GlyphCache(const GdiPlusApi& api) : api_(api) {}

    // Where a glyph's origin falls on the pixels: its pixel, and the place
    // within it as the mask is made for.
    static void Snap(double at, int& pixel, int& place);

    // The glyph's coverage; null when it is too large to keep. font: whose
    // glyph it is (any pointer that stays for the font); outline: the
    // glyph's, in font units; toPixels: from font units to pixels, the
    // origin at (placeX, placeY) / kPlaces; stroke: the width of a simulated
    // bold's stroke in font units, 0 for none.
    HRESULT MaskOf(const void* font, std::uint16_t glyph, const Geometry& outline, const Matrix& toPixels,
                   int placeX, int placeY, double stroke, const Mask*& mask);

private:
    using Key = std::array<std::int64_t, 9>;

    HRESULT Fill(const Geometry& outline, const Matrix& toPixels, double stroke, Mask& mask);

    const GdiPlusApi& api_;
    std::map<Key, Mask> masks_;
    std::size_t bytes_ = 0;
};

}  // namespace engine
