// PngWriter: each page as a PNG file of its own (8-bit RGB, or RGBA when the
// job keeps what nothing covers transparent), with its resolution (pHYs),
// marked sRGB, its rows filtered with "Up" and deflated as they come in IDAT
// chunks of at most 64 KiB.
#pragma once

#include <string>
#include <vector>

#include "engine/rasterwriter.h"
#include "engine/zlibstream.h"

namespace engine {

class PngWriter final : public RasterWriter {
public:
    using RasterWriter::RasterWriter;

private:
    HRESULT BeginPicture(unsigned width, unsigned height) override;
    HRESULT WriteBand(const RasterBand& band) override;
    HRESULT EndPicture() override;
    HRESULT Chunk(const char* type, const unsigned char* data, std::size_t size);

    ZlibStream zlib_;
    unsigned width_ = 0;
    std::vector<unsigned char> row_, previous_, filtered_;
};

}  // namespace engine
