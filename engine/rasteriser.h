// Rasteriser: a page of the page model drawn as a picture with GDI+, for
// the raster formats (PNG, JPEG, TIFF) and for what PDF/A-1b flattens and
// EMF draws as images. In sRGB, premultiplied BGRA; anti-aliased where GDI+
// anti-aliases (Windows does; Wine 8's GDI+ fills without), text always.
//
// Everything the model holds is drawn: geometry with its fill rule; strokes
// with thickness, dashes, caps, joins and miter limit (GDI+ has no square
// dash cap: such dashes end flat); transforms; clips (GDI+ clips at whole
// pixels); element opacity and opacity masks, through a layer of the
// clipped area whose alpha is multiplied; solid, linear and radial gradient
// brushes with every spread method and any gradient origin (GradientRamp's
// own per-pixel evaluation, laid through the shape's coverage, which GDI+
// draws); image and visual brushes with every tile mode (an image enlarged
// shows its pixels, one reduced is smoothed); glyphs as filled outlines
// from the font (Font::Outline), so every font draws whatever its rights,
// and none is installed, text in one colour through GlyphCache. A glyph
// whose outline the font cannot give (a CID-keyed CFF font) is left out.
//
// Memory: the picture is drawn in horizontal bands of at most
// options.maxBandBytes (kMaxBandBytes), each handed on before the next is
// drawn; what a band needs besides (layers, tiles, gradient strips) may take
// as much again, and a band that would need more is drawn again as two
// halves. Caps: a side of at most kMaxSide pixels; a visual brush's tile of
// at most kMaxTileBytes (drawn at a lower resolution beyond). Past a cap, or
// a single row that cannot be drawn within the memory, fails with
// xps::kOverCap.
//
// Results: S_OK; xps::kOverCap; GDI+'s failures (GdiPlusResult), the
// package's, the fonts' and the images' (a part that is missing or
// damaged); the sink's own; E_OUTOFMEMORY. Nothing throws.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>

#include <windows.h>

#include "engine/pagemodel.h"
#include "xps/xpspackage.h"

namespace engine {

class GlyphCache;
class RasterResources;

struct RasterOptions {
    double dpi = 300;
    bool transparent = false;  // false: drawn on white
    // The part of the page drawn, in XPS units; an empty one: the page.
    Rect area;
    // Null: every element. Otherwise only these are drawn (whole, with all
    // they hold); the canvases around them still transform, clip and fade
    // them as on the page.
    const std::unordered_set<const Element*>* only = nullptr;
    std::size_t maxBandBytes = 256u << 20;
};

// Rows of the picture: premultiplied BGRA, width pixels a row, no padding.
struct RasterBand {
    const std::uint32_t* pixels = nullptr;
    unsigned width = 0;
    unsigned top = 0;  // the band's first row in the picture
    unsigned rows = 0;
};
using BandSink = std::function<HRESULT(const RasterBand& band)>;

class Rasteriser {
public:
    static constexpr unsigned kMaxSide = 65535;
    static constexpr std::size_t kMaxBandBytes = 256u << 20;
    static constexpr std::size_t kMaxTileBytes = 64u << 20;

    explicit Rasteriser(const xps::XpsPackage& package);
    ~Rasteriser();
    Rasteriser(const Rasteriser&) = delete;
    Rasteriser& operator=(const Rasteriser&) = delete;

    // The picture's size in pixels; xps::kOverCap past kMaxSide.
    static HRESULT PictureSize(const Page& page, const RasterOptions& options, unsigned& width,
                               unsigned& height);
    // The picture, band by band from the top, to the sink.
    HRESULT Draw(const Page& page, const RasterOptions& options, const BandSink& sink);
    // The picture whole as RGB over white, 3 bytes a pixel, rows top to
    // bottom: "this region, these elements, at N dpi". xps::kOverCap for a
    // picture of more than kMaxBandBytes.
    HRESULT DrawRgb(const Page& page, const RasterOptions& options, unsigned& width, unsigned& height,
                    std::string& rgb);

private:
    HRESULT DrawBands(const Page& page, const RasterOptions& options, const BandSink& sink);

    const xps::XpsPackage& package_;
    // Made when GDI+ first starts, and kept from page to page.
    std::unique_ptr<RasterResources> resources_;
    std::unique_ptr<GlyphCache> glyphs_;
};

}  // namespace engine
