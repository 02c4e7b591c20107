#include "engine/rasterwriter.h"

#include <algorithm>

namespace engine {

RasterWriter::RasterWriter(const xps::XpsPackage& package, const ConvertOptions& options, ByteSink sink)
    : rasteriser_(package),
      options_(options),
      sink_(std::move(sink)),
      dpi_(options.dpi >= kMinDpi && options.dpi <= kMaxDpi ? options.dpi : kDefaultDpi) {}

HRESULT RasterWriter::AddPage(const Page& page) {
    ++pages_;
    RasterOptions raster;
    raster.dpi = dpi_;
    raster.transparent = options_.transparent;
    unsigned width = 0, height = 0;
    HRESULT hr = Rasteriser::PictureSize(page, raster, width, height);
    if (SUCCEEDED(hr) && IsPerPageFormat(options_.format)) {
        hr = options_.beginFile(pages_);
    }
    if (SUCCEEDED(hr)) {
        hr = BeginPicture(width, height);
    }
    if (SUCCEEDED(hr)) {
        hr = rasteriser_.Draw(page, raster, [this](const RasterBand& band) { return WriteBand(band); });
    }
    return SUCCEEDED(hr) ? EndPicture() : hr;
}

void RasterWriter::ToRgb(const std::uint32_t* row, unsigned width, bool alpha, unsigned char* out) {
    for (unsigned x = 0; x < width; ++x) {
        std::uint32_t pixel = row[x];
        std::uint32_t a = pixel >> 24, r = (pixel >> 16) & 255, g = (pixel >> 8) & 255, b = pixel & 255;
        if (alpha) {
            if (a != 255 && a != 0) {
                r = std::min(255u, (r * 255 + a / 2) / a);
                g = std::min(255u, (g * 255 + a / 2) / a);
                b = std::min(255u, (b * 255 + a / 2) / a);
            }
            out[0] = static_cast<unsigned char>(r);
            out[1] = static_cast<unsigned char>(g);
            out[2] = static_cast<unsigned char>(b);
            out[3] = static_cast<unsigned char>(a);
            out += 4;
        } else {
            out[0] = static_cast<unsigned char>(r);
            out[1] = static_cast<unsigned char>(g);
            out[2] = static_cast<unsigned char>(b);
            out += 3;
        }
    }
}

}  // namespace engine
