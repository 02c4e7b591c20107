// RasterResources: what the rasteriser draws from the package, loaded on
// first use and kept across pages: fonts with the outlines of the glyphs
// drawn so far, and images decoded into GDI+ bitmaps.
//
// Caps on what is kept: at most kMaxOutlinePoints points of glyph outlines
// and kMaxImageBytes of decoded images; past either, what is kept is let go
// and loaded again when needed.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/font.h"
#include "engine/gdiplusapi.h"
#include "engine/pagemodel.h"
#include "xps/xpspackage.h"

namespace engine {

class RasterResources {
public:
    static constexpr std::size_t kMaxOutlinePoints = 4u << 20;
    static constexpr std::size_t kMaxImageBytes = 64u << 20;

    struct FontEntry {
        Font font;
        std::unordered_map<std::uint16_t, Geometry> outlines;
    };
    // An image as a premultiplied BGRA bitmap, with its size in XPS units
    // (its pixels at its own resolution, 96 dpi when it states none).
    struct ImageEntry {
        std::vector<std::uint32_t> pixels;
        GdiPlusPtr<Gdiplus::GpBitmap> bitmap;
        unsigned width = 0, height = 0;
        double dpiX = 96, dpiY = 96;
    };

    RasterResources(const xps::XpsPackage& package, const GdiPlusApi& api) : package_(package), api_(api) {}

    HRESULT FontFor(const std::wstring& part, std::uint16_t face, FontEntry*& entry);
    // The glyph's outline in font units; valid until the next call.
    HRESULT Outline(FontEntry& entry, std::uint16_t glyph, const Geometry*& outline);
    HRESULT ImageFor(const Image& image, std::shared_ptr<const ImageEntry>& entry);

private:
    const xps::XpsPackage& package_;
    const GdiPlusApi& api_;
    std::map<std::wstring, std::unique_ptr<FontEntry>> fonts_;  // by part key and face
    std::size_t outlinePoints_ = 0;
    std::map<std::wstring, std::shared_ptr<const ImageEntry>> images_;  // by part key
    std::size_t imageBytes_ = 0;
};

}  // namespace engine
