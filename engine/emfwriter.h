// EmfWriter: each page of the page model as an enhanced metafile of its own,
// recorded with plain GDI into a metafile DC (CreateEnhMetaFileW) so that
// every EMF reader replays it, GDI's own and Office's included: no EMF+
// records, and no text (glyphs are filled outlines of the job's fonts, which
// the reader does not have).
//
// The header's frame is the page's size in 0.01 mm. Drawing is recorded with
// world transforms (GM_ADVANCED) at a fine logical unit: each path, image
// and band in a logical space of its own, about kLogicalSpan units across
// it, so that GDI's whole-number coordinates lose nothing a reader shows and
// most paths fit 16-bit records.
//
// A stroke in one opaque colour without dashes is drawn with its pen (a
// geometric pen of its width, caps, join and miter limit), which every
// reader draws at least a pixel wide. Any other stroke is the area GDI's
// WidenPath gives that pen, filled with the stroke's brush like any shape;
// its dashes are laid out here first (DashGeometry), since Wine's GDI widens
// a user-styled pen solid. A stroke has one cap for its ends and dashes.
// Images are StretchDIBits of the decoded pixels, or AlphaBlend where they
// have alpha or are drawn translucent; an image turned on the page (not
// only scaled or mirrored) is resampled upright first, since GDI's bitmap
// calls under Wine do not turn bitmaps.
//
// What a plain EMF cannot hold: a canvas's opacity and any element's
// opacity mask apply to what it draws as a whole, so the rasteriser draws
// that element, faded and clipped by the canvases around it, as an image of
// its area at kGroupDpi, blended in as it is (DrawGroupAsImage); a path's or
// glyph run's own opacity, and a group inside a visual brush's tile, are
// carried into each paint instead (CarryGroupOpacity). Gradients are bands
// of one colour each, clipped to the shape (PaintGradientInBands,
// GradientBands): as exact as the eye sees, and far smaller than an image.
// Translucent paint itself is exact: its colour blended (AlphaBlend)
// through a clip of the shape.
//
// Caps, as every document is hostile: a page's metafile holds at most
// kMaxPageBytes (estimated from its points, records and image bits while it
// is recorded), or the page fails with xps::kOverCap; an image turned on the
// page is resampled into at most kMaxResampledPixels pixels (coarser
// beyond); a group's image is the rasteriser's, within its caps; decoded
// images are kept across pages up to kMaxKeptImageBytes, past which what is
// kept is let go, and glyph outlines as FontOutlines keeps them.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "engine/documentwriter.h"
#include "engine/fontoutlines.h"
#include "engine/pdffile.h"
#include "engine/rasteriser.h"
#include "xps/xpspackage.h"

namespace engine {

class EmfWriter final : public DocumentWriter {
public:
    static constexpr double kLogicalSpan = 30000;
    static constexpr std::uint64_t kMaxPageBytes = 256ull << 20;
    static constexpr double kMaxResampledPixels = 16 << 20;
    static constexpr double kGroupDpi = 150;
    static constexpr std::size_t kMaxKeptImageBytes = 64u << 20;

    // beginFile: called with the page's number from 1 before each page's
    // bytes go to the sink. title: the document's, in the metafile's
    // description after the application's name. maxPageBytes: the page's
    // cap.
    EmfWriter(ByteSink sink, const xps::XpsPackage& package, std::function<HRESULT(unsigned)> beginFile,
              std::wstring title, std::uint64_t maxPageBytes = kMaxPageBytes);
    ~EmfWriter() override;
    HRESULT Begin() override;
    HRESULT AddPage(const Page& page) override;
    HRESULT Finish() override;

private:
    class PageRecorder;
    friend class PageRecorder;

    // Decoded pixels as a DIB takes them: bottom-up rows, each padded to four
    // bytes; 24-bit BGR when opaque, else 32-bit BGRA premultiplied.
    struct ImageEntry {
        int width = 0, height = 0;
        double dpiX = 96, dpiY = 96;
        bool hasAlpha = false;
        std::string bits;
    };

    HRESULT ImageFor(const Image& image, std::shared_ptr<const ImageEntry>& entry);

    ByteSink sink_;
    const xps::XpsPackage& package_;
    std::function<HRESULT(unsigned)> beginFile_;
    std::wstring description_;  // "application\0title\0\0"
    std::uint64_t maxPageBytes_;
    unsigned pages_ = 0;
    FontOutlines fonts_;
    std::unique_ptr<Rasteriser> rasteriser_;  // made for the first group drawn as an image
    std::map<std::wstring, std::shared_ptr<const ImageEntry>> images_;  // by part key
    std::size_t imageBytes_ = 0;
};

}  // namespace engine
