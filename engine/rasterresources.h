// RasterResources: what the rasteriser draws from the package, loaded on
// first use and kept across pages: fonts with the outlines of the glyphs
// drawn so far, and images decoded into GDI+ bitmaps.
//
// Caps on what is kept: FontOutlines's on glyph outlines, and at most
// kMaxImageBytes of decoded images; past either, what is kept is let go and
// loaded again when needed.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/fontoutlines.h"
#include "engine/gdiplusapi.h"
#include "engine/pagemodel.h"
#include "xps/xpspackage.h"

namespace engine {

class RasterResources {
public:
    static constexpr std::size_t kMaxImageBytes = 64u << 20;

    using FontEntry = FontOutlines::Entry;
    // An image as a premultiplied BGRA bitmap, with its size in XPS units
    // (its pixels at its own resolution, 96 dpi when it states none).
    struct ImageEntry {
        std::vector<std::uint32_t> pixels;
        GdiPlusPtr<Gdiplus::GpBitmap> bitmap;
        unsigned width = 0, height = 0;
        double dpiX = 96, dpiY = 96;
    };

    RasterResources(const xps::XpsPackage& package, const GdiPlusApi& api)
        : package_(package), api_(api), fonts_(package) {}

    HRESULT FontFor(const std::wstring& part, std::uint16_t face, FontEntry*& entry) {
        return fonts_.FontFor(part, face, entry);
    }
    // The glyph's outline in font units; valid until the next call.
    HRESULT Outline(FontEntry& entry, std::uint16_t glyph, const Geometry*& outline) {
        return fonts_.Outline(entry, glyph, outline);
    }
    HRESULT ImageFor(const Image& image, std::shared_ptr<const ImageEntry>& entry);

private:
    const xps::XpsPackage& package_;
    const GdiPlusApi& api_;
    FontOutlines fonts_;
    std::map<std::wstring, std::shared_ptr<const ImageEntry>> images_;  // by part key
    std::size_t imageBytes_ = 0;
};

}  // namespace engine
