// TiffWriter: the whole document as one multi-page TIFF: each page an image
// of 8-bit RGB (RGBA, alpha not premultiplied, when the job keeps what
// nothing covers transparent) in strips of about kStripBytes, deflated
// (Compression 8, with the horizontal predictor), with its resolution in
// dots per inch.
//
// The file is written front to back: each page's directory comes before
// its strips and names the next page's, or none for the last; so a page is
// held, compressed, until the next page or the end shows which it is.
// Classic TIFF's offsets are 32-bit: a file that would pass 4 GiB fails with
// xps::kOverCap, and a document without pages with E_INVALIDARG.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/rasterwriter.h"
#include "engine/zlibstream.h"

namespace engine {

class TiffWriter final : public RasterWriter {
public:
    static constexpr std::size_t kStripBytes = 128u << 10;

    using RasterWriter::RasterWriter;
    HRESULT Begin() override;
    HRESULT Finish() override;

private:
    struct Picture {
        unsigned width = 0, height = 0, rowsPerStrip = 0;
        std::vector<std::string> strips;
    };

    HRESULT BeginPicture(unsigned width, unsigned height) override;
    HRESULT WriteBand(const RasterBand& band) override;
    HRESULT EndPicture() override;
    HRESULT EndStrip();
    // The held page: its directory, naming the next one's place (0: none),
    // and its strips.
    HRESULT WriteHeld(bool last);

    ZlibStream zlib_;
    Picture current_, held_;
    bool holding_ = false;
    std::uint64_t written_ = 0;
    std::vector<unsigned char> row_;
    std::string strip_;  // rows of the strip being made, before compression
};

}  // namespace engine
