// RasterWriter: what the picture formats (PNG, TIFF, JPEG) share as
// writers. Each page is drawn by the Rasteriser at the job's resolution
// (the default where the job asks for one outside kMinDpi..kMaxDpi) and
// handed to the format band by band, from the top: a format writes its rows
// as they come and never needs the page whole.
#pragma once

#include <cstdint>

#include "engine/converter.h"
#include "engine/documentwriter.h"
#include "engine/rasteriser.h"

namespace engine {

class RasterWriter : public DocumentWriter {
public:
    RasterWriter(const xps::XpsPackage& package, const ConvertOptions& options, ByteSink sink);
    HRESULT Begin() override { return S_OK; }
    HRESULT AddPage(const Page& page) override;
    HRESULT Finish() override { return S_OK; }

protected:
    // One page's picture: its size, its rows, its end.
    virtual HRESULT BeginPicture(unsigned width, unsigned height) = 0;
    virtual HRESULT WriteBand(const RasterBand& band) = 0;
    virtual HRESULT EndPicture() = 0;

    HRESULT Put(const void* bytes, std::size_t size) { return sink_(bytes, size); }
    unsigned Dpi() const { return dpi_; }
    bool Transparent() const { return options_.transparent; }
    unsigned JpegQuality() const { return options_.jpegQuality; }

    // A row of premultiplied BGRA as 8-bit RGB, or RGBA with the alpha
    // undone: width * (alpha ? 4 : 3) bytes.
    static void ToRgb(const std::uint32_t* row, unsigned width, bool alpha, unsigned char* out);

private:
    Rasteriser rasteriser_;
    ConvertOptions options_;
    ByteSink sink_;
    unsigned dpi_;
    unsigned pages_ = 0;
};

}  // namespace engine
